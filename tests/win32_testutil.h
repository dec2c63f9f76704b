// Force-included into every test of the Windows build (CMakeLists.txt): the few POSIX calls the tests make for
// their set-up, over the C runtime, and the macros of windows.h that clash with the tests' own names taken out
// (included first here, so that a later include of it changes nothing).
#pragma once
#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#undef near
#undef far

#include <direct.h>
#include <sys/utime.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>

inline int setenv(const char *name, const char *value, int overwrite) {
    if (!overwrite && getenv(name))
        return 0;
    return _putenv_s(name, value) == 0 ? 0 : -1;
}

// An empty value removes the variable on Windows.
inline int unsetenv(const char *name) {
    return _putenv_s(name, "") == 0 ? 0 : -1;
}

inline char *mkdtemp(char *tmpl) {
    size_t n = strlen(tmpl);
    if (n < 6 || strcmp(tmpl + n - 6, "XXXXXX") != 0)
        return nullptr;
    static std::mt19937 rng(std::random_device{}());
    for (int tries = 0; tries < 100; tries++) {
        for (size_t i = n - 6; i < n; i++)
            tmpl[i] = "abcdefghijklmnopqrstuvwxyz0123456789"[rng() % 36];
        std::error_code ec;
        if (std::filesystem::create_directory(tmpl, ec))
            return tmpl;
    }
    return nullptr;
}

// POSIX's mkdir takes the new folder's mode, which Windows has no use for.
inline int mkdir(const char *path, int) {
    return _mkdir(path);
}

// A file's times by whole seconds, as the tests set them.
inline int utimes(const char *path, const struct timeval tv[2]) {
    struct _utimbuf t = {(time_t)tv[0].tv_sec, (time_t)tv[1].tv_sec};
    return _utime(path, &t);
}

// The page size, for the memory readings of /proc, which Windows does not have (they read as 0 there).
#define _SC_PAGESIZE 30
inline long sysconf(int) {
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    return (long)si.dwPageSize;
}
