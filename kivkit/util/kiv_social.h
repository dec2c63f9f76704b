// Social session: placeholder until the session lands; no store platform here, so nobody logs in.
#pragma once

#include <string>

bool social_init();
void social_loop();
void social_deinit();
std::string social_user_uuid();
std::string social_user_name();
std::string social_user_network();
