// Frame cost of 10,000 live particles: the engine's particle list (parts_add/parts_loop/parts_draw) against the
// same particles aged in Lua and queued with one kiv_image_draw each. Both replay the queue through the batcher
// and swap, without a frame limiter. Run by parts_bench.sh next to LÖVE's ParticleSystem; KIV_BENCH_SCENE =
// "parts" or "lua", KIV_BENCH_LUA = path of parts_scene.lua; the working directory is the build dir.
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench_window.h"
#include "mods_gbatch.h"
#include "mods_luaargs.h"
#include "mods_plugin.h"

static const int W = 800, H = 600, WARM = 60, FRAMES = 600;
static CBatch _bench_batch;

// The same argument handling and queue append as the game's kiv_image_draw.
static int _bench_image_draw(lua_State *L) {
    mods_lua_argc(L, 5, 8);
    int n = lua_gettop(L);
    size_t len = 0;
    const char *name = mods_lua_text(L, 1, &len);
    GCommand c;
    c.type = 2;
    c.name = GName(name, len);
    c.x = (float)lua_tonumber(L, 2);
    c.y = (float)lua_tonumber(L, 3);
    c.w = (float)lua_tonumber(L, 4);
    c.h = (float)lua_tonumber(L, 5);
    c.rotate = n >= 6 ? (float)lua_tonumber(L, 6) : 0;
    c.color = n >= 7 ? (int)lua_tointeger(L, 7) : 0xFFFFFF;
    c.alpha = n >= 8 ? (int)lua_tointeger(L, 8) : 255;
    _bench_batch.queue.push_back(c);
    return 0;
}

// parts_draw into the benchmark's queue instead of a running mod's.
static int _bench_parts_draw(lua_State *L) {
    parts_paint(*my_parts, _bench_batch);
    return 0;
}

int main() {
    const char *kind = getenv("KIV_BENCH_SCENE") ? getenv("KIV_BENCH_SCENE") : "parts";
    const char *lua_path = getenv("KIV_BENCH_LUA") ? getenv("KIV_BENCH_LUA") : "../bench/parts_scene.lua";
    BenchWindow bw = bench_window_open("parts_bench", W, H, 0, 0);
    driver_set_gamename("KivGame");
    bench_window_gfx(bw, W, H);

    lua_State *L = luaL_newstate();
    luaL_openlibs(L);
    lua_mods_plugin_init(L);
    lua_register(L, "parts_draw", _bench_parts_draw);
    lua_register(L, "kiv_image_draw", _bench_image_draw);
    std::string glue = std::string("scene = dofile('") + lua_path + "') draw = kiv_image_draw";
    if (luaL_dostring(L, glue.c_str()) != LUA_OK) {
        fprintf(stderr, "%s\n", lua_tostring(L, -1));
        return 1;
    }
    const char *step = strcmp(kind, "lua") ? "scene.parts_frame()" : "scene.lua_frame(draw)";

    double t0 = 0, c0 = 0, step_s = 0, replay_s = 0;
    size_t commands = 0;
    for (int frame = 0; frame < WARM + FRAMES; frame++) {
        if (frame == WARM) {
            t0 = bench_now(CLOCK_MONOTONIC);
            c0 = bench_now(CLOCK_PROCESS_CPUTIME_ID);
        }
        bench_frame_start();
        _bench_batch.clear();
        double a = bench_now(CLOCK_MONOTONIC);
        if (luaL_dostring(L, step) != LUA_OK) {
            fprintf(stderr, "%s\n", lua_tostring(L, -1));
            return 1;
        }
        double b = bench_now(CLOCK_MONOTONIC);
        _bench_batch.draw();
        double c = bench_now(CLOCK_MONOTONIC);
        SDL_GL_SwapWindow(bw.win);
        if (frame >= WARM) {
            commands += _bench_batch.queue.size();
            step_s += b - a;
            replay_s += c - b;
        }
    }
    double wall = bench_now(CLOCK_MONOTONIC) - t0, cpu = bench_now(CLOCK_PROCESS_CPUTIME_ID) - c0;
    printf(
        "kivgame %-18s cpu %8.3f ms/frame  wall %8.3f ms/frame  live %zu  | update+queue %6.3f ms, replay %6.3f ms\n",
        kind, cpu * 1000 / FRAMES, wall * 1000 / FRAMES, commands / FRAMES, step_s * 1000 / FRAMES,
        replay_s * 1000 / FRAMES);
    fflush(stdout);
    parts_loop(*my_parts, 1e30f);
    lua_close(L);
    bench_window_close(bw);
    return 0;
}
