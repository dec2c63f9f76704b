// The batcher's fast paths against its plain path in a real window: a stress scene is replayed both ways and the
// frames are compared byte for byte.
#include <gtest/gtest.h>

#include <GL/gl.h>
#include <SDL.h>

#include <vector>

#include "kiv_driver.h"
#include "kiv_font.h"
#include "kiv_gfx.h"
#include "kiv_glext.h"
#include "mods_gbatch.h"
#include "mods_gbatch_int.h"

#include "../gbatch_testutil.h"

namespace {

const int W = 640, H = 480;
using gbatchtest::image;

std::vector<GCommand> stress_scene() {
    std::vector<GCommand> q;
    // Over 4,096 opaque quads 1:1 on whole pixels: a full batch and a remainder, each split into calls.
    for (int i = 0; i < 5000; i++)
        q.push_back(image("bench_opaque", (float)(i * 7 % 631), (float)(i * 13 % 471), 8, 8));
    const char *names[] = {"bench_opaque", "odd", "bench_sprite", "ball", "red", "quad"};
    for (int k = 0; k < 6; k++) {
        const char *n = names[k];
        float x = 20.0f + 100 * k, sw = k == 1 ? 13 : k == 2 || k == 3 || k == 5 ? 32 : k == 4 ? 16 : 8;
        float sh = k == 1 ? 7 : sw;
        q.push_back(image(n, x, 10, sw, sh));                           // 1:1, whole pixels
        q.push_back(image(n, x + 0.5f, 60.25f, sw, sh));                // fractional position
        q.push_back(image(n, x, 110, sw * 1.5f, sh * 2));               // scaled
        q.push_back(image(n, x, 160, sw / 2, sh / 2));                  // minified
        q.push_back(image(n, x, 210, sw, sh, 30));                      // rotated
        q.push_back(image(n, x, 260, -sw, sh));                         // mirrored
        q.push_back(image(n, x, 310, sw, -sh, 0, 0x80C0FF));            // mirrored, tinted
        q.push_back(image(n, x, 360, sw, sh, 0, 0xFFFFFF, 128));        // partial alpha
        q.push_back(image(n, x + 40, 360, sw, sh, 0, 0xFF8000, -200));  // additive
        q.push_back(image(n, x + 40, 10, sw, sh, 0, 0xFFFFFF, 255));    // 1:1 again after a texture change
        q.push_back(image(n, x + 40, 60, sw, sh, 0, 0x40FF40, 255));    // tinted 1:1
        q.push_back(image(n, x + 40, 410, sw, sh, 360, 0xFFFFFF, 255)); // rotated by a full turn
    }
    q.push_back(gbatchtest::text("Ag", 300, 420, 0xFFFF00, -255, "small"));
    q.push_back(gbatchtest::rect(0x336699, 500, 420, 40, 20));
    for (int i = 0; i < 50; i++)
        q.push_back(image("bench_opaque", (float)(400 + i), 440, 8, 8, 0, 0xFFFFFF, i % 2 ? 255 : 200));
    return q;
}

struct Frame {
    std::vector<unsigned char> px;
    int exact = 0, opaque = 0, white = 0;
};

Frame render(const std::vector<GCommand> &cmds, bool fast, float tx, float ty) {
    GBatch &gb = _gbatch_get();
    Frame f;
    gb.fast = fast;
    gb.observer = [&f](const GBatch &b) {
        f.exact += b.run_exact;
        f.opaque += b.run_opaque;
        f.white += b.run_white;
    };
    gfx_clear();
    gfx_ortho();
    gfx_translate(tx, ty);
    CBatch batch;
    batch.queue = cmds;
    batch.draw();
    glFinish();
    f.px.resize((size_t)W * H * 4);
    glReadPixels(0, 0, W, H, GL_RGBA, GL_UNSIGNED_BYTE, f.px.data());
    gb.observer = nullptr;
    gb.fast = true;
    return f;
}

TEST(GBatchPixels, FastPathsDrawTheSamePicture) {
    ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
    // The game's window: without a depth buffer the software rasteriser takes its rectangle paths.
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_Window *win = SDL_CreateWindow("gbatch_pixels_test", 0, 0, W, H, SDL_WINDOW_OPENGL);
    ASSERT_NE(win, nullptr) << SDL_GetError();
    SDL_GLContext ctx = SDL_GL_CreateContext(win);
    ASSERT_NE(ctx, nullptr) << SDL_GetError();
    kiv_glext_init();
    driver_init(0);
    driver_set_gamename("KivGame");
    driver_set_size(W, H);
    glViewport(0, 0, W, H);
    gfx_init();
    gfx_set_size(W, H);
    gfx_atlas_load("sprites");
    font_init();
    struct Row {
        const char *name;
        float tx, ty;
        bool exact; // whether 1:1 runs can sample nearest
    } rows[] = {
        {"window pixels", 0, 0, true},
        {"moved by whole pixels", 3, -2, true},
        {"moved by a fraction of a pixel", 0.5f, 0.25f, false},
    };
    std::vector<GCommand> scene = stress_scene();
    for (const Row &r : rows) {
        // Fast first: the first row then loads every texture in the middle of a fast replay.
        Frame fast = render(scene, true, r.tx, r.ty), plain = render(scene, false, r.tx, r.ty);
        size_t lit = 0, differ = 0, first = 0;
        for (size_t i = 0; i < plain.px.size(); i++) {
            lit += plain.px[i] != 0;
            if (plain.px[i] != fast.px[i] && !differ++)
                first = i;
        }
        EXPECT_GT(lit, (size_t)W * H) << r.name << ": the scene drew little";
        EXPECT_EQ(differ, 0u) << r.name << ": first differing byte at pixel (" << first / 4 % W << ", "
                              << H - 1 - (int)(first / 4 / W) << ")";
        EXPECT_EQ(fast.exact > 0, r.exact) << r.name;
        EXPECT_GT(fast.opaque, 0) << r.name;
        EXPECT_GT(fast.white, 0) << r.name;
    }
    font_deinit();
    gfx_deinit();
    driver_deinit();
    SDL_GL_DeleteContext(ctx);
    SDL_DestroyWindow(win);
}

} // namespace
