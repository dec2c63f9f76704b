// Social session: placeholder; answers as a session that never logged in.
#include "kiv_social.h"

bool social_init() {
    return true;
}

void social_loop() {}

void social_deinit() {}

std::string social_user_uuid() {
    return "";
}

std::string social_user_name() {
    return "";
}

std::string social_user_network() {
    return "";
}
