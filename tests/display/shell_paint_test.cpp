// The shell's paint path in a real window: the script's draw commands reach the frame, and a failed script keeps
// showing its last completed frame while _paint is no longer called; full screen and back, with and without a
// window manager, and window sizes beyond the display, checked in the X server's own copy of the window.
#include "window_helpers.h"

#include <GL/gl.h>
#include <lua.h>
#include <lauxlib.h>

#include "kiv_gfx.h"
#include "mods.h"

namespace {

unsigned pixel(int x, int y) {
    unsigned char px[4] = {0, 0, 0, 0};
    glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, px);
    return (unsigned)px[0] << 16 | (unsigned)px[1] << 8 | px[2];
}

// One frame as the shell paints it, read back before the swap. The script fills its whole view, so the
// centre and the bottom-left corner of the window must both show its colour (the corner is missed when the
// frame is drawn without the window's projection).
unsigned frame(Game &g, unsigned *corner) {
    gfx_clear();
    mods_paint(g);
    glFinish();
    unsigned centre = pixel(game_get_sw() / 2, game_get_sh() / 2);
    *corner = pixel(1, 1);
    modsapi_log_paint(g.data.mods.api);
    driver_video_flip();
    return centre;
}

// The X server applies a resize on its own time, and the GL drawable follows only after that: a frame drawn at
// once can still go to the old buffer. Swaps until the far corner exists.
bool wait_drawable(int w, int h) {
    GLboolean scissor = glIsEnabled(GL_SCISSOR_TEST);
    glDisable(GL_SCISSOR_TEST);
    bool ok = false;
    for (int i = 0; i < 200 && !ok; i++) {
        glClearColor(0, 0, 1, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        ok = pixel(w - 1, h - 1) == 0x0000FFu;
        driver_video_flip();
        if (!ok)
            SDL_Delay(5);
    }
    if (scissor)
        glEnable(GL_SCISSOR_TEST);
    return ok;
}

int lua_int(Game &g, const char *code) {
    lua_State *L = static_cast<ModsLua *>(g.data.mods.mod)->L;
    luaL_dostring(L, code);
    int v = (int)lua_tointeger(L, -1);
    lua_pop(L, 1);
    return v;
}

// The paint mod in a 320 by 240 window.
Game *start_paint_mod() {
    std::string mod = std::string(getenv("KIV_SOURCE_DIR") ? getenv("KIV_SOURCE_DIR") : "..") + "/tests/mods/paint.lua";
    const char *argv[] = {"kivgame", "-mod", mod.c_str(), "-width", "320", "-height", "240"};
    game_init_x11(7, argv);
    return game_self();
}

// Delivers one SDL event through the driver's poll and the shell's filter.
void deliver(SDL_Event ev) {
    ASSERT_EQ(SDL_PushEvent(&ev), 1) << SDL_GetError();
    Event e(EVT_NONE);
    while (driver_event_poll(&e))
        game_event(e);
}

// The text a Lua expression gives in the running mod.
std::string lua_text(Game &g, const char *expr) {
    lua_State *L = static_cast<ModsLua *>(g.data.mods.mod)->L;
    luaL_dostring(L, expr);
    std::string v = lua_tostring(L, -1) ? lua_tostring(L, -1) : "";
    lua_pop(L, 1);
    return v;
}

TEST(ShellPaint, QueueReplayAndLatch) {
    Game *g = start_paint_mod();
    ASSERT_NE(g, nullptr);
    ASSERT_GT(game_get_sw(), 0) << "no window";
    struct Step {
        const char *name;
        const char *script; // run before the frame, nullptr for none
        unsigned pixel;
        int paints;
        bool okay;
    } steps[] = {
        {"first frame", nullptr, 0xFF0000, 1, true},
        {"colour change", "colour = 0x00FF00", 0x00FF00, 2, true},
        {"ARGB colour draws its RGB", "colour = 0xFF2040C0", 0x2040C0, 3, true},
        {"failing _paint shows the last whole frame, not what it queued",
         "function _paint() paints = paints + 1 kiv_rect_draw(0x0000FF, 0, 0, 10000, 10000) error('late') end",
         0x2040C0, 4, false},
        {"latched: replayed, not called", nullptr, 0x2040C0, 4, false},
        {"a script run revives it",
         "function _paint() paints = paints + 1 kiv_rect_draw(0xFFFFFF, 0, 0, 10000, 10000) end", 0xFFFFFF, 5, true},
        {"error before the first draw call keeps the last frame, not black",
         "function _paint() paints = paints + 1 error('early') end", 0xFFFFFF, 6, false},
        {"latched again: still that frame", nullptr, 0xFFFFFF, 6, false},
    };
    for (auto &s : steps) {
        if (s.script)
            g->data.mods.mod->script(s.script, "step");
        unsigned corner = 0;
        unsigned px = frame(*g, &corner);
        EXPECT_EQ(px, s.pixel) << s.name << ": centre pixel " << std::hex << px;
        EXPECT_EQ(corner, s.pixel) << s.name << ": corner pixel " << std::hex << corner;
        EXPECT_EQ(lua_int(*g, "return paints"), s.paints) << s.name;
        EXPECT_EQ(g->data.mods.mod->is_okay(), s.okay) << s.name;
    }

    // The input road: an SDL key press through the driver's poll and the shell's filter to the script's table.
    g->data.mods.mod->script("keys = {} function _event(e) if e.type == 'keydown' then "
                             "keys[#keys + 1] = e.key .. ':' .. e.name .. ':' .. #e.text end end",
                             "keys");
    SDL_Event ev{};
    ev.type = SDL_KEYDOWN;
    ev.key.keysym.sym = SDLK_a;
    ev.key.keysym.scancode = SDL_SCANCODE_A;
    ev.key.windowID = SDL_GetWindowID(driver_sdl2_window());
    deliver(ev);
    EXPECT_EQ(lua_text(*g, "return table.concat(keys, ',')"), "97:A:0");

    game_deinit();
    EXPECT_EQ(game_self(), nullptr) << "the game pointer outlived the game";
}

// A script that never sets a view keeps the one it started with: after a resize the picture and the pointer
// both use that view fitted into the new window, so a click lands where the script drew.
TEST(ShellPaint, ResizedWindowKeepsPictureAndPointerTogether) {
    Game *g = start_paint_mod();
    ASSERT_NE(g, nullptr);
    ASSERT_EQ(game_get_sw(), 320);
    g->data.mods.mod->script("clicks = {} function _event(e) if e.type == 'down' then "
                             "clicks[#clicks + 1] = math.floor(e.x) .. ',' .. math.floor(e.y) end end",
                             "clicks");

    // SDL reports a size it set itself only as "size changed"; the user's drag that a resize stands for comes
    // as "resized".
    SDL_SetWindowSize(driver_sdl2_window(), 640, 240);
    SDL_Event rs{};
    rs.type = SDL_WINDOWEVENT;
    rs.window.event = SDL_WINDOWEVENT_RESIZED;
    rs.window.data1 = 640;
    rs.window.data2 = 240;
    rs.window.windowID = SDL_GetWindowID(driver_sdl2_window());
    Event e(EVT_NONE);
    for (int i = 0; i < 200 && game_get_sw() != 640; i++) {
        SDL_Delay(5);
        SDL_PushEvent(&rs);
        while (driver_event_poll(&e))
            game_event(e);
    }
    ASSERT_EQ(game_get_sw(), 640) << "the window was not resized";
    ASSERT_TRUE(wait_drawable(640, 240)) << "the GL drawable kept its old size";

    // The 320 by 240 view fitted into 640 by 240: scale 1, centred, a band of 160 pixels on each side.
    unsigned corner = 0;
    unsigned centre = frame(*g, &corner);
    EXPECT_EQ(centre, 0xFF0000u) << std::hex << centre;
    EXPECT_EQ(corner, 0u) << "the band left of the view is drawn: " << std::hex << corner;
    EXPECT_EQ(pixel(170, 120), 0xFF0000u) << "the view's left edge is not where the band ends";

    SDL_Event ev{};
    ev.type = SDL_MOUSEBUTTONDOWN;
    ev.button.button = SDL_BUTTON_LEFT;
    ev.button.x = 170;
    ev.button.y = 20;
    ev.button.windowID = SDL_GetWindowID(driver_sdl2_window());
    deliver(ev);
    EXPECT_EQ(lua_text(*g, "return table.concat(clicks, ';')"), "10,20");

    game_deinit();
}

// The game's window as the X server has it, "w x h at x,y; corners c0 c1 c2 c3" (clockwise from top-left).
std::string x_window() {
    // One connection for the whole test: Xvfb refuses some of a burst of connects.
    static Display *dpy = nullptr;
    if (!dpy)
        dpy = XOpenDisplay(nullptr);
    unsigned long xid = x11_window_id(driver_sdl2_window());
    Window root = 0, child = 0;
    int x = 0, y = 0;
    unsigned w = 0, h = 0, border = 0, depth = 0;
    std::string out = "no window";
    if (dpy && xid && XGetGeometry(dpy, xid, &root, &x, &y, &w, &h, &border, &depth) && w > 1 && h > 1) {
        XTranslateCoordinates(dpy, xid, root, 0, 0, &x, &y, &child);
        out = std::to_string(w) + " x " + std::to_string(h) + " at " + std::to_string(x) + "," + std::to_string(y) +
              "; corners";
        const int at[4][2] = {{0, 0}, {(int)w - 1, 0}, {(int)w - 1, (int)h - 1}, {0, (int)h - 1}};
        for (const auto &p : at) {
            XImage *img = XGetImage(dpy, xid, p[0], p[1], 1, 1, AllPlanes, ZPixmap);
            char px[16] = " -";
            if (img)
                snprintf(px, sizeof(px), " %06lx", img->f.get_pixel(img, 0, 0) & 0xFFFFFF); // XGetPixel needs Bool
            if (img)
                img->f.destroy_image(img);
            out += px;
        }
    }
    return out;
}

// Whether the X server shows `want`, where a position "*" stands for any place wholly on the 1280 x 1024 screen.
bool shown_as(const std::string &seen, const std::string &want) {
    int w = 0, h = 0, x = -1, y = -1;
    size_t star = want.find('*');
    if (star == std::string::npos)
        return seen == want;
    return sscanf(seen.c_str(), "%d x %d at %d,%d", &w, &h, &x, &y) == 4 && x >= 0 && y >= 0 && x + w <= 1280 &&
           y + h <= 1024 && seen.compare(0, star, want, 0, star) == 0 &&
           seen.substr(seen.find(';')) == want.substr(want.find(';'));
}

// Runs the game's frames until the X server shows `want`; answers what it showed last.
std::string run_until_shown(const std::string &want) {
    std::string seen;
    for (int i = 0; i < 300 && !shown_as(seen = x_window(), want); i++) {
        Event e(EVT_NONE);
        while (driver_event_poll(&e))
            game_event(e);
        game_loop();
        game_paint();
    }
    return seen;
}

// Full screen and back, under openbox and without a window manager, by Ctrl+F and by "video:resize" (as the
// game's own options call it, with the size it last heard): the window gets its size back, stays on the screen,
// and each frame fills it. Sizes beyond the display are clamped with a log line. The window has the screen's
// aspect, so the view (red, a green square top-left, a blue one bottom-right) fills both exactly.
TEST(ShellPaint, FullScreenAndHugeSizes) {
    XSetErrorHandler([](Display *, XErrorEvent *) { return 0; }); // a re-made window may vanish between two calls
    std::string mod = std::string(getenv("KIV_SOURCE_DIR") ? getenv("KIV_SOURCE_DIR") : "..") + "/tests/mods/paint.lua";
    const char *argv[] = {"kivgame", "-mod", mod.c_str(), "-width", "320", "-height", "256"};
    const char *small = "320 x 256 at *; corners 00ff00 ff0000 0000ff ff0000";
    const char *full = "1280 x 1024 at 0,0; corners 00ff00 ff0000 0000ff ff0000";
    struct Row {
        const char *name;
        const char *resize; // "video:resize" argument; nullptr for Ctrl+F
        const char *shown, *log;
        bool huge; // a window as big as the screen, whose decorations a window manager puts off it
    };
    const Row rows[] = {
        {"Ctrl+F into full screen", nullptr, full, nullptr, false},
        {"Ctrl+F back", nullptr, small, "leaving full screen, back to 320 x 256", false},
        {"video:resize full 1", R"({"width":320,"height":256,"full":1})", full, nullptr, false},
        {"video:resize full 0 at the screen's size", R"({"width":1280,"height":1024,"full":0})", small,
         "leaving full screen, back to 320 x 256", false},
        {"40000 square", R"({"width":40000,"height":40000})", full,
         "init_video: minimum size 40000 x 40000 is more than the display and GL take, using 1280 x 1024", true},
        {"1e9 square", R"({"width":1e9,"height":1e9})", full,
         "init_video: 1000000000 x 1000000000 is more than the display and GL take, using 1280 x 1024", true},
        {"back to the first size", R"({"width":320,"height":256})", small, nullptr, true},
        {"Ctrl+F again", nullptr, full, nullptr, false},
        {"video:resize full 1 while full screen", R"({"width":0,"height":0,"full":1})", small,
         "leaving full screen, back to 320 x 256", false},
    };
    WindowManager wm;
    for (bool managed : {false, true}) {
        ASSERT_TRUE(!managed || wm.start()) << "openbox does not manage the display";
        game_init_x11(7, argv);
        Game *g = game_self();
        ASSERT_NE(g, nullptr);
        g->data.mods.mod->script("function _event(e) end function _paint() local w, h = kiv_params_get('view_w'), "
                                 "kiv_params_get('view_h') kiv_rect_draw(0xFF0000, 0, 0, w, h) "
                                 "kiv_rect_draw(0x00FF00, 0, 0, 8, 8) kiv_rect_draw(0x0000FF, w - 8, h - 8, 8, 8) end",
                                 "scene");
        EXPECT_TRUE(shown_as(run_until_shown(small), small)) << "the first window: " << x_window();
        for (const auto &row : rows) {
            if (managed && row.huge)
                continue;
            StdoutCapture cap;
            if (row.resize) {
                g->data.mods.mod->script(("kiv_ext_call('video:resize', '" + std::string(row.resize) + "')").c_str(),
                                         "resize");
            } else {
                // A focus change the server reports in the same poll resets SDL's modifiers: typed again then.
                for (int was = g->_full, i = 0; i < 20 && g->_full == was; i++) {
                    SDL_SetModState(KMOD_LCTRL);
                    SDL_Event ev{};
                    ev.type = SDL_KEYDOWN;
                    ev.key.keysym.sym = SDLK_f;
                    ev.key.windowID = SDL_GetWindowID(driver_sdl2_window());
                    deliver(ev);
                    SDL_SetModState(KMOD_NONE);
                }
            }
            std::string log = cap.text();
            if (row.log) {
                EXPECT_NE(log.find(row.log), std::string::npos) << row.name << ": " << log;
            }
            std::string seen = run_until_shown(row.shown);
            EXPECT_TRUE(shown_as(seen, row.shown)) << (managed ? "openbox, " : "no window manager, ") << row.name
                                                   << ": want " << row.shown << ", saw " << seen;
        }
        game_deinit();
    }
}

} // namespace
