// The engine's input record: one flat Event with its type codes, key codes and modifier bits.
// Filled by the driver's poll, made by the shell, the GUI containers and the social session.
#pragma once

enum {
    EVT_NONE = 0,
    EVT_QUIT,
    EVT_SUSPEND,
    EVT_RESUME,
    EVT_RESIZE,
    EVT_RESET,
    EVT_KEYDOWN,
    EVT_KEYUP,
    EVT_DOWN,
    EVT_MOTION,
    EVT_UP,
    EVT_MOUSEDOWN,
    EVT_MOUSEMOTION,
    EVT_MOUSEUP,
    EVT_WHEEL,
    EVT_TOUCHDOWN,
    EVT_TOUCHMOTION,
    EVT_TOUCHUP,
    EVT_ACCEL,
    EVT_ORIENT,
    EVT_JOYMOTION,
    EVT_JOYDOWN,
    EVT_JOYUP,
    EVT_JOYHAT,
    EVT_FOCUS,
    EVT_BLUR,
    EVT_ENTER,
    EVT_EXIT,
    EVT_CLICK,
    EVT_SDLEVENT,
    EVT_LOGIN,
    EVT_LOGOUT,
    EVT_LOWMEM,
    EVT_CUSTOM,
    EVT_MAX // count of codes, never a type
};

enum {
    KEY_NONE = 0,
    KEY_UP,
    KEY_RIGHT,
    KEY_DOWN,
    KEY_LEFT,
    KEY_ESCAPE,
    KEY_BACKSPACE,
    KEY_DELETE,
    KEY_RETURN,
    KEY_HOME,
    KEY_END,
    KEY_BACK,
    KEY_MENU,
    KEY_SEARCH,
    KEY_F1,
    KEY_F2,
    KEY_F3,
    KEY_F4,
    KEY_F5,
    KEY_F6,
    KEY_F7,
    KEY_F8,
    KEY_F9,
    KEY_F10,
    KEY_F11,
    KEY_F12,
    KEY_TAB,
    KEY_SPACE,
    KEY_P0,
    KEY_P1,
    KEY_P2,
    KEY_P3,
    KEY_P4,
    KEY_P5,
    KEY_P6,
    KEY_P7,
    KEY_P8,
    KEY_P9,
    KEY_a,
    KEY_b,
    KEY_c,
    KEY_d,
    KEY_e,
    KEY_f,
    KEY_g,
    KEY_h,
    KEY_i,
    KEY_j,
    KEY_k,
    KEY_l,
    KEY_m,
    KEY_n,
    KEY_o,
    KEY_p,
    KEY_q,
    KEY_r,
    KEY_s,
    KEY_t,
    KEY_u,
    KEY_v,
    KEY_w,
    KEY_x,
    KEY_y,
    KEY_z,
    KEY_0,
    KEY_1,
    KEY_2,
    KEY_3,
    KEY_4,
    KEY_5,
    KEY_6,
    KEY_7,
    KEY_8,
    KEY_9,
    KEY_PLUS,
    KEY_MINUS,
    KEY_TILDE,
    KEY_PAGEUP,
    KEY_PAGEDOWN,
    KEY_MAX // count of codes, never a key
};

// Modifier bits in the b field of key events.
enum { KIV_MOD_SHIFT = 1, KIV_MOD_CTRL = 2, KIV_MOD_ALT = 4, KIV_MOD_GUI = 8 };

struct Event {
    int type;
    float x, y, z;
    float dx, dy, dz;
    float w, h;
    float _x, _y, _z;    // raw values before view correction (window pixels)
    float _dx, _dy, _dz; // raw relative values
    int b;               // button, mask, modifier bits, stick, hat or joystick button (by type)
    int v;               // KEY_* code
    int c;               // Unicode code point of a typed character
    int t;
    int _v; // platform key code
    int stype;
    int device;

    // Every field but the type is zero.
    explicit Event(int type = EVT_NONE);
};
