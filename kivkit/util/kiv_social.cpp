// Social session: one lazily created record of the signed-in user; the platform bridge logs the user in at the
// first use, and every change of user raises EVT_LOGOUT and EVT_LOGIN synchronously.
#include "kiv_social.h"

#include <cstdio>
#include <cstring>

#include "kiv_driver.h"
#include "kiv_event.h"
#include "kiv_platform-store.h"
#include "kiv_printf.h"

// --- constants

// The uuid "network:netid" must fit the 256-byte field the network ids are kept in.
static const size_t _SOCIAL_UUID_MAX = 255;

// --- state

struct _SocialData {
    int is_login = 0;
    std::string network;
    std::string netid;
    std::string uuid;
    std::string name;
};

static _SocialData *_social = nullptr;
static void (*_social_event_handler)(Event e) = nullptr;

// --- internal helpers

static void _social_raise(int type) {
    if (_social_event_handler)
        _social_event_handler(Event(type));
}

// --- public functions

// The store sign-in: starts the platform and logs its user in, or leaves the session logged out when it is down.
void driver_social_init() {
    driver_steam_start();
    if (!driver_steam_is_init()) {
        social_login(nullptr, nullptr, nullptr);
        return;
    }
    char id[256];
    snprintf(id, sizeof(id), "%s", driver_steam_get_uid());
    char name[256];
    memset(name, 0, sizeof(name));
    const char *persona = ISteamFriends_GetPersonaName();
    if (persona)
        strncpy(name, persona, sizeof(name) - 1);
    ISteamUserStats_RequestCurrentStats();
    social_login("s", id, name);
}

void social_set_event_handler(void (*handler)(Event e)) {
    _social_event_handler = handler;
}

bool social_init() {
    if (_social)
        return true;
    kiv_printf("social_init\n");
    _social = new _SocialData();
    driver_social_init();
    return true;
}

void social_login(const char *network, const char *netid, const char *name) {
    social_init();
    if (!network || !netid || !name) {
        social_logout();
        return;
    }
    if (strlen(network) + 1 + strlen(netid) > _SOCIAL_UUID_MAX) {
        kiv_printf("social_login: network and id longer than %d bytes refused\n", (int)_SOCIAL_UUID_MAX - 1);
        return;
    }
    std::string uuid = std::string(network) + ":" + netid;
    if (uuid == _social->uuid)
        return;
    social_logout();
    // A handler may have ended the session during the logout event.
    if (!_social)
        return;
    _social->is_login = 1;
    _social->network = network;
    _social->netid = netid;
    _social->uuid = uuid;
    _social->name = name;
    kiv_printf("social_login name: %s, uuid: %s\n", name, uuid.c_str());
    _social_raise(EVT_LOGIN);
}

void social_logout() {
    social_init();
    if (!_social->is_login)
        return;
    kiv_printf("social_logout: %s\n", _social->uuid.c_str());
    _social_raise(EVT_LOGOUT);
    if (_social)
        *_social = _SocialData();
}

void social_reset() {
    social_init();
    *_social = _SocialData();
}

void social_loop() {
    social_init();
    driver_social_loop();
}

void social_deinit() {
    social_init();
    kiv_printf("social_deinit\n");
    driver_social_deinit();
    social_logout();
    delete _social;
    _social = nullptr;
}

std::string social_user_uuid() {
    social_init();
    return _social->uuid;
}

std::string social_user_name() {
    social_init();
    return _social->name;
}

std::string social_user_network() {
    social_init();
    return _social->network;
}

void social_leaderboard_submit(const char *name, double value) {
    social_init();
    driver_social_leaderboard_submit(name, value);
}

bool social_leaderboard_show(const char *name) {
    social_init();
    return driver_social_leaderboard_show(name);
}

bool social_achievements_show() {
    social_init();
    return driver_social_achievements_show();
}

void social_achievement_set(const char *name, double value) {
    social_init();
    driver_social_achievment_set(name, value);
}

void social_achievements_reset() {
    social_init();
    driver_social_achievements_reset();
}

std::vector<std::string> social_friends_get() {
    social_init();
    return driver_social_friends_get();
}

void social_friends_invite() {
    driver_social_friends_invite();
}

void social_share(const char *text, const char *url, const char *image) {
    driver_social_share(text, url, image);
}
