// Sprite and text frame cost of the draw-command queue: a Lua scene queues image or text commands each frame, the
// queue is replayed through the batcher and the frame is swapped, as the game does, without the frame limiter.
// Run by sprites_bench.sh next to the same scene under LÖVE; KIV_BENCH_SCENE = "sprites N SIZE" or "text",
// KIV_BENCH_LUA = path of sprites_scene.lua, KIV_BENCH_FILTER=linear for LÖVE's default sampling; the working
// directory is the build dir (data/ holds the assets).
#include <GL/gl.h>
#include <SDL.h>
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "kiv_driver.h"
#include "kiv_font.h"
#include "kiv_gfx.h"
#include "kiv_glext.h"
#include "mods_gbatch.h"

static const int W = 800, H = 600, WARM = 60, FRAMES = 600;
static CBatch _bench_batch;

static double _now(clockid_t id) {
    timespec ts;
    clock_gettime(id, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

// The same argument handling and queue append as the game's kiv_image_draw and kiv_font_draw.
static int _bench_image_draw(lua_State *L) {
    int n = lua_gettop(L);
    if (n < 5 || n > 8)
        return luaL_error(L, "incorrect number of arguments");
    const char *name = lua_tostring(L, 1);
    if (!name)
        return luaL_error(L, "null string");
    GCommand c;
    c.type = 2;
    c.name = name;
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

static int _bench_font_draw(lua_State *L) {
    int n = lua_gettop(L);
    if (n < 5 || n > 7)
        return luaL_error(L, "incorrect number of arguments");
    const char *name = lua_tostring(L, 1), *text = lua_tostring(L, 3);
    if (!name || !text)
        return luaL_error(L, "null string");
    GCommand c;
    c.type = 3;
    c.name = name;
    c.points = (int)lua_tointeger(L, 2);
    c.text = text;
    c.x = (float)lua_tonumber(L, 4);
    c.y = (float)lua_tonumber(L, 5);
    c.color = n >= 6 ? (int)lua_tointeger(L, 6) : 0xFFFFFF;
    c.alpha = n >= 7 ? (int)lua_tointeger(L, 7) : 255;
    _bench_batch.queue.push_back(c);
    return 0;
}

static const char *_bench_glue = "local scene = dofile(...)\n"
                                 "local draw, font = kiv_image_draw, kiv_font_draw\n"
                                 "local function sprite(x, y, s) draw('bench_sprite', x, y, s, s) end\n"
                                 "local function text(t, x, y) font('small', 12, t, x, y) end\n"
                                 "function _init(kind, n, size) scene.init(kind, n, size, 800, 600) end\n"
                                 "function _paint() scene.paint(sprite, text) end\n";

int main(int argc, char **argv) {
    const char *spec = getenv("KIV_BENCH_SCENE") ? getenv("KIV_BENCH_SCENE") : "sprites 10000 4";
    const char *lua_path = getenv("KIV_BENCH_LUA") ? getenv("KIV_BENCH_LUA") : "../bench/sprites_scene.lua";
    char kind[16] = "sprites";
    int n = 0, size = 0;
    sscanf(spec, "%15s %d %d", kind, &n, &size);

    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        fprintf(stderr, "SDL_Init: %s\n", SDL_GetError());
        return 1;
    }
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_Window *win = SDL_CreateWindow("sprites_bench", 0, 0, W, H, SDL_WINDOW_OPENGL);
    SDL_GLContext ctx = win ? SDL_GL_CreateContext(win) : nullptr;
    if (!ctx) {
        fprintf(stderr, "no GL window: %s\n", SDL_GetError());
        return 1;
    }
    SDL_GL_SetSwapInterval(0);
    kiv_glext_init();
    driver_init(0);
    driver_set_gamename("KivGame");
    driver_set_size(W, H);
    glViewport(0, 0, W, H);
    gfx_init();
    gfx_set_size(W, H);
    font_init();

    lua_State *L = luaL_newstate();
    luaL_openlibs(L);
    lua_register(L, "kiv_image_draw", _bench_image_draw);
    lua_register(L, "kiv_font_draw", _bench_font_draw);
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
    lua_call(L, 3, 0);

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

    double paint_s = 0, replay_s = 0, t0 = 0, c0 = 0;
    size_t commands = 0;
    for (int frame = 0; frame < WARM + FRAMES; frame++) {
        if (frame == WARM) {
            t0 = _now(CLOCK_MONOTONIC);
            c0 = _now(CLOCK_PROCESS_CPUTIME_ID);
        }
        SDL_Event e;
        while (SDL_PollEvent(&e)) {
        }
        gfx_clear();
        gfx_ortho();
        double a = _now(CLOCK_MONOTONIC);
        _bench_batch.clear();
        lua_getglobal(L, "_paint");
        lua_call(L, 0, 0);
        double b = _now(CLOCK_MONOTONIC);
        _bench_batch.draw();
        double c = _now(CLOCK_MONOTONIC);
        SDL_GL_SwapWindow(win);
        if (frame >= WARM) {
            paint_s += b - a;
            replay_s += c - b;
            commands += _bench_batch.queue.size();
        }
    }
    double wall = _now(CLOCK_MONOTONIC) - t0, cpu = _now(CLOCK_PROCESS_CPUTIME_ID) - c0;

    // The queue push alone, without Lua: what one command costs the engine before replay.
    GCommand proto;
    proto.type = 2;
    proto.name = "bench_sprite";
    proto.w = proto.h = (float)(size ? size : 4);
    proto.color = 0xFFFFFF;
    proto.alpha = 255;
    double p0 = _now(CLOCK_MONOTONIC);
    size_t pushes = 0;
    for (int frame = 0; frame < 100 && n > 0; frame++) {
        _bench_batch.clear();
        for (int i = 0; i < n; i++) {
            GCommand c = proto;
            c.x = (float)i;
            _bench_batch.queue.push_back(c);
        }
        pushes += n;
    }
    double push_s = _now(CLOCK_MONOTONIC) - p0;

    // The replay alone without handing triangles to GL: the batcher's own share of the replay (text commands draw
    // through the font module, so this only means something for sprites).
    _bench_batch.clear();
    lua_getglobal(L, "_paint");
    lua_call(L, 0, 0);
    _gbatch_get().draw_gl = false;
    double r0 = _now(CLOCK_MONOTONIC);
    for (int frame = 0; frame < 100; frame++)
        _bench_batch.draw();
    double batch_s = _now(CLOCK_MONOTONIC) - r0;
    size_t batched = n > 0 ? 100 * _bench_batch.queue.size() : 0;
    _gbatch_get().draw_gl = true;

    double per = commands ? 1e9 / commands : 0;
    printf("kivgame %-18s cpu %8.3f ms/frame  wall %8.3f ms/frame  | per command: lua+push %6.1f ns, push %6.1f ns, "
           "replay %6.1f ns (batcher %6.1f ns)\n",
           spec, cpu * 1000 / FRAMES, wall * 1000 / FRAMES, paint_s * per, pushes ? push_s * 1e9 / pushes : 0,
           replay_s * per, batched ? batch_s * 1e9 / batched : 0);
    fflush(stdout);

    lua_close(L);
    font_deinit();
    gfx_deinit();
    driver_deinit();
    SDL_GL_DeleteContext(ctx);
    SDL_DestroyWindow(win);
    SDL_Quit();
    return 0;
}
