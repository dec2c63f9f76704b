// Fuzz target for bitmap fonts: any font text parses, and wrapping, measuring, layout and the caret helpers over
// any text stay inside the text and the wrap table with finite numbers. Input: 4 bytes of box width, alignment and
// caret position, then the font text, a NUL, and the text to lay out.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "kiv_font.h"
#include "kiv_font_int.h"

static bool finite_rect(const GfxRect &r) {
    return std::isfinite(r.x) && std::isfinite(r.y) && std::isfinite(r.w) && std::isfinite(r.h);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 4 || size > 1 << 16)
        return 0;
    float w = (float)(int16_t)(data[0] | data[1] << 8);
    int align = data[2] % 3 - 1, pos = data[3];
    std::string rest((const char *)data + 4, size - 4);
    size_t nul = rest.find('\0');
    std::string fnt = rest.substr(0, nul);
    std::string text = nul == std::string::npos ? "Hello, wrapped world\nand more" : rest.substr(nul + 1);
    text = text.c_str(); // the engine's texts end at their first NUL
    const int len = (int)text.size();

    font_deinit();
    font_init();
    int fid = _font_add("fuzz:16", 0, 16, "fuzz.fnt");
    const int used = _font_parse(fid, fnt);
    // A text the loader reports as giving no font must indeed have set nothing.
    if (used == 0) {
        const FontInfo *f = _font_get(fid);
        bool empty = f->height == 0 && f->rect.w == 0 && f->rect.h == 0;
        for (int g = 0; g < 256 && empty; g++)
            empty = f->shapes[g].w == 0 && f->rects[g].w == 0 && f->rects[g].h == 0;
        KIV_FUZZ_CHECK(empty, "a text with no lines taken sets nothing");
    }

    FontWrap wrap;
    _font_wrap_calc(fid, text.c_str(), w, wrap);
    KIV_FUZZ_CHECK(wrap.total >= 1 && wrap.total <= KIV_FONT_WRAP_MAX, "wrap table bounds");
    for (int k = 0; k < wrap.total; k++)
        KIV_FUZZ_CHECK(0 <= wrap.lines[k][0] && wrap.lines[k][0] <= wrap.lines[k][1] && wrap.lines[k][1] <= len,
                       "a wrapped line lies inside the text");
    KIV_FUZZ_CHECK(std::isfinite(font_get_width(fid, text.c_str())), "finite width");
    KIV_FUZZ_CHECK(std::isfinite(font_get_height(fid, text.c_str(), w)), "finite height");

    std::vector<FontLine> lines;
    _font_layout(fid, text.c_str(), 3, 5, w, align, 256, 128, lines);
    KIV_FUZZ_CHECK((int)lines.size() == wrap.total, "one laid-out line per wrapped line");
    for (int k = 0; k < (int)lines.size(); k++) {
        KIV_FUZZ_CHECK((int)lines[k].glyphs.size() <= wrap.lines[k][1] - wrap.lines[k][0], "one glyph per byte");
        for (const FontGlyph &g : lines[k].glyphs)
            KIV_FUZZ_CHECK(finite_rect(g.dst) && finite_rect(g.src), "finite glyph rectangles");
    }
    KIV_FUZZ_CHECK(finite_rect(font_crect(fid, text.c_str(), pos, w, align)), "finite caret rectangle");
    int near = font_cnear(fid, text.c_str(), pos * 3 - 100, pos - 30, w, align);
    KIV_FUZZ_CHECK(near >= 0 && near <= len, "nearest caret inside the text");
    return 0;
}
