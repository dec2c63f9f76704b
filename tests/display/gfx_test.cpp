// Graphics on a real GL context (Xvfb + Mesa): texture upload, the texture and image tables, atlases, and pixels
// of blits, fills, clipping, nine-slices and tiles read back before the swap.
#include <gtest/gtest.h>

#include <SDL.h>
#include <utime.h>
#include <stb_image_write.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "kiv_driver.h"
#include "kiv_driver_int.h"
#include "kiv_gfx.h"
#include "kiv_gfx_int.h"
#include "kiv_glext.h"

namespace {

const int W = 256, H = 256;

struct Px {
    unsigned char r, g, b, a = 255;
};

std::string P(const Px &p) {
    char b[64];
    snprintf(b, sizeof(b), "(%d,%d,%d)", p.r, p.g, p.b);
    return b;
}

class GfxDisplay : public ::testing::Test {
protected:
    static SDL_Window *win;
    static SDL_GLContext ctx;
    static std::string dir;

    static void SetUpTestSuite() {
        ASSERT_EQ(0, SDL_Init(SDL_INIT_VIDEO)) << SDL_GetError();
        SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
        SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, 8);
        win = SDL_CreateWindow("gfx", 0, 0, W, H, SDL_WINDOW_OPENGL);
        ASSERT_NE(nullptr, win) << SDL_GetError();
        ctx = SDL_GL_CreateContext(win);
        ASSERT_NE(nullptr, ctx) << SDL_GetError();
        kiv_glext_init();
        char tmpl[] = "/tmp/kiv_gfx_XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(tmpl));
        dir = tmpl;
    }
    static void TearDownTestSuite() {
        std::string cmd = "rm -rf '" + dir + "'";
        EXPECT_EQ(0, system(cmd.c_str()));
        SDL_GL_DeleteContext(ctx);
        SDL_DestroyWindow(win);
        // SDL_Quit would unload the GL driver, whose own leftovers then show as leaks of an unknown module.
    }
    void SetUp() override {
        driver_init(0);
        driver_set_altdir(dir.c_str());
        driver_set_size(W, H);
        gfx_init();
        gfx_set_size(W, H);
        gfx_set_ortho_near_far(-1000, 1000);
        glViewport(0, 0, W, H);
        Frame();
    }
    void TearDown() override {
        gfx_deinit();
        driver_deinit();
    }
    void Frame() {
        gfx_clear();
        gfx_ortho();
    }
    struct Probe {
        const char *name;
        int x, y;
        Px want;
    };
    // Every probe's pixel must show exactly its colour.
    void ExpectPixels(const std::vector<Probe> &probes) {
        for (const Probe &r : probes) {
            Px p = At(r.x, r.y);
            EXPECT_TRUE(p.r == r.want.r && p.g == r.want.g && p.b == r.want.b)
                << r.name << ": expected " << P(r.want) << " saw " << P(p);
        }
    }
    Px At(int x, int y) {
        glFinish();
        Px p;
        glReadPixels(x, H - 1 - y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, &p);
        return p;
    }
    std::string Path(const std::string &name) { return dir + "/" + name; }
    // Writes a PNG whose pixels come from f(x, y).
    template <class F> void Png(const std::string &name, int w, int h, F f) {
        std::vector<Px> px((size_t)w * h);
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++)
                px[(size_t)y * w + x] = f(x, y);
        ASSERT_NE(0, stbi_write_png(Path(name).c_str(), w, h, 4, px.data(), w * 4)) << name;
    }
    void Text(const std::string &name, const std::string &text) {
        FILE *f = fopen(Path(name).c_str(), "wb");
        ASSERT_NE(nullptr, f);
        fwrite(text.data(), 1, text.size(), f);
        fclose(f);
    }
    void SetNearest(int tid) {
        GfxTexture &t = _gfx_get_tex(tid);
        t.tex_filter_min = t.tex_filter_mag = GL_NEAREST;
        glBindTexture(GL_TEXTURE_2D, t.tex);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    }
};
SDL_Window *GfxDisplay::win = nullptr;
SDL_GLContext GfxDisplay::ctx = nullptr;
std::string GfxDisplay::dir;

const Px kRed = {255, 0, 0, 255}, kGreen = {0, 255, 0, 255}, kBlue = {0, 0, 255, 255}, kWhite = {255, 255, 255, 255};

// Quadrants of red, green, blue and half-transparent white.
Px Quadrants(int x, int y, int w, int h) {
    if (y < h / 2)
        return x < w / 2 ? kRed : kGreen;
    return x < w / 2 ? kBlue : Px{255, 255, 255, 128};
}

TEST_F(GfxDisplay, BlitOneToOne) {
    Png("quad.png", 40, 20, [](int x, int y) { return Quadrants(x, y, 40, 20); });
    int img = gfx_img_load("quad");
    ASSERT_NE(0, img);
    EXPECT_EQ(40, gfx_img_get_width(img));
    EXPECT_EQ(20, gfx_img_get_height(img));
    EXPECT_FLOAT_EQ(2.0f, gfx_img_get_ratio(img));
    gfx_img_blit(img, 10, 30, 0, 0);
    ExpectPixels({
        {"top left red", 10, 30, {254, 0, 0}},
        {"red edge", 29, 39, {254, 0, 0}},
        {"green", 30, 30, {0, 254, 0}},
        {"blue", 12, 49, {0, 0, 254}},
        {"premultiplied half white over black", 40, 45, {127, 127, 127}},
        {"left of the image", 9, 30, {0, 0, 0}},
        {"below the image", 10, 50, {0, 0, 0}},
        {"right of the image", 50, 35, {0, 0, 0}},
    });
}

TEST_F(GfxDisplay, FillAndClip) {
    struct Op {
        unsigned color;
        float x, y, w, h;
        bool clip;
    };
    struct Row {
        const char *name;
        Op op;
        int px, py;
        Px want;
    } rows[] = {
        {"opaque red", {0xFF0000, 10, 10, 20, 20, false}, 15, 15, {255, 0, 0}},
        {"top byte ignored", {0x80FF0000u, 10, 10, 20, 20, false}, 29, 29, {255, 0, 0}},
        {"outside the fill", {0x00FF00, 10, 10, 20, 20, false}, 30, 30, {0, 0, 0}},
        {"clipped away", {0x0000FF, 0, 0, 100, 100, true}, 60, 60, {0, 0, 0}},
        {"inside the clip", {0x0000FF, 0, 0, 100, 100, true}, 49, 49, {0, 0, 255}},
        {"NaN size draws nothing",
         {0xFFFFFF, 0, 0, std::numeric_limits<float>::quiet_NaN(), 100, false},
         5,
         5,
         {0, 0, 0}},
    };
    for (const Row &r : rows) {
        Frame();
        if (r.op.clip)
            gfx_clip(40, 40, 10, 10);
        gfx_fill(r.op.color, r.op.x, r.op.y, r.op.w, r.op.h);
        if (r.op.clip)
            gfx_unclip();
        Px p = At(r.px, r.py);
        EXPECT_TRUE(p.r == r.want.r && p.g == r.want.g && p.b == r.want.b)
            << r.name << ": expected " << P(r.want) << " saw " << P(p);
        GLfloat c[4];
        glGetFloatv(GL_CURRENT_COLOR, c);
        EXPECT_TRUE(c[0] == 1 && c[1] == 1 && c[2] == 1 && c[3] == 1) << r.name << ": draw colour not reset to white";
    }
}

TEST_F(GfxDisplay, ViewTransformMatchesConversion) {
    struct Row {
        const char *name;
        int sw, sh;
        float orient, scale;
        int shx, shy;
    } rows[] = {
        {"identity", 256, 256, 0, 1, 0, 0},    {"half size doubled", 128, 128, 0, 2, 0, 0},
        {"rotated 90", 256, 256, 90, 1, 0, 0}, {"rotated 30 scaled", 200, 100, 30, 1.5f, 0, 0},
        {"shifted", 256, 256, 0, 1, 20, -10},  {"wide screen zoomed out", 512, 256, 0, 0.5f, 0, 0},
    };
    for (const Row &r : rows) {
        gfx_set_size(r.sw, r.sh);
        gfx_set_orient(r.orient);
        gfx_set_scale(r.scale);
        gfx_set_shift(r.shx, r.shy);
        Frame();
        // A 16-unit square at a quarter of the screen: its centre must land where the conversion says.
        float vx = r.sw / 4.0f, vy = r.sh / 4.0f;
        gfx_fill(0xFF0000, vx - 8, vy - 8, 16, 16);
        GfxRect in = gfx_pos_to_hwpos(GfxRect(vx, vy, 0, 0));
        GfxRect out = gfx_pos_to_hwpos(GfxRect(vx + 24, vy + 24, 0, 0));
        Px p = At((int)in.x, (int)in.y), q = At((int)out.x, (int)out.y);
        EXPECT_EQ(255, p.r) << r.name << ": centre at " << in.x << "," << in.y << " is " << P(p);
        EXPECT_EQ(0, q.r) << r.name << ": outside at " << out.x << "," << out.y << " is " << P(q);
    }
}

TEST_F(GfxDisplay, QuadCornersKeepOrientation) {
    Png("updown.png", 64, 64, [](int, int y) { return y < 32 ? kRed : kGreen; });
    int img = gfx_img_load("updown");
    ASSERT_NE(0, img);
    int gl = gfx_img_get_tex(img);
    struct Row {
        const char *name;
        bool whole_texture;
    } rows[] = {{"image quad", false}, {"texture quad", true}};
    for (const Row &r : rows) {
        Frame();
        // Corners bottom-left, bottom-right, top-left, top-right.
        if (r.whole_texture)
            gfx_tex_quad(gl, 10, 74, 0, 74, 74, 0, 10, 10, 0, 74, 10, 0);
        else
            gfx_img_quad(img, 10, 74, 0, 74, 74, 0, 10, 10, 0, 74, 10, 0);
        Px top = At(40, 20), bottom = At(40, 64);
        EXPECT_TRUE(top.r == 254 && top.g == 0) << r.name << ": top " << P(top);
        EXPECT_TRUE(bottom.r == 0 && bottom.g == 254) << r.name << ": bottom " << P(bottom);
    }
}

TEST_F(GfxDisplay, NineSliceGrid) {
    const Px grid[9] = {kRed,
                        kGreen,
                        kBlue,
                        {255, 255, 0, 255},
                        {0, 255, 255, 255},
                        {255, 0, 255, 255},
                        {128, 0, 0, 255},
                        {0, 128, 0, 255},
                        {0, 0, 128, 255}};
    Png("grid.png", 30, 30, [&](int x, int y) { return grid[(y / 10) * 3 + x / 10]; });
    int img = gfx_img_load("grid");
    ASSERT_NE(0, img);
    SetNearest(_gfx_get_img(img).tid);
    gfx_img_box(img, 20, 20, 100, 40, 10);
    // Box 100 x 40 with 10 x 10 corners: columns 20-29, 30-109, 110-119; rows 20-29, 30-49, 50-59.
    const int cx[3] = {24, 70, 115}, cy[3] = {24, 40, 55};
    for (int r = 0; r < 3; r++)
        for (int c = 0; c < 3; c++) {
            Px p = At(cx[c], cy[r]);
            Px w = grid[r * 3 + c];
            // Premultiplying scales every opaque channel by 255/256.
            Px want = {(unsigned char)(w.r * 255 >> 8), (unsigned char)(w.g * 255 >> 8),
                       (unsigned char)(w.b * 255 >> 8), 255};
            EXPECT_TRUE(p.r == want.r && p.g == want.g && p.b == want.b)
                << "cell " << r << "," << c << ": expected " << P(want) << " saw " << P(p);
        }
    Px outside = At(121, 40);
    EXPECT_EQ(0, outside.r + outside.g + outside.b) << "right of the box: " << P(outside);
    // A zero corner size or zero box draws nothing and does not divide by zero.
    Frame();
    gfx_img_box(img, 20, 20, 100, 40, 0);
    gfx_img_box(img, 20, 20, 0, 40, 10);
    gfx_img_box(0, 20, 20, 100, 40, 10);
    Px p = At(24, 24);
    EXPECT_EQ(0, p.r + p.g + p.b) << P(p);
}

TEST_F(GfxDisplay, TilesAreCutByTheirBox) {
    Png("tile.png", 16, 16, [](int x, int y) { return x < 8 ? kRed : kGreen; });
    int img = gfx_img_load("tile");
    ASSERT_NE(0, img);
    SetNearest(_gfx_get_img(img).tid);
    gfx_img_tile(img, 0, 0, 40, 40, 16);
    gfx_img_tile(img, 100, 100, 40, 40, 0);
    gfx_img_tile(img, 100, 100, 40, 40, -3);
    gfx_img_tile(img, 100, 100, 2000000000, 2000000000, 1); // refused, not drawn for hours
    ExpectPixels({
        {"first tile left", 2, 2, {254, 0, 0}},
        {"first tile right", 10, 2, {0, 254, 0}},
        {"third tile cut", 34, 34, {254, 0, 0}},
        {"right of the box", 41, 34, {0, 0, 0}},
        {"below the box", 34, 41, {0, 0, 0}},
        {"zero tile size", 110, 110, {0, 0, 0}},
    });
}

TEST_F(GfxDisplay, TextureNineSliceSlowIsFinite) {
    Png("slow.png", 64, 64, [](int, int) { return kBlue; });
    int tid = gfx_tex_load("slow");
    ASSERT_NE(0, tid);
    int gl = gfx_tex_get_id(tid);
    gfx_tex_box_slow(gl, 0, 0, 50, 50, 0);
    gfx_tex_box_slow(gl, 0, 0, 50, 50, -4);
    gfx_tex_box_slow(gl, 60, 60, 50, 50, 16);
    gfx_tex_box(gl, 120, 0, 50, 50, 10);
    Px p = At(5, 5);
    EXPECT_EQ(0, p.b) << "zero tile size drew " << P(p);
    p = At(100, 100);
    EXPECT_EQ(254, p.b) << "tiled box: " << P(p);
    p = At(145, 25);
    EXPECT_EQ(254, p.b) << "stretched box: " << P(p);
}

TEST_F(GfxDisplay, SuffixSearchAndCache) {
    ASSERT_NE(0, stbi_write_tga(Path("hero.tga").c_str(), 1, 1, 4, &kRed));
    Png("hero.png", 1, 1, [](int, int) { return kGreen; });
    Png("only.png.jpg", 2, 2, [](int, int) { return kBlue; }); // a PNG under a doubled name: content decides
    struct Row {
        const char *name, *file;
        bool found;
    } rows[] = {
        {"hero", "hero.tga", true},         {"hero.png", "hero.png", true}, {"hero.tga", "hero.tga", true},
        {"only.png", "only.png.jpg", true}, {"absent", "", false},
    };
    for (const Row &r : rows) {
        int tid = gfx_tex_load(r.name);
        EXPECT_EQ(r.found, tid != 0) << r.name;
        if (!tid)
            continue;
        std::string f = _gfx_get_tex(tid).tex_fname;
        EXPECT_EQ(Path(r.file), f) << r.name;
        EXPECT_EQ(tid, gfx_tex_load(r.name)) << r.name << ": a second load gives the same id";
        EXPECT_STREQ(r.name, _gfx_get_tex(tid).name) << r.name;
    }
    // A miss is cached: the file appearing later is not searched for.
    Png("absent.png", 1, 1, [](int, int) { return kRed; });
    EXPECT_EQ(0, gfx_tex_load("absent"));
    // A name longer than the slot holds is not found rather than registered cut.
    std::string longname(80, 'n');
    Png(longname.substr(0, 63) + ".png", 1, 1, [](int, int) { return kRed; });
    Png(longname + ".png", 1, 1, [](int, int) { return kRed; });
    EXPECT_EQ(0, gfx_tex_load(longname.c_str()));
    EXPECT_NE(0, gfx_tex_load(longname.substr(0, 63).c_str()));
}

TEST_F(GfxDisplay, MissingImageKeepsDummyClean) {
    EXPECT_EQ(0, gfx_img_load("ghost"));
    EXPECT_EQ(0, gfx_img_load("ghost")) << "cached miss";
    Png("real.png", 4, 4, [](int, int) { return kRed; });
    int real = gfx_img_load("real");
    ASSERT_NE(0, real);
    int ghost = gfx_img_add("ghost", _gfx_get_img(real).tid, GfxRect(0, 0, 4, 4), GfxRect(0, 0, 4, 4));
    EXPECT_NE(0, ghost) << "a name cached as missing gets an entry of its own";
    EXPECT_EQ(ghost, gfx_img_load("ghost"));
    const GfxImage &dummy = _gfx_get_img(0);
    EXPECT_TRUE(dummy.tid == 0 && dummy.shape.w == 0 && dummy.rect.w == 0) << "the dummy entry was written";
    gfx_img_blit(0, 0, 0, 50, 50);
    Px p = At(10, 10);
    EXPECT_EQ(0, p.r) << "image 0 drew " << P(p);
}

TEST_F(GfxDisplay, Atlas) {
    Png("sheet.png", 64, 32, [](int x, int) { return x < 32 ? kRed : kGreen; });
    Text("sheet.json", R"({"frames":{
        "left.png":{"frame":{"x":0,"y":0,"w":32,"h":32},"spriteSourceSize":{"x":0,"y":0,"w":32,"h":32},
                    "sourceSize":{"w":32,"h":32}},
        "right.png":{"frame":{"x":32,"y":0,"w":16,"h":16},"spriteSourceSize":{"x":4,"y":8,"w":16,"h":16},
                     "sourceSize":{"w":24,"h":24}},
        "odd":5}})");
    // The texture is in use as a plain image before its atlas is loaded.
    int sheet = gfx_img_load("sheet");
    ASSERT_NE(0, sheet);
    gfx_atlas_load("sheet");
    int left = gfx_img_load("left"), right = gfx_img_load("right");
    ASSERT_NE(0, left);
    ASSERT_NE(0, right);
    EXPECT_EQ(24, gfx_img_get_width(right));
    GfxTexture &t = _gfx_get_tex(_gfx_get_img(right).tid);
    EXPECT_EQ(Path("sheet.json"), std::string(t.atlas_fname)) << "the description is read from where it was found";
    SetNearest(_gfx_get_img(right).tid);
    gfx_img_blit(right, 100, 100, 0, 0);
    ExpectPixels({
        {"trim offset left empty", 101, 101, {0, 0, 0}},
        {"frame at its offset", 104, 108, {0, 254, 0}},
        {"frame end", 119, 123, {0, 254, 0}},
        {"past the frame", 120, 123, {0, 0, 0}},
    });
    // A reload keeps the ids and takes the new rectangles.
    Text("sheet.json", R"({"frames":{"right.png":{"frame":{"x":32,"y":0,"w":8,"h":8},
        "spriteSourceSize":{"x":0,"y":0,"w":8,"h":8},"sourceSize":{"w":8,"h":8}}}})");
    std::string fname = t.atlas_fname;
    gfx_atlas_reload(_gfx_get_img(right).tid, fname.c_str());
    EXPECT_EQ(right, gfx_img_load("right"));
    EXPECT_EQ(8, gfx_img_get_width(right));
    EXPECT_EQ(left, gfx_img_load("left")) << "a frame gone from the file keeps its entry";
    // A description is read from the path given, not looked up again by its base name.
    ASSERT_EQ(0, system(("mkdir -p '" + Path("sub") + "'").c_str()));
    Text("sub/other.json", R"({"frames":{"elsewhere.png":{"frame":{"x":0,"y":0,"w":4,"h":4},
        "spriteSourceSize":{"x":0,"y":0,"w":4,"h":4},"sourceSize":{"w":4,"h":4}}}})");
    gfx_atlas_reload(_gfx_get_img(right).tid, Path("sub/other.json").c_str());
    EXPECT_EQ(4, gfx_img_get_width(gfx_img_load("elsewhere")));
    // No description, no texture, broken text: nothing registered, nothing crashes.
    Png("plain.png", 4, 4, [](int, int) { return kRed; });
    gfx_atlas_load("plain");
    gfx_atlas_load("no_such_sheet");
    Png("broken.png", 4, 4, [](int, int) { return kRed; });
    Text("broken.json", "{\"frames\":{\"x.png\":");
    gfx_atlas_load("broken");
    EXPECT_EQ(0, gfx_img_load("x"));
}

TEST_F(GfxDisplay, UploadPadsAndPremultiplies) {
    struct Row {
        const char *name;
        int w, h;
        bool down;
        int want_w, want_h, want_tw, want_th, want_levels;
    } rows[] = {
        {"100 x 30 pads", 100, 30, false, 100, 30, 128, 64, 7},
        {"64 x 64 as is", 64, 64, false, 64, 64, 64, 64, 6},
        {"256 x 256", 256, 256, false, 256, 256, 256, 256, 8},
        {"256 x 64 keeps halving the long side", 256, 64, false, 256, 64, 256, 64, 8},
        {"5000 x 10 keeps its width", 5000, 10, false, 5000, 10, 5000, 64, 12},
        {"halving asked: 512 x 512", 512, 512, true, 256, 256, 256, 256, 8},
        {"halving asked: 64 x 1024 stays", 64, 1024, true, 64, 1024, 64, 1024, 10},
    };
    for (const Row &r : rows) {
        std::vector<unsigned char> px((size_t)r.w * r.h * 4);
        for (int y = 0; y < r.h; y++)
            for (int x = 0; x < r.w; x++) {
                unsigned char *q = &px[((size_t)y * r.w + x) * 4];
                q[0] = (unsigned char)(x * 2);
                q[1] = (unsigned char)(y * 8);
                q[2] = 255;
                q[3] = 255;
            }
        int w = 0, h = 0, tw = 0, th = 0;
        int tex = _driver_tex_upload(px.data(), r.w, r.h, r.down, &w, &h, &tw, &th);
        ASSERT_NE(0, tex) << r.name;
        EXPECT_EQ(r.want_w, w) << r.name;
        EXPECT_EQ(r.want_h, h) << r.name;
        EXPECT_EQ(r.want_tw, tw) << r.name;
        EXPECT_EQ(r.want_th, th) << r.name;
        glBindTexture(GL_TEXTURE_2D, tex);
        GLint lw = 0, lh = 0;
        glGetTexLevelParameteriv(GL_TEXTURE_2D, r.want_levels, GL_TEXTURE_WIDTH, &lw);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, r.want_levels, GL_TEXTURE_HEIGHT, &lh);
        EXPECT_TRUE(lw == 1 && lh == 1) << r.name << ": last mip level " << r.want_levels << " is " << lw << "x" << lh;
        if (r.w != w) {
            GLuint t = tex;
            glDeleteTextures(1, &t);
            continue;
        }
        std::vector<unsigned char> got((size_t)tw * th * 4);
        glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, got.data());
        struct Probe {
            int x, y, sx, sy;
        } probes[] = {{0, 0, 0, 0},
                      {r.w - 1, r.h - 1, r.w - 1, r.h - 1},
                      {tw - 1, 0, r.w - 1, 0},
                      {0, th - 1, 0, r.h - 1},
                      {tw - 1, th - 1, r.w - 1, r.h - 1}};
        for (const Probe &p : probes) {
            const unsigned char *g = &got[((size_t)p.y * tw + p.x) * 4];
            unsigned char want[4] = {(unsigned char)((p.sx * 2 & 255) * 255 >> 8),
                                     (unsigned char)((p.sy * 8 & 255) * 255 >> 8), 254, 255};
            EXPECT_EQ(0, memcmp(g, want, 4)) << r.name << ": texel " << p.x << "," << p.y << " is " << (int)g[0] << ","
                                             << (int)g[1] << "," << (int)g[2] << "," << (int)g[3];
        }
        GLuint t = tex;
        glDeleteTextures(1, &t);
    }
}

TEST_F(GfxDisplay, WiderThanTheGlAllowsIsHalved) {
    GLint max = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &max);
    ASSERT_GT(max, 0);
    Png("wide.png", max * 2, 2, [](int, int) { return kRed; });
    int img = gfx_img_load("wide");
    ASSERT_NE(0, img);
    const GfxTexture &t = _gfx_get_tex(_gfx_get_img(img).tid);
    EXPECT_EQ(max, (int)t.rect.w);
    EXPECT_EQ(max, gfx_img_get_width(img));
    gfx_img_blit(img, 0, 0, 64, 64);
    Px p = At(30, 30);
    EXPECT_TRUE(p.r == 254 && p.g == 0 && p.b == 0) << "expected red, saw " << P(p);
}

TEST_F(GfxDisplay, BadFilesLeaveTextureZeroAlone) {
    Text("bad.png", "not a picture at all");
    // A header claiming 20000 x 20000 must be refused before anything is decoded.
    unsigned char hdr[] = {0x89, 'P',  'N',  'G', '\r', '\n', 0x1a, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R', 0,
                           0,    0x4e, 0x20, 0,   0,    0x4e, 0x20, 8,    6, 0, 0, 0,  0,   0,   0,   0};
    Text("huge.png", std::string((const char *)hdr, sizeof(hdr)));
    glBindTexture(GL_TEXTURE_2D, 0);
    GLint before = 0;
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &before);
    struct Row {
        const char *name;
    } rows[] = {{"bad"}, {"huge"}};
    for (const Row &r : rows) {
        int tid = gfx_tex_load(r.name);
        ASSERT_NE(0, tid) << r.name << ": a found file keeps its slot";
        EXPECT_EQ(0, _gfx_get_tex(tid).tex) << r.name;
        EXPECT_EQ(0, gfx_img_get_width(gfx_img_load(r.name))) << r.name;
        glBindTexture(GL_TEXTURE_2D, 0);
        GLint after = 0;
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &after);
        EXPECT_EQ(before, after) << r.name << ": filters of texture 0 changed";
        gfx_img_blit(gfx_img_load(r.name), 0, 0, 10, 10);
    }
}

TEST_F(GfxDisplay, IdleTexturesAreFreedAboveTheCap) {
    // A 4096 x 4096 texture is accounted at 89.5 MB; three of them stay 1 byte under the 256 MB cap, so the
    // third is one row taller.
    const int n = 4096;
    Png("big_a.png", n, n, [](int, int) { return kBlue; });
    ASSERT_EQ(0, system(("cp '" + Path("big_a.png") + "' '" + Path("big_b.png") + "'").c_str()));
    Png("big_c.png", n, n + 1, [](int, int) { return kBlue; });
    int a = gfx_tex_load("big_a"), b = gfx_tex_load("big_b");
    ASSERT_TRUE(a && b);
    SetNearest(b);
    time_t old = time(nullptr) - 10;
    _gfx_get_tex(a).tex_atime = old;
    _gfx_get_tex(b).tex_atime = old;
    int c = gfx_tex_load("big_c");
    ASSERT_NE(0, c);
    struct Row {
        const char *name;
        int id, loaded;
    } after_c[] = {{"a stays", a, 1}, {"b goes: equally idle, higher id", b, 0}, {"c was just used", c, 1}};
    for (const Row &r : after_c)
        EXPECT_EQ(r.loaded, _gfx_get_tex(r.id).loaded) << r.name;
    EXPECT_EQ(0, _gfx_get_tex(b).tex);
    // Drawing b again loads it back under the same ids; now a is the idle one.
    int img = gfx_img_load("big_b");
    EXPECT_EQ(b, _gfx_get_img(img).tid);
    Row after_b[] = {{"a goes", a, 0}, {"b is back", b, 1}, {"c stays", c, 1}};
    for (const Row &r : after_b)
        EXPECT_EQ(r.loaded, _gfx_get_tex(r.id).loaded) << r.name;
    GLint f = 0;
    glBindTexture(GL_TEXTURE_2D, gfx_img_get_tex(img));
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &f);
    EXPECT_EQ(GL_NEAREST, f) << "a texture loaded back keeps the filters of its first load";
}

TEST_F(GfxDisplay, ChangedFilesAreReloaded) {
    // Red top-left and blue bottom-right quarters on green, at any size.
    auto quarters = [](int n) {
        return [n](int x, int y) { return x < n / 2 && y < n / 2 ? kRed : x >= n / 2 && y >= n / 2 ? kBlue : kGreen; };
    };
    Png("live.png", 4, 4, [](int, int) { return kRed; });
    Png("quarters.png", 64, 64, quarters(64));
    Png("livesheet.png", 8, 8, [](int, int) { return kRed; });
    Text("livesheet.json", R"({"frames":{"f.png":{"frame":{"x":0,"y":0,"w":2,"h":2},
        "spriteSourceSize":{"x":0,"y":0,"w":2,"h":2},"sourceSize":{"w":2,"h":2}}}})");
    time_t now = time(nullptr);
    struct utimbuf past = {now - 100, now - 100};
    for (const char *f : {"live.png", "quarters.png", "livesheet.png", "livesheet.json"})
        ASSERT_EQ(0, utime(Path(f).c_str(), &past)) << f;
    int live = gfx_img_load("live");
    gfx_atlas_load("livesheet");
    int frame = gfx_img_load("f");
    int corner = gfx_img_sub("corner", gfx_img_load("quarters"), 0.5f, 0.5f, 0.5f, 0.5f);
    ASSERT_TRUE(live && frame && corner);
    // Rewritten files, old enough to be complete: the next scan reads them again.
    Png("live.png", 6, 6, [](int, int) { return kGreen; });
    Text("livesheet.json", R"({"frames":{"f.png":{"frame":{"x":0,"y":0,"w":4,"h":4},
        "spriteSourceSize":{"x":0,"y":0,"w":4,"h":4},"sourceSize":{"w":4,"h":4}}}})");
    // The pictures grow: a part keeps its share of its source, a frame the pixels its description gives.
    Png("quarters.png", 128, 128, quarters(128));
    Png("livesheet.png", 16, 16, [](int, int) { return kRed; });
    struct utimbuf settled = {now - 5, now - 5};
    for (const char *f : {"live.png", "quarters.png", "livesheet.png", "livesheet.json"})
        ASSERT_EQ(0, utime(Path(f).c_str(), &settled)) << f;
    gfx_reload_auto();
    EXPECT_EQ(live, gfx_img_load("live"));
    EXPECT_EQ(6, gfx_img_get_width(live));
    EXPECT_EQ(frame, gfx_img_load("f"));
    EXPECT_EQ(4, gfx_img_get_width(frame));
    EXPECT_EQ(4, _gfx_get_img(frame).rect.w) << "a frame stays in the pixels of its description";
    EXPECT_EQ(corner, gfx_img_load("corner"));
    EXPECT_EQ(64, gfx_img_get_width(corner));
    Frame();
    gfx_img_blit(live, 0, 0, 0, 0);
    gfx_img_blit(corner, 100, 100, 32, 32);
    ExpectPixels({{"the new green picture", 2, 2, {0, 254, 0}}, {"the same corner, now blue", 116, 116, {0, 0, 254}}});
}

// A changed file that does not decode leaves the picture on screen (same GL texture, size and image) and is not
// read again until it changes again; a good file then replaces the picture under the same ids.
TEST_F(GfxDisplay, FailedReloadKeepsThePicture) {
    Png("flaky.png", 4, 4, [](int, int) { return kRed; });
    Png("flaky_green.png", 6, 6, [](int, int) { return kGreen; });
    std::ifstream in(Path("flaky_green.png"), std::ios::binary);
    const std::string good_green((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(good_green.empty());
    time_t now = time(nullptr);
    struct utimbuf past = {now - 100, now - 100};
    ASSERT_EQ(0, utime(Path("flaky.png").c_str(), &past));
    int img = gfx_img_load("flaky");
    ASSERT_NE(0, img);
    int tid = _gfx_get_img(img).tid, gl = _gfx_get_tex(tid).tex;
    SetNearest(tid);
    struct Row {
        const char *name;
        std::string bytes; // empty: leave the file as it is
        long age;          // seconds before now of the file's time
        bool read;         // the scan reads the file
        Px want;
        int width;
    } rows[] = {
        {"damaged file", "not a picture any more", 50, true, kRed, 4},
        {"same damaged file, next scan", "", 50, false, kRed, 4},
        {"half-written file, newer", good_green.substr(0, good_green.size() / 2), 40, true, kRed, 4},
        {"rewritten in the same second with another size", good_green.substr(0, good_green.size() / 2 + 3), 40, true,
         kRed, 4},
        {"good file at last", good_green, 30, true, kGreen, 6},
    };
    for (const Row &r : rows) {
        if (!r.bytes.empty())
            Text("flaky.png", r.bytes);
        struct utimbuf t = {now - r.age, now - r.age};
        ASSERT_EQ(0, utime(Path("flaky.png").c_str(), &t)) << r.name;
        testing::internal::CaptureStdout();
        _gfx_reload_scan(now);
        std::string log = testing::internal::GetCapturedStdout();
        EXPECT_EQ(r.read, log.find("gfx_tex_reload: " + std::to_string(tid) + " flaky ") != std::string::npos)
            << r.name << ": " << log;
        if (r.read && r.want.g == 0) {
            EXPECT_NE(std::string::npos, log.find("gfx_tex_reload: " + std::to_string(tid) +
                                                  " flaky keeps its last picture until the file changes again\n"))
                << r.name << ": " << log;
        }
        EXPECT_EQ(img, gfx_img_load("flaky")) << r.name;
        EXPECT_EQ(r.width, gfx_img_get_width(img)) << r.name;
        if (r.want.g == 0) {
            EXPECT_EQ(gl, _gfx_get_tex(tid).tex) << r.name << ": the old GL texture stays";
        }
        Frame();
        gfx_img_blit(img, 0, 0, 64, 64);
        Px p = At(30, 30);
        Px w = r.want;
        w.r = w.r ? 254 : 0;
        w.g = w.g ? 254 : 0;
        EXPECT_TRUE(p.r == w.r && p.g == w.g && p.b == w.b) << r.name << ": expected " << P(w) << " saw " << P(p);
    }
}

} // namespace
