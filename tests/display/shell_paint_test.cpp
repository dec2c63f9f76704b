// The shell's paint path in a real window: the script's draw commands reach the frame, and a failed script keeps
// showing what its last _paint queued while _paint is no longer called.
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
        {"failing _paint keeps what it queued",
         "function _paint() paints = paints + 1 kiv_rect_draw(0x0000FF, 0, 0, 10000, 10000) error('late') end",
         0x0000FF, 4, false},
        {"latched: replayed, not called", nullptr, 0x0000FF, 4, false},
        {"a script run revives it",
         "function _paint() paints = paints + 1 kiv_rect_draw(0xFFFFFF, 0, 0, 10000, 10000) end", 0xFFFFFF, 5, true},
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

} // namespace
