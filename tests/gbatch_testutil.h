// Draw commands as the script bindings queue them, for the suites that replay or batch them.
#pragma once

#include "mods.h"

namespace gbatchtest {

inline GCommand rect(int color, float x, float y, float w, float h) {
    GCommand c;
    c.type = 4;
    c.color = color;
    c.x = x;
    c.y = y;
    c.w = w;
    c.h = h;
    return c;
}

inline GCommand image(const char *name, float x, float y, float w, float h, float rotate = 0, int color = 0xFFFFFF,
                      int alpha = 255) {
    GCommand c;
    c.type = 2;
    c.name = name;
    c.x = x;
    c.y = y;
    c.w = w;
    c.h = h;
    c.rotate = rotate;
    c.color = color;
    c.alpha = alpha;
    return c;
}

inline GCommand text(const char *s, float x, float y, int color = 0xFFFFFF, int alpha = 255,
                     const char *font = "console") {
    GCommand c;
    c.type = 3;
    c.name = font;
    c.points = 24;
    c.text = s;
    c.x = x;
    c.y = y;
    c.color = color;
    c.alpha = alpha;
    return c;
}

} // namespace gbatchtest
