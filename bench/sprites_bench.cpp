// Sprite and text frame cost of the draw-command queue: a Lua scene queues image or text commands each frame through
// the game's own bindings, the queue is replayed through the batcher and the frame is swapped, as the game does,
// without the frame limiter. Run by sprites_bench.sh next to the same scene under LÖVE; KIV_BENCH_SCENE =
// "sprites N SIZE", "opaque N" (8 x 8 opaque sprites drawn 1:1) or "text", KIV_BENCH_LUA = path of
// sprites_scene.lua, KIV_BENCH_FILTER=linear for LÖVE's default sampling, KIV_BENCH_PLAIN=1 for the batcher's plain
// path, KIV_BENCH_WINDOW = "640x480", KIV_BENCH_FRAMES = frames measured after KIV_BENCH_WARM (60) unmeasured ones; the
// working directory is the build dir (data/ holds the assets).
#include <GL/gl.h>
#include <SDL.h>
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench_window.h"
#include "kiv_font.h"
#include "mods_gbatch.h"
#include "mods_gbatch_int.h"
#include "../tests/mods_testutil.h"

static const char *_bench_glue = "local scene = dofile(...)\n"
                                 "local draw, font = kiv_image_draw, kiv_font_draw\n"
                                 "local img = 'bench_sprite'\n"
                                 "local function sprite(x, y, s) draw(img, x, y, s, s) end\n"
                                 "local function text(t, x, y) font('small', 12, t, x, y) end\n"
                                 "function _init(kind, n, size, w, h)\n"
                                 "  if kind == 'opaque' then img, size = 'bench_opaque', 8 end\n"
                                 "  scene.init(kind, n, size, w, h)\n"
                                 "end\n"
                                 "function _paint() scene.paint(sprite, text) end\n"
                                 "function _bench_noop() draw = _bench_noop_c end\n";

int main(int argc, char **argv) {
    const char *spec = getenv("KIV_BENCH_SCENE") ? getenv("KIV_BENCH_SCENE") : "sprites 10000 4";
    const char *lua_path = getenv("KIV_BENCH_LUA") ? getenv("KIV_BENCH_LUA") : "../bench/sprites_scene.lua";
    char kind[16] = "sprites";
    int n = 0, size = 0;
    sscanf(spec, "%15s %d %d", kind, &n, &size);
    if (!strcmp(kind, "opaque"))
        size = 8;
    int W = 800, H = 600, WARM = 60, FRAMES = 600;
    if (getenv("KIV_BENCH_WINDOW"))
        sscanf(getenv("KIV_BENCH_WINDOW"), "%dx%d", &W, &H);
    if (getenv("KIV_BENCH_FRAMES"))
        FRAMES = atoi(getenv("KIV_BENCH_FRAMES"));
    if (getenv("KIV_BENCH_WARM"))
        WARM = atoi(getenv("KIV_BENCH_WARM"));
    if (W < 64 || H < 64 || FRAMES < 1 || WARM < 0) {
        fprintf(stderr, "bad KIV_BENCH_WINDOW or KIV_BENCH_FRAMES\n");
        return 1;
    }

    BenchWindow bw = bench_window_open("sprites_bench", W, H, 0, 0);
    driver_set_gamename("KivGame");
    bench_window_gfx(bw, W, H);
    font_init();

    modstest::ModsRig rig;
    CBatch &batch = rig.api->batch;
    lua_State *L = rig.mod->L;
    lua_register(L, "_bench_noop_c", [](lua_State *) { return 0; });
    if (luaL_loadstring(L, _bench_glue) != LUA_OK) {
        fprintf(stderr, "%s\n", lua_tostring(L, -1));
        return 1;
    }
    lua_pushstring(L, lua_path);
    if (lua_pcall(L, 1, 0, 0) != LUA_OK) {
        fprintf(stderr, "%s\n", lua_tostring(L, -1));
        return 1;
    }
    lua_getglobal(L, "_init");
    lua_pushstring(L, kind);
    lua_pushinteger(L, n);
    lua_pushinteger(L, size);
    lua_pushinteger(L, W);
    lua_pushinteger(L, H);
    lua_call(L, 5, 0);

    // LÖVE samples its images bilinearly without mipmaps by default; the engine's textures carry a mip chain and
    // trilinear minification. KIV_BENCH_FILTER=linear gives the engine's sprite the same sampling for a like-for-like
    // comparison of the batching and drawing path.
    if (getenv("KIV_BENCH_FILTER") && !strcmp(getenv("KIV_BENCH_FILTER"), "linear")) {
        int img = gfx_img_load("bench_sprite");
        if (img) {
            glBindTexture(GL_TEXTURE_2D, gfx_img_get_tex(img));
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        }
    }

    // KIV_BENCH_PLAIN=1: the batcher's plain path (one call per run, blending and colours on), for comparison.
    const char *plain = getenv("KIV_BENCH_PLAIN");
    _gbatch_get().fast = !(plain && *plain);

    double paint_s = 0, replay_s = 0, t0 = 0, c0 = 0;
    size_t commands = 0;
    for (int frame = 0; frame < WARM + FRAMES; frame++) {
        if (frame == WARM) {
            t0 = bench_now(CLOCK_MONOTONIC);
            c0 = bench_now(CLOCK_PROCESS_CPUTIME_ID);
        }
        bench_frame_start();
        double a = bench_now(CLOCK_MONOTONIC);
        batch.clear();
        lua_getglobal(L, "_paint");
        lua_call(L, 0, 0);
        double b = bench_now(CLOCK_MONOTONIC);
        batch.draw();
        double c = bench_now(CLOCK_MONOTONIC);
        SDL_GL_SwapWindow(bw.win);
        if (frame >= WARM) {
            paint_s += b - a;
            replay_s += c - b;
            commands += batch.queue.size();
        }
    }
    double wall = bench_now(CLOCK_MONOTONIC) - t0, cpu = bench_now(CLOCK_PROCESS_CPUTIME_ID) - c0;

    // The queue push alone, without Lua: what one command costs the engine before replay.
    float sz = (float)(size ? size : 4);
    GName sprite_name(strcmp(kind, "opaque") ? "bench_sprite" : "bench_opaque");
    double p0 = bench_now(CLOCK_MONOTONIC);
    size_t pushes = 0;
    for (int frame = 0; frame < 100 && n > 0; frame++) {
        batch.clear();
        for (int i = 0; i < n; i++)
            rig.api->image_draw(sprite_name, (float)i, 0, sz, sz, 0, 0xFFFFFF, 255);
        pushes += n;
    }
    double push_s = bench_now(CLOCK_MONOTONIC) - p0;

    // The replay alone without handing triangles to GL: the batcher's own share of the replay (text commands draw
    // through the font module, so this only means something for sprites).
    batch.clear();
    lua_getglobal(L, "_paint");
    lua_call(L, 0, 0);
    _gbatch_get().draw_gl = false;
    double r0 = bench_now(CLOCK_MONOTONIC);
    for (int frame = 0; frame < 100; frame++)
        batch.draw();
    double batch_s = bench_now(CLOCK_MONOTONIC) - r0;
    size_t batched = n > 0 ? 100 * batch.queue.size() : 0;
    _gbatch_get().draw_gl = true;

    // Per command: the script's loop with the binding and queue append, the append alone, the replay with its GL
    // calls, the replay's own work without GL, and what is left of the frame's CPU for GL (Mesa) and the swap.
    double per = commands ? 1e9 / commands : 0;
    // The script's own loop with a C function that does nothing in place of kiv_image_draw: what is left of
    // lua+push is the binding and the append.
    double loop_s = 0;
    if (n > 0) {
        lua_getglobal(L, "_bench_noop");
        lua_call(L, 0, 0);
        double l0 = bench_now(CLOCK_MONOTONIC);
        for (int frame = 0; frame < 100; frame++) {
            lua_getglobal(L, "_paint");
            lua_call(L, 0, 0);
        }
        loop_s = (bench_now(CLOCK_MONOTONIC) - l0) * 1e9 / (100.0 * n);
    }

    double cpu_per = commands ? cpu * 1e9 / commands : 0, own = batched ? batch_s * 1e9 / batched : 0;
    printf("kivgame %-18s cpu %8.3f ms/frame  wall %8.3f ms/frame  | per command: lua+push %6.1f ns (script loop "
           "%5.1f, binding+push %5.1f, push %5.1f), replay %6.1f ns (batcher %5.1f), gl+swap %6.1f ns\n",
           spec, cpu * 1000 / FRAMES, wall * 1000 / FRAMES, paint_s * per, loop_s, paint_s * per - loop_s,
           pushes ? push_s * 1e9 / pushes : 0, replay_s * per, own, cpu_per - paint_s * per - own);
    fflush(stdout);

    font_deinit();
    bench_window_close(bw);
    return 0;
}
