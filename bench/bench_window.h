// The GL window of the benchmarks that draw (parts, sprites, screenshot, texture upload), opened the way the game
// opens its own, with the engine's driver and drawing module started on it; the frame start and clocks of the frame
// loops.
#pragma once

#include <GL/gl.h>
#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "kiv_driver.h"
#include "kiv_gfx.h"
#include "kiv_glext.h"

struct BenchWindow {
    SDL_Window *win = nullptr;
    SDL_GLContext ctx = nullptr;
    bool gfx = false;
};

// A w x h window and GL context with the game's attributes: double buffered, no depth or stencil buffer (Mesa's
// software rasteriser skips its rectangle fast path when there is one), swaps not held to the display's refresh.
// The driver starts with driver_flags. Without a window or context the process ends with a message.
inline BenchWindow bench_window_open(const char *title, int w, int h, Uint32 sdl_flags, int driver_flags) {
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        fprintf(stderr, "SDL_Init: %s\n", SDL_GetError());
        exit(1);
    }
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    BenchWindow bw;
    bw.win = SDL_CreateWindow(title, 0, 0, w, h, SDL_WINDOW_OPENGL | sdl_flags);
    bw.ctx = bw.win ? SDL_GL_CreateContext(bw.win) : nullptr;
    if (!bw.ctx) {
        fprintf(stderr, "no GL window: %s\n", SDL_GetError());
        exit(1);
    }
    SDL_GL_SetSwapInterval(0);
    kiv_glext_init();
    driver_init(driver_flags);
    return bw;
}

// The drawing module on the whole w x h window.
inline void bench_window_gfx(BenchWindow &bw, int w, int h) {
    driver_set_size(w, h);
    glViewport(0, 0, w, h);
    gfx_init();
    gfx_set_size(w, h);
    bw.gfx = true;
}

// The context and window go first: a driver started with its timer ends SDL when it stops.
inline void bench_window_close(BenchWindow &bw) {
    if (bw.gfx)
        gfx_deinit();
    SDL_GL_DeleteContext(bw.ctx);
    SDL_DestroyWindow(bw.win);
    driver_deinit();
    SDL_Quit();
    bw = BenchWindow();
}

// The game's frame start: pending window events drained, the back buffer cleared, the 2D projection set.
inline void bench_frame_start() {
    SDL_Event e;
    while (SDL_PollEvent(&e)) {
    }
    gfx_clear();
    gfx_ortho();
}

// Seconds on a clock: CLOCK_MONOTONIC for wall time, CLOCK_PROCESS_CPUTIME_ID for the process's CPU time.
inline double bench_now(clockid_t id) {
    timespec ts;
    clock_gettime(id, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}
