// Event translation: turns SDL events and typed text into the engine's Event records, one per call,
// and keeps the joysticks open. The frame driver calls driver_event_poll until it returns 0.
#include <SDL.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "convertutf/ConvertUTF.h"
#include "kiv_driver.h"
#include "kiv_event.h"
#include "kiv_printf.h"

enum { KIV_CHARS_MAX = 256, KIV_JOY_AXES = 8, KIV_JOY_LOGGED = 8 };

struct _DriverJoystick {
    SDL_Joystick *joy = nullptr;
    bool failed = false;           // open refused: not retried at every poll, only after a re-attachment
    int values[KIV_JOY_AXES] = {}; // last raw value of each axis
};

// Poll state (main thread only; the poll is not re-entrant).
static std::string _driver_text;               // UTF-8 of the last text-input event, not yet converted
static UTF32 _driver_chars[KIV_CHARS_MAX];     // typed code points, front at 0, ended by the first 0
static int _driver_joy_logged[KIV_JOY_LOGGED]; // device indexes already described in the log
static bool _driver_joy_init_failed = false;
// Open joysticks by instance id: ids grow at every re-attachment, so they key a map, not an array.
static std::map<SDL_JoystickID, _DriverJoystick> _driver_joysticks;

static int _driver_sdl_mod2bits(int mod) {
    int b = 0;
    if (mod & KMOD_SHIFT)
        b |= KIV_MOD_SHIFT;
    if (mod & KMOD_CTRL)
        b |= KIV_MOD_CTRL;
    if (mod & KMOD_ALT)
        b |= KIV_MOD_ALT;
    if (mod & KMOD_GUI)
        b |= KIV_MOD_GUI;
    return b;
}

static void _driver_joystick_log(int i, SDL_Joystick *j) {
    fprintf(stderr, "Joystick: %d, attached: %d\n", i, SDL_JoystickGetAttached(j) ? 1 : 0);
    const char *name = SDL_JoystickNameForIndex(i);
    char guid[64];
    SDL_JoystickGetGUIDString(SDL_JoystickGetDeviceGUID(i), guid, sizeof(guid));
    kiv_printf("opened joystick : %d\n", i);
    kiv_printf("Name: %s\n", name ? name : "");
    kiv_printf("GUID: %s\n", guid);
    kiv_printf("Number of Axes: %d\n", SDL_JoystickNumAxes(j));
    kiv_printf("Number of Hats: %d\n", SDL_JoystickNumHats(j));
    kiv_printf("Number of Buttons: %d\n", SDL_JoystickNumButtons(j));
    kiv_printf("Number of Balls: %d\n", SDL_JoystickNumBalls(j));
}

static void _driver_joystick_remove(SDL_JoystickID id) {
    auto it = _driver_joysticks.find(id);
    if (it == _driver_joysticks.end())
        return;
    if (it->second.joy)
        SDL_JoystickClose(it->second.joy);
    _driver_joysticks.erase(it);
}

static void _driver_hat2xy(int hat, float *x, float *y) {
    *x = 0;
    *y = 0;
    switch (hat) {
    case SDL_HAT_UP:
        *y = -1;
        break;
    case SDL_HAT_RIGHT:
        *x = 1;
        break;
    case SDL_HAT_RIGHTUP:
        *x = 1;
        *y = -1;
        break;
    case SDL_HAT_DOWN:
        *y = 1;
        break;
    case SDL_HAT_RIGHTDOWN:
        *x = 1;
        *y = 1;
        break;
    case SDL_HAT_LEFT:
        *x = -1;
        break;
    case SDL_HAT_LEFTUP:
        *x = -1;
        *y = -1;
        break;
    case SDL_HAT_LEFTDOWN:
        *x = -1;
        *y = 1;
        break;
    default:
        break;
    }
}

// Moves a pending text into the character queue.
static void _driver_text_convert() {
    kiv_printf("doing UTF8 conversion...\n");
    const UTF8 *src = reinterpret_cast<const UTF8 *>(_driver_text.data());
    const UTF8 *src_end = src + _driver_text.size();
    UTF32 *dst = _driver_chars;
    ConversionResult res = ConvertUTF8toUTF32(&src, src_end, &dst, _driver_chars + KIV_CHARS_MAX, lenientConversion);
    if (res != conversionOK)
        kiv_printf("ConvertUTF8toUTF32 error: %d\n", (int)res);
    _driver_text.clear();
}

int _driver_sdl_sym2key(int sym) {
    if (sym >= '0' && sym <= '9')
        return KEY_0 + (sym - '0');
    if (sym >= 'a' && sym <= 'z')
        return KEY_a + (sym - 'a');
    switch (sym) {
    case SDLK_BACKSPACE:
        return KEY_BACKSPACE;
    case SDLK_TAB:
        return KEY_TAB;
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
        return KEY_RETURN;
    case SDLK_ESCAPE:
        return KEY_ESCAPE;
    case SDLK_SPACE:
        return KEY_SPACE;
    case SDLK_PLUS:
        return KEY_PLUS;
    case SDLK_MINUS:
        return KEY_MINUS;
    case SDLK_BACKQUOTE:
        return KEY_TILDE;
    case SDLK_DELETE:
        return KEY_DELETE;
    case SDLK_F1:
        return KEY_F1;
    case SDLK_F2:
        return KEY_F2;
    case SDLK_F3:
        return KEY_F3;
    case SDLK_F4:
        return KEY_F4;
    case SDLK_F5:
        return KEY_F5;
    case SDLK_F6:
        return KEY_F6;
    case SDLK_F7:
        return KEY_F7;
    case SDLK_F8:
        return KEY_F8;
    case SDLK_F9:
        return KEY_F9;
    case SDLK_F10:
        return KEY_F10;
    case SDLK_F11:
        return KEY_F11;
    case SDLK_F12:
        return KEY_F12;
    case SDLK_HOME:
        return KEY_HOME;
    case SDLK_END:
        return KEY_END;
    case SDLK_PAGEUP:
        return KEY_PAGEUP;
    case SDLK_PAGEDOWN:
        return KEY_PAGEDOWN;
    case SDLK_UP:
        return KEY_UP;
    case SDLK_RIGHT:
        return KEY_RIGHT;
    case SDLK_DOWN:
        return KEY_DOWN;
    case SDLK_LEFT:
        return KEY_LEFT;
    case SDLK_KP_0:
        return KEY_P0;
    case SDLK_KP_1:
        return KEY_P1;
    case SDLK_KP_2:
        return KEY_P2;
    case SDLK_KP_3:
        return KEY_P3;
    case SDLK_KP_4:
        return KEY_P4;
    case SDLK_KP_5:
        return KEY_P5;
    case SDLK_KP_6:
        return KEY_P6;
    case SDLK_KP_7:
        return KEY_P7;
    case SDLK_KP_8:
        return KEY_P8;
    case SDLK_KP_9:
        return KEY_P9;
    default:
        return KEY_NONE;
    }
}

// Starts the joystick subsystem when needed and opens every attached device not open yet; run when video
// starts and when a device is added, so no device is opened twice and a headless run never starts it.
void _driver_joystick_scan() {
    if (!SDL_WasInit(SDL_INIT_JOYSTICK)) {
        // A shutdown of SDL closed every joystick behind our back: forget them.
        _driver_joysticks.clear();
        memset(_driver_joy_logged, 0, sizeof(_driver_joy_logged));
        if (SDL_InitSubSystem(SDL_INIT_JOYSTICK) != 0) {
            if (!_driver_joy_init_failed)
                kiv_printf("joystick init failed: %s\n", SDL_GetError());
            _driver_joy_init_failed = true;
            return;
        }
        _driver_joy_init_failed = false;
        kiv_printf("== joystick init ==\n");
    }
    int n = SDL_NumJoysticks();
    for (int i = 0; i < n; i++) {
        SDL_JoystickID id = SDL_JoystickGetDeviceInstanceID(i);
        if (id < 0)
            continue;
        auto it = _driver_joysticks.find(id);
        if (it != _driver_joysticks.end() && (it->second.joy || it->second.failed))
            continue;
        SDL_Joystick *j = SDL_JoystickOpen(i);
        if (!j) {
            kiv_printf("joystick %d: %s\n", i, SDL_GetError());
            _driver_joysticks[id].failed = true;
            continue;
        }
        _driver_joysticks[SDL_JoystickInstanceID(j)].joy = j;
        if (i < KIV_JOY_LOGGED && !_driver_joy_logged[i]) {
            _driver_joy_logged[i] = 1;
            _driver_joystick_log(i, j);
        }
    }
}

void _driver_joystick_close_all() {
    if (SDL_WasInit(SDL_INIT_JOYSTICK)) {
        for (auto &it : _driver_joysticks) {
            if (it.second.joy)
                SDL_JoystickClose(it.second.joy);
        }
    }
    _driver_joysticks.clear();
}

int driver_event_poll(Event *r) {
    if (!r)
        return 0;
    *r = Event(EVT_NONE);
    if (!_driver_text.empty())
        _driver_text_convert();
    if (_driver_chars[0]) {
        r->type = EVT_KEYDOWN;
        r->c = (int)_driver_chars[0];
        kiv_printf("UTF32: %lx\n", (unsigned long)_driver_chars[0]);
        memmove(_driver_chars, _driver_chars + 1, sizeof(_driver_chars) - sizeof(_driver_chars[0]));
        _driver_chars[KIV_CHARS_MAX - 1] = 0;
        return 1;
    }
    SDL_Event e;
    if (!SDL_PollEvent(&e))
        return 0;
    switch (e.type) {
    case SDL_QUIT:
        r->type = EVT_QUIT;
        break;
    case SDL_WINDOWEVENT:
        if (e.window.event == SDL_WINDOWEVENT_RESIZED) {
            r->type = EVT_RESIZE;
            r->w = (float)e.window.data1;
            r->h = (float)e.window.data2;
            _driver_video_resize();
        } else if (e.window.event == SDL_WINDOWEVENT_FOCUS_LOST || e.window.event == SDL_WINDOWEVENT_MINIMIZED) {
            // A game that cannot be seen or steered may pause itself.
            r->type = EVT_BLUR;
        } else if (e.window.event == SDL_WINDOWEVENT_FOCUS_GAINED || e.window.event == SDL_WINDOWEVENT_RESTORED) {
            r->type = EVT_FOCUS;
        }
        break;
    case SDL_KEYDOWN:
    case SDL_KEYUP:
        r->type = e.type == SDL_KEYDOWN ? EVT_KEYDOWN : EVT_KEYUP;
        r->_v = e.key.keysym.sym;
        r->v = _driver_sdl_sym2key(e.key.keysym.sym);
        r->b = _driver_sdl_mod2bits(e.key.keysym.mod);
        break;
    case SDL_TEXTEDITING:
        kiv_printf("SDL_TEXTEDITING: '%s'\n", e.edit.text);
        break;
    case SDL_TEXTINPUT:
        _driver_text = e.text.text;
        kiv_printf("SDL_TEXTINPUT: '%s' @%d\n", e.text.text, (int)e.text.timestamp);
        break;
    case SDL_MOUSEMOTION:
        r->type = EVT_MOUSEMOTION;
        r->_x = (float)e.motion.x;
        r->_y = (float)e.motion.y;
        r->_dx = (float)e.motion.xrel;
        r->_dy = (float)e.motion.yrel;
        r->b = (int)e.motion.state;
        r->device = (int)e.motion.which;
        break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
        r->type = e.type == SDL_MOUSEBUTTONDOWN ? EVT_MOUSEDOWN : EVT_MOUSEUP;
        r->_x = (float)e.button.x;
        r->_y = (float)e.button.y;
        r->b = e.button.button;
        r->device = (int)e.button.which;
        break;
    case SDL_MOUSEWHEEL: {
        int mx = 0, my = 0;
        SDL_GetMouseState(&mx, &my);
        r->type = EVT_WHEEL;
        r->_x = (float)mx;
        r->_y = (float)my;
        r->_dx = -(float)e.wheel.x;
        r->_dy = -(float)e.wheel.y;
        break;
    }
    case SDL_JOYAXISMOTION:
        if (e.jaxis.axis < KIV_JOY_AXES) {
            int *values = _driver_joysticks[e.jaxis.which].values;
            int stick = e.jaxis.axis / 3;
            values[e.jaxis.axis] = e.jaxis.value;
            r->type = EVT_JOYMOTION;
            r->device = e.jaxis.which;
            r->b = stick;
            r->_x = (float)(values[stick * 3] / 32768.0);
            r->_y = (float)(values[stick * 3 + 1] / 32768.0);
        }
        break;
    case SDL_JOYHATMOTION:
        r->type = EVT_JOYHAT;
        r->device = e.jhat.which;
        r->b = e.jhat.hat;
        _driver_hat2xy(e.jhat.value, &r->_x, &r->_y);
        break;
    case SDL_JOYBUTTONDOWN:
    case SDL_JOYBUTTONUP:
        r->type = e.type == SDL_JOYBUTTONDOWN ? EVT_JOYDOWN : EVT_JOYUP;
        r->device = e.jbutton.which;
        r->b = e.jbutton.button;
        break;
    case SDL_JOYDEVICEADDED:
        _driver_joystick_scan();
        break;
    case SDL_JOYDEVICEREMOVED:
        _driver_joystick_remove(e.jdevice.which);
        break;
    default:
        break;
    }
    r->x = r->_x;
    r->y = r->_y;
    r->dx = r->_dx;
    r->dy = r->_dy;
    return 1;
}
