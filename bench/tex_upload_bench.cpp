// Texture upload of a 2048 x 2048 PNG with its whole mip chain, on a real GL context (run under xvfb-run).
// FromFile decodes and uploads; FromPixels starts from decoded pixels, so the two differ by the decoder's share.
#include <benchmark/benchmark.h>

#include <stb_image_write.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_window.h"
#include "kiv_driver_int.h"

namespace {

const int N = 2048;

struct Context {
    BenchWindow bw;
    std::string png;
    std::vector<unsigned char> pixels;

    Context() {
        bw = bench_window_open("bench", 64, 64, SDL_WINDOW_HIDDEN, DRIVER_TIMER);
        // A picture with gradients and alpha, so the PNG is not trivially small and premultiplying does work.
        pixels.resize((size_t)N * N * 4);
        for (int y = 0; y < N; y++)
            for (int x = 0; x < N; x++) {
                unsigned char *p = &pixels[((size_t)y * N + x) * 4];
                p[0] = (unsigned char)x;
                p[1] = (unsigned char)y;
                p[2] = (unsigned char)(x * y >> 4);
                p[3] = (unsigned char)(255 - ((x ^ y) & 127));
            }
        png = "/tmp/kiv_tex_upload_bench.png";
        if (!stbi_write_png(png.c_str(), N, N, 4, pixels.data(), N * 4)) {
            fprintf(stderr, "cannot write %s\n", png.c_str());
            exit(1);
        }
    }
    ~Context() {
        remove(png.c_str());
        bench_window_close(bw);
    }
};

Context &Ctx() {
    static Context c;
    return c;
}

void Drop(int tex) {
    GLuint t = (GLuint)tex;
    glDeleteTextures(1, &t);
    glFinish();
}

void BM_TexUploadFromFile(benchmark::State &state) {
    Context &c = Ctx();
    for (auto _ : state) {
        int w, h, tw, th;
        int tex = _driver_tex_load(c.png.c_str(), &w, &h, &tw, &th);
        glFinish();
        if (!tex || tw != N)
            state.SkipWithError("upload failed");
        state.PauseTiming();
        Drop(tex);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_TexUploadFromFile)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_TexUploadFromPixels(benchmark::State &state) {
    Context &c = Ctx();
    std::vector<unsigned char> work;
    for (auto _ : state) {
        state.PauseTiming();
        work = c.pixels;
        state.ResumeTiming();
        int w, h, tw, th;
        int tex = _driver_tex_load_from_data(work.data(), N, N, &w, &h, &tw, &th);
        glFinish();
        if (!tex)
            state.SkipWithError("upload failed");
        state.PauseTiming();
        Drop(tex);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_TexUploadFromPixels)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace

BENCHMARK_MAIN();
