// The misc extension: clipboard, images, keyboard, timer, video mode and screenshots. Its verbs arrive later.
#include "ext_header.h"

void ext_misc_init(Game &game) {}

var ext_misc_call(Game &game, std::string action, var value) {
    return var();
}
