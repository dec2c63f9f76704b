// The font module's inside: the file lookup, the text filter and the one-line draw its calls share, the frame
// loop's file-change check, and the plain code behind loading and drawing that tests drive without a window.
#pragma once

#include <ctime>
#include <string>
#include <vector>

#include "kiv_font.h"

// What a font file gives every size it is loaded at. The sizes read it through references, so a page load or a
// reload of the file reaches all of them at once.
struct FontFileMetrics {
    int tex = 0;
    float height = 0;
    float base = 0;
    GfxRect rect; // 0, 0, scaleW, scaleH
    time_t mtime = 0;
    DriverFileStamp stamp = {0, 0};
    int commons = 0; // "common" lines taken: a size that saw fewer starts over on the new line height
};

// One size of a font: its own scale, margins and line advance over the metrics and glyph tables of its file. The
// module's lookup (_font_get) brings them up to the file's last "common" line.
struct FontInfo {
    FontInfo(int n, int face, const FontFileMetrics &file, GfxRect *rects, GfxRect *shapes, const char *fname,
             float size);
    int n;
    const int &tex;
    GfxRect *rects;  // the glyph tables of its file, which every size of the file shares
    GfxRect *shapes; // x = xoffset, y = yoffset, w = xadvance, h = height
    const float &height;
    const float &base;
    float size;
    float scale;
    const GfxRect &rect;   // 0, 0, scaleW, scaleH
    const char *fnt_fname; // path of its file
    const time_t &fnt_mtime;
    const DriverFileStamp &fnt_stamp; // what hot reload compares (kiv_driver.h)
    float m_top, m_right, m_bottom, m_left;
    float yinc;
    int face; // its file's entry in the module
    const int &file_commons;
    int commons_seen; // file_commons when scale, margins and line advance were last set
};

struct FontWrap {
    int total;
    int lines[KIV_FONT_WRAP_MAX][3]; // start index, end index, width
};

// --- the module's own steps

// The data file a font name stands for (as given, or with ".fnt" or ".txt"); null when there is none.
const char *_font_find(const char *name);
const char *_font_filter(const char *s);
void _font_draw(int fid, const char *s, float x, float y);

// --- the plain code behind wrapping, caret search, loading and drawing, which tests drive without a window
void _font_wrap_calc(int fid, const char *s, float w, FontWrap &out);
int _font_dist(GfxRect &r, int x, int y);

// The font entry of an id, valid until font_deinit; null for 0, unknown ids or before font_init.
FontInfo *_font_get(int fid);
// Registers a new font with a file of its own under a key ("name:size") without reading the file; returns its id (0
// when the key is too long).
int _font_add(const char *key, int tex, int size, const char *fname);
// Fills the font, and every size sharing its file, from the text of a font file; glyph slots the text does not
// mention keep their contents. Returns the number of "common" and glyph lines it took.
int _font_parse(int fid, const std::string &text);

// One glyph of a drawn line: destination in drawing units, source in fractions of the page.
struct FontGlyph {
    GfxRect dst, src;
};
// One wrapped line as font_draw places it: its box and the glyphs of its bytes.
struct FontLine {
    GfxRect box;
    std::vector<FontGlyph> glyphs;
};
// The glyphs of n bytes of s drawn as one line from (x, y); page_w, page_h: the page texture's size in pixels.
void _font_line_glyphs(int fid, const char *s, int n, float x, float y, float page_w, float page_h,
                       std::vector<FontGlyph> &out);
// The lines font_draw would draw, before clipping.
void _font_layout(int fid, const char *s, float x, float y, float w, int align, float page_w, float page_h,
                  std::vector<FontLine> &out);
