// The social extension: login, leaderboards, sharing and the overlay. Its verbs arrive with the social layer.
#include <cstdio>

#include "ext_header.h"

void ext_social_init(Game &game) {
    fprintf(stderr, "ext_social_init\n");
}

var ext_social_call(Game &game, std::string action, var value) {
    return var();
}
