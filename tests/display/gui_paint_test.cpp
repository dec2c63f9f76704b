// Widget painting read back from a real GL context (border strips, layers, selection, caret), and the text
// input's cut and paste against the X clipboard of the same server, read and filled by xclip.
#include "window_helpers.h"

#include <GL/gl.h>

#include <atomic>
#include <thread>

#include "kiv_font.h"
#include "kiv_gfx.h"
#include "kiv_gui.h"

namespace {

const int W = 320, H = 240;

class GuiPaint : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        driver_init_x11(DRIVER_VIDEO | DRIVER_TIMER);
        driver_set_gamename("KivGame"); // the console font from ./data of the build dir
        driver_video_init(W, H, 0, 0, 240, 160, 0);
        gfx_init();
        gfx_set_size(W, H);
        font_init();
    }

    static void TearDownTestSuite() {
        font_deinit();
        gfx_deinit();
        driver_deinit();
    }

    static void frame(Container &root) {
        gfx_clear();
        gfx_ortho();
        root.resize();
        root.paint();
        glFinish();
    }

    // Pixels of the given colour in [x0, x1) x [y0, y1), read back in one call.
    static int count(unsigned colour, int x0, int y0, int x1, int y1) {
        std::vector<unsigned char> p(4 * (x1 - x0) * (y1 - y0));
        glReadPixels(x0, H - y1, x1 - x0, y1 - y0, GL_RGBA, GL_UNSIGNED_BYTE, p.data());
        int n = 0;
        for (size_t i = 0; i < p.size(); i += 4)
            n += ((unsigned)p[i] << 16 | (unsigned)p[i + 1] << 8 | p[i + 2]) == colour;
        return n;
    }
};

TEST_F(GuiPaint, PaintsBoxModelSelectionAndCaret) {
    KivGuiFont f(font_load("console", 24));
    ASSERT_NE(f.fid, 0) << "the console font of the build's data";
    Container root;
    Widget *boxed = new Widget();
    boxed->style.width = boxed->style.height = 10;
    boxed->style.set_margin(2);
    boxed->style.set_border(1);
    boxed->style.set_padding(3);
    boxed->style.border_color = 0xFF0000;
    boxed->style.background.color = 0x00FF00;
    root.add(boxed, 10, 10);
    TextInput *in = new TextInput(f, "abc", 20);
    in->style.width = 100; // room for the caret after the text
    root.add(in, 50, 50);
    root.loop(); // first focus: the input, all selected
    frame(root);
    struct Row {
        const char *name;
        int x, y;
        unsigned want;
    } rows[] = {{"margin stays clear", 10, 10, 0},
                {"top border strip", 15, 12, 0xFF0000},
                {"left border strip", 12, 20, 0xFF0000},
                {"right border strip", 29, 20, 0xFF0000},
                {"background inside the border, padding included", 13, 13, 0x00FF00},
                {"bottom border strip", 20, 29, 0xFF0000},
                {"outside the outer box", 32, 20, 0}};
    for (const Row &r : rows)
        EXPECT_EQ(count(r.want, r.x, r.y, r.x + 1, r.y + 1), 1) << r.name;
    int tw = f.get_width("abc", 0), th = f.get_height("abc", 0);
    EXPECT_GT(count(0x55AAFF, 50, 50, 50 + tw, 50 + th), tw * th / 4) << "the focused field's text is selected";
    EXPECT_EQ(count(0xFFFFFF, 50 + tw, 50, 50 + tw + 2, 50 + th), 2 * th) << "the caret after the text";

    Event right(EVT_KEYDOWN);
    right.v = KEY_RIGHT;
    in->event(&right);
    frame(root);
    EXPECT_EQ(count(0x55AAFF, 40, 40, 60 + tw, 60 + th), 0) << "no selection after Right";
    Event blur(EVT_BLUR);
    root.event(&blur);
    frame(root);
    EXPECT_EQ(count(0xFFFFFF, 50 + tw, 50, 50 + tw + 2, 50 + th), 0) << "no caret without focus";
}

// Runs a command in another thread while this one pumps SDL, which answers the X selection requests.
std::string run_pumping(const std::string &cmd) {
    std::atomic<bool> done(false);
    std::string out;
    std::thread t([&] {
        FILE *p = popen(cmd.c_str(), "r");
        char buf[256];
        size_t n;
        while (p && (n = fread(buf, 1, sizeof(buf), p)) > 0)
            out.append(buf, n);
        if (p)
            pclose(p);
        done = true;
    });
    while (!done) {
        SDL_PumpEvents();
        SDL_Delay(5);
    }
    t.join();
    return out;
}

TEST_F(GuiPaint, CutsAndPastesThroughTheXClipboard) {
    TextInput in(KivGuiFont(0), "hello", 40);
    Event focus(EVT_FOCUS), cut(EVT_KEYDOWN), paste(EVT_KEYDOWN);
    in.event(&focus); // selects all
    cut.v = KEY_x;
    cut.b = KIV_MOD_CTRL;
    in.event(&cut);
    EXPECT_EQ(in.txt, "");
    EXPECT_EQ(run_pumping("timeout 10 xclip -o -selection clipboard"), "hello");

    paste.v = KEY_v;
    paste.b = KIV_MOD_CTRL;
    run_pumping("printf 'tab\\there\\nnext' | xclip -i -selection clipboard >/dev/null 2>&1");
    // xclip's background child takes the selection a moment after the command returns: wait until it answers.
    for (int i = 0; i < 100 && run_pumping("timeout 5 xclip -o -selection clipboard") != "tab\there\nnext"; i++)
        SDL_Delay(20);
    in.event(&paste);
    EXPECT_EQ(in.txt, "tab?here next") << "pasted text passes the single-line filter";
}

} // namespace
