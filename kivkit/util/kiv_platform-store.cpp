// The store platform stand-in: off unless KIV_PLATFORM_DIR names a directory with user.json; then it keeps the
// user, remote storage, achievements and a call log there (see the header). Called only by the bridge.
#include "kiv_platform-store.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "kiv_json.h"
#include "kiv_platform.h"
#include "kiv_printf.h"
#include "kiv_var.h"

static const int _STORE_FRIEND_IMMEDIATE = 4;
static const size_t _STORE_NAME_MAX = 255;

struct _StoreData {
    std::string dir;
    bool signed_in = true;
    uint64_t id = 0;
    std::string name;
    std::vector<uint64_t> friends;
    bool overlay = true;
    bool fail_read = false;
    bool fail_write = false;
    std::map<std::string, bool> achievements;
};

static _StoreData *_store = nullptr;
static int _store_handle = 0; // what the interface handles point at

// An id from user.json: a decimal or 0x-hex text, or a number that fits 64 bits.
static uint64_t _store_id(const var &v) {
    if (v.__type__() == VAR_STRING) {
        std::string s = v.__str__();
        char *end = nullptr;
        unsigned long long n = strtoull(s.c_str(), &end, 0);
        return (end && !*end && !s.empty() && s[0] != '-') ? (uint64_t)n : 0;
    }
    double d = v.__num__();
    return (std::isfinite(d) && d >= 0 && d < 18446744073709551615.0) ? (uint64_t)d : 0;
}

static bool _store_flag(var &user, const char *key, bool def) {
    return user.__has__(var(key)) ? user[key].__bool__() : def;
}

// One line per call; control bytes in the game's texts become '?' so a text cannot forge further lines.
static void _store_log(const std::string &line) {
    if (!_store)
        return;
    std::string clean = line;
    for (char &c : clean)
        if ((unsigned char)c < 0x20 || c == 0x7f)
            c = '?';
    std::string path = _store->dir + "/calls.log";
    FILE *f = fopen(path.c_str(), "ab");
    if (!f)
        return;
    fprintf(f, "%s\n", clean.c_str());
    fclose(f);
}

// Remote names stay inside remote/: no absolute names, no "..", no empty parts.
static bool _store_remote_path(const char *name, std::string *out) {
    if (!_store || !name || !*name || name[0] == '/' || strlen(name) > _STORE_NAME_MAX || strchr(name, '\\'))
        return false;
    std::string n(name);
    size_t start = 0;
    while (start <= n.size()) {
        size_t slash = n.find('/', start);
        std::string part = n.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (part.empty() || part == "." || part == "..")
            return false;
        if (slash == std::string::npos)
            break;
        start = slash + 1;
    }
    *out = _store->dir + "/remote/" + n;
    return true;
}

static bool _store_user_ok() {
    return _store && _store->signed_in;
}

int InitSafe() {
    Shutdown();
    const char *dir = getenv(KIV_PLATFORM_DIR_ENV);
    if (!dir || !*dir)
        return 0;
    std::string text;
    {
        std::string path = std::string(dir) + "/user.json";
        FILE *f = fopen(path.c_str(), "rb");
        if (!f) {
            kiv_printf("platform store: no %s\n", path.c_str());
            return 0;
        }
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof(buf), f)) > 0 && text.size() < (1u << 20))
            text.append(buf, n);
        fclose(f);
    }
    var user = json_decode(text);
    if (user.__type__() != VAR_DICT) {
        kiv_printf("platform store: user.json is not a JSON object\n");
        return 0;
    }
    _store = new _StoreData();
    _store->dir = dir;
    _store->signed_in = !_store_flag(user, "no_user", false);
    _store->id = _store_id(user["id"]);
    _store->name = user["name"].__str__();
    _store->overlay = _store_flag(user, "overlay", true);
    _store->fail_read = _store_flag(user, "fail_read", false);
    _store->fail_write = _store_flag(user, "fail_write", false);
    var friends = user["friends"];
    if (friends.__type__() == VAR_LIST) {
        for (int i = 0; i < friends.__len__(); i++)
            _store->friends.push_back(_store_id(friends[i]));
    }
    return 1;
}

void Shutdown() {
    delete _store;
    _store = nullptr;
}

void RunCallbacks() {}

void *SteamUser() {
    return _store_user_ok() ? &_store_handle : nullptr;
}

void *SteamFriends() {
    return _store_user_ok() ? &_store_handle : nullptr;
}

uint64_t ISteamUser_GetSteamID() {
    return _store_user_ok() ? _store->id : 0;
}

const char *ISteamFriends_GetPersonaName() {
    return _store_user_ok() ? _store->name.c_str() : "";
}

int ISteamFriends_GetFriendCount(int flags) {
    if (!_store_user_ok() || !(flags & _STORE_FRIEND_IMMEDIATE))
        return 0;
    return (int)_store->friends.size();
}

uint64_t ISteamFriends_GetFriendByIndex(int index, int flags) {
    if (index < 0 || index >= ISteamFriends_GetFriendCount(flags))
        return 0;
    return _store->friends[(size_t)index];
}

void ISteamFriends_ActivateGameOverlay(const char *dialog) {
    _store_log(std::string("overlay ") + (dialog ? dialog : ""));
}

void ISteamFriends_ActivateGameOverlayToStore(uint32_t appid, int flag) {
    char buf[64];
    snprintf(buf, sizeof(buf), "store %" PRIu32 " %d", appid, flag);
    _store_log(buf);
}

void ISteamFriends_ActivateGameOverlayToWebPage(const char *url) {
    _store_log(std::string("webpage ") + (url ? url : ""));
}

bool ISteamUtils_IsOverlayEnabled() {
    return _store_user_ok() && _store->overlay;
}

void ISteamScreenshots_TriggerScreenshot() {
    _store_log("screenshot");
}

bool ISteamUserStats_RequestCurrentStats() {
    if (!_store_user_ok())
        return false;
    std::string path = _store->dir + "/achievements.json";
    FILE *f = fopen(path.c_str(), "rb");
    if (!f)
        return true;
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0 && text.size() < (1u << 20))
        text.append(buf, n);
    fclose(f);
    var kept = json_decode(text);
    var k, v;
    if (kept.__type__() == VAR_DICT) {
        var it(kept.__iter__());
        while (it.__pair__(k, v))
            _store->achievements[k.__str__()] = v.__bool__();
    }
    return true;
}

bool ISteamUserStats_SetAchievement(const char *name) {
    if (!_store_user_ok() || !name || !*name)
        return false;
    _store->achievements[name] = true;
    return true;
}

bool ISteamUserStats_ResetAllStats(bool achievements_too) {
    if (!_store_user_ok())
        return false;
    if (achievements_too)
        _store->achievements.clear();
    return true;
}

bool ISteamUserStats_StoreStats() {
    if (!_store_user_ok())
        return false;
    var all = var_dict();
    for (auto &a : _store->achievements)
        all[a.first] = var(a.second);
    std::string text = json_encode(all);
    _store_log("store_stats " + text);
    return kiv_platform_file_write_atomic((_store->dir + "/achievements.json").c_str(), text.data(), text.size());
}

bool ISteamRemoteStorage_FileExists(const char *name) {
    std::string path;
    return _store_user_ok() && _store_remote_path(name, &path) && kiv_platform_file_regular(path.c_str());
}

int32_t ISteamRemoteStorage_GetFileSize(const char *name) {
    std::string path;
    long long size = 0;
    if (!_store_user_ok() || !_store_remote_path(name, &path) || !kiv_platform_file_stat(path.c_str(), &size, nullptr))
        return 0;
    return size > INT32_MAX ? 0 : (int32_t)size;
}

int32_t ISteamRemoteStorage_FileRead(const char *name, void *data, int32_t len) {
    std::string path;
    if (!_store_user_ok() || _store->fail_read || !data || len <= 0 || !_store_remote_path(name, &path))
        return 0;
    FILE *f = fopen(path.c_str(), "rb");
    if (!f)
        return 0;
    size_t n = fread(data, 1, (size_t)len, f);
    fclose(f);
    return (int32_t)n;
}

bool ISteamRemoteStorage_FileWrite(const char *name, const void *data, int32_t len) {
    std::string path;
    if (!_store_user_ok() || _store->fail_write || len < 0 || (len > 0 && !data) || !_store_remote_path(name, &path))
        return false;
    size_t slash = path.rfind('/');
    if (!kiv_platform_mkdir_p(path.substr(0, slash).c_str()))
        return false;
    return kiv_platform_file_write_atomic(path.c_str(), data, (size_t)len);
}
