// A screenshot of an 800 x 600 frame end to end (read-back, flip, encode, write) on a real GL context (run under
// xvfb-run): JPEG as the screenshot verb writes it by default (quality 85, 2x2, two passes) and PNG.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "bench_window.h"
#include "ext_misc.h"

namespace {

const int W = 800, H = 600;

struct Context {
    BenchWindow bw;

    Context() {
        bw = bench_window_open("bench", W, H, SDL_WINDOW_HIDDEN, DRIVER_TIMER);
        bench_window_gfx(bw, W, H);
        // A game-like frame: a sky gradient in bands, then a field of tiles in a few colours.
        gfx_clear();
        gfx_ortho();
        for (int y = 0; y < H; y += 4)
            gfx_fill(0x204080u + (unsigned)(y / 4) * 0x010101u, 0, (float)y, W, 4);
        for (int ty = 0; ty < 10; ty++)
            for (int tx = 0; tx < 32; tx++)
                if ((tx * 7 + ty * 3) % 5)
                    gfx_fill(0x30A030u + (unsigned)((tx ^ ty) & 7) * 0x100810u, tx * 25.0f, 350 + ty * 25.0f, 24, 24);
        glFinish();
    }
    ~Context() { bench_window_close(bw); }
};

Context &context() {
    static Context c;
    return c;
}

void shot(benchmark::State &state, const char *path) {
    context();
    for (auto _ : state) {
        if (!ext_misc_screenshot(path)) {
            state.SkipWithError("screenshot failed");
            break;
        }
    }
    remove(path);
}

void BM_Screenshot800x600Jpeg(benchmark::State &state) {
    shot(state, "/tmp/kiv_screenshot_bench.jpg");
}
BENCHMARK(BM_Screenshot800x600Jpeg)->Unit(benchmark::kMillisecond);

void BM_Screenshot800x600Png(benchmark::State &state) {
    shot(state, "/tmp/kiv_screenshot_bench.png");
}
BENCHMARK(BM_Screenshot800x600Png)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
