// The game shell: command line, the event filter in front of the mod, the frame time step with its 24-hour
// guard, and the wrappers without a game.
#include <gtest/gtest.h>

#include <SDL.h>
#include <lua.h>
#include <lauxlib.h>

#include <climits>
#include <functional>
#include <unistd.h>
#include <string>
#include <vector>

#include "game.h"
#include "kiv_driver.h"
#include "kiv_event.h"
#include "mods.h"
#include "mods_testutil.h"

namespace {

// A headless game with a mod that records what reaches _event and _loop.
struct Rig : modstest::ModsRig {
    Rig() : ModsRig([](Game &g) { g._headless = 1; }) {
        mod->script("seen = {} function _event(e) seen[#seen + 1] = e.type end "
                    "steps = {} function _loop(t) steps[#steps + 1] = string.format('%.3f', t) end",
                    "rig");
    }
    std::string joined(const char *global) {
        lua_State *L = game.data.mods.mod ? static_cast<ModsLua *>(game.data.mods.mod)->L : nullptr;
        std::string code = std::string("return table.concat(") + global + ", ',')";
        luaL_dostring(L, code.c_str());
        std::string r = lua_tostring(L, -1) ? lua_tostring(L, -1) : "?";
        lua_pop(L, 1);
        return r;
    }
};

TEST(Game, CommandLine) {
    std::string long_mod(600, 'm');
    struct Row {
        const char *name;
        std::vector<std::string> args;
        const char *mod;
        int width, height, headless, crash;
    } rows[] = {
        {"nothing", {"prog"}, "", 0, 0, 0, 0},
        {"sizes", {"prog", "-width", "800", "-height", "600"}, "", 800, 600, 0, 0},
        {"width not a number", {"prog", "-width", "abc"}, "", 0, 0, 0, 0},
        {"sizes beyond int clamp",
         {"prog", "-width", "99999999999", "-height", "-99999999999"},
         "",
         INT_MAX,
         INT_MIN,
         0,
         0},
        {"mod takes the next word", {"prog", "-mod", "-headless"}, "-headless", 0, 0, 1, 0},
        {"crash exit", {"prog", "-crash", "exit"}, "", 0, 0, 0, 1},
        {"crash restart", {"prog", "-crash", "restart"}, "", 0, 0, 0, 2},
        {"crash unknown word", {"prog", "-crash", "restart", "-crash", "bogus"}, "", 0, 0, 0, 2},
        {"crash wait", {"prog", "-crash", "exit", "-crash", "wait"}, "", 0, 0, 0, 0},
        {"missing values", {"prog", "-headless", "-mod"}, "", 0, 0, 1, 0},
        {"too long a path is refused, not cut", {"prog", "-mod", "a.lua", "-mod", long_mod}, "a.lua", 0, 0, 0, 0},
        {"longest path that fits", {"prog", "-mod", std::string(511, 'p')}, nullptr, 0, 0, 0, 0},
    };
    for (auto &row : rows) {
        std::vector<char *> argv;
        for (auto &a : row.args)
            argv.push_back(const_cast<char *>(a.c_str()));
        Game g;
        g.args((int)argv.size(), argv.data());
        std::string want = row.mod ? row.mod : std::string(511, 'p');
        EXPECT_EQ(std::string(g._mod), want) << row.name;
        EXPECT_EQ(g._width, row.width) << row.name;
        EXPECT_EQ(g._height, row.height) << row.name;
        EXPECT_EQ(g._headless, row.headless) << row.name;
        EXPECT_EQ(g._crash, row.crash) << row.name;
        EXPECT_EQ(g._argc, (int)argv.size()) << row.name;
    }
}

TEST(Game, EventFilter) {
    struct Row {
        const char *name;
        int type, v, mods, bits; // SDL's modifier state, the key event's own modifier bits
        const char *seen;
        int quit;
        int full_after; // _full after the event, starting from 0
    } rows[] = {
        {"login dropped", EVT_LOGIN, 0, 0, 0, "", 0, 0},
        {"logout dropped", EVT_LOGOUT, 0, 0, 0, "", 0, 0},
        {"quit never reaches the mod", EVT_QUIT, 0, 0, 0, "", 1, 0},
        {"ctrl+q suspends then quits", EVT_KEYDOWN, KEY_q, KMOD_LCTRL, 0, "suspend", 1, 0},
        {"gui+q too", EVT_KEYDOWN, KEY_q, KMOD_RGUI, 0, "suspend", 1, 0},
        {"shift+q is a key", EVT_KEYDOWN, KEY_q, KMOD_LSHIFT, 0, "keydown", 0, 0},
        {"q alone is a key", EVT_KEYDOWN, KEY_q, 0, 0, "keydown", 0, 0},
        {"ctrl+f resets first", EVT_KEYDOWN, KEY_f, KMOD_LCTRL, 0, "reset,keydown", 0, 1},
        {"alt+f as well", EVT_KEYDOWN, KEY_f, KMOD_RALT, 0, "reset,keydown", 0, 1},
        {"caps lock does not count", EVT_KEYDOWN, KEY_f, KMOD_CAPS, 0, "keydown", 0, 0},
        {"ctrl released within the frame: the key's bits", EVT_KEYDOWN, KEY_f, 0, 2, "reset,keydown", 0, 1},
        {"gui bit of the key quits", EVT_KEYDOWN, KEY_q, 0, 8, "suspend", 1, 0},
        {"shift bit of the key does not count", EVT_KEYDOWN, KEY_f, 0, 1, "keydown", 0, 0},
        {"mouse down twice", EVT_MOUSEDOWN, 0, 0, 0, "mousedown,down", 0, 0},
        {"mouse motion twice", EVT_MOUSEMOTION, 0, 0, 0, "mousemotion,motion", 0, 0},
        {"touch up twice", EVT_TOUCHUP, 0, 0, 0, "touchup,up", 0, 0},
        {"touch down twice", EVT_TOUCHDOWN, 0, 0, 0, "touchdown,down", 0, 0},
        {"resize", EVT_RESIZE, 0, 0, 0, "resize", 0, 0},
        {"none dropped by the bridge", EVT_NONE, 0, 0, 0, "", 0, 0},
        {"wheel once", EVT_WHEEL, 0, 0, 0, "wheel", 0, 0},
    };
    for (auto &row : rows) {
        Rig r;
        SDL_SetModState((SDL_Keymod)row.mods);
        Event e(row.type);
        e.v = row.v;
        e.b = row.bits;
        r.game.event(e);
        SDL_SetModState(KMOD_NONE);
        EXPECT_EQ(r.joined("seen"), row.seen) << row.name;
        EXPECT_EQ(r.game.quit, row.quit) << row.name;
        EXPECT_EQ(r.game._full, row.full_after) << row.name;
    }
    Rig r;
    SDL_SetModState(KMOD_LCTRL);
    Event f(EVT_KEYDOWN);
    f.v = KEY_f;
    r.game.event(f);
    r.game.event(f);
    SDL_SetModState(KMOD_NONE);
    EXPECT_EQ(r.game._full, -1) << "a second ctrl+f goes back to windowed";
}

unsigned _fake_now = 0;
unsigned _fake_clock() {
    return _fake_now;
}

TEST(Game, TimeStep) {
    struct Step {
        const char *name;
        unsigned now;
        const char *steps; // all _loop arguments so far
    } steps[] = {
        {"first frame is 0", 1000, "0.000"},
        {"16 ms", 1016, "0.000,0.016"},
        {"a long stall counts one second", 3516, "0.000,0.016,1.000"},
        {"time going backwards gives 0", 3000, "0.000,0.016,1.000,0.000"},
        {"past 24 hours the frame is skipped", 86400001u, "0.000,0.016,1.000,0.000"},
        {"then the clock starts again", 86400017u, "0.000,0.016,1.000,0.000,0.016"},
    };
    driver_timer_set_source(_fake_clock);
    _fake_now = 0;
    Rig r;
    for (auto &s : steps) {
        _fake_now = s.now;
        r.game.loop();
        EXPECT_EQ(r.joined("steps"), s.steps) << s.name;
    }
    EXPECT_LT(driver_timer_get_ticks(), 1000) << "the driver's count was reset";
    driver_timer_set_source(nullptr);
}

TEST(Game, CrashPolicy) {
    struct Row {
        const char *name;
        int crash;
        int quit;
        bool fresh_mod;
    } rows[] = {
        {"wait keeps the failed mod", 0, 0, false},
        {"exit quits after the pass", 1, 1, false},
        {"restart builds a new mod", 2, 0, true},
    };
    driver_timer_set_source(_fake_clock);
    for (auto &row : rows) {
        _fake_now = 1000;
        Rig r;
        snprintf(r.game.data.mods.fname, sizeof(r.game.data.mods.fname), "/nonexistent/none.lua");
        r.game._crash = row.crash;
        r.game._mod_started = 0; // ran for a second: a restart comes at once
        ModsBase *before = r.game.data.mods.mod;
        r.mod->script("function _loop(t) error('x') end", "t");
        r.game.loop();
        EXPECT_EQ(r.game.quit, row.quit) << row.name;
        EXPECT_EQ(r.game._status, row.quit) << row.name << ": exit status 1 only when the failure ends the game";
        EXPECT_EQ(r.game.data.mods.mod != before, row.fresh_mod) << row.name;
    }
    driver_timer_set_source(nullptr);
}

TEST(Game, RestartWait) {
    struct Row {
        const char *name;
        int prev;
        long ran;
        int want;
    } rows[] = {
        {"a run of a second or more restarts at once", 4000, 1000, 0},
        {"the first quick failure waits a second", 0, 999, 1000},
        {"then two", 1000, 20, 2000},
        {"then four", 2000, 0, 4000},
        {"sixteen doubles to the cap", 16000, 10, 30000},
        {"the cap holds", 30000, 10, 30000},
        {"a clock set back counts as a long run", 8000, -5, 0},
    };
    for (auto &row : rows)
        EXPECT_EQ(game_restart_wait(row.prev, row.ran), row.want) << row.name;
}

// A whole headless life on a real mod file: the one-game pointer, the queue dropped every pass, shutdown.
TEST(Game, HeadlessLifecycle) {
    char tmpl[] = "/tmp/kiv_game_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    std::string main = std::string(tmpl) + "/life.lua";
    FILE *f = fopen(main.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fputs("function _init() kiv_rect_draw(1, 0, 0, 1, 1) end\n"
          "function _loop(t) kiv_rect_draw(2, 0, 0, 1, 1) kiv_rect_draw(3, 0, 0, 1, 1) end\n",
          f);
    fclose(f);

    Game g;
    char prog[] = "kivgame", headless[] = "-headless", mod[] = "-mod";
    char *argv[] = {prog, headless, mod, &main[0], nullptr};
    g.args(4, argv);
    g.init();
    struct Row {
        const char *name;
        std::function<void()> step;
        std::function<long()> seen;
        long want;
    } rows[] = {
        {"init makes this the one game", [] {}, [&] { return (long)(game_this() == &g); }, 1},
        {"the script was found and run", [] {}, [&] { return (long)g.data.mods.api->scripts.size(); }, 1},
        {"_init queued its command", [] {}, [&] { return (long)g.data.mods.api->batch.queue.size(); }, 1},
        {"_loop queues two more", [&] { g.loop(); }, [&] { return (long)g.data.mods.api->batch.queue.size(); }, 3},
        {"a headless pass drops the queue", [&] { g.paint(); },
         [&] { return (long)g.data.mods.api->batch.queue.size(); }, 0},
        {"the mod is healthy", [] {}, [&] { return (long)g.data.mods.mod->is_okay(); }, 1},
        {"deinit forgets the game", [&] { g.deinit(); }, [&] { return (long)(game_this() == nullptr); }, 1},
        {"deinit frees the mod", [] {}, [&] { return (long)(g.data.mods.mod == nullptr); }, 1},
    };
    for (auto &row : rows) {
        row.step();
        EXPECT_EQ(row.seen(), row.want) << row.name;
    }
    unlink(main.c_str());
    rmdir(tmpl);
}

TEST(Game, WrappersWithoutGame) {
    EXPECT_TRUE(game_is_quit(-1));
    EXPECT_TRUE(game_is_quit(0)) << "without a game the loop cannot run";
    game_loop();
    game_paint();
    game_event(Event(EVT_QUIT));
    game_deinit();
    game_deinit();
    EXPECT_EQ(game_this(), nullptr);
    EXPECT_STREQ(game_log_info(), "");
}

} // namespace
