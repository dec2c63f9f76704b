// POSIX layer under the driver: file status, directories, atomic saves, environment directories, URL opener.
#include "kiv_platform.h"
#include "kiv_platform_int.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <system_error>
#include <thread>
#include <fcntl.h>
#include <locale.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include "kiv_printf.h"

extern char **environ;

// Set by the stop signals; read once per frame pass.
static std::atomic<int> _kiv_platform_stop_sig{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal flag must be safe to set in a handler");
// When the first stop signal came (monotonic ms, 0 before any).
static std::atomic<long long> _kiv_platform_stop_first_ms{0};
static_assert(std::atomic<long long>::is_always_lock_free, "the signal time must be safe to set in a handler");

static const int _kiv_platform_stop_signals[] = {SIGTERM, SIGINT};
// `timeout` sends its stop to the program and again to the program's process group: what comes within this time of
// the first signal is the same request.
static const long long _KIV_PLATFORM_STOP_REPEAT_MS = 1000;

KivFileKind kiv_platform_file_kind(const char *path) {
    struct stat st;
    if (!path || !*path || stat(path, &st) != 0)
        return KIV_FILE_NONE;
    return S_ISREG(st.st_mode) ? KIV_FILE_REGULAR : S_ISDIR(st.st_mode) ? KIV_FILE_DIR : KIV_FILE_OTHER;
}

FILE *kiv_platform_fopen(const char *path, const char *mode) {
    if (!path || !mode) {
        errno = EINVAL;
        return nullptr;
    }
    return fopen(path, mode);
}

bool kiv_platform_file_replace(const char *from, const char *to) {
    if (!from || !to) {
        errno = EINVAL;
        return false;
    }
    return rename(from, to) == 0;
}

bool kiv_platform_file_remove(const char *path) {
    if (!path) {
        errno = EINVAL;
        return false;
    }
    return unlink(path) == 0;
}

bool kiv_platform_file_regular(const char *path) {
    struct stat st;
    if (!path || !*path || stat(path, &st) != 0)
        return false;
    return S_ISREG(st.st_mode);
}

bool kiv_platform_file_stat(const char *path, long long *size, time_t *mtime, long long *mtime_ns) {
    struct stat st;
    if (!path || !*path || stat(path, &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    if (size)
        *size = (long long)st.st_size;
    if (mtime)
        *mtime = st.st_mtime;
    if (mtime_ns)
        *mtime_ns = (long long)st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
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

size_t _kiv_platform_base_at(const std::string &path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? 0 : slash + 1;
}

size_t _kiv_platform_name_units(const std::string &name) {
    return name.size();
}

size_t _kiv_platform_name_max(const std::string &path) {
    size_t b = _kiv_platform_base_at(path);
    std::string dir = b == 0 ? "." : path.substr(0, b);
    long n = pathconf(dir.c_str(), _PC_NAME_MAX);
    return n > 0 ? (size_t)n : 255;
}

unsigned long _kiv_platform_pid() {
    return (unsigned long)getpid();
}

FILE *_kiv_platform_create_new(const std::string &path) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0)
        return nullptr;
    FILE *f = fdopen(fd, "wb");
    if (!f) {
        int err = errno;
        close(fd);
        unlink(path.c_str());
        errno = err;
    }
    return f;
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

bool _kiv_platform_write_synced(FILE *f, const void *data, size_t len) {
    return fflush(f) == 0 && _kiv_platform_write_all(fileno(f), data, len);
}

void _kiv_platform_sync_dir(const char *path) {
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

const char *kiv_platform_appdata_vars() {
    return "XDG_DATA_HOME and HOME";
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

std::string kiv_platform_exe_dir() {
    std::string buf(4096, '\0');
    ssize_t n = readlink("/proc/self/exe", &buf[0], buf.size());
    if (n <= 0 || (size_t)n >= buf.size())
        return "";
    buf.resize((size_t)n);
    size_t slash = buf.rfind('/');
    return slash == std::string::npos ? std::string() : buf.substr(0, slash + 1);
}

bool kiv_platform_path_sep(char c) {
    return c == '/';
}

bool kiv_platform_path_absolute(const char *name) {
    return name && name[0] == '/';
}

// A child of the game gets the usual action back for what the game ignores for itself (SIGPIPE for its stdout).
static void _kiv_platform_child_setup() {
    signal(SIGPIPE, SIG_DFL);
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
        _kiv_platform_child_setup();
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

static long long _kiv_platform_clock_ms() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts); // safe in a handler
    return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

// Only a flag, so a save or a network step in progress completes. A later signal, while the shutdown is still
// running, ends the program at once with the signal's own status.
static void _kiv_platform_on_stop(int sig) {
    long long now = _kiv_platform_clock_ms() | 1; // never 0, the "no signal yet" mark
    long long first = 0;
    if (_kiv_platform_stop_first_ms.compare_exchange_strong(first, now)) {
        _kiv_platform_stop_sig.store(sig);
        return;
    }
    if (now - first < _KIV_PLATFORM_STOP_REPEAT_MS)
        return;
    struct sigaction dfl = {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(sig, &dfl, nullptr);
    raise(sig); // delivered as soon as this handler returns
}

void kiv_platform_stop_init() {
    // A closed standard output (`| head`) must not end the game before its save: its writes just fail.
    signal(SIGPIPE, SIG_IGN);
    struct sigaction sa = {};
    sa.sa_handler = _kiv_platform_on_stop;
    sigemptyset(&sa.sa_mask);
    for (int s : _kiv_platform_stop_signals)
        sigaddset(&sa.sa_mask, s);
    sa.sa_flags = SA_RESTART; // a write of a save must not fail with EINTR
    for (int s : _kiv_platform_stop_signals) {
        struct sigaction old = {};
        // A signal ignored by whoever started us (a background job's SIGINT, nohup) stays ignored.
        if (sigaction(s, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
            continue;
        sigaction(s, &sa, nullptr);
    }
}

bool kiv_platform_stop_requested() {
    return _kiv_platform_stop_sig.exchange(0) != 0;
}

void kiv_platform_stop_done() {}

bool kiv_platform_thread_start(void (*fn)(void *), void *arg) {
    // The thread takes no signals: the stop signals reach the frame thread, whose handler only sets a flag.
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &old);
    bool started = true;
    try {
        std::thread(fn, arg).detach();
    } catch (const std::system_error &) {
        started = false;
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return started;
}

double kiv_platform_strtod_c(const char *s, char **end) {
    static locale_t c_locale = newlocale(LC_ALL_MASK, "C", (locale_t)0);
    return c_locale ? strtod_l(s, end, c_locale) : strtod(s, end);
}

bool kiv_platform_localtime(time_t t, struct tm *out) {
    return localtime_r(&t, out) != nullptr;
}

void kiv_platform_main_args(int *argc, char ***argv) {}
