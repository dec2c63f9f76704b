// Driver core over SDL2: the driver state, start-up and shut-down by flags, names, the file layer
// (plain, data, document paths) and the timer. OS specifics are behind kiv_platform.
#include "kiv_driver.h"

#include <SDL.h>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "kiv_platform.h"
#include "kiv_printf.h"

// --- constants

// driver_init flags handled here besides the public ones.
enum { _DRIVER_LOG = 8, _DRIVER_CLOUD = 16 };

// Capacity of every returned path buffer.
#define KIV_DRIVER_PATHMAX 1024
// A changed file is read again only once it is this many seconds old, so a file still being written is not read.
static const time_t _DRIVER_FILE_SETTLE_SECS = 2;
static const long long _DRIVER_NS = 1000000000LL;

// --- state

struct _DriverData {
    int width;
    int height;
    float aspect;
    float scale;
    float orient;
    char idiom[256];
    char gamename[256];
    char caption[256];
    char icon[512];
    int fps;
    char altdir[512];
    int started; // driver_init flags whose parts were started
};

static _DriverData *_driver = nullptr;

static char _driver_data_dir_buf[KIV_DRIVER_PATHMAX];
static char _driver_data_fname_buf[KIV_DRIVER_PATHMAX];
static char _driver_doc_dir_buf[KIV_DRIVER_PATHMAX];
static char _driver_doc_fname_buf[KIV_DRIVER_PATHMAX];
static char _driver_home_dir_buf[KIV_DRIVER_PATHMAX];
static char _driver_tmpdir_buf[KIV_DRIVER_PATHMAX];

static unsigned _driver_timer_sdl_ticks() {
    return (unsigned)SDL_GetTicks();
}

// The timer, which runs without driver_init: ticks are counted from a base so a reset can bring them back to 0;
// the source is injectable. The step counter counts whole frames at the rate driver_timer_set gave.
struct _DriverTimer {
    unsigned (*source)() = _driver_timer_sdl_ticks;
    unsigned base = 0;
    bool tick_started = false;
    int tick_steps = 0;
    long long tick_start = 0; // ms
};

static _DriverTimer _driver_timer;

// --- internal helpers

// Copies a name into a fixed field; false (field unchanged) when it does not fit.
static bool _driver_copy_field(char *dst, size_t cap, const char *src, const char *what) {
    if (!src)
        src = "";
    size_t n = strlen(src);
    if (n >= cap) {
        kiv_printf("%s too long (%zu bytes, at most %zu): refused\n", what, n, cap - 1);
        return false;
    }
    memcpy(dst, src, n + 1);
    return true;
}

// Copies display text, cut to the field at a UTF-8 character boundary.
static void _driver_copy_text(char *dst, size_t cap, const char *src) {
    if (!src)
        src = "";
    size_t n = strlen(src);
    if (n >= cap) {
        n = cap - 1;
        while (n > 0 && ((unsigned char)src[n] & 0xC0) == 0x80)
            n--;
    }
    memcpy(dst, src, n);
    dst[n] = 0;
}

// Writes "dir/name" into buf; false (buf emptied) when it does not fit.
static bool _driver_join(char *buf, size_t cap, const char *dir, const char *name) {
    int n = snprintf(buf, cap, "%s/%s", dir, name);
    if (n < 0 || (size_t)n >= cap) {
        kiv_printf("path too long: %s/%s\n", dir, name);
        buf[0] = 0;
        return false;
    }
    return true;
}

// A name relative to the data or document directory must stay inside it: why it is refused, or null.
static const char *_driver_name_refusal(const char *name) {
    if (!name || !*name)
        return "empty";
    if (kiv_platform_path_absolute(name))
        return "absolute path";
    const char *p = name;
    while (*p) {
        const char *e = p;
        while (*e && !kiv_platform_path_sep(*e))
            e++;
        size_t len = (size_t)(e - p);
        if (!*e)
            e = nullptr;
        if (len == 2 && p[0] == '.' && p[1] == '.')
            return "leaves its directory";
        // ".<name>.kivtmp" is the temporary file of a save of <name> in progress, which the next save takes over.
        if (!e && len > 8 && p[0] == '.' && strcmp(p + len - 7, ".kivtmp") == 0)
            return "kept for saves in progress";
        if (!e)
            break;
        p = e + 1;
    }
    return nullptr;
}

static bool _driver_name_ok(const char *name) {
    const char *why = _driver_name_refusal(name);
    if (why && name && *name)
        kiv_printf("file name refused (%s): %s\n", why, name);
    return !why;
}

// A game name becomes one directory component.
static bool _driver_gamename_ok(const char *s) {
    if (!s || !*s)
        return true;
    bool sep = false;
    for (const char *p = s; *p; p++)
        sep = sep || kiv_platform_path_sep(*p);
    if (sep || kiv_platform_path_absolute(s) || strcmp(s, ".") == 0 || strcmp(s, "..") == 0) {
        kiv_printf("game name refused (not a plain directory name): %s\n", s);
        return false;
    }
    return true;
}

static const char *_driver_data_dir() {
    const char *dir = (_driver && _driver->gamename[0]) ? "./data" : "../data";
    snprintf(_driver_data_dir_buf, sizeof(_driver_data_dir_buf), "%s", dir);
    return _driver_data_dir_buf;
}

// The program's own folder with its trailing separator; "" when the system cannot tell.
static const std::string &_driver_base_dir() {
    static const std::string base = kiv_platform_exe_dir();
    return base;
}

static const char *_driver_doc_dir() {
    if (!_driver || !_driver->gamename[0]) {
        snprintf(_driver_doc_dir_buf, sizeof(_driver_doc_dir_buf), ".");
        return _driver_doc_dir_buf;
    }
    std::string root = kiv_platform_appdata_dir();
    if (root.empty()) {
        kiv_printf("no per-user data directory (XDG_DATA_HOME and HOME unset): using .\n");
        root = ".";
    }
    if (!_driver_join(_driver_doc_dir_buf, sizeof(_driver_doc_dir_buf), root.c_str(), _driver->gamename))
        return nullptr;
    kiv_platform_mkdir_p(_driver_doc_dir_buf);
    return _driver_doc_dir_buf;
}

static void _driver_timer_start() {
    SDL_InitSubSystem(SDL_INIT_TIMER);
}

static void _driver_timer_stop() {
    SDL_QuitSubSystem(SDL_INIT_TIMER);
}

// --- public functions: core and names

void driver_init(int flags) {
    // A second start replaces the first cleanly instead of leaking it.
    if (_driver)
        driver_deinit();
    _driver = new _DriverData();
    memset(_driver, 0, sizeof(*_driver));
    _driver->aspect = 1;
    _driver->scale = 1;
    _driver->orient = 0;

    if (flags & DRIVER_TIMER) {
        _driver_timer_start();
        _driver->started |= DRIVER_TIMER;
    }
    if (flags & DRIVER_VIDEO) {
        _driver_copy_text(_driver->idiom, sizeof(_driver->idiom), "desktop");
        _driver_video_start();
        _driver->started |= DRIVER_VIDEO;
    }
    if (flags & DRIVER_AUDIO) {
        _driver_audio_start();
        _driver->started |= DRIVER_AUDIO;
    }
}

void driver_deinit() {
    if (!_driver)
        return;
    int started = _driver->started;
    if (started & DRIVER_AUDIO)
        _driver_audio_stop();
    if (started & DRIVER_VIDEO)
        _driver_video_stop();
    if (started & DRIVER_TIMER)
        _driver_timer_stop();
    if (started & (DRIVER_AUDIO | DRIVER_VIDEO | DRIVER_TIMER))
        SDL_Quit();
    delete _driver;
    _driver = nullptr;
}

void driver_set_gamename(const char *s) {
    if (!_driver || !_driver_gamename_ok(s))
        return;
    _driver_copy_field(_driver->gamename, sizeof(_driver->gamename), s, "game name");
}

const char *driver_get_gamename() {
    return _driver ? _driver->gamename : "";
}

void driver_set_caption(const char *s) {
    if (_driver)
        _driver_copy_text(_driver->caption, sizeof(_driver->caption), s);
}

const char *driver_get_caption() {
    return _driver ? _driver->caption : "";
}

void driver_set_icon(const char *s) {
    if (_driver)
        _driver_copy_field(_driver->icon, sizeof(_driver->icon), s, "icon path");
}

const char *driver_get_icon() {
    return _driver ? _driver->icon : "";
}

void driver_set_idiom(const char *s) {
    if (_driver)
        _driver_copy_text(_driver->idiom, sizeof(_driver->idiom), s);
}

const char *driver_get_idiom() {
    return _driver ? _driver->idiom : "";
}

void driver_set_altdir(const char *v) {
    if (!_driver)
        return;
    char prev[sizeof(_driver->altdir)];
    memcpy(prev, _driver->altdir, sizeof(prev));
    memset(_driver->altdir, 0, sizeof(_driver->altdir));
    if (v && !_driver_copy_field(_driver->altdir, sizeof(_driver->altdir), v, "alternative directory"))
        memcpy(_driver->altdir, prev, sizeof(prev));
}

const char *driver_get_altdir() {
    return _driver ? _driver->altdir : "";
}

void driver_set_size(int w, int h) {
    if (!_driver)
        return;
    _driver->width = w;
    _driver->height = h;
}

void driver_get_size(int *w, int *h) {
    if (w)
        *w = _driver ? _driver->width : 0;
    if (h)
        *h = _driver ? _driver->height : 0;
}

void driver_set_aspect(float v) {
    if (_driver)
        _driver->aspect = v;
}

float driver_get_aspect() {
    return _driver ? _driver->aspect : 0;
}

void driver_set_scale(float v) {
    if (_driver)
        _driver->scale = v;
}

float driver_get_scale() {
    return _driver ? _driver->scale : 0;
}

void driver_set_orient(float v) {
    if (_driver)
        _driver->orient = v;
}

float driver_get_orient() {
    return _driver ? _driver->orient : 0;
}

const char *driver_get_tmpdir() {
    std::string t = kiv_platform_temp_dir();
    snprintf(_driver_tmpdir_buf, sizeof(_driver_tmpdir_buf), "%s", t.c_str());
    if (t.size() >= sizeof(_driver_tmpdir_buf))
        snprintf(_driver_tmpdir_buf, sizeof(_driver_tmpdir_buf), "/tmp");
    return _driver_tmpdir_buf;
}

const char *driver_get_home_dir() {
    std::string home = kiv_platform_home_dir();
    _driver_home_dir_buf[0] = 0;
    if (!home.empty())
        snprintf(_driver_home_dir_buf, sizeof(_driver_home_dir_buf), "%s%cDesktop", home.c_str(), KIV_PLATFORM_SEP);
    return _driver_home_dir_buf;
}

const char *driver_get_osinfo() {
    return kiv_platform_osinfo();
}

void driver_open_url(const char *url) {
    if (!url)
        return;
    kiv_printf("Driver::weblink: %s\n", url);
    kiv_platform_open_url(url);
}

void driver_app_exit() {}

void driver_log_printf(const char *fmt, ...) {}

// --- public functions: files

bool driver_file_exists(const char *fname) {
    if (!kiv_platform_file_regular(fname))
        return false;
    FILE *f = kiv_platform_fopen(fname, "rb");
    if (!f)
        return false;
    fclose(f);
    return true;
}

int driver_file_fsize(const char *fname) {
    long long size = 0;
    if (!kiv_platform_file_stat(fname, &size, nullptr))
        return 0;
    if (size > 0x7fffffffLL) {
        kiv_printf("file too large: %s\n", fname);
        return 0;
    }
    return (int)size;
}

time_t driver_file_mtime(const char *fname) {
    time_t mtime = 0;
    if (!kiv_platform_file_stat(fname, nullptr, &mtime))
        return 0;
    return mtime;
}

DriverFileStamp driver_file_stamp(const char *fname) {
    DriverFileStamp s = {0, 0};
    if (!kiv_platform_file_stat(fname, &s.size, nullptr, &s.mtime_ns))
        s = {0, 0};
    return s;
}

time_t driver_file_stamp_time(const DriverFileStamp &s) {
    long long q = s.mtime_ns / _DRIVER_NS, r = s.mtime_ns % _DRIVER_NS;
    return (time_t)(r < 0 ? q - 1 : q);
}

bool driver_file_settled(const DriverFileStamp &known, const DriverFileStamp &seen, time_t now) {
    // Any other time is a change, an older one too: a copy that keeps its time, a restored backup, an older
    // revision checked out. Time 0 is a file that is gone (or cannot be examined), which is left alone.
    bool changed = seen.mtime_ns != 0 && (known.mtime_ns != seen.mtime_ns || known.size != seen.size);
    return changed && driver_file_stamp_time(seen) <= now - _DRIVER_FILE_SETTLE_SECS;
}

bool driver_file_settled(time_t known, time_t mtime, time_t now, bool resized) {
    DriverFileStamp k = {(long long)known * _DRIVER_NS, 0}, s = {(long long)mtime * _DRIVER_NS, resized ? 1 : 0};
    return driver_file_settled(k, s, now);
}

bool driver_file_check_due(time_t *last, time_t now) {
    if (!last || *last == now)
        return false;
    *last = now;
    return true;
}

// Logs why a file did not open for reading: the plain line for a missing file, the cause after it otherwise
// (a folder, no permission), so that what is there but unreadable is not taken for missing.
static void _driver_log_not_found(const char *fname) {
    int err = errno;
    KivFileKind kind = kiv_platform_file_kind(fname);
    const char *cause = kind == KIV_FILE_DIR       ? "a folder"
                        : kind == KIV_FILE_OTHER   ? "not a regular file"
                        : kind == KIV_FILE_REGULAR ? strerror(err)
                                                   : nullptr;
    if (cause)
        kiv_printf("file not found: %s - %s\n", fname, cause);
    else
        kiv_printf("file not found: %s\n", fname ? fname : "");
}

const char *driver_file_refusal(const char *fname) {
    long long size = 0;
    return kiv_platform_file_stat(fname, &size, nullptr) && size == 0 ? "empty file" : "file not found";
}

void *driver_file_alloc(const char *fname, int *_len) {
    int dummy;
    int *len = _len ? _len : &dummy;
    *len = 0;
    FILE *f = kiv_platform_file_regular(fname) ? kiv_platform_fopen(fname, "rb") : nullptr;
    if (!f) {
        _driver_log_not_found(fname);
        return nullptr;
    }
    int size = driver_file_fsize(fname);
    if (size <= 0) {
        fclose(f);
        return nullptr;
    }
    void *buf = malloc((size_t)size);
    if (!buf) {
        kiv_printf("out of memory reading %s (%d bytes)\n", fname, size);
        fclose(f);
        return nullptr;
    }
    size_t got = fread(buf, 1, (size_t)size, f);
    fclose(f);
    if (got == 0) {
        free(buf);
        return nullptr;
    }
    *len = (int)got;
    return buf;
}

int driver_file_load(const char *fname, void *data, int len) {
    int size = driver_file_fsize(fname);
    FILE *f = kiv_platform_file_regular(fname) ? kiv_platform_fopen(fname, "rb") : nullptr;
    if (!f) {
        _driver_log_not_found(fname);
        return 0;
    }
    int want = len < size ? len : size;
    int got = 0;
    if (data && want > 0)
        got = (int)fread(data, 1, (size_t)want, f);
    fclose(f);
    return got;
}

std::string driver_file_load(const char *fname) {
    int len = 0;
    void *buf = driver_file_alloc(fname, &len);
    if (!buf)
        return std::string();
    std::string s((const char *)buf, (size_t)len);
    free(buf);
    return s;
}

void driver_file_save(const char *fname, const void *data, int len) {
    // The cause tells a full disk from a read-only folder.
    errno = EINVAL;
    if (len < 0 || (len > 0 && !data) || !kiv_platform_file_write_atomic(fname, data, (size_t)(len > 0 ? len : 0)))
        kiv_printf("file not writable: %s - %s\n", fname ? fname : "", strerror(errno));
}

const char *driver_data_fname(const char *_fname) {
    _driver_data_fname_buf[0] = 0;
    if (!_driver_name_ok(_fname))
        return _driver_data_fname_buf;
    // An empty alternative directory is no directory at all, never the file-system root.
    if (_driver && _driver->altdir[0]) {
        if (_driver_join(_driver_data_fname_buf, sizeof(_driver_data_fname_buf), _driver->altdir, _fname) &&
            driver_file_exists(_driver_data_fname_buf))
            return _driver_data_fname_buf;
    }
    const char *dir = _driver_data_dir();
    if (_driver_join(_driver_data_fname_buf, sizeof(_driver_data_fname_buf), dir, _fname) &&
        driver_file_exists(_driver_data_fname_buf))
        return _driver_data_fname_buf;
    // The program may be started from any folder: the engine's own data beside it is found there too, in the
    // same places, the one the game name selects first.
    const std::string &base = _driver_base_dir();
    bool named = _driver && _driver->gamename[0];
    for (const char *rel : {named ? "data" : "../data", named ? "../data" : "data"}) {
        if (base.empty())
            break;
        std::string d = base + rel;
        if (_driver_join(_driver_data_fname_buf, sizeof(_driver_data_fname_buf), d.c_str(), _fname) &&
            driver_file_exists(_driver_data_fname_buf))
            return _driver_data_fname_buf;
    }
    _driver_join(_driver_data_fname_buf, sizeof(_driver_data_fname_buf), dir, _fname);
    return _driver_data_fname_buf;
}

bool driver_data_exists(const char *fname) {
    const char *p = driver_data_fname(fname);
    return *p && driver_file_exists(p);
}

int driver_data_fsize(const char *fname) {
    const char *p = driver_data_fname(fname);
    return *p ? driver_file_fsize(p) : 0;
}

int driver_data_load(const char *fname, void *data, int len) {
    const char *p = driver_data_fname(fname);
    return *p ? driver_file_load(p, data, len) : 0;
}

std::string driver_data_load(const char *fname) {
    const char *p = driver_data_fname(fname);
    return *p ? driver_file_load(p) : std::string();
}

const char *driver_doc_fname(const char *_fname) {
    _driver_doc_fname_buf[0] = 0;
    if (!_driver_name_ok(_fname))
        return _driver_doc_fname_buf;
    const char *dir = _driver_doc_dir();
    if (dir)
        _driver_join(_driver_doc_fname_buf, sizeof(_driver_doc_fname_buf), dir, _fname);
    return _driver_doc_fname_buf;
}

bool driver_doc_exists(const char *fname) {
    const char *p = driver_doc_fname(fname);
    return *p && driver_file_exists(p);
}

int driver_doc_fsize(const char *fname) {
    const char *p = driver_doc_fname(fname);
    return *p ? driver_file_fsize(p) : 0;
}

int driver_doc_load(const char *fname, void *data, int len) {
    const char *p = driver_doc_fname(fname);
    return *p ? driver_file_load(p, data, len) : 0;
}

std::string driver_doc_load(const char *fname) {
    const char *p = driver_doc_fname(fname);
    return *p ? driver_file_load(p) : std::string();
}

void driver_doc_save(const char *fname, const void *data, int len) {
    // The cause follows the line, as for a failed write.
    if (const char *why = _driver_name_refusal(fname)) {
        kiv_printf("file not writable: %s - file name refused (%s)\n", fname ? fname : "", why);
        return;
    }
    const char *p = driver_doc_fname(fname);
    if (!*p) {
        kiv_printf("file not writable: %s - path too long\n", fname);
        return;
    }
    driver_file_save(p, data, len);
}

// --- public functions: timer

void driver_timer_set_source(unsigned (*source)()) {
    _driver_timer.source = source ? source : _driver_timer_sdl_ticks;
    _driver_timer.base = 0;
    _driver_timer.tick_started = false;
}

long driver_timer_get_ticks() {
    return (long)(unsigned)(_driver_timer.source() - _driver_timer.base);
}

void driver_timer_reset_ticks() {
    _driver_timer.base = _driver_timer.source();
    // The step counter counts from a start time on the old scale: start it again.
    _driver_timer.tick_started = false;
}

void driver_timer_delay(int ticks) {
    if (ticks > 0)
        SDL_Delay((Uint32)ticks);
}

void driver_timer_set(int fps) {
    if (_driver)
        _driver->fps = fps;
}

int driver_timer_tick() {
    if (!_driver || _driver->fps <= 0)
        return 0;
    long long rate = _driver->fps;
    long long now = driver_timer_get_ticks();
    if (!_driver_timer.tick_started) {
        _driver_timer.tick_started = true;
        _driver_timer.tick_steps = 0;
        _driver_timer.tick_start = now;
    }
    // Step k falls due at start + k / rate seconds; compared in whole numbers so no rounding decides a step.
    int n = 0;
    while (now * rate > (long long)_driver_timer.tick_steps * 1000 + _driver_timer.tick_start * rate) {
        _driver_timer.tick_steps++;
        n++;
    }
    return n;
}
