// The platform rules that are the same on every system: the temporary names of saves and one-off files and the
// write of a one-off file, over the steps of kiv_platform-posix.cpp or kiv_platform-win32.cpp. Called by the driver.
#include "kiv_platform.h"
#include "kiv_platform_int.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>

// --- internal helpers

bool _kiv_platform_write_target_ok(const char *path, const void *data, size_t len) {
    if (!path || !*path || (len > 0 && !data)) {
        errno = EINVAL;
        return false;
    }
    KivFileKind k = kiv_platform_file_kind(path);
    if (k == KIV_FILE_DIR || k == KIV_FILE_OTHER) {
        errno = k == KIV_FILE_DIR ? EISDIR : EEXIST;
        return false;
    }
    return true;
}

// --- public functions

// The one temporary file of a target: ".<name>.kivtmp" beside it. A save killed mid-write leaves at most this
// file, and the next save of the same name takes it over. Where that name would pass the file system's limit
// for one name, the name's 64-bit FNV-1a hash stands for it: still one temporary file per target, and still of
// the form that saves refuse as a target.
std::string kiv_platform_tmp_name(const std::string &path) {
    size_t b = _kiv_platform_base_at(path);
    std::string base = path.substr(b);
    if (_kiv_platform_name_units(base) + 8 <= _kiv_platform_name_max(path))
        return path.substr(0, b) + "." + base + ".kivtmp";
    uint64_t h = 14695981039346656037ULL;
    for (unsigned char c : base)
        h = (h ^ c) * 1099511628211ULL;
    char hex[17];
    snprintf(hex, sizeof(hex), "%016llx", (unsigned long long)h);
    return path.substr(0, b) + "." + hex + ".kivtmp";
}

FILE *kiv_platform_tmp_create(const char *path, std::string *tmp) {
    static unsigned serial = 0;
    if (!path || !*path) {
        errno = EINVAL;
        return nullptr;
    }
    std::string p(path);
    std::string dir = p.substr(0, _kiv_platform_base_at(p));
    for (int tries = 0; tries < 100; tries++) {
        *tmp = dir + ".kiv" + std::to_string(_kiv_platform_pid()) + "-" + std::to_string(serial++) + ".part";
        FILE *f = _kiv_platform_create_new(*tmp);
        if (!f && errno == EEXIST)
            continue;
        return f;
    }
    return nullptr;
}

bool kiv_platform_file_write_new(const char *path, const void *data, size_t len) {
    if (!_kiv_platform_write_target_ok(path, data, len))
        return false;
    std::string tmp;
    FILE *f = kiv_platform_tmp_create(path, &tmp);
    if (!f)
        return false;
    bool ok = _kiv_platform_write_synced(f, data, len);
    int err = errno;
    if (fclose(f) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && !kiv_platform_file_replace(tmp.c_str(), path)) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        kiv_platform_file_remove(tmp.c_str());
        errno = err ? err : EIO;
        return false;
    }
    _kiv_platform_sync_dir(path);
    return true;
}
