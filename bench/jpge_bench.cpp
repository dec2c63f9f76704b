// JPEG encoding of a 1920x1080 game-like frame (quality 85, 2x2 chroma subsampling, optimised Huffman tables)
// with jpge and with libjpeg-turbo in the same run. bench/jpge_bench.sh runs it a second time with
// JSIMD_FORCENONE=1 for libjpeg-turbo without SIMD.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <jpeglib.h>
#include <vector>

#include "jpge.h"

static const int W = 1920, H = 1080;

// Tiled ground, a sky gradient, outlined sprites and a text panel.
static const std::vector<unsigned char> &_frame() {
    static std::vector<unsigned char> px = [] {
        std::vector<unsigned char> p(W * H * 3);
        for (int y = 0; y < H; y++)
            for (int x = 0; x < W; x++) {
                unsigned char *d = &p[(y * W + x) * 3];
                int r = 90 + y * 100 / H, g = 140 + y * 80 / H, b = 230;
                if (y > H * 2 / 3)
                    r = 40, g = ((x / 32 + y / 32) & 1) ? 120 : 100, b = 30;
                const int sx = x % 150, sy = y % 120;
                if (sx >= 30 && sx < 94 && sy >= 30 && sy < 94)
                    r = sx == 30 || sx == 93 || sy == 30 || sy == 93 ? 0 : 200 + (sy & 31), g = (sx * 5) & 255, b = 60;
                if (y < 60 && x < W / 3 && (y % 12) < 9 && ((x * 7 + y * 3) % 5) < 2)
                    r = g = b = 255;
                d[0] = (unsigned char)r, d[1] = (unsigned char)g, d[2] = (unsigned char)b;
            }
        return p;
    }();
    return px;
}

static void BM_Jpge(benchmark::State &state) {
    const auto &px = _frame();
    std::vector<unsigned char> out(W * H * 3);
    jpge::params p;
    p.m_quality = 85;
    p.m_subsampling = jpge::H2V2;
    p.m_two_pass_flag = true;
    int size = 0;
    for (auto _ : state) {
        size = (int)out.size();
        if (!jpge::compress_image_to_jpeg_file_in_memory(out.data(), size, W, H, 3, px.data(), p))
            state.SkipWithError("jpge failed");
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["bytes"] = size;
    state.SetItemsProcessed(state.iterations());
}

static void BM_LibjpegTurbo(benchmark::State &state) {
    const auto &px = _frame();
    unsigned long size = 0;
    for (auto _ : state) {
        jpeg_compress_struct cinfo;
        jpeg_error_mgr jerr;
        cinfo.err = jpeg_std_error(&jerr);
        jpeg_create_compress(&cinfo);
        unsigned char *buf = nullptr;
        size = 0;
        jpeg_mem_dest(&cinfo, &buf, &size);
        cinfo.image_width = W;
        cinfo.image_height = H;
        cinfo.input_components = 3;
        cinfo.in_color_space = JCS_RGB;
        jpeg_set_defaults(&cinfo);
        jpeg_set_quality(&cinfo, 85, TRUE);
        cinfo.optimize_coding = TRUE;
        cinfo.comp_info[0].h_samp_factor = cinfo.comp_info[0].v_samp_factor = 2;
        jpeg_start_compress(&cinfo, TRUE);
        while (cinfo.next_scanline < cinfo.image_height) {
            JSAMPROW row = const_cast<unsigned char *>(&px[cinfo.next_scanline * W * 3]);
            jpeg_write_scanlines(&cinfo, &row, 1);
        }
        jpeg_finish_compress(&cinfo);
        jpeg_destroy_compress(&cinfo);
        benchmark::DoNotOptimize(buf);
        free(buf);
    }
    state.counters["bytes"] = (double)size;
    state.SetLabel(getenv("JSIMD_FORCENONE") ? "SIMD off" : "SIMD on");
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_Jpge)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibjpegTurbo)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
