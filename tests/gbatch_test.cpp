// Triangle batcher: the vertices image commands turn into, and how pushed triangles split into draw calls.
#include <gtest/gtest.h>

#include <GL/gl.h>

#include <cmath>
#include <string>
#include <vector>

#include "gbatch_testutil.h"
#include "mods_gbatch.h"
#include "mods_gbatch_int.h"

namespace {

struct DrawRun {
    int tex, blend, tris;
    bool operator==(const DrawRun &o) const { return tex == o.tex && blend == o.blend && tris == o.tris; }
};
std::ostream &operator<<(std::ostream &os, const DrawRun &r) {
    return os << "{tex " << r.tex << ", blend " << r.blend << ", " << r.tris << " tris}";
}

// A batcher that records its runs instead of drawing them.
struct Recorder {
    GBatch b;
    std::vector<DrawRun> runs;
    std::vector<GTri> tris;
    Recorder() {
        b.draw_gl = false;
        b.observer = [this](const GBatch &g) {
            runs.push_back({g.tex, g.blend, (int)g.data.size()});
            tris.insert(tris.end(), g.data.begin(), g.data.end());
        };
    }
};

GCommand image(float x, float y, float w, float h, float rotate = 0, int color = 0xFFFFFF, int alpha = 255) {
    return gbatchtest::image("img", x, y, w, h, rotate, color, alpha);
}

// Corner of a quad in push order: the triangles are (TL, TR, BL), (TR, BL, BR).
struct Corners {
    float tl[2], tr[2], bl[2], br[2];
};

// Two decimals, and no "-0.00" from the rounding of sin and cos.
float r2(float v) {
    float r = std::round(v * 100) / 100;
    return r == 0 ? 0 : r;
}

std::string corners_str(const std::vector<GTri> &t) {
    if (t.size() != 2)
        return "(" + std::to_string(t.size()) + " triangles)";
    char b[256];
    snprintf(b, sizeof(b), "TL(%.2f,%.2f) TR(%.2f,%.2f) BL(%.2f,%.2f) BR(%.2f,%.2f)", r2(t[0].verts[0].vx),
             r2(t[0].verts[0].vy), r2(t[0].verts[1].vx), r2(t[0].verts[1].vy), r2(t[0].verts[2].vx),
             r2(t[0].verts[2].vy), r2(t[1].verts[2].vx), r2(t[1].verts[2].vy));
    return b;
}
std::string corners_str(const Corners &c) {
    char b[256];
    snprintf(b, sizeof(b), "TL(%.2f,%.2f) TR(%.2f,%.2f) BL(%.2f,%.2f) BR(%.2f,%.2f)", c.tl[0], c.tl[1], c.tr[0],
             c.tr[1], c.bl[0], c.bl[1], c.br[0], c.br[1]);
    return b;
}

TEST(GBatch, ImageCommandPositions) {
    struct Row {
        const char *name;
        GCommand cmd;
        bool trimmed; // a 16 x 16 frame at (4, 4) inside a 32 x 32 box
        Corners expect;
    };
    const Row rows[] = {
        {"plain", image(10, 20, 100, 50), false, {{10, 20}, {110, 20}, {10, 70}, {110, 70}}},
        {"negative width mirrors over x..x+|w|",
         image(10, 20, -100, 50),
         false,
         {{110, 20}, {10, 20}, {110, 70}, {10, 70}}},
        {"negative height mirrors over y..y+|h|",
         image(10, 20, 100, -50),
         false,
         {{10, 70}, {110, 70}, {10, 20}, {110, 20}}},
        {"trim offset scaled into the box", image(0, 0, 64, 64), true, {{8, 8}, {40, 8}, {8, 40}, {40, 40}}},
        {"mirrored trimmed frame keeps its place mirrored",
         image(0, 0, -64, 64),
         true,
         {{56, 8}, {24, 8}, {56, 40}, {24, 40}}},
        {"rotate 90 turns counter-clockwise on a y-down screen",
         image(0, 0, 20, 10, 90),
         false,
         {{5, 15}, {5, -5}, {15, 15}, {15, -5}}},
        {"rotate 360 is the rotated path without trim offsets",
         image(0, 0, 64, 64, 360),
         true,
         {{0, 0}, {64, 0}, {0, 64}, {64, 64}}},
        {"rotate 180 with a negative width flips upside down",
         image(0, 0, -20, 10, 180),
         false,
         {{0, 10}, {20, 10}, {0, 0}, {20, 0}}},
    };
    for (const Row &r : rows) {
        Recorder rec;
        GfxImage img{};
        img.rect = r.trimmed ? GfxRect(16, 0, 16, 16) : GfxRect(0, 0, 32, 32);
        img.shape = r.trimmed ? GfxRect(4, 4, 32, 32) : GfxRect(0, 0, 32, 32);
        GfxTexture tex{};
        tex.tex = 7;
        tex.rect = GfxRect(0, 0, 64, 64);
        _batch_img_cmd(rec.b, r.cmd, img, tex);
        rec.b.flush();
        EXPECT_EQ(corners_str(rec.tris), corners_str(r.expect)) << r.name;
    }
}

TEST(GBatch, ImageCommandColourBlendAndTexture) {
    struct Row {
        const char *name;
        GCommand cmd;
        int blend;
        unsigned char rgba[4];
        size_t tris;
    };
    const Row rows[] = {
        {"opaque white", image(0, 0, 8, 8, 0, 0xFFFFFF, 255), GL_ONE_MINUS_SRC_ALPHA, {255, 255, 255, 255}, 2},
        {"colour premultiplied by alpha",
         image(0, 0, 8, 8, 0, 0x8040FF, 128),
         GL_ONE_MINUS_SRC_ALPHA,
         {64, 32, 128, 128},
         2},
        {"alpha 0 draws nothing visible", image(0, 0, 8, 8, 0, 0xFFFFFF, 0), GL_ONE_MINUS_SRC_ALPHA, {0, 0, 0, 0}, 2},
        {"negative alpha is additive at that strength",
         image(0, 0, 8, 8, 0, 0xFF0000, -255),
         GL_ONE,
         {255, 0, 0, 255},
         2},
        {"negative alpha halves", image(0, 0, 8, 8, 0, 0x00FF00, -128), GL_ONE, {0, 128, 0, 128}, 2},
        {"alpha above 255 saturates",
         image(0, 0, 8, 8, 0, 0xFFFFFF, 300),
         GL_ONE_MINUS_SRC_ALPHA,
         {255, 255, 255, 255},
         2},
        {"alpha below -255 saturates", image(0, 0, 8, 8, 0, 0xFFFFFF, -1000000), GL_ONE, {255, 255, 255, 255}, 2},
        {"top colour byte ignored",
         image(0, 0, 8, 8, 0, (int)0xFF0000FF, 255),
         GL_ONE_MINUS_SRC_ALPHA,
         {0, 0, 255, 255},
         2},
        {"rotated keeps the colour",
         image(0, 0, 8, 8, 45, 0x8040FF, 128),
         GL_ONE_MINUS_SRC_ALPHA,
         {64, 32, 128, 128},
         2},
        {"zero width draws nothing", image(0, 0, 0, 8), 0, {0, 0, 0, 0}, 0},
        {"zero height draws nothing", image(0, 0, 8, 0), 0, {0, 0, 0, 0}, 0},
    };
    for (const Row &r : rows) {
        Recorder rec;
        GfxImage img{};
        img.rect = GfxRect(16, 32, 16, 32);
        img.shape = GfxRect(0, 0, 16, 32);
        GfxTexture tex{};
        tex.tex = 9;
        tex.rect = GfxRect(0, 0, 64, 128);
        _batch_img_cmd(rec.b, r.cmd, img, tex);
        rec.b.flush();
        ASSERT_EQ(rec.tris.size(), r.tris) << r.name;
        if (!r.tris)
            continue;
        ASSERT_EQ(rec.runs.size(), 1u) << r.name;
        EXPECT_EQ(rec.runs[0].tex, 9) << r.name;
        EXPECT_EQ(rec.runs[0].blend, r.blend) << r.name;
        for (const GTri &t : rec.tris)
            for (const GVert &v : t.verts) {
                EXPECT_EQ((int)v.r, r.rgba[0]) << r.name;
                EXPECT_EQ((int)v.g, r.rgba[1]) << r.name;
                EXPECT_EQ((int)v.b, r.rgba[2]) << r.name;
                EXPECT_EQ((int)v.a, r.rgba[3]) << r.name;
            }
        // Texture coordinates: the image's rectangle in fractions of the GL texture, TL and BR corners.
        EXPECT_FLOAT_EQ(rec.tris[0].verts[0].tx, 0.25f) << r.name;
        EXPECT_FLOAT_EQ(rec.tris[0].verts[0].ty, 0.25f) << r.name;
        EXPECT_FLOAT_EQ(rec.tris[1].verts[2].tx, 0.5f) << r.name;
        EXPECT_FLOAT_EQ(rec.tris[1].verts[2].ty, 0.5f) << r.name;
    }
}

TEST(GBatch, BrokenImagesDrawNothingSensibly) {
    GfxImage empty{};
    GfxImage img{};
    img.rect = img.shape = GfxRect(0, 0, 8, 8);
    GfxTexture tex{};
    struct Row {
        const char *name;
        GfxImage *img;
        float rotate;
        size_t tris;
    } rows[] = {
        {"an image without a logical size has nothing to scale", &empty, 0, 0},
        {"rotated, an image without a logical size draws no blank box", &empty, 90, 0},
        {"rotated by a full turn, still nothing", &empty, 360, 0},
        {"a texture without a size still draws its quad", &img, 0, 2},
        {"rotated, a texture without a size still draws its quad", &img, 45, 2},
    };
    for (const Row &r : rows) {
        Recorder rec;
        _batch_img_cmd(rec.b, image(0, 0, 10, 10, r.rotate), *r.img, tex);
        rec.b.flush();
        ASSERT_EQ(rec.tris.size(), r.tris) << r.name;
        for (const GTri &t : rec.tris)
            for (const GVert &v : t.verts)
                EXPECT_TRUE(std::isfinite(v.tx) && std::isfinite(v.ty) && v.tx == 0 && v.ty == 0)
                    << r.name << ": a texture without a size gives zero coordinates, saw " << v.tx << "," << v.ty;
    }
}

TEST(GBatch, RunsSplitByTextureBlendAndSize) {
    struct Push {
        int tex, blend, count;
    };
    struct Row {
        const char *name;
        std::vector<Push> pushes; // -1 tex means an explicit flush
        std::vector<DrawRun> runs;
    };
    const int A = GL_ONE_MINUS_SRC_ALPHA, ADD = GL_ONE;
    const Row rows[] = {
        {"one texture one blend is one call", {{3, A, 10}}, {{3, A, 10}}},
        {"texture change splits", {{3, A, 2}, {4, A, 2}, {3, A, 2}}, {{3, A, 2}, {4, A, 2}, {3, A, 2}}},
        {"blend change splits", {{3, A, 2}, {3, ADD, 2}}, {{3, A, 2}, {3, ADD, 2}}},
        {"a flush in between (text) splits", {{3, A, 2}, {-1, 0, 0}, {3, A, 2}}, {{3, A, 2}, {3, A, 2}}},
        {"8192 triangles are drawn at once", {{3, A, 8192}}, {{3, A, 8192}}},
        {"the 8193rd starts a new call", {{3, A, 8193}}, {{3, A, 8192}, {3, A, 1}}},
        {"8191 stay pending until the flush", {{3, A, 8191}}, {{3, A, 8191}}},
        {"two full batches", {{5, ADD, 16384}}, {{5, ADD, 8192}, {5, ADD, 8192}}},
        {"texture 0 batches like any other", {{0, A, 2}, {0, A, 2}}, {{0, A, 4}}},
        {"empty flushes draw nothing", {{-1, 0, 0}, {-1, 0, 0}}, {}},
    };
    for (const Row &r : rows) {
        Recorder rec;
        GTri t{};
        for (const Push &p : r.pushes) {
            if (p.tex < 0)
                rec.b.flush();
            for (int i = 0; i < p.count; i++)
                rec.b.push(p.tex, t, p.blend);
        }
        rec.b.flush();
        EXPECT_EQ(rec.runs, r.runs) << r.name;
        EXPECT_TRUE(rec.b.data.empty()) << r.name;
        EXPECT_EQ(rec.b.tex, 0) << r.name << ": the texture is forgotten after a flush";
    }
}

TEST(GBatch, RectCommandArea) {
    struct Row {
        const char *name;
        float x, y, w, h;
        bool fills;
        GfxRect expect;
    };
    const Row rows[] = {
        {"plain", 10, 20, 30, 40, true, GfxRect(10, 20, 30, 40)},
        {"negative width covers x .. x + |w|", 10, 20, -30, 40, true, GfxRect(10, 20, 30, 40)},
        {"negative height covers y .. y + |h|", 10, 20, 30, -40, true, GfxRect(10, 20, 30, 40)},
        {"zero width fills nothing", 10, 20, 0, 40, false, GfxRect()},
        {"zero height fills nothing", 10, 20, 30, 0, false, GfxRect()},
    };
    for (const Row &r : rows) {
        GCommand c = gbatchtest::rect(0, r.x, r.y, r.w, r.h);
        GfxRect got;
        EXPECT_EQ(_batch_rect_cmd(c, &got), r.fills) << r.name;
        EXPECT_EQ(got.x, r.expect.x) << r.name;
        EXPECT_EQ(got.y, r.expect.y) << r.name;
        EXPECT_EQ(got.w, r.expect.w) << r.name;
        EXPECT_EQ(got.h, r.expect.h) << r.name;
    }
}

float turn(const GTri &t) {
    const GVert &a = t.verts[0], &b = t.verts[1], &c = t.verts[2];
    return (b.vx - a.vx) * (c.vy - a.vy) - (b.vy - a.vy) * (c.vx - a.vx);
}

// Both triangles of every quad turn alike on the fast path (the plain path keeps its mixed order), and a run is
// handed to GL in calls of at most 682 quads.
TEST(GBatch, WindingAndCallLengths) {
    for (bool fast : {true, false}) {
        Recorder rec;
        rec.b.fast = fast;
        GfxImage img{};
        img.rect = img.shape = GfxRect(0, 0, 8, 8);
        GfxTexture tex{};
        tex.tex = 3;
        _batch_img_cmd(rec.b, image(5, 5, 8, 8), img, tex);
        _batch_img_cmd(rec.b, image(5, 5, -8, 8, 30), img, tex);
        rec.b.flush();
        ASSERT_EQ(rec.tris.size(), 4u);
        for (int q = 0; q < 2; q++)
            EXPECT_EQ(turn(rec.tris[2 * q]) * turn(rec.tris[2 * q + 1]) > 0, fast) << "fast " << fast << " quad " << q;
    }
    struct Row {
        int tris;
        bool fast;
        std::vector<int> calls;
    } rows[] = {
        {2, true, {2}},          {1364, true, {1364}},
        {1366, true, {1364, 2}}, {8192, true, {1364, 1364, 1364, 1364, 1364, 1364, 8}},
        {8192, false, {8192}},
    };
    for (const Row &r : rows)
        EXPECT_EQ(GBatch::call_lengths(r.tris, r.fast), r.calls) << r.tris << " triangles, fast " << r.fast;
}

} // namespace
