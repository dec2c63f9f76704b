// Graphics logic without a window: clip stack, virtual-screen conversions, event correction, upload kernels,
// size checks and hostile files before decoding, and the geometry of nine-slices.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "kiv_driver.h"
#include "kiv_driver_int.h"
#include "kiv_event.h"
#include "kiv_gfx.h"
#include "kiv_gfx_int.h"
#include "kiv_json.h"
#include "kiv_var.h"

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

std::string R(const GfxRect &r) {
    char b[160];
    snprintf(b, sizeof(b), "(%g,%g,%g,%g)", r.x, r.y, r.w, r.h);
    return b;
}

bool Near(const GfxRect &a, const GfxRect &b, float eps) {
    return std::fabs(a.x - b.x) <= eps && std::fabs(a.y - b.y) <= eps && std::fabs(a.w - b.w) <= eps &&
           std::fabs(a.h - b.h) <= eps;
}

class GfxLogic : public ::testing::Test {
protected:
    void SetUp() override {
        driver_init(0);
        driver_set_size(640, 480);
        gfx_init();
        gfx_set_view(0, 0, 640, 480);
    }
    void TearDown() override {
        gfx_deinit();
        driver_deinit();
    }
};

TEST(GfxClipTest, Rows) {
    struct Row {
        const char *name;
        GfxRect clip, dst, src;
        bool with_src;
        bool ok;
        GfxRect want_dst, want_src;
    } rows[] = {
        {"inside untouched",
         {0, 0, 100, 100},
         {10, 10, 20, 20},
         {0, 0, 1, 1},
         true,
         true,
         {10, 10, 20, 20},
         {0, 0, 1, 1}},
        {"left half cut",
         {50, 0, 100, 100},
         {40, 10, 20, 20},
         {0, 0, 1, 1},
         true,
         true,
         {50, 10, 10, 20},
         {0.5f, 0, 0.5f, 1}},
        {"right quarter cut",
         {0, 0, 55, 100},
         {40, 10, 20, 20},
         {0, 0, 1, 1},
         true,
         true,
         {40, 10, 15, 20},
         {0, 0, 0.75f, 1}},
        {"top and bottom cut",
         {0, 15, 100, 10},
         {0, 10, 20, 20},
         {0, 0, 1, 1},
         true,
         true,
         {0, 15, 20, 10},
         {0, 0.25f, 1, 0.5f}},
        {"without source", {50, 0, 100, 100}, {40, 10, 20, 20}, {}, false, true, {50, 10, 10, 20}, {}},
        {"wholly left", {100, 0, 100, 100}, {0, 0, 50, 50}, {0, 0, 1, 1}, true, false, {100, 0, -50, 50}, {1, 0, 0, 1}},
        {"zero width", {0, 0, 100, 100}, {10, 10, 0, 20}, {0, 0, 1, 1}, true, false, {10, 10, 0, 20}, {0, 0, 1, 1}},
        {"negative height",
         {0, 0, 100, 100},
         {10, 10, 5, -2},
         {0, 0, 1, 1},
         true,
         false,
         {10, 10, 5, -2},
         {0, 0, 1, 1}},
        {"NaN width",
         {0, 0, 100, 100},
         {10, 10, kNaN, 20},
         {0, 0, 1, 1},
         true,
         false,
         {10, 10, kNaN, 20},
         {0, 0, 1, 1}},
        {"NaN source", {0, 0, 100, 100}, {10, 10, 5, 5}, {0, 0, kNaN, 1}, true, false, {10, 10, 5, 5}, {0, 0, kNaN, 1}},
        {"infinite height",
         {0, 0, 100, 100},
         {10, 10, 5, kInf},
         {0, 0, 1, 1},
         true,
         false,
         {10, 10, 5, kInf},
         {0, 0, 1, 1}},
        {"NaN clip", {0, 0, kNaN, 100}, {10, 10, 5, 5}, {0, 0, 1, 1}, true, false, {10, 10, 5, 5}, {0, 0, 1, 1}},
    };
    for (const Row &r : rows) {
        GfxRect clip = r.clip, d = r.dst, s = r.src;
        bool ok = _gfx_clip_test(clip, &d, r.with_src ? &s : nullptr);
        EXPECT_EQ(r.ok, ok) << r.name;
        if (r.ok && ok) {
            EXPECT_TRUE(Near(d, r.want_dst, 1e-5f)) << r.name << ": dst expected " << R(r.want_dst) << " saw " << R(d);
            if (r.with_src) {
                EXPECT_TRUE(Near(s, r.want_src, 1e-5f))
                    << r.name << ": src expected " << R(r.want_src) << " saw " << R(s);
            }
        }
    }
}

TEST_F(GfxLogic, ClipStack) {
    struct Op {
        char op; // c = clip, C = seven clips of (0, 0, 99, 99), u = unclip, t = translate
        float x = 0, y = 0, w = 0, h = 0;
    };
    struct Row {
        const char *name;
        std::vector<Op> ops;
        GfxRect dst;
        bool ok;
        GfxRect want;
    } rows[] = {
        {"no clip passes", {}, {5, 5, 10, 10}, true, {5, 5, 10, 10}},
        {"no clip passes empty", {}, {5, 5, 0, 10}, true, {5, 5, 0, 10}},
        {"no clip refuses NaN", {}, {5, 5, kNaN, 10}, false, {}},
        {"one level", {{'c', 0, 0, 10, 10}}, {5, 5, 10, 10}, true, {5, 5, 5, 5}},
        {"nested is intersection", {{'c', 0, 0, 10, 10}, {'c', 5, 5, 10, 10}}, {0, 0, 20, 20}, true, {5, 5, 5, 5}},
        {"disjoint nested clips all", {{'c', 0, 0, 10, 10}, {'c', 20, 20, 10, 10}}, {0, 0, 40, 40}, false, {}},
        {"popped back to outer",
         {{'c', 0, 0, 10, 10}, {'c', 20, 20, 10, 10}, {'u'}},
         {0, 0, 40, 40},
         true,
         {0, 0, 10, 10}},
        {"translated clip stays on screen",
         {{'t', 10, 20}, {'c', 0, 0, 10, 10}, {'t', -10, -20}},
         {0, 0, 100, 100},
         true,
         {10, 20, 10, 10}},
        {"clip seen from translated coordinates",
         {{'c', 0, 0, 10, 10}, {'t', 5, 5}},
         {-10, -10, 100, 100},
         true,
         {-5, -5, 10, 10}},
        {"NaN push clips everything", {{'c', 0, 0, 10, 10}, {'c', kNaN, 0, 5, 5}}, {0, 0, 100, 100}, false, {}},
        {"ninth level clips everything", {{'C'}, {'c', 0, 0, 99, 99}, {'c', 0, 0, 99, 99}}, {0, 0, 10, 10}, false, {}},
        {"ninth level popped draws again",
         {{'C'}, {'c', 0, 0, 8, 8}, {'c', 0, 0, 99, 99}, {'u'}},
         {0, 0, 10, 10},
         true,
         {0, 0, 8, 8}},
        {"unclip of empty stack", {{'u'}, {'u'}, {'c', 0, 0, 3, 3}}, {0, 0, 10, 10}, true, {0, 0, 3, 3}},
    };
    for (const Row &r : rows) {
        gfx_deinit();
        gfx_init();
        for (const Op &o : r.ops) {
            if (o.op == 'c')
                gfx_clip(o.x, o.y, o.w, o.h);
            else if (o.op == 'C')
                for (int i = 0; i < 7; i++)
                    gfx_clip(0, 0, 99, 99);
            else if (o.op == 'u')
                gfx_unclip();
            else
                gfx_translate(o.x, o.y);
        }
        GfxRect d = r.dst;
        bool ok = _gfx_clip(&d, nullptr);
        EXPECT_EQ(r.ok, ok) << r.name << ": clipped to " << R(d);
        if (r.ok && ok) {
            EXPECT_TRUE(Near(d, r.want, 1e-5f)) << r.name << ": expected " << R(r.want) << " saw " << R(d);
        }
    }
}

TEST_F(GfxLogic, Conversions) {
    struct Row {
        const char *name;
        GfxRect view;
        int sw, sh;
        float orient, scale;
        int shx, shy;
        GfxRect pos, want_hw;
    } rows[] = {
        {"identity", {0, 0, 640, 480}, 640, 480, 0, 1, 0, 0, {13, 17, 4, 5}, {13, 17, 4, 5}},
        {"centre of a smaller screen", {0, 0, 640, 480}, 320, 240, 0, 1, 0, 0, {160, 120, 0, 0}, {320, 240, 0, 0}},
        {"scaled 2", {0, 0, 640, 480}, 320, 240, 0, 2, 0, 0, {0, 0, 0, 0}, {0, 0, 0, 0}},
        {"scaled 2 corner", {0, 0, 640, 480}, 320, 240, 0, 2, 0, 0, {320, 240, 0, 0}, {640, 480, 0, 0}},
        {"shifted", {0, 0, 640, 480}, 640, 480, 0, 1, 10, -5, {0, 0, 0, 0}, {10, -5, 0, 0}},
        {"view offset", {100, 50, 200, 100}, 200, 100, 0, 1, 0, 0, {0, 0, 0, 0}, {100, 50, 0, 0}},
        {"rotated 90 centre", {0, 0, 640, 480}, 320, 240, 90, 1, 0, 0, {160, 120, 0, 0}, {320, 240, 0, 0}},
        {"rotated 90 right of centre", {0, 0, 640, 480}, 320, 240, 90, 2, 0, 0, {320, 120, 0, 0}, {320, 560, 0, 0}},
        {"odd size halves in float", {0, 0, 640, 480}, 101, 51, 0, 1, 0, 0, {0, 0, 0, 0}, {269.5f, 214.5f, 0, 0}},
    };
    for (const Row &r : rows) {
        gfx_set_view((int)r.view.x, (int)r.view.y, (int)r.view.w, (int)r.view.h);
        gfx_set_size(r.sw, r.sh);
        gfx_set_orient(r.orient);
        gfx_set_scale(r.scale);
        gfx_set_shift(r.shx, r.shy);
        GfxRect hw = gfx_pos_to_hwpos(r.pos);
        EXPECT_TRUE(Near(hw, r.want_hw, 1e-3f)) << r.name << ": expected " << R(r.want_hw) << " saw " << R(hw);
        GfxRect back = gfx_hwpos_to_pos(hw);
        EXPECT_TRUE(Near(back, r.pos, 1e-3f)) << r.name << ": round trip expected " << R(r.pos) << " saw " << R(back);
    }
}

TEST_F(GfxLogic, RectConversionAndFocus) {
    gfx_set_size(320, 240);
    gfx_set_scale(2);
    GfxRect hw = gfx_rect_to_hwrect(GfxRect(10, 20, 30, 40));
    EXPECT_TRUE(Near(hw, GfxRect(20, 40, 60, 80), 1e-3f)) << R(hw);
    GfxRect back = gfx_hwrect_to_rect(hw);
    EXPECT_TRUE(Near(back, GfxRect(10, 20, 30, 40), 1e-3f)) << R(back);
    gfx_focus(GfxRect(10, 20, 30, 40));
    EXPECT_TRUE(Near(_gfx_get_focus_fixed(), GfxRect(20, 40, 60, 80), 1e-3f)) << R(_gfx_get_focus_fixed());
    gfx_blur();
    EXPECT_TRUE(Near(_gfx_get_focus_fixed(), GfxRect(0, 0, 0, 0), 1e-3f)) << R(_gfx_get_focus_fixed());
}

TEST_F(GfxLogic, ScaleKeepsLastGoodValue) {
    struct Row {
        const char *name;
        float set, want;
    } rows[] = {
        {"two", 2, 2},        {"zero kept", 0, 2},          {"NaN kept", kNaN, 2}, {"infinity kept", kInf, 2},
        {"half", 0.5f, 0.5f}, {"negative mirrors", -1, -1},
    };
    for (const Row &r : rows) {
        gfx_set_scale(r.set);
        EXPECT_EQ(r.want, gfx_get_scale()) << r.name;
        Event e(EVT_DOWN);
        e.x = 100;
        e.y = 100;
        gfx_event_correct(&e);
        EXPECT_TRUE(std::isfinite(e.x) && std::isfinite(e.y)) << r.name << ": " << e.x << "," << e.y;
    }
}

TEST_F(GfxLogic, EventCorrect) {
    gfx_set_size(320, 240);
    gfx_set_scale(2);
    struct Row {
        const char *name;
        int type;
        bool converted;
    } rows[] = {
        {"down", EVT_DOWN, true},         {"motion", EVT_MOTION, true},     {"up", EVT_UP, true},
        {"wheel", EVT_WHEEL, true},       {"key down", EVT_KEYDOWN, false}, {"mouse down", EVT_MOUSEDOWN, false},
        {"touch up", EVT_TOUCHUP, false}, {"resize", EVT_RESIZE, false},
    };
    for (const Row &r : rows) {
        Event e(r.type);
        e.x = 100;
        e.y = 60;
        e.dx = 10;
        e.dy = -4;
        e.z = 7;
        e.dz = 3;
        gfx_event_correct(&e);
        if (r.converted) {
            EXPECT_FLOAT_EQ(50, e.x) << r.name;
            EXPECT_FLOAT_EQ(30, e.y) << r.name;
            EXPECT_FLOAT_EQ(5, e.dx) << r.name;
            EXPECT_FLOAT_EQ(-2, e.dy) << r.name;
            EXPECT_FLOAT_EQ(100, e._x) << r.name;
            EXPECT_FLOAT_EQ(60, e._y) << r.name;
            EXPECT_FLOAT_EQ(10, e._dx) << r.name;
            EXPECT_FLOAT_EQ(-4, e._dy) << r.name;
        } else {
            EXPECT_FLOAT_EQ(100, e.x) << r.name;
            EXPECT_FLOAT_EQ(60, e.y) << r.name;
            EXPECT_FLOAT_EQ(10, e.dx) << r.name;
            EXPECT_FLOAT_EQ(0, e._x) << r.name;
        }
        EXPECT_FLOAT_EQ(7, e.z) << r.name;
        EXPECT_FLOAT_EQ(3, e.dz) << r.name;
        EXPECT_FLOAT_EQ(0, e._z) << r.name;
    }
}

TEST(GfxUpload, Premultiply) {
    struct Row {
        const char *name;
        unsigned char in[4], want[4];
    } rows[] = {
        {"opaque white loses one step", {255, 255, 255, 255}, {254, 254, 254, 255}},
        {"transparent becomes zero", {200, 100, 50, 0}, {0, 0, 0, 0}},
        {"half alpha", {255, 128, 2, 128}, {127, 64, 1, 128}},
        {"opaque colour", {10, 20, 30, 255}, {9, 19, 29, 255}},
    };
    for (const Row &r : rows) {
        unsigned char p[8];
        memcpy(p, r.in, 4);
        memcpy(p + 4, r.in, 4);
        _driver_tex_premultiply(p, 2, 1);
        for (int i = 0; i < 8; i++)
            EXPECT_EQ(r.want[i % 4], p[i]) << r.name << " byte " << i;
    }
}

TEST(GfxUpload, SizesAndFit) {
    struct Row {
        const char *name;
        int n, want;
    } sizes[] = {{"one", 1, 64},           {"64", 64, 64},       {"65", 65, 128},
                 {"100", 100, 128},        {"4096", 4096, 4096}, {"4097 kept", 4097, 4097},
                 {"5000 kept", 5000, 5000}};
    for (const auto &r : sizes)
        EXPECT_EQ(r.want, _driver_tex_size(r.n)) << r.name;
    struct FitRow {
        const char *name;
        int w, h, max, want;
    } fits[] = {
        {"fits", 100, 30, 4096, 0},
        {"one halving", 5000, 10, 4096, 1},
        {"wide row halves alone", 100000, 1, 16384, 3},
        {"square twice", 16000, 16000, 4096, 2},
        {"tall", 3, 9000, 8192, 1},
        {"cannot fit below the smallest size", 1, 1, 32, -1},
    };
    for (const auto &r : fits)
        EXPECT_EQ(r.want, _driver_tex_fit(r.w, r.h, r.max)) << r.name;
}

TEST(GfxUpload, PadRepeatsEdges) {
    const int w = 100, h = 30, tw = 128, th = 64;
    std::vector<unsigned char> p((size_t)w * h * 4);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            unsigned char *q = &p[((size_t)y * w + x) * 4];
            q[0] = (unsigned char)x;
            q[1] = (unsigned char)y;
            q[2] = (unsigned char)(x ^ y);
            q[3] = 255;
        }
    unsigned char *out = _driver_tex_pad(p.data(), w, h, tw, th);
    ASSERT_NE(nullptr, out);
    struct Row {
        const char *name;
        int x, y, sx, sy;
    } rows[] = {
        {"origin", 0, 0, 0, 0},         {"last picture pixel", 99, 29, 99, 29},
        {"right pad", 100, 5, 99, 5},   {"far right pad", 127, 29, 99, 29},
        {"bottom pad", 40, 30, 40, 29}, {"far corner", 127, 63, 99, 29},
    };
    for (const Row &r : rows) {
        const unsigned char *got = out + ((size_t)r.y * tw + r.x) * 4;
        const unsigned char *want = &p[((size_t)r.sy * w + r.sx) * 4];
        EXPECT_EQ(0, memcmp(got, want, 4)) << r.name << ": expected pixel " << r.sx << "," << r.sy << " saw "
                                           << (int)got[0] << "," << (int)got[1] << "," << (int)got[2];
    }
    free(out);
    EXPECT_EQ(nullptr, _driver_tex_pad(p.data(), w, h, 64, 64)) << "a target smaller than the picture is refused";
}

// A pixel of the pattern: distinct per position and channel, so a wrong stride shows.
unsigned char Pat(int x, int y, int c) {
    return (unsigned char)((x * 7 + y * 31 + c * 57) & 255);
}

TEST(GfxUpload, DownscaleKernels) {
    struct Row {
        const char *name;
        int w, h, want_w, want_h;
        char kind; // b = 2x2, h = pairs across, v = pairs down
    } rows[] = {
        {"even square", 8, 8, 4, 4, 'b'}, {"odd width", 7, 6, 3, 3, 'b'},    {"odd both", 5, 5, 2, 2, 'b'},
        {"odd height", 6, 7, 3, 3, 'b'},  {"row", 9, 1, 4, 1, 'h'},          {"column", 1, 9, 1, 4, 'v'},
        {"two by one", 2, 1, 1, 1, 'h'},  {"single pixel", 1, 1, 1, 1, '-'},
    };
    for (const Row &r : rows) {
        std::vector<unsigned char> p((size_t)r.w * r.h * 4);
        for (int y = 0; y < r.h; y++)
            for (int x = 0; x < r.w; x++)
                for (int c = 0; c < 4; c++)
                    p[((size_t)y * r.w + x) * 4 + c] = Pat(x, y, c);
        int w = r.w, h = r.h;
        _driver_tex_load_downscale(p.data(), &w, &h);
        ASSERT_EQ(r.want_w, w) << r.name;
        ASSERT_EQ(r.want_h, h) << r.name;
        if (r.kind == '-')
            continue;
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++)
                for (int c = 0; c < 4; c++) {
                    int want;
                    if (r.kind == 'b')
                        want = (Pat(2 * x, 2 * y, c) + Pat(2 * x + 1, 2 * y, c) + Pat(2 * x, 2 * y + 1, c) +
                                Pat(2 * x + 1, 2 * y + 1, c) + 2) >>
                               2;
                    else if (r.kind == 'h')
                        want = (Pat(2 * x, y, c) + Pat(2 * x + 1, y, c) + 1) >> 1;
                    else
                        want = (Pat(x, 2 * y, c) + Pat(x, 2 * y + 1, c) + 1) >> 1;
                    ASSERT_EQ(want, p[((size_t)y * w + x) * 4 + c])
                        << r.name << ": pixel " << x << "," << y << " channel " << c;
                }
    }
}

// A PNG signature and header chunk claiming a size; the decoder's size query reads no further.
std::vector<unsigned char> PngHeader(uint32_t w, uint32_t h) {
    std::vector<unsigned char> d = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    for (uint32_t v : {w, h})
        for (int s = 24; s >= 0; s -= 8)
            d.push_back((unsigned char)(v >> s));
    for (unsigned char b : {8, 6, 0, 0, 0, 0, 0, 0, 0})
        d.push_back(b);
    return d;
}

TEST(GfxUpload, SizeCheckBeforeDecoding) {
    struct Row {
        const char *name;
        std::vector<unsigned char> data;
        int max, want, want_w, want_h;
    } rows[] = {
        {"small picture", PngHeader(64, 64), 4096, 0, 64, 64},
        {"20000 square is refused", PngHeader(20000, 20000), 16384, -1, 0, 0},
        {"long row fits after halving", PngHeader(100000, 10), 16384, 0, 100000, 10},
        {"too many pixels", PngHeader(9000, 9000), 16384, -1, 9000, 9000},
        {"not an image", {'h', 'e', 'l', 'l', 'o', 0, 0, 0, 0, 0, 0, 0}, 4096, -1, 0, 0},
        {"empty", {}, 4096, -1, 0, 0},
        {"zero size", PngHeader(0, 0), 4096, -1, 0, 0},
    };
    for (const Row &r : rows) {
        int w = -1, h = -1;
        int got = _driver_tex_check_size(r.data.empty() ? nullptr : r.data.data(), (int)r.data.size(), r.max, &w, &h);
        EXPECT_EQ(r.want, got) << r.name;
        if (r.want_w) {
            EXPECT_EQ(r.want_w, w) << r.name;
            EXPECT_EQ(r.want_h, h) << r.name;
        }
    }
}

// Files that crashed or stalled the decoders, and neighbours of them: refused with the loader's one line, or
// decoded at their header's size; never a crash.
TEST(GfxUpload, HostileImageFiles) {
    const std::string corpus =
        std::string(getenv("KIV_SOURCE_DIR") ? getenv("KIV_SOURCE_DIR") : "..") + "/tests/fuzz/corpus/image/";
    struct Row {
        const char *file;
        int w, h;        // decoded size; 0 when refused
        const char *why; // the refusal's reason in the log line
    } rows[] = {
        {"pnm16_named.png", 0, 0, "not a PNG, JPEG or TGA file"},
        {"truncated_big.tga", 0, 0, "not a PNG, JPEG or TGA file"},
        {"empty_first_idat.png", 1, 1, nullptr},
        {"jpeg_bad_huffman.jpg", 0, 0, "Quantization table 0x01 was not defined"},
        {"mapped_2x1.tga", 2, 1, nullptr},
        {"missing.png", 0, 0, "file not found"},
        {"empty_file.png", 0, 0, "empty file"},
        {"zero_0x0.png", 0, 0, "image has zero size (0x0)"},
        {"jpeg_12bit.jpg", 0, 0, "Unsupported JPEG data precision 12"},
        {"jpeg_height0.jpg", 0, 0, "Empty JPEG image (DNL not supported)"},
        {"jpeg_no_scan.jpg", 0, 0, "Invalid JPEG file structure: missing SOS marker"},
        {"jpeg_truncated.jpg", 0, 0, "JPEG datastream contains no image"},
        {"cmyk_adobe_8x8.jpg", 8, 8, nullptr},
    };
    for (const Row &r : rows) {
        std::string path = corpus + r.file;
        int w = -1, h = -1, tw = -1, th = -1;
        testing::internal::CaptureStdout();
        int tex = _driver_tex_load(path.c_str(), &w, &h, &tw, &th);
        std::string log = testing::internal::GetCapturedStdout();
        EXPECT_EQ(0, tex) << r.file << ": no texture without a window";
        std::string want = r.why ? "stbi_load failed " + path + " - " + r.why + "\n"
                                 : "loaded " + path + " as 0 (" + std::to_string(r.w) + "," + std::to_string(r.h) + ")";
        EXPECT_NE(std::string::npos, log.find(want)) << r.file << ": expected '" << want << "' in '" << log << "'";
    }
}

// CMYK JPEGs (Adobe's inverted inks) decode to the RGB they show, as greyscale and colour ones do.
TEST(GfxUpload, JpegColourModels) {
    const std::string corpus =
        std::string(getenv("KIV_SOURCE_DIR") ? getenv("KIV_SOURCE_DIR") : "..") + "/tests/fuzz/corpus/image/";
    struct Row {
        const char *file;
        int x, y;
        unsigned char r, g, b;
    } rows[] = {
        {"cmyk_adobe_8x8.jpg", 1, 1, 255, 0, 0},
        {"cmyk_adobe_8x8.jpg", 6, 6, 0, 0, 255},
    };
    for (const Row &r : rows) {
        std::ifstream in(corpus + r.file, std::ios::binary);
        std::vector<unsigned char> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ASSERT_FALSE(data.empty()) << r.file;
        int w = 0, h = 0;
        const char *why = nullptr;
        unsigned char *p = _driver_image_decode(data.data(), (int)data.size(), &w, &h, &why);
        ASSERT_NE(nullptr, p) << r.file << ": " << (why ? why : "");
        const unsigned char *q = p + 4 * ((size_t)r.y * w + r.x);
        EXPECT_TRUE(abs(q[0] - r.r) <= 8 && abs(q[1] - r.g) <= 8 && abs(q[2] - r.b) <= 8 && q[3] == 255)
            << r.file << " at " << r.x << "," << r.y << ": expected " << (int)r.r << "," << (int)r.g << "," << (int)r.b
            << " saw " << (int)q[0] << "," << (int)q[1] << "," << (int)q[2] << "," << (int)q[3];
        free(p);
    }
}

TEST(GfxUpload, GlVersionText) {
    struct Row {
        const char *text;
        int want;
    } rows[] = {
        {"4.5 (Compatibility Profile) Mesa 22.3.6", 0x40500},
        {"2.1", 0x20100},
        {"1.4.0 - Build 8.14", 0x10400},
        {"3.2.1.9", 0x30201},
        {"OpenGL ES 3.0", 0},
        {"", 0},
        {nullptr, 0},
        {"999.1", 0xff0100},
    };
    for (const Row &r : rows)
        EXPECT_EQ(r.want, _driver_gl_version_parse(r.text)) << (r.text ? r.text : "(null)");
}

TEST(GfxGeometry, NineSliceCorners) {
    struct Row {
        const char *name;
        int iw, ih, w, h, sz;
        int parts;
        float cw, ch;
    } rows[] = {
        {"square image wide box", 30, 30, 100, 40, 10, 9, 10, 10},
        {"narrow box shrinks corners", 30, 30, 24, 40, 10, 9, 8, 8},
        {"wide image keeps aspect", 60, 30, 200, 200, 10, 9, 20, 10},
        {"tall image keeps aspect", 30, 60, 200, 200, 10, 9, 10, 20},
        {"low box shrinks both", 60, 30, 200, 15, 10, 9, 10, 5},
        {"zero image width", 0, 30, 100, 40, 10, 0, 0, 0},
        {"zero image height", 30, 0, 100, 40, 10, 0, 0, 0},
        {"zero corner", 30, 30, 100, 40, 0, 0, 0, 0},
        {"negative box", 30, 30, -100, 40, 10, 0, 0, 0},
        {"huge corner does not overflow", 1000000, 1, 300, 300, 2000000000, 9, 100, 0},
    };
    for (const Row &r : rows) {
        GfxQuad q[9];
        int n = _gfx_img_box_parts(r.iw, r.ih, 10, 20, r.w, r.h, r.sz, q);
        ASSERT_EQ(r.parts, n) << r.name;
        if (!n)
            continue;
        EXPECT_EQ(r.cw, q[0].dst.w) << r.name;
        EXPECT_EQ(r.ch, q[0].dst.h) << r.name;
        EXPECT_TRUE(Near(q[8].dst, GfxRect(10 + r.w - r.cw, 20 + r.h - r.ch, r.cw, r.ch), 0))
            << r.name << ": bottom right " << R(q[8].dst);
        EXPECT_TRUE(Near(q[4].dst, GfxRect(10 + r.cw, 20 + r.ch, r.w - 2 * r.cw, r.h - 2 * r.ch), 0))
            << r.name << ": centre " << R(q[4].dst);
        EXPECT_TRUE(Near(q[5].src, GfxRect(0.33333334f * 2, 0.33333334f, 0.33333334f, 0.33333334f), 0))
            << r.name << ": middle right part " << R(q[5].src);
    }
}

TEST(GfxGeometry, TiledNineSlice) {
    struct Row {
        const char *name;
        int w, h, sz;
        size_t tiles;
        GfxRect first_dst, last_dst, last_src;
    } rows[] = {
        {"exact 3x3", 30, 30, 10, 9, {0, 0, 10, 10}, {20, 20, 10, 10}, {2 / 3.f, 2 / 3.f, 1 / 3.f, 1 / 3.f}},
        {"uneven 35 wide", 35, 30, 10, 12, {0, 0, 10, 10}, {25, 20, 10, 10}, {2 / 3.f, 2 / 3.f, 1 / 3.f, 1 / 3.f}},
        {"zero size", 30, 30, 0, 0, {}, {}, {}},
        {"negative size", 30, 30, -5, 0, {}, {}, {}},
        {"empty box", 0, 30, 10, 0, {}, {}, {}},
        {"tiny tiles over a huge box are refused", 2000000000, 2000000000, 1, 0, {}, {}, {}},
        {"a million tiles still drawn",
         1024,
         1024,
         1,
         1u << 20,
         {0, 0, 1, 1},
         {1023, 1023, 1, 1},
         {2 / 3.f, 2 / 3.f, 1 / 3.f, 1 / 3.f}},
    };
    for (const Row &r : rows) {
        std::vector<GfxQuad> q = _gfx_tex_box_slow_parts(0, 0, r.w, r.h, r.sz);
        ASSERT_EQ(r.tiles, q.size()) << r.name;
        if (q.empty())
            continue;
        EXPECT_TRUE(Near(q.front().dst, r.first_dst, 1e-5f)) << r.name << ": first " << R(q.front().dst);
        EXPECT_TRUE(Near(q.back().dst, r.last_dst, 1e-5f)) << r.name << ": last " << R(q.back().dst);
        EXPECT_TRUE(Near(q.back().src, r.last_src, 1e-5f)) << r.name << ": last source " << R(q.back().src);
    }
    // The shortened tile before the last column ends where the last one starts.
    std::vector<GfxQuad> q = _gfx_tex_box_slow_parts(0, 0, 35, 10, 10);
    ASSERT_EQ(4u, q.size());
    EXPECT_TRUE(Near(q[2].dst, GfxRect(20, 0, 5, 10), 1e-5f)) << R(q[2].dst);
    EXPECT_TRUE(Near(q[3].dst, GfxRect(25, 0, 10, 10), 1e-5f)) << R(q[3].dst);
}

TEST(GfxGeometry, ImageBlitRects) {
    GfxImage whole = {1, 1, GfxRect(0, 0, 100, 30), GfxRect(0, 0, 100, 30)};
    GfxImage frame = {2, 1, GfxRect(10, 20, 8, 6), GfxRect(2, 3, 16, 12)};
    GfxImage empty = {3, 1, GfxRect(0, 0, 0, 0), GfxRect(0, 0, 0, 0)};
    GfxRect T(0, 0, 128, 64);
    struct Row {
        const char *name;
        const GfxImage *img;
        GfxRect tex, part, box;
        bool ok;
        GfxRect dst, src;
    } rows[] = {
        {"whole at size",
         &whole,
         T,
         {0, 0, 1, 1},
         {5, 6, 100, 30},
         true,
         {5, 6, 100, 30},
         {0, 0, 100 / 128.f, 30 / 64.f}},
        {"whole doubled",
         &whole,
         T,
         {0, 0, 1, 1},
         {0, 0, 200, 60},
         true,
         {0, 0, 200, 60},
         {0, 0, 100 / 128.f, 30 / 64.f}},
        {"trimmed frame lands at its offset",
         &frame,
         T,
         {0, 0, 1, 1},
         {100, 100, 16, 12},
         true,
         {102, 103, 8, 6},
         {10 / 128.f, 20 / 64.f, 8 / 128.f, 6 / 64.f}},
        {"right half part",
         &whole,
         T,
         {0.5f, 0, 0.5f, 1},
         {0, 0, 100, 30},
         true,
         {0, 0, 100, 30},
         {50 / 128.f, 0, 50 / 128.f, 30 / 64.f}},
        {"zero shape draws nothing", &empty, T, {0, 0, 1, 1}, {0, 0, 10, 10}, false, {}, {}},
        {"texture without pixels draws nothing", &whole, GfxRect(), {0, 0, 1, 1}, {0, 0, 10, 10}, false, {}, {}},
        {"zero box draws nothing", &whole, T, {0, 0, 1, 1}, {0, 0, 0, 10}, false, {}, {}},
    };
    for (const Row &r : rows) {
        GfxRect d, s;
        bool ok = _gfx_img_blit_rects(*r.img, r.tex, r.part.x, r.part.y, r.part.w, r.part.h, r.box.x, r.box.y, r.box.w,
                                      r.box.h, &d, &s);
        ASSERT_EQ(r.ok, ok) << r.name;
        if (!ok)
            continue;
        EXPECT_TRUE(Near(d, r.dst, 1e-5f)) << r.name << ": expected " << R(r.dst) << " saw " << R(d);
        EXPECT_TRUE(Near(s, r.src, 1e-6f)) << r.name << ": expected source " << R(r.src) << " saw " << R(s);
    }
}

TEST_F(GfxLogic, TablesWithoutContext) {
    // No GL context: nothing is loaded and nothing is cached, so the name is tried again later.
    EXPECT_EQ(0, gfx_tex_load("nothing_here"));
    EXPECT_EQ(0, gfx_img_load("nothing_here"));
    struct Row {
        const char *name;
        int id;
    } rows[] = {{"negative", -1}, {"dummy", 0}, {"past the end", 99}};
    for (const Row &r : rows) {
        EXPECT_EQ(0, gfx_img_get_width(r.id)) << r.name;
        EXPECT_EQ(0, gfx_img_get_tex(r.id)) << r.name;
        EXPECT_EQ(0, gfx_tex_get_id(r.id)) << r.name;
        EXPECT_EQ(0, _gfx_get_img(r.id).tid) << r.name;
        EXPECT_EQ(0, _gfx_get_tex(r.id).tex) << r.name;
        gfx_img_blit(r.id, 0, 0, 10, 10);
        gfx_img_box(r.id, 0, 0, 10, 10, 3);
        gfx_img_tile(r.id, 0, 0, 10, 10, 0);
    }
    int a = gfx_img_add("sub", 0, GfxRect(0, 0, 4, 4), GfxRect(0, 0, 4, 4));
    int b = gfx_img_add("sub", 0, GfxRect(0, 0, 8, 8), GfxRect(0, 0, 8, 8));
    EXPECT_EQ(a, b) << "re-adding a name keeps its id";
    EXPECT_EQ(8, gfx_img_get_width(b));
    EXPECT_EQ(0, _gfx_get_img(0).shape.w) << "the dummy entry stays zero";
    std::string longname(600, 'a');
    EXPECT_EQ(nullptr, _gfx_find_ext(longname.c_str())) << "a name longer than the path buffer is not found";
}

// A part cut from an image stays that part when the image takes new pixels (a picture reloaded at another size, an
// atlas frame moved); an image given pixels of its own stops following; a part of itself is cut once.
TEST_F(GfxLogic, PartsFollowTheirSource) {
    auto whole = [](const char *name, int tid, float n) {
        return gfx_img_add(name, tid, GfxRect(0, 0, n, n), GfxRect(0, 0, n, n));
    };
    const int pic = whole("pic", 1, 64);
    const int br = gfx_img_sub("br", pic, 0.5f, 0.5f, 0.5f, 0.5f), br_tl = gfx_img_sub("br_tl", br, 0, 0, 0.5f, 0.5f);
    const int half = gfx_img_sub("half", gfx_img_add("frame", 2, GfxRect(10, 20, 40, 40), GfxRect()), 0, 0, 0.5f, 1);
    struct Row {
        const char *name;
        std::function<void()> change;
        int img, tid;
        GfxRect rect;
    } rows[] = {
        {"bottom-right quarter of 64x64", [] {}, br, 1, GfxRect(32, 32, 32, 32)},
        {"source reloaded at 128x128", [&] { whole("pic", 1, 128); }, br, 1, GfxRect(64, 64, 64, 64)},
        {"a part of the part follows too", [] {}, br_tl, 1, GfxRect(64, 64, 32, 32)},
        {"frame moved to another page", [] { gfx_img_add("frame", 3, GfxRect(50, 0, 20, 20), GfxRect()); }, half, 3,
         GfxRect(50, 0, 10, 20)},
        {"pixels of its own", [&] { whole("br", 1, 8), whole("pic", 1, 32); }, br, 1, GfxRect(0, 0, 8, 8)},
        {"a part of itself", [&] { gfx_img_sub("pic", pic, 0, 0, 0.5f, 0.5f); }, pic, 1, GfxRect(0, 0, 16, 16)},
        {"a part of its own part", [&] { gfx_img_sub("br", br_tl, 0, 0, 0.5f, 0.5f); }, br_tl, 1, GfxRect(0, 0, 1, 1)},
    };
    for (const Row &r : rows) {
        r.change();
        const GfxImage &i = _gfx_get_img(r.img);
        EXPECT_EQ(R(i.rect), R(r.rect)) << r.name;
        EXPECT_EQ(R(i.shape), R(GfxRect(0, 0, r.rect.w, r.rect.h))) << r.name;
        EXPECT_EQ(i.tid, r.tid) << r.name;
    }
}

TEST(GfxAtlas, JsonRect) {
    struct Row {
        const char *name, *json;
        GfxRect want;
    } rows[] = {
        {"all keys", "{\"x\":1,\"y\":2.5,\"w\":30,\"h\":40}", {1, 2.5f, 30, 40}},
        {"missing keys are zero", "{\"w\":7}", {0, 0, 7, 0}},
        {"not a dict", "[1,2,3,4]", {0, 0, 0, 0}},
        {"number", "5", {0, 0, 0, 0}},
    };
    for (const Row &r : rows) {
        var v = json_decode(std::string(r.json));
        GfxRect got = _gfx_json_rect(v);
        EXPECT_TRUE(Near(got, r.want, 0)) << r.name << ": expected " << R(r.want) << " saw " << R(got);
    }
}

} // namespace
