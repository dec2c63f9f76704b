// Bitmap fonts: file parsing, wrapping, measuring, alignment, caret helpers and loading by name.
#include <gtest/gtest.h>

#include <climits>
#include <sys/time.h>
#include <utime.h>
#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "kiv_driver.h"
#include "kiv_font.h"
#include "kiv_font_int.h"

namespace {

// A font whose printable glyphs all advance 10 pixels: 8 x 16 pixels at (id % 16 x 16, id / 16 x 16), offset (1, 2).
std::string grid_font(const std::string &common = "common lineHeight=32 base=26 scaleW=256 scaleH=128 pages=1") {
    std::string s = "info face=\"grid\" size=32\n" + common + "\nchars count=95\n";
    for (int id = 32; id < 127; id++) {
        char row[160];
        snprintf(row, sizeof(row),
                 "char id=%d x=%d y=%d width=8 height=16 xoffset=1 yoffset=2 xadvance=10 page=0 chnl=15\n", id,
                 (id % 16) * 16, (id / 16) * 16);
        s += row;
    }
    return s;
}

class FontTest : public ::testing::Test {
protected:
    void SetUp() override { font_init(); }
    void TearDown() override { font_deinit(); }
    int make(const std::string &text, int size = 0, const std::string &extra = "") {
        static int n = 0;
        std::string key = "grid" + std::to_string(++n) + ":" + std::to_string(size);
        int id = _font_add(key.c_str(), 0, size, "");
        _font_parse(id, text + extra);
        return id;
    }
};

// A scratch data directory for font files, removed with the fixture.
class FontFileTest : public FontTest {
protected:
    std::string dir;
    void SetUp() override {
        FontTest::SetUp();
        char tmpl[] = "/tmp/kiv_font_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        driver_init(0);
        driver_set_altdir(dir.c_str());
    }
    void TearDown() override {
        driver_deinit();
        EXPECT_EQ(system(("rm -rf '" + dir + "'").c_str()), 0);
        FontTest::TearDown();
    }
    std::string write(const std::string &name, const std::string &text) {
        std::string path = dir + "/" + name;
        FILE *f = fopen(path.c_str(), "wb");
        EXPECT_NE(f, nullptr) << path;
        if (f) {
            fwrite(text.data(), 1, text.size(), f);
            fclose(f);
        }
        return path;
    }
};

std::string rect_str(const GfxRect &r) {
    char b[128];
    snprintf(b, sizeof(b), "(%g, %g, %g, %g)", r.x, r.y, r.w, r.h);
    return b;
}

TEST_F(FontTest, ParsesFileLinesAndRefusesBadValues) {
    struct Row {
        const char *name;
        std::string text;
        int size;
        float height, base, scale, yinc, page_w, page_h;
        int glyph;           // slot to check
        GfxRect rect, shape; // expected slot contents
    };
    const Row rows[] = {
        {"plain glyph", grid_font(), 0, 32, 26, 1, 32, 256, 128, 'A', GfxRect(16, 64, 8, 16), GfxRect(1, 2, 10, 16)},
        {"size scales the line advance", grid_font(), 24, 32, 26, 0.75f, 24, 256, 128, 'A', GfxRect(16, 64, 8, 16),
         GfxRect(1, 2, 10, 16)},
        {"fractions: integers cut, xadvance and shape height kept",
         "common lineHeight=20.7 base=15.9 scaleW=64.5 scaleH=32\n"
         "char id=66 x=3.9 y=4.2 width=5.5 height=6.5 xoffset=-1.7 yoffset=2.2 xadvance=7.25",
         0, 20, 15, 1, 20, 64, 32, 'B', GfxRect(3, 4, 5, 6), GfxRect(-1, 2, 7.25f, 6.5f)},
        {"extra '=' parts ignored, unknown keys and tags skipped",
         "info a=b=c\ncommon lineHeight=10=99 base=8 scaleW=64 scaleH=64 foo=1\nkerning first=1 second=2\n"
         "char id=67=5 x=1 y=2 width=3 height=4 xadvance=5 bogus",
         0, 10, 8, 1, 10, 64, 64, 'C', GfxRect(1, 2, 3, 4), GfxRect(0, 0, 5, 4)},
        {"id 300 ignored instead of writing past the tables",
         "common lineHeight=10 base=8 scaleW=64 scaleH=64\nchar id=300 x=9 y=9 width=9 height=9 xadvance=9", 0, 10, 8,
         1, 10, 64, 64, 300 % 256, GfxRect(), GfxRect()},
        {"negative id ignored", "common lineHeight=10\nchar id=-1 x=9 y=9 width=9 height=9 xadvance=9", 0, 10, 0, 1, 10,
         0, 0, 255, GfxRect(), GfxRect()},
        {"id 255 is the last slot", "common lineHeight=10\nchar id=255 x=1 y=1 width=1 height=1 xadvance=3", 0, 10, 0,
         1, 10, 0, 0, 255, GfxRect(1, 1, 1, 1), GfxRect(0, 0, 3, 1)},
        {"id 0 and a missing id skipped", "char id=0 x=5 width=5 xadvance=5\nchar x=6 width=6 xadvance=6", 0, 0, 0, 1,
         0, 0, 0, 0, GfxRect(), GfxRect()},
        {"no common line: measures 0 high, finite scale", "char id=65 x=1 y=1 width=1 height=1 xadvance=3", 24, 0, 0, 1,
         0, 0, 0, 'A', GfxRect(1, 1, 1, 1), GfxRect(0, 0, 3, 1)},
        {"zero line height with a size: finite scale", "common lineHeight=0 base=0 scaleW=64 scaleH=64", 24, 0, 0, 1, 0,
         64, 64, 'A', GfxRect(), GfxRect()},
        {"huge values saturate", "common lineHeight=1e300 base=nan scaleW=-1e300 scaleH=inf", 0, 1e6f, 0, 1, 1e6f,
         -1e6f, 1e6f, 'A', GfxRect(), GfxRect()},
        {"carriage returns tolerated",
         "common lineHeight=12 base=10 scaleW=64 scaleH=64\r\nchar id=68 x=2 y=3 width=4 "
         "height=5 xoffset=0 yoffset=0 xadvance=6\r",
         0, 12, 10, 1, 12, 64, 64, 'D', GfxRect(2, 3, 4, 5), GfxRect(0, 0, 6, 5)},
    };
    for (const Row &r : rows) {
        int id = make(r.text, r.size);
        FontInfo *f = _font_get(id);
        ASSERT_NE(f, nullptr) << r.name;
        EXPECT_EQ(f->height, r.height) << r.name;
        EXPECT_EQ(f->base, r.base) << r.name;
        EXPECT_FLOAT_EQ(f->scale, r.scale) << r.name;
        EXPECT_FLOAT_EQ(f->yinc, r.yinc) << r.name;
        EXPECT_EQ(f->rect.w, r.page_w) << r.name;
        EXPECT_EQ(f->rect.h, r.page_h) << r.name;
        EXPECT_EQ(rect_str(f->rects[r.glyph]), rect_str(r.rect)) << r.name;
        EXPECT_EQ(rect_str(f->shapes[r.glyph]), rect_str(r.shape)) << r.name;
        EXPECT_TRUE(std::isfinite(f->scale)) << r.name << ": scale " << f->scale;
        EXPECT_TRUE(std::isfinite(f->yinc)) << r.name << ": line advance " << f->yinc;
    }
}

TEST_F(FontTest, ReparseKeepsUnmentionedGlyphsAndResetsMargins) {
    int id = make(grid_font());
    font_set_margins(id, 0.25f, 0.5f, 0.25f, 0.5f);
    FontInfo *f = _font_get(id);
    EXPECT_EQ(f->m_left, 16);
    EXPECT_EQ(f->yinc, 48);
    _font_parse(id,
                "common lineHeight=40 base=30 scaleW=256 scaleH=128\nchar id=65 x=0 y=0 width=1 height=1 xadvance=4");
    EXPECT_EQ(f->m_left, 0) << "a common line resets the margins";
    EXPECT_EQ(f->yinc, 40);
    EXPECT_EQ(f->shapes['A'].w, 4) << "a mentioned glyph is replaced";
    EXPECT_EQ(f->shapes['B'].w, 10) << "an unmentioned glyph keeps its previous metrics";
}

TEST_F(FontTest, WrapsAtBlanksNewlinesAndWidth) {
    struct Row {
        const char *name;
        std::string text;
        float w;
        float margin; // left and right, as a fraction of the line height
        std::vector<std::vector<int>> lines;
    };
    const Row rows[] = {
        {"fits 'aaa b' not 'aaa bb'", "aaa bbb", 55, 0, {{0, 3, 30}, {4, 7, 30}}},
        {"width 0 never wraps", "aaa bbb", 0, 0, {{0, 7, 70}}},
        {"newline splits at width 0", "ab\ncd", 0, 0, {{0, 2, 20}, {3, 5, 20}}},
        {"newline splits at a wide width", "ab\ncd", 1000, 0, {{0, 2, 20}, {3, 5, 20}}},
        {"word without blank breaks at the byte that did not fit", "aaaaaa", 35, 0, {{0, 3, 30}, {3, 6, 30}}},
        {"empty text is one empty line", "", 50, 0, {{0, 0, 0}}},
        {"blank at index 0 is no break point", " aaa bbb", 55, 0, {{0, 4, 40}, {5, 8, 30}}},
        {"two blanks: break at the last fitting one", "a b c d", 45, 0, {{0, 3, 30}, {4, 7, 30}}},
        {"trailing newline gives an empty last line", "ab\n", 0, 0, {{0, 2, 20}, {3, 3, 0}}},
        {"margins count in the width", "aaa bbb", 71, 0.25f, {{0, 3, 46}, {4, 7, 46}}},
        {"text exactly at the width stays on one line", "aaaaa", 50, 0, {{0, 5, 50}}},
    };
    for (const Row &r : rows) {
        int id = make(grid_font());
        font_set_margins(id, 0, r.margin, 0, r.margin);
        FontWrap wrap;
        _font_wrap_calc(id, r.text.c_str(), r.w, wrap);
        std::vector<std::vector<int>> got;
        for (int k = 0; k < wrap.total; k++)
            got.push_back({wrap.lines[k][0], wrap.lines[k][1], wrap.lines[k][2]});
        EXPECT_EQ(got, r.lines) << r.name;
    }
}

TEST_F(FontTest, WrapLimitsAndWideGlyphs) {
    struct Row {
        const char *name;
        std::string text;
        float w;
        int total;
        int first_end; // end of line 0
    };
    const std::string many(40, '\n');
    const Row rows[] = {
        {"40 newlines keep 32 lines", many, 0, 32, 0},
        {"glyph wider than the width takes its own line", "WW", 50, 2, 1},
        {"wide glyph after a word moves to the next line", "a W", 50, 2, 1},
        {"width below the margins still makes progress", "abc", 5, 3, 1},
        {"long word wrapped into many lines stops at 32", std::string(100, 'a'), 25, 32, 2},
    };
    for (const Row &r : rows) {
        int id = make(grid_font(), 0, "\nchar id=87 x=0 y=0 width=100 height=16 xadvance=100");
        if (r.w == 5)
            font_set_margins(id, 0, 0.1f, 0, 0.1f);
        FontWrap wrap;
        _font_wrap_calc(id, r.text.c_str(), r.w, wrap);
        EXPECT_EQ(wrap.total, r.total) << r.name;
        EXPECT_EQ(wrap.lines[0][1], r.first_end) << r.name;
        for (int k = 0; k < wrap.total && r.text[0] != '\n'; k++)
            EXPECT_LT(wrap.lines[k][0], wrap.lines[k][1]) << r.name << ": line " << k << " is empty";
    }
}

TEST_F(FontTest, MeasuresWidthAndHeight) {
    struct Row {
        const char *name;
        const char *text;
        float w;
        int size;
        float margin;
        float width, height;
    };
    const Row rows[] = {
        {"empty", "", 0, 0, 0, 0, 32},
        {"empty with margins gives the right margin", "", 0, 0, 0.25f, 8, 48},
        {"one line", "abc", 0, 0, 0, 30, 32},
        {"widest line wins", "ab\nabcd\na", 0, 0, 0, 40, 32},
        {"margins on both sides", "abc", 0, 0, 0.25f, 46, 48},
        {"size 16 halves everything", "abcd", 0, 16, 0, 20, 16},
        {"wrapped height counts lines", "aaa bbb ccc", 35, 0, 0, 110, 96},
        {"null text is one line", nullptr, 35, 0, 0, 0, 32},
    };
    for (const Row &r : rows) {
        int id = make(grid_font(), r.size);
        font_set_margins(id, r.margin, r.margin, r.margin, r.margin);
        EXPECT_FLOAT_EQ(font_get_width(id, r.text), r.width) << r.name;
        EXPECT_FLOAT_EQ(font_get_height(id, r.text, r.w), r.height) << r.name;
    }
}

TEST_F(FontTest, LaysOutAlignedLinesAndGlyphs) {
    struct Row {
        const char *name;
        const char *text;
        float w;
        int align;
        float margin;
        std::vector<float> line_x; // box x of every line
        float first_dst_x, first_src_x;
    };
    // Drawn at (100, 50); the page is padded from 256 x 128 to a 512 x 256 texture.
    const Row rows[] = {
        {"left", "ab", 100, -1, 0, {100}, 101, 16 / 512.0f},
        {"centre", "ab", 100, 0, 0, {140}, 141, 16 / 512.0f},
        {"right", "ab", 100, 1, 0, {180}, 181, 16 / 512.0f},
        {"width 0 ignores the alignment", "ab", 0, 1, 0, {100}, 101, 16 / 512.0f},
        {"right with margins ends at x + w - right margin", "ab", 100, 1, 0.25f, {172}, 173, 16 / 512.0f},
        {"lines aligned one by one", "aaa\nb", 100, 1, 0, {170, 190}, 171, 16 / 512.0f},
    };
    for (const Row &r : rows) {
        int id = make(grid_font());
        font_set_margins(id, r.margin, r.margin, r.margin, r.margin);
        std::vector<FontLine> lines;
        _font_layout(id, r.text, 100, 50, r.w, r.align, 512, 256, lines);
        std::vector<float> xs;
        for (const FontLine &l : lines)
            xs.push_back(l.box.x);
        EXPECT_EQ(xs, r.line_x) << r.name;
        ASSERT_FALSE(lines.empty()) << r.name;
        ASSERT_FALSE(lines[0].glyphs.empty()) << r.name;
        const FontGlyph &g = lines[0].glyphs[0];
        EXPECT_FLOAT_EQ(g.dst.x, r.first_dst_x) << r.name;
        EXPECT_FLOAT_EQ(g.dst.y, 52 + r.margin * 32) << r.name;
        EXPECT_FLOAT_EQ(g.src.x, r.first_src_x) << r.name << ": source divided by the texture size";
        EXPECT_FLOAT_EQ(g.src.w, 8 / 512.0f) << r.name;
        EXPECT_FLOAT_EQ(g.src.h, 16 / 256.0f) << r.name;
    }
    // The last glyph of a right-aligned line ends its advance exactly at x + w - right margin.
    int id = make(grid_font());
    font_set_margins(id, 0, 0.25f, 0, 0.25f);
    std::vector<FontLine> lines;
    _font_layout(id, "abc", 100, 50, 100, 1, 512, 256, lines);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_FLOAT_EQ(lines[0].glyphs[2].dst.x - 1 + 10, 100 + 100 - 8);
}

TEST_F(FontTest, LongLineKeepsEveryGlyph) {
    int id = make(grid_font());
    std::string text(600, 'x');
    std::vector<FontGlyph> glyphs;
    _font_line_glyphs(id, text.c_str(), (int)text.size(), 0, 0, 256, 128, glyphs);
    ASSERT_EQ(glyphs.size(), 600u) << "a line longer than one batch must not be cut or overflow";
    EXPECT_FLOAT_EQ(glyphs[599].dst.x, 5991);
}

TEST_F(FontTest, CaretRectangles) {
    struct Row {
        const char *name;
        const char *text;
        int pos;
        float w;
        int align;
        float margin;
        GfxRect expect;
    };
    const Row rows[] = {
        {"pos 0 at the left margin", "abc", 0, 0, -1, 0.25f, GfxRect(8, 8, 10, 48)},
        {"middle", "abc", 2, 0, -1, 0, GfxRect(20, 0, 10, 32)},
        {"pos = length after the last glyph", "abc", 3, 0, -1, 0, GfxRect(30, 0, 0, 32)},
        {"beyond the text stays after the last glyph", "abc", 99, 0, -1, 0, GfxRect(30, 0, 0, 32)},
        {"second line starts again at the margin", "ab\ncd", 3, 0, -1, 0.25f, GfxRect(8, 56, 10, 48)},
        {"the newline itself ends the first line", "ab\ncd", 2, 0, -1, 0, GfxRect(20, 0, 0, 32)},
        {"right aligned", "ab", 0, 100, 1, 0, GfxRect(80, 0, 10, 32)},
        {"centred", "ab", 1, 100, 0, 0, GfxRect(50, 0, 10, 32)},
        {"wrapped second line", "aaa bbb", 5, 55, -1, 0, GfxRect(10, 32, 10, 32)},
    };
    for (const Row &r : rows) {
        int id = make(grid_font());
        font_set_margins(id, r.margin, r.margin, r.margin, r.margin);
        // The terminating NUL has no metrics, so the caret after the text is 0 wide.
        EXPECT_EQ(rect_str(font_crect(id, r.text, r.pos, r.w, r.align)), rect_str(r.expect)) << r.name;
    }
}

TEST_F(FontTest, NearestCaret) {
    struct Row {
        const char *name;
        const char *text;
        int x, y;
        float w;
        int align;
        int expect;
    };
    const Row rows[] = {
        {"left of the text gives the line's first index", "abc", -50, 10, 0, -1, 0},
        {"on the second glyph", "abc", 12, 10, 0, -1, 1},
        {"right of the text gives the end", "abc", 500, 10, 0, -1, 3},
        {"second line", "ab\ncd", 1, 40, 0, -1, 3},
        {"below the last line stays on it", "ab\ncd", 11, 500, 0, -1, 4},
        {"above the text picks the first line", "ab\ncd", 11, -500, 0, -1, 1},
        {"far below does not overflow", "ab\ncd", 0, INT_MAX, 0, -1, 3},
        {"far above does not overflow", "ab\ncd", 0, INT_MIN, 0, -1, 0},
        {"right aligned line", "ab", 81, 10, 100, 1, 0},
        {"empty text", "", 40, 40, 0, -1, 0},
    };
    for (const Row &r : rows) {
        int id = make(grid_font());
        EXPECT_EQ(font_cnear(id, r.text, r.x, r.y, r.w, r.align), r.expect) << r.name;
    }
}

TEST_F(FontTest, CaretDistance) {
    struct Row {
        const char *name;
        GfxRect r;
        int x, y;
        int expect;
    };
    const Row rows[] = {
        {"same place", GfxRect(10, 0, 10, 20), 10, 10, 0},
        {"horizontal only", GfxRect(10, 0, 10, 20), 4, 10, 6},
        {"one row beats any horizontal distance", GfxRect(10, 0, 10, 20), 10, 11, 65536},
        {"fractions truncate", GfxRect(10.9f, 0, 10, 21), 10, 10, 0},
        {"saturates instead of overflowing", GfxRect(0, 0, 10, 20), 0, INT_MIN, INT_MAX},
        {"huge rectangle saturates", GfxRect(3e38f, 3e38f, 10, 20), 0, 0, INT_MAX},
    };
    for (const Row &r : rows) {
        GfxRect rect = r.r;
        EXPECT_EQ(_font_dist(rect, r.x, r.y), r.expect) << r.name;
    }
}

TEST_F(FontTest, UnknownIdsAreNeutral) {
    FontWrap wrap;
    _font_wrap_calc(42, "abc", 10, wrap);
    EXPECT_EQ(wrap.total, 0);
    EXPECT_EQ(font_get_width(0, "abc"), 0);
    EXPECT_EQ(font_get_height(-3, "abc", 10), 0);
    EXPECT_EQ(font_cnear(7, "abc", 1, 1, 0, -1), 0);
    EXPECT_EQ(rect_str(font_crect(7, "abc", 1, 0, -1)), rect_str(GfxRect()));
    font_set_margins(99, 1, 1, 1, 1);
    font_deinit();
    EXPECT_EQ(font_load("console", 24), 0) << "no module state, no font";
    font_init();
}

TEST_F(FontTest, LoadsByNameAndSize) {
    driver_init(0);
    driver_set_gamename("KivGame"); // data files come from ./data of the build dir
    const std::string long_name(300, 'n');
    struct Row {
        const char *name;
        std::string font;
        int size;
        bool found;
        float yinc;
    };
    const Row rows[] = {
        {"console at 24", "console", 24, true, 24},
        {"console at 12", "console", 12, true, 12},
        {"small at its own size", "small", 0, true, 12},
        {"with its suffix", "console.fnt", 24, true, 24},
        {"missing", "no_such_font", 24, false, 0},
        {"name longer than the key field", long_name, 24, false, 0},
        {"long name that fits the key field but is absent", std::string(250, 'p'), 1, false, 0},
    };
    for (const Row &r : rows) {
        int id = font_load(r.font.c_str(), r.size);
        EXPECT_EQ(id != 0, r.found) << r.name;
        EXPECT_EQ(font_load(r.font.c_str(), r.size), id) << r.name << ": a second load answers the same id";
        if (id) {
            EXPECT_FLOAT_EQ(_font_get(id)->yinc, r.yinc) << r.name;
        }
    }
    int a = font_load("console", 24), b = font_load("console", 12);
    EXPECT_NE(a, b);
    EXPECT_EQ(_font_get(a)->tex, _font_get(b)->tex) << "one page for both sizes";
    EXPECT_GT(font_get_width(a, "Hello"), 0);
    driver_deinit();
}

// A reload starts from an empty glyph table and is logged; a file that gives no font says why and, on a reload,
// changes nothing.
TEST_F(FontFileTest, ReloadReadsTheFileAgainUnderTheSameId) {
    const std::string a20 = "char id=65 x=0 y=0 width=8 height=16 xadvance=20\n";
    const std::string binary("BMF\x03\x01\x0e\x00\x00\x00\x20\x00", 11), junk = "<html>not a font</html>\n";
    struct Row {
        const char *name, *file;
        std::string text;
        float yinc, adv_a, adv_b; // at the file's own size: yinc is its line height
        const char *why;          // the cause logged for a file that gives no font
    };
    const Row rows[] = {
        {"first version", "reload", grid_font(), 32, 10, 10, nullptr},
        {"taller lines, new A", "reload", grid_font("common lineHeight=48 base=40 scaleW=256 scaleH=128") + a20, 48, 20,
         10, nullptr},
        {"a smaller file: only A", "reload", "common lineHeight=40 base=30 scaleW=64 scaleH=64\n" + a20, 40, 20, 0,
         nullptr},
        {"glyph-only file keeps the line height, not the old glyphs", "reload",
         "char id=66 x=0 y=0 width=8 height=16 xadvance=12\n", 40, 0, 12, nullptr},
        {"empty file changes nothing", "reload", "", 40, 0, 12, "empty file"},
        {"binary file changes nothing", "reload", binary, 40, 0, 12, "a binary file, not font text"},
        {"garbage changes nothing", "reload", junk, 40, 0, 12, "no common or char lines"},
        {"first load of an empty file", "empty", "", 0, 0, 0, "empty file"},
        {"first load of a binary file", "bin", binary, 0, 0, 0, "a binary file, not font text"},
        {"first load of garbage", "junk", junk, 0, 0, 0, "no common or char lines"},
    };
    std::map<std::string, int> ids;
    for (const Row &r : rows) {
        const std::string path = write(r.file + std::string(".fnt"), r.text);
        int &id = ids[r.file];
        const bool reload = id != 0;
        testing::internal::CaptureStdout();
        if (reload)
            font_reload(id);
        else
            id = font_load(r.file, 0);
        const std::string log = testing::internal::GetCapturedStdout();
        ASSERT_NE(id, 0) << r.name;
        if (reload) {
            EXPECT_NE(log.find("font_reload: " + path + "\n"), std::string::npos) << r.name << ": " << log;
        }
        const std::string why = std::string(reload ? "font_reload: " : "font_load: ") + path + " gave no font - ";
        EXPECT_EQ(log.find(why + (r.why ? r.why : "") + "\n") != std::string::npos, r.why != nullptr)
            << r.name << ": " << log;
        EXPECT_EQ(font_load(r.file, 0), id) << r.name;
        FontInfo *fi = _font_get(id);
        EXPECT_FLOAT_EQ(fi->yinc, r.yinc) << r.name;
        EXPECT_FLOAT_EQ(font_get_width(id, "A"), r.adv_a) << r.name;
        EXPECT_FLOAT_EQ(font_get_width(id, "B"), r.adv_b) << r.name;
        EXPECT_GT(fi->fnt_mtime, 0) << r.name;
    }
}

// The frame's font check on an injected clock: a rewritten font file is read once it has settled for two seconds,
// at most once a wall-clock second, under the same id.
TEST_F(FontTest, ChangedFontFilesAreReadOnceSettled) {
    char tmpl[] = "/tmp/kiv_font_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl, path = dir + "/live.fnt";
    driver_init(0);
    driver_set_altdir(dir.c_str());
    auto write = [&](float adv_a, time_t mtime) {
        std::string text = grid_font() +
                           "char id=65 x=0 y=0 width=8 height=16 xadvance=" + std::to_string((int)(adv_a / 0.75f)) +
                           "\n";
        FILE *f = fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        fwrite(text.data(), 1, text.size(), f);
        fclose(f);
        struct utimbuf t = {mtime, mtime};
        ASSERT_EQ(utime(path.c_str(), &t), 0);
    };
    const time_t t = time(nullptr);
    write(7.5f, t - 100);
    int id = font_load("live", 24);
    ASSERT_NE(id, 0);
    struct Row {
        const char *name;
        float write_a; // advance of A in the file written before the check, 0 to leave the file
        time_t mtime, now;
        float want_a;
    } rows[] = {
        {"unchanged file", 0, 0, t, 7.5f},
        {"rewritten one second ago is left alone", 15, t + 9, t + 10, 7.5f},
        {"settled, but this second was checked", 15, t + 8, t + 10, 7.5f},
        {"read in the next second", 0, 0, t + 11, 15},
        {"rewritten under the same time is not read again", 30, t + 8, t + 20, 15},
        {"put back with an older time is read", 30, t, t + 30, 30},
        {"newer and settled", 30, t + 38, t + 40, 30},
    };
    for (const Row &r : rows) {
        if (r.write_a > 0)
            write(r.write_a, r.mtime);
        font_reload_check(r.now);
        EXPECT_FLOAT_EQ(font_get_width(id, "A"), r.want_a) << r.name;
        EXPECT_EQ(font_load("live", 24), id) << r.name;
    }
    // Rewritten 0.4 s later within the same second, with another size: read once settled.
    write(75, t + 38);
    struct timeval later[2] = {{t + 38, 400000}, {t + 38, 400000}};
    ASSERT_EQ(utimes(path.c_str(), later), 0);
    font_reload_check(t + 50);
    EXPECT_FLOAT_EQ(font_get_width(id, "A"), 75) << "same second, another size";
    driver_deinit();
    EXPECT_EQ(system(("rm -rf '" + dir + "'").c_str()), 0);
}

// Every size of a file shares its one parse: new sizes read no file, measure as a fresh load of that size would,
// and all follow a reload of the file.
TEST_F(FontFileTest, SizesOfOneFileShareItsGlyphs) {
    write("grow.fnt", grid_font());
    const int first = font_load("grow", 1);
    ASSERT_NE(first, 0);
    // Gone from disk: a size that still loads was not read from it.
    ASSERT_EQ(remove((dir + "/grow.fnt").c_str()), 0);
    std::vector<int> ids(1, first);
    for (int size = 2; size <= 500; size++) {
        ids.push_back(font_load("grow", size));
        EXPECT_FLOAT_EQ(font_get_width(ids.back(), "A"), 10.0f * size / 32) << size;
    }
    write("grow.fnt", "common lineHeight=64 base=50 scaleW=256 scaleH=128\n"
                      "char id=65 x=0 y=0 width=8 height=16 xadvance=20\n");
    font_reload(ids[250]);
    for (int size : {1, 2, 251, 500}) {
        const int id = ids[size - 1];
        EXPECT_EQ(font_load("grow", size), id) << size;
        EXPECT_EQ(_font_get(id)->rects, _font_get(first)->rects) << size << ": one glyph table";
        EXPECT_FLOAT_EQ(font_get_width(id, "A"), 20.0f * size / 64) << size;
        EXPECT_FLOAT_EQ(font_get_width(id, "B"), 0) << size;
        EXPECT_FLOAT_EQ(font_get_height(id, "A", 0), (float)size) << size;
    }
}

// A parse through one size reaches the others of its file when they are next looked up: a "common" line starts
// them over (margins 0, scale from the new line height), glyph lines alone leave their margins.
TEST_F(FontFileTest, OtherSizesFollowAReparseOnTheirNextLookup) {
    struct Row {
        const char *name, *text;
        float m_left, scale, yinc; // of the 64 size, whose margins were set before the parse
    } rows[] = {
        {"glyph lines keep its margins", "char id=65 x=0 y=0 width=8 height=16 xadvance=20", 16, 2, 64},
        {"a common line starts it over", "common lineHeight=16 base=12 scaleW=64 scaleH=64", 0, 4, 64},
        {"no line height keeps its pixels", "common lineHeight=0 base=0 scaleW=64 scaleH=64", 0, 1, 0},
    };
    for (const Row &r : rows) {
        write("share.fnt", grid_font());
        font_deinit();
        font_init();
        const int small = font_load("share", 16), big = font_load("share", 64);
        ASSERT_NE(small, 0) << r.name;
        font_set_margins(big, 0, 0.5f, 0, 0.5f);
        _font_parse(small, r.text);
        const FontInfo *f = _font_get(big);
        EXPECT_FLOAT_EQ(f->m_left, r.m_left) << r.name;
        EXPECT_FLOAT_EQ(f->scale, r.scale) << r.name;
        EXPECT_FLOAT_EQ(f->yinc, r.yinc) << r.name;
        EXPECT_FLOAT_EQ(font_get_height(big, "A", 0), r.yinc) << r.name;
    }
}

// Two entries over one file (each read on its own) are both brought up to date by the one look the scan takes.
TEST_F(FontFileTest, OneScanLookServesEveryEntryOfAFile) {
    const std::string path = write("twice.fnt", grid_font());
    const int a = _font_add("twice:1", 0, 0, path.c_str()), b = _font_add("twice:2", 0, 0, path.c_str());
    font_reload_check(time(nullptr) + 10);
    for (int id : {a, b})
        EXPECT_FLOAT_EQ(font_get_width(id, "A"), 10) << id;
}

} // namespace
