// Store-platform bridge stand-in: the platform service is never present on this system, so every call
// gives its "service down" answer, and the cloud store is the document directory.
#include "kiv_driver.h"

#include <cstdlib>
#include <cstring>

#include "kiv_printf.h"

static int _driver_steam_api = 0;
static int _driver_steam_storestats = 0;
static char _driver_steam_uid[256];

bool driver_steam_is_init() {
    return _driver_steam_api != 0;
}

void driver_social_init() {
    _driver_steam_api = 0;
    kiv_printf("_driver_steam_api: %d\n", _driver_steam_api);
}

void driver_social_loop() {
    if (!driver_steam_is_init())
        return;
    _driver_steam_storestats = 0;
}

void driver_social_deinit() {}

const char *driver_steam_get_uid() {
    memset(_driver_steam_uid, 0, sizeof(_driver_steam_uid));
    return _driver_steam_uid;
}

void driver_social_achievment_set(const char *name, double value) {
    if (driver_steam_is_init())
        _driver_steam_storestats++;
}

void driver_social_achievements_reset() {
    if (driver_steam_is_init())
        _driver_steam_storestats++;
}

bool driver_social_achievements_show() {
    return false;
}

void driver_social_leaderboard_submit(const char *name, double value) {
    if (driver_steam_is_init())
        kiv_printf("steam:driver_social_leaderboard_submit - not implemented\n");
}

bool driver_social_leaderboard_show(const char *name) {
    return false;
}

std::vector<std::string> driver_social_friends_get() {
    return std::vector<std::string>();
}

void driver_social_friends_invite() {}

void driver_social_share(const char *text, const char *url, const char *image) {}

int driver_steam_open_overlay(const char *dialog) {
    return -1;
}

int driver_steam_open_overlay_to_store(int appid) {
    return -1;
}

void driver_steam_trigger_screenshot() {}

int driver_open_url_steam(const char *url) {
    kiv_printf("driver_open_url_steam\n");
    kiv_printf("...failed\n");
    return -1;
}

// --- cloud store: the document directory while the platform service is down (always, here)

bool driver_cloud_exists(const char *fname) {
    return driver_doc_exists(fname);
}

int driver_cloud_fsize(const char *fname) {
    return driver_doc_fsize(fname);
}

int driver_cloud_load(const char *fname, void *data, int len) {
    return driver_doc_load(fname, data, len);
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
    driver_doc_save(fname, data, len);
}
