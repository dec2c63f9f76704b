// POSIX layer under the driver: file status, directories, atomic saves, environment directories, URL opener.
#include "kiv_platform.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cstdint>
#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include "kiv_printf.h"

extern char **environ;

bool kiv_platform_file_regular(const char *path) {
    struct stat st;
    if (!path || !*path || stat(path, &st) != 0)
        return false;
    return S_ISREG(st.st_mode);
}

bool kiv_platform_file_stat(const char *path, long long *size, time_t *mtime) {
    struct stat st;
    if (!path || !*path || stat(path, &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    if (size)
        *size = (long long)st.st_size;
    if (mtime)
        *mtime = st.st_mtime;
    return true;
}

static bool _kiv_platform_isdir(const std::string &p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool kiv_platform_mkdir_p(const char *path) {
    if (!path || !*path)
        return false;
    std::string p(path);
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    for (size_t i = 1; i <= p.size(); i++) {
        if (i < p.size() && p[i] != '/')
            continue;
        std::string part = p.substr(0, i);
        if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
            return false;
    }
    return _kiv_platform_isdir(p);
}

// The folder part of a path with its trailing slash ("" for a bare name), and the folder to ask about it.
static size_t _kiv_platform_base_at(const std::string &path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? 0 : slash + 1;
}

static long _kiv_platform_name_max(const std::string &path) {
    size_t b = _kiv_platform_base_at(path);
    std::string dir = b == 0 ? "." : path.substr(0, b);
    long n = pathconf(dir.c_str(), _PC_NAME_MAX);
    return n > 0 ? n : 255;
}

// The one temporary file of a target: ".<name>.kivtmp" beside it. A save killed mid-write leaves at most this
// file, and the next save of the same name takes it over. Where that name would pass the file system's limit
// for one name, the name's 64-bit FNV-1a hash stands for it: still one temporary file per target, and still of
// the form that saves refuse as a target.
std::string kiv_platform_tmp_name(const std::string &path) {
    size_t b = _kiv_platform_base_at(path);
    std::string base = path.substr(b);
    if ((long)(base.size() + 8) <= _kiv_platform_name_max(path))
        return path.substr(0, b) + "." + base + ".kivtmp";
    uint64_t h = 14695981039346656037ULL;
    for (unsigned char c : base)
        h = (h ^ c) * 1099511628211ULL;
    char hex[17];
    snprintf(hex, sizeof(hex), "%016llx", (unsigned long long)h);
    return path.substr(0, b) + "." + hex + ".kivtmp";
}

int kiv_platform_tmp_create(const char *path, std::string *tmp) {
    static unsigned serial = 0;
    if (!path || !*path) {
        errno = EINVAL;
        return -1;
    }
    std::string p(path);
    std::string dir = p.substr(0, _kiv_platform_base_at(p));
    for (int tries = 0; tries < 100; tries++) {
        *tmp = dir + ".kiv" + std::to_string((long)getpid()) + "-" + std::to_string(serial++) + ".part";
        int fd = open(tmp->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// Writes all of data to fd and syncs it; false with errno on failure.
static bool _kiv_platform_write_all(int fd, const void *data, size_t len) {
    const char *p = (const char *)data;
    size_t left = len;
    while (left > 0) {
        ssize_t n = write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        left -= (size_t)n;
    }
    return fsync(fd) == 0;
}

// Makes a rename in path's folder durable.
static void _kiv_platform_sync_dir(const char *path) {
    std::string p(path);
    size_t b = _kiv_platform_base_at(p);
    std::string dir = b == 0 ? "." : b == 1 ? "/" : p.substr(0, b - 1);
    int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (dfd >= 0) {
        fsync(dfd);
        close(dfd);
    }
}

// Opens the temporary file locked for this writer alone. A concurrent writer of the same name may rename it
// away while we wait for the lock; then the file we hold is its finished save, and we start again.
static int _kiv_platform_tmp_open(const std::string &tmp) {
    for (int tries = 0; tries < 100; tries++) {
        int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd < 0)
            return -1;
        struct stat held, named;
        if (flock(fd, LOCK_EX) != 0 || fstat(fd, &held) != 0 || !S_ISREG(held.st_mode)) {
            close(fd);
            return -1;
        }
        bool same = stat(tmp.c_str(), &named) == 0 && held.st_ino == named.st_ino && held.st_dev == named.st_dev;
        if (same && ftruncate(fd, 0) == 0)
            return fd;
        close(fd);
        if (same)
            return -1;
    }
    return -1;
}

// The arguments of a whole-file write make sense and nothing but a regular file is in the way (a directory in
// the way is never replaced); false with errno set otherwise.
static bool _kiv_platform_write_target_ok(const char *path, const void *data, size_t len) {
    if (!path || !*path || (len > 0 && !data)) {
        errno = EINVAL;
        return false;
    }
    struct stat st;
    if (stat(path, &st) == 0 && !S_ISREG(st.st_mode)) {
        errno = S_ISDIR(st.st_mode) ? EISDIR : EEXIST;
        return false;
    }
    return true;
}

bool kiv_platform_file_write_atomic(const char *path, const void *data, size_t len) {
    if (!_kiv_platform_write_target_ok(path, data, len))
        return false;
    std::string tmp = kiv_platform_tmp_name(path);
    int fd = _kiv_platform_tmp_open(tmp);
    if (fd < 0)
        return false;
    // Renamed while still locked, so no other writer can truncate the finished file.
    bool ok = _kiv_platform_write_all(fd, data, len) && rename(tmp.c_str(), path) == 0;
    int err = errno;
    if (!ok)
        unlink(tmp.c_str());
    close(fd);
    if (!ok) {
        errno = err;
        return false;
    }
    _kiv_platform_sync_dir(path);
    return true;
}

bool kiv_platform_file_write_new(const char *path, const void *data, size_t len) {
    if (!_kiv_platform_write_target_ok(path, data, len))
        return false;
    std::string tmp;
    int fd = kiv_platform_tmp_create(path, &tmp);
    if (fd < 0)
        return false;
    bool ok = _kiv_platform_write_all(fd, data, len);
    int err = errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && rename(tmp.c_str(), path) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        unlink(tmp.c_str());
        errno = err;
        return false;
    }
    _kiv_platform_sync_dir(path);
    return true;
}

static std::string _kiv_platform_env(const char *name) {
    const char *v = getenv(name);
    return v ? std::string(v) : std::string();
}

std::string kiv_platform_appdata_dir() {
    std::string d = _kiv_platform_env("XDG_DATA_HOME");
    if (!d.empty())
        return d;
    std::string home = _kiv_platform_env("HOME");
    if (home.empty())
        return "";
    return home + "/.local/share";
}

std::string kiv_platform_temp_dir() {
    std::string d = _kiv_platform_env("TMPDIR");
    return d.empty() ? std::string("/tmp") : d;
}

std::string kiv_platform_home_dir() {
    return _kiv_platform_env("HOME");
}

const char *kiv_platform_osinfo() {
    return "Linux";
}

bool kiv_platform_open_url(const char *url) {
    if (!url || !*url)
        return false;
    // The opener would read a leading '-' as one of its own options.
    if (url[0] == '-') {
        kiv_printf("open_url: link refused (starts with '-'): %s\n", url);
        return false;
    }
    // The link goes to the opener as one argument; no shell ever parses it. The opener runs in a grandchild
    // so the game neither waits for a browser that xdg-open may keep in the foreground nor leaves a zombie.
    char *argv[] = {(char *)"xdg-open", (char *)url, nullptr};
    pid_t child = fork();
    if (child < 0) {
        kiv_printf("open_url: fork failed: %s\n", strerror(errno));
        return false;
    }
    if (child == 0) {
        // The game ignores SIGPIPE for its own stdout; the opener and its browser get the usual action back.
        signal(SIGPIPE, SIG_DFL);
        pid_t pid;
        int rc = posix_spawnp(&pid, "xdg-open", nullptr, nullptr, argv, environ);
        _exit(rc == 0 ? 0 : 127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        kiv_printf("open_url: xdg-open could not be started\n");
        return false;
    }
    return true;
}
