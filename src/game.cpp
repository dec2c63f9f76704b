// The Game object: command line, start-up order, per-frame update with its 24-hour guard, paint and 60 Hz limiter,
// the event filter in front of the mod, the headless crash policy and the shutdown order.
#include "game.h"

#include <SDL.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ext_header.h"
#include "ext_net.h"
#include "gprint.h"
#include "kiv_driver.h"
#include "kiv_event.h"
#include "kiv_font.h"
#include "kiv_gfx.h"
#include "kiv_mixer.h"
#include "kiv_platform.h"
#include "kiv_social.h"
#include "kiv_web.h"

static const int _GAME_FPS = 60;
static const long _GAME_DAY_LENGTH = 86400000L;
static const int _GAME_MOD_KEYS = 0xFC0; // left or right Ctrl, Alt or GUI
static const int _GAME_RESTART_WAIT_MIN = 1000;
static const int _GAME_RESTART_WAIT_MAX = 30000;

static Game *GAME_THIS = nullptr;
static long _game_loop_prev = -1;
static long _game_tick_prev = -1;
static char _game_log_info[256];

// A number argument: 0 when it is not one, clamped to the int range (atoi has no defined overflow).
static int _game_atoi(const char *s) {
    long long v = strtoll(s, nullptr, 10);
    if (v > INT_MAX)
        return INT_MAX;
    if (v < INT_MIN)
        return INT_MIN;
    return (int)v;
}

// A folder named by -mod (trailing slashes cut), or "" when the path is not one.
static std::string _game_mod_folder(const char *path) {
    if (kiv_platform_file_kind(path) != KIV_FILE_DIR)
        return "";
    std::string dir = path;
    while (dir.size() > 1 && kiv_platform_path_sep(dir.back()))
        dir.pop_back();
    return dir;
}

int game_restart_wait(int prev_wait_ms, long ran_ms) {
    if (ran_ms >= 1000 || ran_ms < 0)
        return 0;
    if (prev_wait_ms < _GAME_RESTART_WAIT_MIN)
        return _GAME_RESTART_WAIT_MIN;
    return prev_wait_ms >= _GAME_RESTART_WAIT_MAX / 2 ? _GAME_RESTART_WAIT_MAX : prev_wait_ms * 2;
}

bool game_copy_field(char *dst, size_t size, const char *src) {
    if (!src || !size)
        return false;
    size_t n = strlen(src);
    if (n >= size)
        return false;
    memcpy(dst, src, n + 1);
    return true;
}

void Game::args(int argc, char **argv) {
    _argc = argc;
    _argv = argv;
    _width = 0;
    _height = 0;
    for (int i = 0; i < argc; i++) {
        const char *arg = argv[i];
        if (!arg)
            continue;
        bool has = i + 1 < argc && argv[i + 1];
        if (!strcmp(arg, "-headless")) {
            _headless = 1;
        } else if (!strcmp(arg, "-mod") && has) {
            if (game_copy_field(_mod, sizeof(_mod), argv[i + 1]))
                _mod_arg = 1;
            else
                gprint("Game::args: -mod path longer than %d bytes refused\n", (int)sizeof(_mod) - 1);
        } else if (!strcmp(arg, "-width") && has) {
            _width = _game_atoi(argv[i + 1]);
        } else if (!strcmp(arg, "-height") && has) {
            _height = _game_atoi(argv[i + 1]);
        } else if (!strcmp(arg, "-crash") && has) {
            const char *v = argv[i + 1];
            if (!strcmp(v, "wait"))
                _crash = 0;
            else if (!strcmp(v, "exit"))
                _crash = 1;
            else if (!strcmp(v, "restart"))
                _crash = 2;
        }
    }
}

void Game::init() {
    GAME_THIS = this;
    social_set_event_handler(game_event);
    version = 1;
    quit = 0;
    suspendable = 0;
    if (_headless) {
        driver_init(DRIVER_TIMER);
        driver_timer_set(_GAME_FPS);
    } else {
        driver_init(DRIVER_ALL);
        driver_set_gamename("KivGame");
        driver_set_caption("KivGame");
        driver_timer_set(_GAME_FPS);
        if (has_social())
            social_init();
        _full = 0;
        driver_video_init(_width, _height, 640, 480, 240, 160, _full == 1);
        gfx_init();
        gfx_set_size(game_get_sw(), game_get_sh());
        gfx_set_orient(0);
        gfx_set_ortho_near_far(-1000, 1000);
        gfx_clear();
        driver_video_flip();
        font_init();
        mixer_init();
    }
    kiv_web_init();
    ext_do_init(*this);

    data.mods.fname[0] = 0;
    data.mods.api = nullptr;
    data.mods.mod = nullptr;
    if (!_mod[0]) {
        const char *p = driver_data_fname("main.lua");
        if (!game_copy_field(_mod, sizeof(_mod), p ? p : ""))
            gprint("Game::init: main script path longer than %d bytes refused\n", (int)sizeof(_mod) - 1);
    }
    game_copy_field(data.mods.fname, sizeof(data.mods.fname), _mod);
    std::string folder = _mod_arg ? _game_mod_folder(_mod) : "";
    if (!folder.empty()) {
        // Nothing to run: one plain line rather than a missing file and a missing _init.
        gprint("-mod wants a script file, e.g. %s/main.lua\n", folder == "/" ? "" : folder.c_str());
        quit = 1;
        _status = 1;
        return;
    }
    _mod_started = driver_timer_get_ticks();
    mods_restart(*this, 1);
}

void Game::loop() {
    // The one point of the frame where no caller holds the running ModsAPI or script host.
    if (_restart_pending) {
        _restart_pending = 0;
        _mod_started = driver_timer_get_ticks();
        mods_restart(*this, 1);
    }
    if (has_social())
        social_loop();
    // One wall-clock second for every hot-reload check of the frame.
    time_t wall = time(nullptr);
    if (!_headless) {
        gfx_reload_check(wall);
        font_reload_check(wall);
        mixer_reload_check(wall);
    }
    long now = driver_timer_get_ticks();
    if (_game_loop_prev < 0)
        _game_loop_prev = now;
    if ((int32_t)(uint32_t)(unsigned long)now < 0)
        driver_timer_reset_ticks();
    long cur = driver_timer_get_ticks();
    long delta = cur - _game_loop_prev;
    if (delta < 0)
        delta = 0;
    _game_loop_prev = cur;
    float t = delta / 1000.0 > 1.0 ? 1.0f : (float)(delta / 1000.0);
    if (cur > _GAME_DAY_LENGTH) {
        driver_timer_reset_ticks();
        _game_loop_prev = driver_timer_get_ticks();
        return;
    }
    mods_loop(*this, t, wall);
    if (_headless && data.mods.mod && !data.mods.mod->is_okay()) {
        if (_crash == 1) {
            quit = 1;
            _status = 1;
        } else if (_crash == 2) {
            _crash_restart();
        }
    }
}

// The frames go on while a restart waits, so events, extensions and stop signals are still served.
void Game::_crash_restart() {
    long now = driver_timer_get_ticks();
    if (_restart_due < 0) {
        _restart_wait = game_restart_wait(_restart_wait, now - _mod_started);
        _restart_due = now + _restart_wait;
        gprint("the mod failed; restarting it in %d s\n", _restart_wait / 1000);
    }
    // A tick count set back by the 24-hour guard must not put the restart off for a day.
    if (now < _restart_due && _restart_due - now <= _restart_wait)
        return;
    _restart_due = -1;
    _mod_started = driver_timer_get_ticks();
    mods_restart(*this, 1);
}

void Game::paint() {
    if (!_headless) {
        gfx_clear();
        mods_paint(*this);
        modsapi_log_paint(data.mods.api);
        driver_video_flip();
    } else if (data.mods.api) {
        // Nothing replays the queue without a window; drop what the script queued this pass.
        data.mods.api->batch.clear();
    }
    _game_paint_tick(*this);
}

void Game::event(Event e) {
    // The key's own modifier bits count too: when Ctrl and F are pressed and released within one frame, the
    // current state no longer holds Ctrl by the time F is handled.
    bool mods = (SDL_GetModState() & _GAME_MOD_KEYS) != 0 || (e.type == EVT_KEYDOWN && (e.b & (2 | 4 | 8)));
    switch (e.type) {
    case EVT_LOGIN:
    case EVT_LOGOUT:
        return;
    case EVT_QUIT:
        quit = 1;
        return;
    default:
        break;
    }
    if (e.type == EVT_KEYDOWN && e.v == KEY_f && mods) {
        _full = _full == 1 ? -1 : 1;
        event(Event(EVT_RESET));
    }
    if (e.type == EVT_KEYDOWN && e.v == KEY_q && mods) {
        event(Event(EVT_SUSPEND));
        quit = 1;
        return;
    }
    if (e.type == EVT_RESET) {
        driver_keyboard_hide();
        // A headless game has no window to make again.
        if (!_headless)
            driver_video_init(0, 0, 640, 480, 320, 320, _full == 1);
    }
    if (e.type == EVT_RESIZE)
        driver_keyboard_hide();
    mods_event_handle(*this, e);
    int generic = EVT_NONE;
    if (e.type == EVT_MOUSEDOWN || e.type == EVT_TOUCHDOWN)
        generic = EVT_DOWN;
    else if (e.type == EVT_MOUSEMOTION || e.type == EVT_TOUCHMOTION)
        generic = EVT_MOTION;
    else if (e.type == EVT_MOUSEUP || e.type == EVT_TOUCHUP)
        generic = EVT_UP;
    if (generic != EVT_NONE) {
        e.type = generic;
        event(e);
    }
}

void Game::stop() {
    // A windowed quit from outside is a quit key: the script may save on "suspend" first.
    if (!_headless && !quit)
        event(Event(EVT_SUSPEND));
    quit = 1;
}

void Game::deinit() {
    if (data.mods.mod) {
        delete data.mods.mod;
        data.mods.mod = nullptr;
    }
    if (data.mods.api) {
        delete data.mods.api;
        data.mods.api = nullptr;
    }
    net_deinit();
    ext_web_deinit(*this);
    kiv_web_deinit();
    if (!_headless) {
        mixer_deinit();
        font_deinit();
        gfx_deinit();
    }
    if (has_social())
        social_deinit();
    driver_deinit();
    if (GAME_THIS == this)
        GAME_THIS = nullptr;
}

Game *game_this() {
    return GAME_THIS;
}

int game_get_sw() {
    int w = 0, h = 0;
    driver_get_size(&w, &h);
    return w;
}

int game_get_sh() {
    int w = 0, h = 0;
    driver_get_size(&w, &h);
    return h;
}

const char *game_log_info() {
    _game_log_info[0] = 0;
    return _game_log_info;
}

int has_social() {
    return 1;
}

void _game_paint_tick(Game &game) {
    long now = driver_timer_get_ticks();
    if (_game_tick_prev < 0)
        _game_tick_prev = now;
    long delta = now - _game_tick_prev;
    if (delta < 0)
        delta = 0;
    float t = delta / 1000.0f;
    if (t > 1)
        t = 1;
    float inc = 1.0f / _GAME_FPS;
    int delay = (int)((inc - t) * 1000);
    // A game that is ending has no next frame to wait for.
    if (delay > 0 && !game.quit)
        driver_timer_delay(delay);
    _game_tick_prev = driver_timer_get_ticks();
}
