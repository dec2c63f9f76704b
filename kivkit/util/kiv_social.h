// Social session: who is signed in to the online network (network, id, display name), raising login and logout
// events through the game shell; plus a thin facade over the platform bridge. The shell starts, pumps and ends it.
#pragma once

#include <string>
#include <vector>

struct Event;

// Where login and logout events go (the shell passes game_event); null drops them.
void social_set_event_handler(void (*handler)(Event e));

bool social_init();
void social_login(const char *network, const char *netid, const char *name);
void social_logout();
void social_reset();
void social_loop();
void social_deinit();
std::string social_user_uuid();
std::string social_user_name();
std::string social_user_network();
void social_leaderboard_submit(const char *name, double value);
bool social_leaderboard_show(const char *name);
bool social_achievements_show();
void social_achievement_set(const char *name, double value);
void social_achievements_reset();
std::vector<std::string> social_friends_get();
void social_friends_invite();
void social_share(const char *text, const char *url, const char *image);
