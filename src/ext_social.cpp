// The social extension: the signed-in user's uuid, leaderboards, sharing and the platform overlay, by name.
#include <cstdio>

#include "ext_header.h"
#include "kiv_driver.h"
#include "kiv_social.h"

void ext_social_init(Game &game) {
    fprintf(stderr, "ext_social_init\n");
}

var ext_social_call(Game &game, std::string action, var value) {
    if (action == "social:leaderboard_submit") {
        double v = value["value"].__num__();
        std::string name = value["name"].__str__();
        social_leaderboard_submit(name.c_str(), v);
    } else if (action == "social:leaderboard_show") {
        social_leaderboard_show(value.__str__().c_str());
    } else if (action == "social:share") {
        std::string image = value["image"].__str__();
        std::string url = value["url"].__str__();
        std::string text = value["text"].__str__();
        driver_social_share(text.c_str(), url.c_str(), image.c_str());
    } else if (action == "social:uuid") {
        return var(social_user_uuid());
    } else if (action == "steam:overlay") {
        if (value["type"].__str__() == "dialog")
            driver_steam_open_overlay(value["value"].__str__().c_str());
    }
    return var();
}
