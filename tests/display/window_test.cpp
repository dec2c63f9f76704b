// The window and its GL context on a real X server (Xvfb + Mesa): sizes, minimum size, metrics,
// clear colour read back, caption, re-creation keeping the context, swap interval, GL entry points.
#include "window_helpers.h"

#include <SDL_opengl.h>

#include <cmath>
#include <cstring>

#include "kiv_driver_int.h"
#include "kiv_glext.h"

#include <stb_image_write.h>

namespace {

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        driver_init_x11(DRIVER_VIDEO | DRIVER_TIMER);
        driver_set_caption("KivGame");
        SDL_DisplayMode mode;
        ASSERT_EQ(SDL_GetDesktopDisplayMode(0, &mode), 0) << SDL_GetError();
        desk_w = mode.w;
        desk_h = mode.h;
    }
    void TearDown() override { driver_deinit(); }

    static void expect_metrics(const char *name, int w, int h) {
        SDL_Window *win = driver_sdl2_window();
        ASSERT_NE(win, nullptr) << name;
        int ww = 0, wh = 0, dw = 0, dh = 0, sw = 0, sh = 0;
        SDL_GetWindowSize(win, &ww, &wh);
        SDL_GL_GetDrawableSize(win, &dw, &dh);
        driver_get_size(&sw, &sh);
        EXPECT_EQ(ww, w) << name << ": window width";
        EXPECT_EQ(wh, h) << name << ": window height";
        EXPECT_EQ(sw, w) << name << ": driver width";
        EXPECT_EQ(sh, h) << name << ": driver height";
        EXPECT_FLOAT_EQ(driver_get_aspect(), (float)w / (float)h) << name;
        EXPECT_FLOAT_EQ(driver_get_scale(), (float)dw / (float)w) << name;
        EXPECT_EQ(driver_get_orient(), 0.0f) << name;
        GLint vp[4] = {-1, -1, -1, -1};
        glGetIntegerv(GL_VIEWPORT, vp);
        EXPECT_EQ(vp[0], 0) << name;
        EXPECT_EQ(vp[1], 0) << name;
        EXPECT_EQ(vp[2], dw) << name << ": viewport width is the drawable width";
        EXPECT_EQ(vp[3], dh) << name << ": viewport height is the drawable height";
    }

    int desk_w = 0, desk_h = 0;
};

TEST_F(WindowTest, OpensAtAskedSize) {
    struct Row {
        const char *name;
        int ww, hh, full;
        int pct; // 0: the asked size; else that share of the desktop
        bool fullscreen;
    };
    const Row rows[] = {
        {"asked 640 x 480", 640, 480, 0, 0, false},
        {"asked 300 x 200", 300, 200, 0, 0, false},
        {"no size: 80% of the desktop", 0, 0, 0, 80, false},
        {"width only: 80% of the desktop", 500, 0, 0, 80, false},
        {"full screen without size: the desktop", 0, 0, 1, 100, true},
        {"back to a window", 640, 480, 0, 0, false},
    };
    for (const auto &row : rows) {
        driver_video_init(row.ww, row.hh, 0, 0, 240, 160, row.full);
        int w = row.pct ? desk_w * row.pct / 100 : row.ww;
        int h = row.pct ? desk_h * row.pct / 100 : row.hh;
        expect_metrics(row.name, w, h);
        Uint32 flags = SDL_GetWindowFlags(driver_sdl2_window());
        EXPECT_EQ((flags & SDL_WINDOW_FULLSCREEN) != 0, row.fullscreen) << row.name;
        EXPECT_EQ((flags & SDL_WINDOW_RESIZABLE) != 0, true) << row.name;
        EXPECT_STREQ(SDL_GetWindowTitle(driver_sdl2_window()), "KivGame") << row.name;
        // The first request already fixes the idiom.
        EXPECT_STREQ(driver_get_idiom(), "desktop") << row.name;
    }
}

TEST_F(WindowTest, MinimumSizeHolds) {
    struct Row {
        const char *name;
        int mw, mh;
        int ask_w, ask_h;
        int want_w, want_h;
    };
    const Row rows[] = {
        {"below both minimums", 240, 160, 100, 50, 240, 160},
        {"below the width only", 240, 160, 100, 300, 240, 300},
        {"above the minimum", 240, 160, 400, 300, 400, 300},
        {"shell reset minimum", 320, 320, 200, 500, 320, 500},
    };
    for (const auto &row : rows) {
        driver_video_init(640, 480, 0, 0, row.mw, row.mh, 0);
        SDL_Window *win = driver_sdl2_window();
        ASSERT_NE(win, nullptr);
        int mw = 0, mh = 0;
        SDL_GetWindowMinimumSize(win, &mw, &mh);
        EXPECT_EQ(mw, row.mw) << row.name;
        EXPECT_EQ(mh, row.mh) << row.name;
        SDL_SetWindowSize(win, row.ask_w, row.ask_h);
        int w = 0, h = 0;
        SDL_GetWindowSize(win, &w, &h);
        EXPECT_EQ(w, row.want_w) << row.name;
        EXPECT_EQ(h, row.want_h) << row.name;
    }
}

TEST_F(WindowTest, ClearColourReadsBack) {
    driver_video_init(320, 240, 0, 0, 240, 160, 0);
    ASSERT_NE(SDL_GL_GetCurrentContext(), nullptr);
    struct Row {
        const char *name;
        float r, g, b;
        unsigned char want[3];
    };
    const Row rows[] = {
        {"red", 1, 0, 0, {255, 0, 0}},  {"green", 0, 1, 0, {0, 255, 0}},
        {"blue", 0, 0, 1, {0, 0, 255}}, {"grey", 0.5f, 0.5f, 0.5f, {128, 128, 128}},
        {"black", 0, 0, 0, {0, 0, 0}},
    };
    for (const auto &row : rows) {
        glClearColor(row.r, row.g, row.b, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        // Corners and centre: the viewport covers the whole drawable.
        const int pts[][2] = {{0, 0}, {319, 239}, {160, 120}};
        for (const auto &p : pts) {
            unsigned char px[4] = {1, 2, 3, 4};
            glReadPixels(p[0], p[1], 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, px);
            for (int c = 0; c < 3; c++)
                EXPECT_NEAR(px[c], row.want[c], 1) << row.name << " channel " << c << " at " << p[0] << "," << p[1];
        }
        driver_video_flip();
    }
    EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
}

TEST_F(WindowTest, CaptionSanitisedAndSetOnlyOnChange) {
    driver_video_init(320, 240, 0, 0, 240, 160, 0);
    SDL_Window *win = driver_sdl2_window();
    ASSERT_NE(win, nullptr);
    struct Row {
        const char *name;
        const char *caption;
        const char *title;
    };
    const Row rows[] = {
        {"plain", "My Game", "My Game"},
        {"utf-8 byte pair", "Caf\xC3\xA9", "Caf??"},
        {"control bytes",
         "a\tb\x1F"
         "c",
         "a?b?c"},
        {"empty", "", ""},
        {"printable ascii edge", " ~", " ~"},
    };
    for (const auto &row : rows) {
        driver_set_caption(row.caption);
        driver_video_flip();
        EXPECT_STREQ(SDL_GetWindowTitle(win), row.title) << row.name;
        EXPECT_STREQ(driver_get_caption(), row.caption) << row.name << ": the driver's caption is left alone";
        // A caption that did not change is not handed to the window again, even one that needed '?'.
        SDL_SetWindowTitle(win, "set elsewhere");
        driver_video_flip();
        EXPECT_STREQ(SDL_GetWindowTitle(win), "set elsewhere") << row.name;
    }
}

TEST_F(WindowTest, SameRequestKeepsWindowNewSizeKeepsContext) {
    driver_video_init(400, 300, 0, 0, 240, 160, 0);
    SDL_Window *first = driver_sdl2_window();
    SDL_GLContext ctx = SDL_GL_GetCurrentContext();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(ctx, nullptr);
    GLuint tex = 0;
    glGenTextures(1, &tex);
    glBindTexture(GL_TEXTURE_2D, tex);
    const unsigned char px[4] = {10, 20, 30, 255};
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, px);

    {
        StdoutCapture cap;
        driver_video_init(400, 300, 0, 0, 320, 320, 0);
        std::string log = cap.text();
        EXPECT_NE(log.find("_try_init_video: no changes needed.\n"), std::string::npos) << log;
        EXPECT_EQ(log.find("_try_init_video: initial init"), std::string::npos) << log;
        EXPECT_NE(log.find("init_video: 400 300 0 0 320 320 0\n"), std::string::npos) << log;
    }
    EXPECT_EQ(driver_sdl2_window(), first);
    int mw = 0, mh = 0;
    SDL_GetWindowMinimumSize(first, &mw, &mh);
    EXPECT_EQ(mw, 320) << "the minimum size is refreshed even without a new window";
    EXPECT_EQ(mh, 320);

    {
        StdoutCapture cap;
        driver_video_init(500, 350, 0, 0, 240, 160, 0);
        std::string log = cap.text();
        EXPECT_NE(log.find("_try_init_video: initial init\n"), std::string::npos) << log;
        EXPECT_NE(log.find("now: 500 x 350 - 0\n"), std::string::npos) << log;
        EXPECT_EQ(log.find("SDL_GL_CreateContext"), std::string::npos) << "the context is made once: " << log;
        EXPECT_NE(log.find("window: 500 x 350. drawable: 500 x 350\n"), std::string::npos) << log;
    }
    EXPECT_EQ(SDL_GL_GetCurrentContext(), ctx);
    EXPECT_EQ(SDL_GL_GetCurrentWindow(), driver_sdl2_window());
    EXPECT_TRUE(glIsTexture(tex)) << "textures survive the re-created window";
    unsigned char back[4] = {0, 0, 0, 0};
    glBindTexture(GL_TEXTURE_2D, tex);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, back);
    EXPECT_EQ(memcmp(back, px, 4), 0);
    expect_metrics("re-created", 500, 350);
}

TEST_F(WindowTest, SwapIntervalAskedWithContextCurrent) {
    // Xvfb's GLX may lack swap control; then at least the request must have reached a current
    // context (asked before one exists, SDL refuses with "No OpenGL context has been made current").
    struct Row {
        const char *name;
        int w, h;
    };
    const Row rows[] = {{"first window", 320, 240}, {"re-created window", 400, 240}};
    for (const auto &row : rows) {
        StdoutCapture cap;
        driver_video_init(row.w, row.h, 0, 0, 240, 160, 0);
        std::string log = cap.text();
        ASSERT_NE(SDL_GL_GetCurrentContext(), nullptr) << row.name;
        EXPECT_EQ(log.find("No OpenGL context"), std::string::npos) << row.name << ": " << log;
        if (log.find("SDL_GL_SetSwapInterval failed") == std::string::npos) {
            EXPECT_EQ(SDL_GL_GetSwapInterval(), 1) << row.name;
        }
    }
}

TEST_F(WindowTest, VideoSubsystemStartedOnce) {
    // Several re-creations must not stack references on the video subsystem: one stop ends it.
    driver_video_init(320, 240, 0, 0, 240, 160, 0);
    driver_video_init(330, 240, 0, 0, 240, 160, 0);
    driver_video_init(340, 240, 0, 0, 240, 160, 0);
    ASSERT_NE(SDL_WasInit(SDL_INIT_VIDEO), 0u);
    _driver_video_stop();
    EXPECT_EQ(SDL_WasInit(SDL_INIT_VIDEO), 0u);
    EXPECT_EQ(driver_sdl2_window(), nullptr);
    EXPECT_EQ(SDL_GL_GetCurrentContext(), nullptr);
    // Without a window every call is harmless.
    driver_video_flip();
    _driver_video_resize();
    EXPECT_FALSE(driver_video_minimize());
    EXPECT_EQ(driver_keyboard_state(), 0);
    glActiveTexture(GL_TEXTURE1);
}

TEST_F(WindowTest, EmptyWindowKeepsLastMetrics) {
    // Applied in order: a minimised window reporting no area must leave the last good metrics, never divide by 0.
    struct Row {
        const char *name;
        int w, h, dw, dh;
        bool applied;
        int want_w, want_h;
        float want_aspect, want_scale;
    };
    const Row rows[] = {
        {"normal window", 640, 480, 640, 480, true, 640, 480, 640.f / 480.f, 1},
        {"zero width", 0, 480, 0, 480, false, 640, 480, 640.f / 480.f, 1},
        {"zero height", 640, 0, 640, 0, false, 640, 480, 640.f / 480.f, 1},
        {"both zero", 0, 0, 0, 0, false, 640, 480, 640.f / 480.f, 1},
        {"negative", -5, 10, 10, 10, false, 640, 480, 640.f / 480.f, 1},
        {"drawable twice the window", 400, 200, 800, 400, true, 400, 200, 2, 2},
        {"zero again keeps the doubled scale", 0, 0, 0, 0, false, 400, 200, 2, 2},
    };
    for (const auto &row : rows) {
        EXPECT_EQ(_driver_video_metrics(row.w, row.h, row.dw, row.dh), row.applied) << row.name;
        int w = 0, h = 0;
        driver_get_size(&w, &h);
        EXPECT_EQ(w, row.want_w) << row.name;
        EXPECT_EQ(h, row.want_h) << row.name;
        EXPECT_FLOAT_EQ(driver_get_aspect(), row.want_aspect) << row.name;
        EXPECT_FLOAT_EQ(driver_get_scale(), row.want_scale) << row.name;
        EXPECT_TRUE(std::isfinite(driver_get_aspect()) && std::isfinite(driver_get_scale())) << row.name;
    }
}

TEST_F(WindowTest, GlEntryPointsLoaded) {
    driver_video_init(320, 240, 0, 0, 240, 160, 0);
    ASSERT_TRUE(kiv_glext_has_active_texture());
    EXPECT_TRUE(kiv_glext_has_client_active_texture());
    struct Row {
        const char *name;
        GLenum unit;
    };
    const Row rows[] = {{"unit 1", GL_TEXTURE1}, {"unit 0", GL_TEXTURE0}};
    for (const auto &row : rows) {
        glActiveTexture(row.unit);
        glClientActiveTexture(row.unit);
        GLint active = 0, client = 0;
        glGetIntegerv(GL_ACTIVE_TEXTURE, &active);
        glGetIntegerv(GL_CLIENT_ACTIVE_TEXTURE, &client);
        EXPECT_EQ((GLenum)active, row.unit) << row.name;
        EXPECT_EQ((GLenum)client, row.unit) << row.name;
    }
    if (kiv_glext_has_generate_mipmap()) {
        GLuint tex = 0;
        glGenTextures(1, &tex);
        glBindTexture(GL_TEXTURE_2D, tex);
        const unsigned char px[16] = {255, 0, 0, 255, 255, 0, 0, 255, 255, 0, 0, 255, 255, 0, 0, 255};
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 2, 2, 0, GL_RGBA, GL_UNSIGNED_BYTE, px);
        glGenerateMipmap(GL_TEXTURE_2D);
        GLint w1 = 0;
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 1, GL_TEXTURE_WIDTH, &w1);
        EXPECT_EQ(w1, 1) << "level 1 built by glGenerateMipmap";
        glDeleteTextures(1, &tex);
    }
    EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
}

TEST_F(WindowTest, RealResizeRefreshesMetrics) {
    driver_video_init(640, 480, 0, 0, 240, 160, 0);
    SDL_Window *win = driver_sdl2_window();
    unsigned long xid = x11_window_id(win);
    ASSERT_NE(xid, 0ul);
    poll_all();
    struct Row {
        const char *name;
        int w, h;
    };
    const Row rows[] = {{"wider", 800, 400}, {"taller", 300, 600}, {"at the minimum", 240, 160}};
    for (const auto &row : rows) {
        ASSERT_TRUE(
            xdotool("windowsize " + std::to_string(xid) + " " + std::to_string(row.w) + " " + std::to_string(row.h)))
            << row.name;
        Event e(EVT_NONE);
        ASSERT_TRUE(poll_until([](const Event &ev) { return ev.type == EVT_RESIZE; }, &e)) << row.name;
        EXPECT_EQ(e.w, (float)row.w) << row.name;
        EXPECT_EQ(e.h, (float)row.h) << row.name;
        EXPECT_EQ(e.x, 0.0f) << row.name;
        expect_metrics(row.name, row.w, row.h);
    }
}

// The window's icon as the X server holds it: "width, height, first pixel" (ARGB), "" when unset.
std::string x11_icon_head(unsigned long xid) {
    std::string cmd =
        "xprop -id " + std::to_string(xid) + " -f _NET_WM_ICON 32c ' = $0, $1, $2' _NET_WM_ICON 2>/dev/null";
    // xprop is one more X client: retried when its connection is refused (see driver_init_x11).
    for (int attempt = 0; attempt < 10; attempt++) {
        FILE *p = popen(cmd.c_str(), "r");
        if (!p)
            return "";
        char buf[256] = "";
        std::string out = fgets(buf, sizeof(buf), p) ? buf : "";
        pclose(p);
        size_t eq = out.find("= ");
        if (eq == std::string::npos) {
            SDL_Delay(20);
            continue;
        }
        out = out.substr(eq + 2);
        while (!out.empty() && (out.back() == '\n' || out.back() == ' '))
            out.pop_back();
        return out;
    }
    return "";
}

std::string write_png(const char *name, int w, int h, unsigned rgba) {
    std::string path = std::string(getenv("KIV_BUILD_DIR") ? getenv("KIV_BUILD_DIR") : ".") + "/" + name;
    std::vector<unsigned char> px(w * h * 4);
    for (int i = 0; i < w * h; i++) {
        px[i * 4 + 0] = rgba >> 24;
        px[i * 4 + 1] = (rgba >> 16) & 255;
        px[i * 4 + 2] = (rgba >> 8) & 255;
        px[i * 4 + 3] = rgba & 255;
    }
    EXPECT_NE(stbi_write_png(path.c_str(), w, h, 4, px.data(), w * 4), 0) << path;
    return path;
}

TEST_F(WindowTest, IconAppliedAtOpenAndOnChange) {
    std::string red = write_png("window_test_icon_red.png", 16, 8, 0xFF0000FF);
    std::string green = write_png("window_test_icon_green.png", 4, 4, 0x00FF00FF);
    std::string big = write_png("window_test_icon_big.png", 2048, 2048, 0x0000FFFF);
    std::string wide = write_png("window_test_icon_wide.png", 3000, 600, 0xFFFFFF80);
    std::string junk = std::string(getenv("KIV_BUILD_DIR") ? getenv("KIV_BUILD_DIR") : ".") + "/window_test_icon.txt";
    driver_file_save(junk.c_str(), "not an image", 12);

    driver_set_icon(red.c_str());
    driver_video_init(320, 240, 0, 0, 240, 160, 0);
    unsigned long xid = x11_window_id(driver_sdl2_window());
    ASSERT_NE(xid, 0ul);
    EXPECT_EQ(x11_icon_head(xid), "16, 8, 4294901760") << "the icon is set when the window opens";
    struct Row {
        const char *name;
        std::string icon;
        std::string want;
    };
    const Row rows[] = {
        {"changed at the next swap", green, "4, 4, 4278255360"},
        {"missing file keeps the icon", "no_such_icon.png", "4, 4, 4278255360"},
        {"file that does not decode keeps it", junk, "4, 4, 4278255360"},
        {"16-bit PNM named as a PNG keeps it",
         std::string(getenv("KIV_SOURCE_DIR") ? getenv("KIV_SOURCE_DIR") : "..") +
             "/tests/fuzz/corpus/image/pnm16_named.png",
         "4, 4, 4278255360"},
        {"empty path keeps it", "", "4, 4, 4278255360"},
        {"2048 x 2048 scaled down to 256 x 256", big, "256, 256, 4278190335"},
        {"3000 x 600 keeps its aspect", wide, "256, 51, 2164260863"},
        {"back to red", red, "16, 8, 4294901760"},
    };
    for (const auto &row : rows) {
        driver_set_icon(row.icon.c_str());
        driver_video_flip();
        EXPECT_EQ(x11_icon_head(xid), row.want) << row.name;
    }
    // A re-created window (full screen) gets the icon again.
    driver_video_init(0, 0, 0, 0, 240, 160, 1);
    EXPECT_EQ(x11_icon_head(x11_window_id(driver_sdl2_window())), "16, 8, 4294901760");
}

TEST_F(WindowTest, ClipboardRoundTrip) {
    driver_video_init(320, 240, 0, 0, 240, 160, 0);
    const char *texts[] = {"plain", "Caf\xC3\xA9 \xE2\x82\xAC", "two\nlines"};
    for (const char *t : texts) {
        driver_clipboard_set_text(t);
        EXPECT_EQ(driver_clipboard_get_text(), t);
    }
    // No on-screen keyboard on a desktop: show and hide leave no trace.
    driver_keyboard_show();
    EXPECT_EQ(driver_keyboard_state(), 0);
    driver_keyboard_hide();
    EXPECT_EQ(driver_keyboard_get_height(), 0);
}

} // namespace
