// Particles through their Lua globals in a real Lua state: clip edges, fade, order, removal, colour and bad input.
#include <gtest/gtest.h>

#include <lua.h>
#include <lauxlib.h>
#include <lualib.h>

#include <cmath>
#include <string>

#include "mods.h"
#include "mods_plugin.h"
#include "stdout_testutil.h"

namespace {

// The queued commands as "name x,y,w alpha color" separated by "; ".
std::string queued() {
    CBatch b;
    parts_paint(*my_parts, b);
    std::string out;
    char buf[160];
    for (const GCommand &c : b.queue) {
        snprintf(buf, sizeof(buf), "%s%s %g,%g,%g %d %x", out.empty() ? "" : "; ", c.name.c_str(), c.x, c.y, c.w,
                 c.alpha, (unsigned)c.color);
        out += buf;
    }
    return out;
}

TEST(Particles, ScriptTable) {
    struct Row {
        const char *name, *code, *want; // want: the queue, or the error text when the code must fail
    } rows[] = {
        {"right/bottom edges out, left/top in",
         "parts_clip(0, 0, 100, 100) parts_add('a', 100, 50, 1, 0, 0, 1, 1) parts_add('b', 0, 0, 1, 0, 0, 1, 2) "
         "parts_add('c', 50, 100, 1, 0, 0, 1, 3) parts_add('d', 99.5, 99.5, 1, 0, 0, 1, 4) "
         "parts_add('e', -0.01, 5, 1, 0, 0, 1, 5)",
         "d 98.5,98.5,2 -255 4; b -1,-1,2 -255 2"},
        {"no clip set: nothing is born", "parts_clip(0, 0, 0, 0) parts_add('a', 0, 0, 1, 0, 0, 1, 1)", ""},
        {"half-way through a lifetime of 2: moved, alpha -127",
         "parts_clip(0, 0, 100, 100) parts_add('s', 10, 10, 2, 4, -2, 2, 0xFFFFFF) parts_loop(1)",
         "s 12,6,4 -127 ffffff"},
        {"drawn newest first",
         "parts_clip(0, 0, 9, 9) for _, n in ipairs({'A', 'B', 'C'}) do "
         "parts_add(n, 1, 1, 1, 0, 0, 1, 0) end",
         "C 0,0,2 -255 0; B 0,0,2 -255 0; A 0,0,2 -255 0"},
        {"lifetime 0 or less drawn before any step: alpha 0, no NaN",
         "parts_clip(0, 0, 9, 9) parts_add('z', 1, 1, 1, 0, 0, 0, 0) parts_add('n', 1, 1, 1, 0, 0, -1, 0)",
         "n 0,0,2 0 0; z 0,0,2 0 0"},
        {"parts_loop(0) removes lifetimes 0, below 0 and NaN, nothing else",
         "parts_clip(0, 0, 9, 9) parts_add('z', 1, 1, 1, 0, 0, 0, 0) parts_add('n', 1, 1, 1, 0, 0, -1, 0) "
         "parts_add('k', 1, 1, 1, 0, 0, 0.5, 0) parts_add('q', 1, 1, 1, 0, 0, 0/0, 0) parts_loop(0)",
         "k 0,0,2 -255 0"},
        {"expired at exactly its lifetime",
         "parts_clip(0, 0, 9, 9) parts_add('a', 1, 1, 1, 0, 0, 0.5, 0) "
         "parts_loop(0.25) parts_loop(0.25)",
         ""},
        {"colours cut to 32 bits, NaN and huge numbers safe",
         "parts_clip(0, 0, 9, 9) parts_add('c', 1, 1, 1, 0, 0, 1, 0x100FF00FF) parts_add('n', 1, 1, 1, 0, 0, 1, 0/0) "
         "parts_add('h', 1, 1, 1, 0, 0, 1, 1e300)",
         "h 0,0,2 -255 0; n 0,0,2 -255 0; c 0,0,2 -255 ff00ff"},
        {"no finite place: not queued",
         "parts_clip(0, 0, 9, 9) parts_add('r', 1, 1, 1e300, 0, 0, 1, 0) parts_add('v', 1, 1, 1, 1/0, 0, 1, 0) "
         "parts_loop(0.1)",
         ""},
        {"seven arguments", "parts_add('a', 1, 1, 1, 0, 0, 1)", "incorrect number of arguments"},
        {"parts_draw takes none", "parts_draw(1)", "incorrect number of arguments"},
        {"parts_clip takes four", "parts_clip(0, 0, 9)", "incorrect number of arguments"},
        {"a name without text", "parts_clip(0, 0, 9, 9) parts_add(nil, 1, 1, 1, 0, 0, 1, 0)", "null string"},
    };
    lua_State *L = luaL_newstate();
    luaL_openlibs(L);
    lua_mods_plugin_init(L);
    ASSERT_NE(my_parts, nullptr);
    for (const Row &r : rows) {
        parts_loop(*my_parts, INFINITY);
        ASSERT_EQ(my_parts->first, nullptr) << r.name << ": particles left over";
        bool failed = luaL_dostring(L, r.code) != LUA_OK;
        std::string got = failed ? lua_tostring(L, -1) : queued();
        if (failed)
            lua_pop(L, 1);
        EXPECT_EQ(got, r.want) << r.name;
    }
    parts_loop(*my_parts, INFINITY);
    lua_close(L);
}

// A frame past its cap keeps the first 256; the list stops at 1024 live; both refusals share one log line a second.
TEST(Particles, Caps) {
    lua_State *L = luaL_newstate();
    lua_mods_plugin_init(L);
    parts_loop(*my_parts, INFINITY);
    stdouttest::StdoutCapture out;
    luaL_dostring(L, "parts_clip(0, 0, 9, 9) for i = 1, 300 do parts_add('a', 1, 1, 1, 0, 0, 10, 0) end");
    EXPECT_EQ(my_parts->live, PARTS_MAX_FRAME);
    luaL_dostring(L, "for f = 1, 5 do parts_loop(0) for i = 1, 256 do parts_add('a', 1, 1, 1, 0, 0, 10, 0) end end");
    EXPECT_EQ(my_parts->live, PARTS_MAX_LIVE);
    std::string log = out.text();
    EXPECT_NE(log.find("] particles: 1 refused at the cap of 1024 live and 256 a frame\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("refused", log.find("refused") + 1), std::string::npos) << "logged twice in a second: " << log;
    parts_loop(*my_parts, INFINITY);
    EXPECT_EQ(my_parts->live, 0) << "the count follows the list";
    lua_close(L);
}

} // namespace
