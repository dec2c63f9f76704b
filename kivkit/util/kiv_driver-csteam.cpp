// The platform bridge: starts the store platform, pumps its callbacks, stores achievements, opens overlay pages,
// lists friends and backs the cloud store while the platform is up (the social module signs its user in).
// Every call falls back to its "no" answer (or the document directory) while it is down.
#include "kiv_driver.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kiv_platform-store.h"
#include "kiv_printf.h"

static const int _DRIVER_FRIEND_IMMEDIATE = 4;
static const int _DRIVER_STORE_PAGE_FLAG = 2;

static int _driver_steam_api = 0;
static int _driver_steam_storestats = 0;
static char _driver_steam_uid[256];

// A platform id as 16 lower-case hex digits.
static void _driver_steam_id_text(char *buf, size_t size, const char *prefix, uint64_t id) {
    if (prefix)
        snprintf(buf, size, "%s:%016" PRIx64, prefix, id);
    else
        snprintf(buf, size, "%016" PRIx64, id);
}

bool driver_steam_is_init() {
    return _driver_steam_api != 0 && SteamUser() != nullptr;
}

void driver_steam_start() {
    _driver_steam_api = InitSafe() & 0xff;
    kiv_printf("_driver_steam_api: %d\n", _driver_steam_api);
}

void driver_social_loop() {
    if (!driver_steam_is_init())
        return;
    if (_driver_steam_storestats) {
        ISteamUserStats_StoreStats();
        _driver_steam_storestats = 0;
    }
    RunCallbacks();
}

// Changes made since the last frame pump are stored before the platform ends, and the bridge is down after.
void driver_social_deinit() {
    if (driver_steam_is_init() && _driver_steam_storestats)
        ISteamUserStats_StoreStats();
    _driver_steam_storestats = 0;
    if (_driver_steam_api)
        Shutdown();
    _driver_steam_api = 0;
}

const char *driver_steam_get_uid() {
    memset(_driver_steam_uid, 0, sizeof(_driver_steam_uid));
    if (driver_steam_is_init())
        _driver_steam_id_text(_driver_steam_uid, sizeof(_driver_steam_uid), nullptr, ISteamUser_GetSteamID());
    return _driver_steam_uid;
}

void driver_social_achievment_set(const char *name, double value) {
    if (!driver_steam_is_init() || !name)
        return;
    ISteamUserStats_SetAchievement(name);
    _driver_steam_storestats++;
}

void driver_social_achievements_reset() {
    if (!driver_steam_is_init())
        return;
    ISteamUserStats_ResetAllStats(true);
    _driver_steam_storestats++;
}

bool driver_social_achievements_show() {
    if (!driver_steam_is_init())
        return false;
    ISteamFriends_ActivateGameOverlay("Achievements");
    return true;
}

void driver_social_leaderboard_submit(const char *name, double value) {
    if (driver_steam_is_init())
        kiv_printf("steam:driver_social_leaderboard_submit - not implemented\n");
}

bool driver_social_leaderboard_show(const char *name) {
    return false;
}

std::vector<std::string> driver_social_friends_get() {
    std::vector<std::string> out;
    if (!driver_steam_is_init() || !SteamFriends())
        return out;
    int n = ISteamFriends_GetFriendCount(_DRIVER_FRIEND_IMMEDIATE);
    for (int i = 0; i < n; i++) {
        char buf[64];
        _driver_steam_id_text(buf, sizeof(buf), "s", ISteamFriends_GetFriendByIndex(i, _DRIVER_FRIEND_IMMEDIATE));
        out.push_back(buf);
    }
    return out;
}

void driver_social_friends_invite() {}

void driver_social_share(const char *text, const char *url, const char *image) {}

int driver_steam_open_overlay(const char *dialog) {
    if (!driver_steam_is_init() || !ISteamUtils_IsOverlayEnabled())
        return -1;
    ISteamFriends_ActivateGameOverlay(dialog ? dialog : "");
    return 0;
}

int driver_steam_open_overlay_to_store(int appid) {
    if (!driver_steam_is_init() || !ISteamUtils_IsOverlayEnabled())
        return -1;
    ISteamFriends_ActivateGameOverlayToStore((uint32_t)appid, _DRIVER_STORE_PAGE_FLAG);
    return 0;
}

void driver_steam_trigger_screenshot() {
    if (driver_steam_is_init())
        ISteamScreenshots_TriggerScreenshot();
}

int driver_open_url_steam(const char *url) {
    kiv_printf("driver_open_url_steam\n");
    if (!driver_steam_is_init()) {
        kiv_printf("...failed\n");
        return -1;
    }
    kiv_printf("Steam:WebPage\n");
    if (!ISteamUtils_IsOverlayEnabled()) {
        kiv_printf("OverlayFail\n");
        return -1;
    }
    kiv_printf("OverlayEnabled\n");
    if (!SteamFriends()) {
        kiv_printf("SteamFriends() is null\n");
        return -1;
    }
    kiv_printf("SteamFriends() is okay!\n");
    ISteamFriends_ActivateGameOverlayToWebPage(url ? url : "");
    kiv_printf("We Made it!\n");
    return 0;
}

// --- cloud store: the platform's remote storage while it is up, the document directory otherwise

bool driver_cloud_exists(const char *fname) {
    if (driver_steam_is_init())
        return ISteamRemoteStorage_FileExists(fname);
    return driver_doc_exists(fname);
}

int driver_cloud_fsize(const char *fname) {
    if (driver_steam_is_init())
        return ISteamRemoteStorage_GetFileSize(fname);
    return driver_doc_fsize(fname);
}

int driver_cloud_load(const char *fname, void *data, int len) {
    if (!driver_steam_is_init())
        return driver_doc_load(fname, data, len);
    if (!data || len <= 0)
        return 0;
    int n = ISteamRemoteStorage_FileRead(fname, data, len);
    if (n <= 0) {
        memset(data, 0, (size_t)len);
        kiv_printf("SteamRemoteStorage_FileRead failed\n");
        return 0;
    }
    return n;
}

std::string driver_cloud_load(const char *fname) {
    if (!driver_cloud_exists(fname))
        return std::string();
    int n = driver_cloud_fsize(fname);
    if (n <= 0)
        return std::string();
    char *buf = (char *)malloc((size_t)n);
    if (!buf)
        return std::string();
    int got = driver_cloud_load(fname, buf, n);
    std::string s;
    if (got > 0)
        s.assign(buf, (size_t)got);
    free(buf);
    return s;
}

void driver_cloud_save(const char *fname, const void *data, int len) {
    if (!driver_steam_is_init()) {
        driver_doc_save(fname, data, len);
        return;
    }
    if (!ISteamRemoteStorage_FileWrite(fname, data, len))
        kiv_printf("SteamRemoteStorage()->FileWrite failed\n");
}
