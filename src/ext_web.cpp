// The web extension: queued HTTP requests whose answers reach the script as events. Its verbs arrive later.
#include <cstdio>

#include "ext_header.h"

void ext_web_init(Game &game) {
    fprintf(stderr, "ext_web_init\n");
}

var ext_web_call(Game &game, std::string action, var value) {
    return var();
}

void ext_web_loop(Game &game) {}
