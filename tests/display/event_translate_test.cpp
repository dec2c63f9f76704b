// SDL events pushed into a real SDL event queue (window open under Xvfb) and the engine events the
// driver's poll makes of them: keys, modifiers, typed text, mouse, wheel, window events, joysticks.
#include "window_helpers.h"

#include <cstring>

namespace {

struct Want {
    int type;
    float x, y, dx, dy, w, h;
    int b, v, c, _v, device;
};

void expect_event(const std::string &where, const Event &got, const Want &want) {
    EXPECT_EQ(got.type, want.type) << where;
    EXPECT_FLOAT_EQ(got.x, want.x) << where << ": x";
    EXPECT_FLOAT_EQ(got.y, want.y) << where << ": y";
    EXPECT_FLOAT_EQ(got.dx, want.dx) << where << ": dx";
    EXPECT_FLOAT_EQ(got.dy, want.dy) << where << ": dy";
    EXPECT_FLOAT_EQ(got._x, want.x) << where << ": _x";
    EXPECT_FLOAT_EQ(got._y, want.y) << where << ": _y";
    EXPECT_FLOAT_EQ(got._dx, want.dx) << where << ": _dx";
    EXPECT_FLOAT_EQ(got._dy, want.dy) << where << ": _dy";
    EXPECT_FLOAT_EQ(got.w, want.w) << where << ": w";
    EXPECT_FLOAT_EQ(got.h, want.h) << where << ": h";
    EXPECT_EQ(got.b, want.b) << where << ": b";
    EXPECT_EQ(got.v, want.v) << where << ": v";
    EXPECT_EQ(got.c, want.c) << where << ": c";
    EXPECT_EQ(got._v, want._v) << where << ": _v";
    EXPECT_EQ(got.device, want.device) << where << ": device";
    EXPECT_EQ(got.z, 0.0f) << where;
    EXPECT_EQ(got.t, 0) << where;
    EXPECT_EQ(got.stype, 0) << where;
}

void expect_events(const char *name, const std::vector<Event> &got, const std::vector<Want> &want) {
    ASSERT_EQ(got.size(), want.size()) << name << ": number of events";
    for (size_t i = 0; i < got.size(); i++)
        expect_event(std::string(name) + " #" + std::to_string(i), got[i], want[i]);
}

SDL_Event key(Uint32 type, SDL_Keycode sym, Uint16 mod) {
    SDL_Event e;
    SDL_zero(e);
    e.type = type;
    e.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
    e.key.keysym.sym = sym;
    e.key.keysym.mod = mod;
    return e;
}

SDL_Event text(const char *s) {
    SDL_Event e;
    SDL_zero(e);
    e.type = SDL_TEXTINPUT;
    strncpy(e.text.text, s, sizeof(e.text.text) - 1);
    return e;
}

SDL_Event of_type(Uint32 type) {
    SDL_Event e;
    SDL_zero(e);
    e.type = type;
    return e;
}

SDL_Event window_event(Uint8 what, int d1, int d2) {
    SDL_Event e = of_type(SDL_WINDOWEVENT);
    e.window.event = what;
    e.window.data1 = d1;
    e.window.data2 = d2;
    return e;
}

SDL_Event motion(int x, int y, int xrel, int yrel, Uint32 state, Uint32 which) {
    SDL_Event e = of_type(SDL_MOUSEMOTION);
    e.motion.x = x;
    e.motion.y = y;
    e.motion.xrel = xrel;
    e.motion.yrel = yrel;
    e.motion.state = state;
    e.motion.which = which;
    return e;
}

SDL_Event button(Uint32 type, Uint8 b, int x, int y) {
    SDL_Event e = of_type(type);
    e.button.button = b;
    e.button.x = x;
    e.button.y = y;
    e.button.which = 0;
    return e;
}

Want none() {
    return Want{EVT_NONE, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
}
Want keyw(int type, int v, int sym, int b) {
    return Want{type, 0, 0, 0, 0, 0, 0, b, v, 0, sym, 0};
}
Want chr(int c) {
    return Want{EVT_KEYDOWN, 0, 0, 0, 0, 0, 0, 0, 0, c, 0, 0};
}

class EventTranslateTest : public ::testing::Test {
protected:
    void SetUp() override {
        // No window manager gives the window focus; joystick events must flow regardless.
        SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
        driver_init_x11(DRIVER_VIDEO | DRIVER_TIMER);
        driver_set_caption("KivGame");
        driver_video_init(640, 480, 0, 0, 240, 160, 0);
        ASSERT_NE(driver_sdl2_window(), nullptr);
        poll_all();
    }
    void TearDown() override { driver_deinit(); }
};

TEST_F(EventTranslateTest, PushedEvents) {
    struct Row {
        const char *name;
        std::vector<SDL_Event> in;
        std::vector<Want> out;
    };
    const Row rows[] = {
        {"shift+a", {key(SDL_KEYDOWN, 'a', KMOD_LSHIFT)}, {keyw(EVT_KEYDOWN, KEY_a, 'a', 1)}},
        {"right alt+tab", {key(SDL_KEYDOWN, SDLK_TAB, KMOD_RALT)}, {keyw(EVT_KEYDOWN, KEY_TAB, SDLK_TAB, 4)}},
        {"right shift up", {key(SDL_KEYUP, 'z', KMOD_RSHIFT)}, {keyw(EVT_KEYUP, KEY_z, 'z', 1)}},
        {"ctrl+gui", {key(SDL_KEYDOWN, 'q', KMOD_LCTRL | KMOD_RGUI)}, {keyw(EVT_KEYDOWN, KEY_q, 'q', 2 | 8)}},
        {"all four",
         {key(SDL_KEYDOWN, SDLK_F5, KMOD_RSHIFT | KMOD_RCTRL | KMOD_LALT | KMOD_LGUI)},
         {keyw(EVT_KEYDOWN, KEY_F5, SDLK_F5, 15)}},
        {"caps, num and mode ignored",
         {key(SDL_KEYDOWN, SDLK_RETURN, KMOD_CAPS | KMOD_NUM | KMOD_MODE)},
         {keyw(EVT_KEYDOWN, KEY_RETURN, SDLK_RETURN, 0)}},
        {"key without code keeps the SDL code",
         {key(SDL_KEYDOWN, SDLK_INSERT, 0)},
         {keyw(EVT_KEYDOWN, KEY_NONE, SDLK_INSERT, 0)}},
        {"e acute typed", {text("\xC3\xA9")}, {none(), chr(0xE9)}},
        {"three characters, one per poll", {text("abc")}, {none(), chr('a'), chr('b'), chr('c')}},
        {"euro and emoji", {text("\xE2\x82\xAC\xF0\x9F\x98\x80")}, {none(), chr(0x20AC), chr(0x1F600)}},
        {"illegal byte stops the text",
         {text("a\xC0\x80"
               "b")},
         {none(), chr('a')}},
        {"cut sequence stops the text", {text("ok\xE2\x82")}, {none(), chr('o'), chr('k')}},
        {"key then its character",
         {key(SDL_KEYDOWN, 'x', 0), text("x"), key(SDL_KEYUP, 'x', 0)},
         {keyw(EVT_KEYDOWN, KEY_x, 'x', 0), none(), chr('x'), keyw(EVT_KEYUP, KEY_x, 'x', 0)}},
        {"two texts in a row", {text("1"), text("2")}, {none(), chr('1'), none(), chr('2')}},
        {"mouse motion",
         {motion(10, 20, -3, 4, SDL_BUTTON_LMASK | SDL_BUTTON_RMASK, 0)},
         {Want{EVT_MOUSEMOTION, 10, 20, -3, 4, 0, 0, 5, 0, 0, 0, 0}}},
        {"motion with extra buttons",
         {motion(1, 2, 0, 0, SDL_BUTTON_X1MASK | SDL_BUTTON_X2MASK | SDL_BUTTON_MMASK, 0)},
         {Want{EVT_MOUSEMOTION, 1, 2, 0, 0, 0, 0, 2 | 8 | 16, 0, 0, 0, 0}}},
        {"left down", {button(SDL_MOUSEBUTTONDOWN, 1, 7, 8)}, {Want{EVT_MOUSEDOWN, 7, 8, 0, 0, 0, 0, 1, 0, 0, 0, 0}}},
        {"right up",
         {button(SDL_MOUSEBUTTONUP, 3, 639, 479)},
         {Want{EVT_MOUSEUP, 639, 479, 0, 0, 0, 0, 3, 0, 0, 0, 0}}},
        {"extra button 5",
         {button(SDL_MOUSEBUTTONDOWN, 5, 0, 0)},
         {Want{EVT_MOUSEDOWN, 0, 0, 0, 0, 0, 0, 5, 0, 0, 0, 0}}},
        {"quit", {of_type(SDL_QUIT)}, {Want{EVT_QUIT, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}}},
        {"window resized",
         {window_event(SDL_WINDOWEVENT_RESIZED, 700, 500)},
         {Want{EVT_RESIZE, 0, 0, 0, 0, 700, 500, 0, 0, 0, 0, 0}}},
        {"other window event", {window_event(SDL_WINDOWEVENT_MOVED, 10, 10)}, {none()}},
        {"focus lost, minimised: blur",
         {window_event(SDL_WINDOWEVENT_FOCUS_LOST, 0, 0), window_event(SDL_WINDOWEVENT_MINIMIZED, 0, 0)},
         {Want{EVT_BLUR, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, Want{EVT_BLUR, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}}},
        {"focus gained, restored: focus",
         {window_event(SDL_WINDOWEVENT_FOCUS_GAINED, 0, 0), window_event(SDL_WINDOWEVENT_RESTORED, 0, 0)},
         {Want{EVT_FOCUS, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, Want{EVT_FOCUS, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}}},
        {"size changed is not a resize", {window_event(SDL_WINDOWEVENT_SIZE_CHANGED, 300, 300)}, {none()}},
        {"text editing", {of_type(SDL_TEXTEDITING)}, {none()}},
        {"user event", {of_type(SDL_USEREVENT)}, {none()}},
        {"finger down", {of_type(SDL_FINGERDOWN)}, {none()}},
    };
    for (const auto &row : rows) {
        for (SDL_Event e : row.in)
            ASSERT_EQ(SDL_PushEvent(&e), 1) << row.name << ": " << SDL_GetError();
        expect_events(row.name, poll_all(), row.out);
    }
}

TEST_F(EventTranslateTest, WheelAtPointer) {
    struct Row {
        const char *name;
        int wx, wy;
        float dx, dy;
    };
    const Row rows[] = {
        {"one notch away from the user", 0, 1, 0, -1},
        {"two notches towards the user", 0, -2, 0, 2},
        {"tilted right", 1, 0, -1, 0},
    };
    for (const auto &row : rows) {
        SDL_Event e = of_type(SDL_MOUSEWHEEL);
        e.wheel.x = row.wx;
        e.wheel.y = row.wy;
        e.wheel.which = 3;
        ASSERT_EQ(SDL_PushEvent(&e), 1);
        int mx = 0, my = 0;
        SDL_GetMouseState(&mx, &my);
        expect_events(row.name, poll_all(),
                      {Want{EVT_WHEEL, (float)mx, (float)my, row.dx, row.dy, 0, 0, 0, 0, 0, 0, 0}});
    }
}

// Joysticks through SDL's virtual joystick devices.
class JoystickTest : public EventTranslateTest {
protected:
    // Attaches a virtual device and lets the driver open it; answers its instance id.
    SDL_JoystickID attach(int axes, int buttons, int hats) {
        int index = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, axes, buttons, hats);
        EXPECT_GE(index, 0) << SDL_GetError();
        SDL_JoystickID id = SDL_JoystickGetDeviceInstanceID(index);
        // Opened on its "added" event; the state SDL reports on opening arrives with the next pass.
        poll_all();
        poll_all();
        EXPECT_NE(SDL_JoystickFromInstanceID(id), nullptr) << "the poll opens an attached joystick";
        return id;
    }
    void detach(SDL_JoystickID id) {
        for (int i = 0; i < SDL_NumJoysticks(); i++) {
            if (SDL_JoystickGetDeviceInstanceID(i) == id)
                SDL_JoystickDetachVirtual(i);
        }
        poll_all();
    }
    static std::vector<Event> real_events() {
        std::vector<Event> v;
        for (const Event &e : poll_all()) {
            if (e.type != EVT_NONE)
                v.push_back(e);
        }
        return v;
    }
};

TEST_F(JoystickTest, AxesHatsButtons) {
    SDL_JoystickID id = attach(10, 4, 1);
    SDL_Joystick *joy = SDL_JoystickFromInstanceID(id);
    ASSERT_NE(joy, nullptr);
    struct Row {
        const char *name;
        char what; // 'a' axis, 'h' hat, 'b' button
        int index, value;
        std::vector<Want> out;
    };
    auto m = [&](int stick, float x, float y) { return Want{EVT_JOYMOTION, x, y, 0, 0, 0, 0, stick, 0, 0, 0, id}; };
    auto hat = [&](float x, float y) { return Want{EVT_JOYHAT, x, y, 0, 0, 0, 0, 0, 0, 0, 0, id}; };
    const Row rows[] = {
        {"axis 0 half right", 'a', 0, 16384, {m(0, 0.5f, 0)}},
        {"axis 1 full up keeps axis 0", 'a', 1, -32768, {m(0, 0.5f, -1)}},
        {"axis 2 belongs to stick 0", 'a', 2, 100, {m(0, 0.5f, -1)}},
        {"axis 4 is stick 1's y", 'a', 4, 16384, {m(1, 0, 0.5f)}},
        {"axis 3 is stick 1's x", 'a', 3, -8192, {m(1, -0.25f, 0.5f)}},
        {"axis 7 is stick 2's y", 'a', 7, 32767, {m(2, 0, 32767 / 32768.0f)}},
        {"axis 8 is ignored", 'a', 8, 1000, {}},
        {"hat up", 'h', 0, SDL_HAT_UP, {hat(0, -1)}},
        {"hat right", 'h', 0, SDL_HAT_RIGHT, {hat(1, 0)}},
        {"hat right-up", 'h', 0, SDL_HAT_RIGHTUP, {hat(1, -1)}},
        {"hat down", 'h', 0, SDL_HAT_DOWN, {hat(0, 1)}},
        {"hat right-down", 'h', 0, SDL_HAT_RIGHTDOWN, {hat(1, 1)}},
        {"hat left", 'h', 0, SDL_HAT_LEFT, {hat(-1, 0)}},
        {"hat left-up", 'h', 0, SDL_HAT_LEFTUP, {hat(-1, -1)}},
        {"hat left-down", 'h', 0, SDL_HAT_LEFTDOWN, {hat(-1, 1)}},
        {"hat centred", 'h', 0, SDL_HAT_CENTERED, {hat(0, 0)}},
        {"button 2 down", 'b', 2, 1, {Want{EVT_JOYDOWN, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, id}}},
        {"button 2 up", 'b', 2, 0, {Want{EVT_JOYUP, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, id}}},
    };
    for (const auto &row : rows) {
        if (row.what == 'a')
            SDL_JoystickSetVirtualAxis(joy, row.index, (Sint16)row.value);
        else if (row.what == 'h')
            SDL_JoystickSetVirtualHat(joy, row.index, (Uint8)row.value);
        else
            SDL_JoystickSetVirtualButton(joy, row.index, (Uint8)row.value);
        SDL_JoystickUpdate();
        expect_events(row.name, real_events(), row.out);
    }
    detach(id);
}

TEST_F(JoystickTest, OpenedOnceClosedOnRemoval) {
    SDL_JoystickID id = attach(2, 1, 0);
    // Many polls must not stack references: one removal has to release the device.
    for (int i = 0; i < 50; i++)
        poll_all();
    detach(id);
    EXPECT_EQ(SDL_JoystickFromInstanceID(id), nullptr) << "the joystick stays open after its removal";
}

TEST_F(JoystickTest, HighInstanceIdsAndSeparateAxisTables) {
    // Every re-attachment gets a fresh instance id; walk past 256 of them.
    SDL_JoystickID id = -1;
    for (int i = 0; i < 260; i++) {
        id = attach(8, 1, 0);
        detach(id);
    }
    SDL_JoystickID a = attach(8, 1, 0);
    SDL_JoystickID b = attach(8, 1, 0);
    ASSERT_GE(a, 256);
    SDL_Joystick *ja = SDL_JoystickFromInstanceID(a);
    SDL_Joystick *jb = SDL_JoystickFromInstanceID(b);
    ASSERT_NE(ja, nullptr);
    ASSERT_NE(jb, nullptr);
    struct Row {
        const char *name;
        SDL_Joystick *joy;
        SDL_JoystickID id;
        int axis, value;
        float x, y;
    };
    const Row rows[] = {
        {"a: stick 2 x", ja, a, 6, 16384, 0.5f, 0},
        {"b: stick 2 y, a's x not shared", jb, b, 7, -16384, 0, -0.5f},
        {"a: stick 2 y keeps a's x", ja, a, 7, 32767, 0.5f, 32767 / 32768.0f},
    };
    for (const auto &row : rows) {
        SDL_JoystickSetVirtualAxis(row.joy, row.axis, (Sint16)row.value);
        SDL_JoystickUpdate();
        expect_events(row.name, real_events(), {Want{EVT_JOYMOTION, row.x, row.y, 0, 0, 0, 0, 2, 0, 0, 0, row.id}});
    }
    detach(a);
    detach(b);
}

} // namespace
