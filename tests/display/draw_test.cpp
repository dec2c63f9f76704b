// Draw-command replay in a real window: rectangles, images and text are queued, replayed and read back as pixels.
#include <gtest/gtest.h>

#include <GL/gl.h>
#include <SDL.h>
#include <stb/stb_image.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "kiv_driver.h"
#include "kiv_font.h"
#include "kiv_font_int.h"
#include "kiv_gfx.h"
#include "kiv_glext.h"
#include "mods_gbatch.h"
#include "mods_gbatch_int.h"

#include "../gbatch_testutil.h"
#include "../stdout_testutil.h"

namespace {

const int W = 320, H = 240;

struct Px {
    int r, g, b;
};

class DrawTest : public ::testing::Test {
protected:
    static SDL_Window *win;
    static SDL_GLContext ctx;

    static void SetUpTestSuite() {
        ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
        SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
        win = SDL_CreateWindow("draw_test", 0, 0, W, H, SDL_WINDOW_OPENGL);
        ASSERT_NE(win, nullptr) << SDL_GetError();
        ctx = SDL_GL_CreateContext(win);
        ASSERT_NE(ctx, nullptr) << SDL_GetError();
        SDL_GL_MakeCurrent(win, ctx);
        SDL_GL_SetSwapInterval(0);
        kiv_glext_init();
        driver_init(0);
        driver_set_gamename("KivGame"); // data files from ./data of the build dir
        driver_set_size(W, H);
        glViewport(0, 0, W, H);
        gfx_init();
        gfx_set_size(W, H);
        gfx_atlas_load("sprites");
        font_init();
    }

    static void TearDownTestSuite() {
        font_deinit();
        gfx_deinit();
        driver_deinit();
        if (ctx)
            SDL_GL_DeleteContext(ctx);
        if (win)
            SDL_DestroyWindow(win);
        // No SDL_Quit: unloading the GL driver would show its own leftovers as leaks of an unknown module.
    }

    void SetUp() override {
        gfx_clear();
        gfx_ortho();
    }

    static void replay(const std::vector<GCommand> &cmds) {
        CBatch batch;
        batch.queue = cmds;
        batch.draw();
        glFinish();
    }

    static Px at(int x, int y) {
        unsigned char p[4] = {0, 0, 0, 0};
        glReadPixels(x, H - 1 - y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, p);
        return {p[0], p[1], p[2]};
    }
};

SDL_Window *DrawTest::win = nullptr;
SDL_GLContext DrawTest::ctx = nullptr;

using gbatchtest::image;
using gbatchtest::rect;
using gbatchtest::text;

std::string px_str(Px p) {
    return "(" + std::to_string(p.r) + ", " + std::to_string(p.g) + ", " + std::to_string(p.b) + ")";
}

bool near(Px a, Px b, int tol) {
    return abs(a.r - b.r) <= tol && abs(a.g - b.g) <= tol && abs(a.b - b.b) <= tol;
}

TEST_F(DrawTest, QueuedCommandsLandWhereExpected) {
    struct Probe {
        int x, y;
        Px expect;
    };
    struct Row {
        const char *name;
        std::vector<GCommand> cmds;
        std::vector<Probe> probes;
    };
    const Px black{0, 0, 0}, red{254, 0, 0}, green{0, 254, 0}, blue{0, 0, 254}, white{254, 254, 254};
    const Row rows[] = {
        {"opaque rect ignores the command's alpha",
         {rect(0xFF0000, 10, 10, 50, 30)},
         {{20, 20, {255, 0, 0}}, {59, 39, {255, 0, 0}}, {61, 20, black}, {20, 41, black}}},
        {"rect with a negative width covers x .. x + |w|",
         {rect(0x00FF00, 100, 10, -40, 20)},
         {{120, 20, {0, 255, 0}}, {139, 20, {0, 255, 0}}, {95, 20, black}, {141, 20, black}}},
        {"rect with zero width fills nothing", {rect(0xFFFFFF, 10, 10, 0, 20)}, {{10, 15, black}}},
        {"image quadrants",
         {image("quad", 0, 0, 64, 64)},
         {{16, 16, red}, {48, 16, green}, {16, 48, blue}, {48, 48, white}, {70, 16, black}}},
        {"negative width mirrors inside the same box",
         {image("quad", 0, 0, -64, 64)},
         {{16, 16, green}, {48, 16, red}, {16, 48, white}, {48, 48, blue}, {70, 16, black}}},
        {"rotate 90 turns counter-clockwise",
         {image("quad", 0, 0, 64, 64, 90)},
         {{16, 16, green}, {48, 16, white}, {16, 48, red}, {48, 48, blue}}},
        {"half alpha darkens over black",
         {image("quad", 0, 0, 64, 64, 0, 0xFFFFFF, 128)},
         {{16, 16, {127, 0, 0}}, {48, 48, {127, 127, 127}}}},
        {"colour tints", {image("quad", 0, 0, 64, 64, 0, 0x00FF00)}, {{48, 48, green}, {16, 16, black}}},
        {"negative alpha adds",
         {rect(0x0000FF, 0, 0, 64, 64), image("quad", 0, 0, 64, 64, 0, 0xFFFFFF, -255)},
         {{16, 16, {254, 0, 255}}, {48, 16, {0, 254, 255}}}},
        {"alpha 0 draws nothing visible",
         {rect(0x0000FF, 0, 0, 64, 64), image("quad", 0, 0, 64, 64, 0, 0xFFFFFF, 0)},
         {{16, 16, {0, 0, 255}}}},
        {"missing image draws nothing", {image("no_such_image", 0, 0, 64, 64)}, {{16, 16, black}}},
        {"atlas frames",
         {image("red", 100, 100, 16, 16), image("blue", 116, 100, 16, 16)},
         {{108, 108, red}, {124, 108, blue}, {140, 108, black}}},
        {"trimmed frame keeps its place in the untrimmed box",
         {image("ball", 0, 0, 64, 64)},
         {{32, 32, {254, 203, 0}}, {4, 4, black}, {60, 32, black}, {12, 32, {254, 203, 0}}}},
        {"later commands paint over earlier ones",
         {image("quad", 0, 0, 64, 64), rect(0x00FFFF, 32, 32, 32, 32)},
         {{16, 16, red}, {48, 48, {0, 255, 255}}}},
    };
    for (const Row &r : rows) {
        gfx_clear();
        replay(r.cmds);
        for (const Probe &p : r.probes) {
            Px got = at(p.x, p.y);
            EXPECT_TRUE(near(got, p.expect, 3)) << r.name << " at (" << p.x << ", " << p.y << "): expected "
                                                << px_str(p.expect) << ", saw " << px_str(got);
        }
    }
}

// Each glyph is drawn 1:1 from its page; the page is 200 x 80 pixels, padded to a 256 x 128 texture, so wrong
// texture coordinates show as a glyph that does not match its page pixels.
TEST_F(DrawTest, TextMatchesTheGlyphPage) {
    int fid = font_load("console", 24);
    ASSERT_NE(fid, 0);
    ASSERT_EQ(_font_get(fid)->scale, 1) << "console at 24 is drawn at its own pixel size";
    int pw = 0, ph = 0, comp = 0;
    unsigned char *page = stbi_load("data/console.png", &pw, &ph, &comp, 4);
    ASSERT_NE(page, nullptr);
    struct Row {
        const char *name;
        const char *s;
        int color, alpha;
        Px on;
        const char *font;
    };
    const Row rows[] = {
        {"white A", "A", 0xFFFFFF, 255, {254, 254, 254}, "console"},
        {"red K", "K", 0xFF0000, 255, {253, 0, 0}, "console"},
        {"half-alpha g", "g", 0xFFFFFF, 128, {127, 127, 127}, "console"},
        {"additive W over nothing", "W", 0x00FF00, -255, {0, 253, 0}, "console"},
        {"font named with its file suffix still finds its page", "Q", 0xFFFFFF, 255, {254, 254, 254}, "console.fnt"},
    };
    for (const Row &r : rows) {
        gfx_clear();
        replay({text(r.s, 100, 100, r.color, r.alpha, r.font)});
        unsigned char g = (unsigned char)r.s[0];
        // Font entries move when a new font is loaded: take the metrics afresh, as copies.
        const GfxRect gr = _font_get(fid)->rects[g], gs = _font_get(fid)->shapes[g];
        int lit = 0, bad = 0;
        for (int j = 0; j < (int)gr.h; j++)
            for (int i = 0; i < (int)gr.w; i++) {
                const unsigned char *src = page + (((int)gr.y + j) * pw + (int)gr.x + i) * 4;
                Px want = src[3] ? r.on : Px{0, 0, 0};
                Px got = at(100 + (int)gs.x + i, 100 + (int)gs.y + j);
                lit += src[3] ? 1 : 0;
                if (!near(got, want, 3) && bad++ < 3)
                    ADD_FAILURE() << r.name << ": glyph pixel (" << i << ", " << j << ") expected " << px_str(want)
                                  << ", saw " << px_str(got);
            }
        EXPECT_GT(lit, 10) << r.name << ": the glyph has pixels";
        EXPECT_EQ(bad, 0) << r.name;
        Px after = at(100 + (int)(gs.w) + 2, 100 + (int)gs.y + 1);
        EXPECT_TRUE(near(after, {0, 0, 0}, 0)) << r.name << ": nothing right of the advance, saw " << px_str(after);
    }
    stbi_image_free(page);
}

TEST_F(DrawTest, ImagesOfOneTextureShareDrawCalls) {
    struct Row {
        const char *name;
        std::vector<GCommand> cmds;
        int calls;
    };
    const Row rows[] = {
        {"three images, one texture",
         {image("quad", 0, 0, 8, 8), image("quad", 10, 0, 8, 8), image("quad", 20, 0, 8, 8)},
         1},
        {"text in between splits the run",
         {image("quad", 0, 0, 8, 8), text("x", 0, 50), image("quad", 10, 0, 8, 8)},
         2},
        {"a rect in between splits the run",
         {image("quad", 0, 0, 8, 8), rect(0xFFFFFF, 0, 50, 4, 4), image("quad", 10, 0, 8, 8)},
         2},
        {"additive between normal splits in three",
         {image("quad", 0, 0, 8, 8), image("quad", 0, 0, 8, 8, 0, 0xFFFFFF, -255), image("quad", 0, 0, 8, 8)},
         3},
        {"another texture splits",
         {image("quad", 0, 0, 8, 8), image("black", 0, 0, 8, 8), image("quad", 0, 0, 8, 8)},
         3},
        {"empty queue draws nothing", {}, 0},
    };
    GBatch &gb = _gbatch_get();
    for (const Row &r : rows) {
        int calls = 0;
        gb.observer = [&calls](const GBatch &) { calls++; };
        gfx_clear();
        replay(r.cmds);
        gb.observer = nullptr;
        EXPECT_EQ(calls, r.calls) << r.name;
    }
}

// A page is read from the font's own name; when it is missing and the font file names another page, the log
// says both, once for all sizes.
TEST_F(DrawTest, MissingPageNamesTheFontFilesPage) {
    char dir[] = "/tmp/kiv_fontpage_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    driver_set_altdir(dir);
    const char *rows[][3] = {// font, page line, the page the log names (empty: no line)
                             {"arcade", "page id=0 file=\"arcade 0.png\"", "arcade 0.png"},
                             {"pixel", "page id=0 file=pixel_page.png\r", "pixel_page.png"},
                             {"plain", "page id=0 file=\"plain.png\"", ""}};
    for (auto &r : rows) {
        std::string path = std::string(dir) + "/" + r[0] + ".fnt";
        FILE *f = fopen(path.c_str(), "w");
        ASSERT_NE(f, nullptr);
        fprintf(f, "common lineHeight=16 base=12 scaleW=64 scaleH=64\n%s\nchar id=65 width=8 height=8\n", r[1]);
        fclose(f);
        std::string log = stdouttest::capture_stdout([&] { font_load(r[0], 16), font_load(r[0], 32); });
        std::string want = std::string("font ") + r[0] + ": page image " + r[0] + ".png (or .tga, .jpg) not found;" +
                           " the font file names the page " + r[2] + ", but a font's page is read from the font's " +
                           "own name\n";
        size_t at = log.find(want);
        EXPECT_EQ(at != std::string::npos, r[2][0] != 0) << r[0] << ": " << log;
        EXPECT_TRUE(at == std::string::npos || log.find(want, at + 1) == std::string::npos) << r[0] << ": " << log;
        remove(path.c_str());
    }
    driver_set_altdir(nullptr);
    rmdir(dir);
}

} // namespace
