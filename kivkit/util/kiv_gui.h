// Widget toolkit: placeholder until the toolkit lands; the mod services hold two root containers.
#pragma once

class Container {
public:
    Container() {}
    virtual ~Container() {}
};
