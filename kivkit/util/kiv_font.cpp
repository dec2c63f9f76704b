// Bitmap fonts: the font table, the ".fnt" text parser, wrapping, measuring, caret helpers and glyph drawing.
// The shell creates the module (font_init) and scans for changed files each frame; text drawing goes through here.
#include "kiv_font.h"
#include "kiv_font_int.h"
#include "kiv_util.h"

#include <GL/gl.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <deque>
#include <map>

#include "kiv_driver.h"
#include "kiv_gfx_int.h"
#include "kiv_printf.h"

// --- constants

// Font file values beyond this are treated as this: keeps hostile files from overflowing integer conversions.
static const double FONT_VALUE_MAX = 1e6;

// --- state

// One parsed font file and its page: every size the file is loaded at shares it, so a new size costs one small
// entry and no file read, and a reload of the file updates every size at once.
struct FontFace : FontFileMetrics {
    GfxRect rects[256];     // glyph pixels on the page
    GfxRect shapes[256];    // x = xoffset, y = yoffset, w = xadvance, h = height
    std::string fname;      // path of the font file
    std::string page;       // the page's texture name
    std::string named_page; // the page file its first "page" line names, only reported: the page is always `page`
    bool page_told = false; // whether the log has said that the named page is not the one read
    std::vector<int> fonts; // ids of the sizes sharing it
};

struct _FontData {
    std::map<std::string, int> map;
    std::deque<FontInfo> data;          // a deque: entries stay put while fonts are added, so held pointers stay valid
    std::deque<FontFace> faces;         // likewise for the glyph tables the entries point into
    std::map<std::string, int> face_of; // font name as asked for -> face, so a new size searches no file
    std::map<std::string, int> face_path; // font file path and page -> face
    time_t reload_checked = 0;            // the wall-clock second of the last file-change scan
};

static _FontData *_font = nullptr;

// What the unused entry 0 reads.
static const FontFileMetrics _font_no_file;

// --- internal helpers

static FontInfo _font_zero() {
    return FontInfo(0, 0, _font_no_file, nullptr, nullptr, "", 0);
}

static double _font_number(const std::string &v) {
    const char *s = v.c_str();
    char *end = nullptr;
    double d = strtod(s, &end);
    if (end == s || std::isnan(d))
        return 0;
    if (d > FONT_VALUE_MAX)
        return FONT_VALUE_MAX;
    if (d < -FONT_VALUE_MAX)
        return -FONT_VALUE_MAX;
    return d;
}

static float _font_int(const std::string &v) {
    return (float)(long)_font_number(v);
}

static float _font_adv(const FontInfo &f, unsigned char g) {
    return f.shapes[g].w * f.scale;
}

static void _font_split(const std::string &s, char sep, std::vector<std::string> &out) {
    out.clear();
    size_t p = 0;
    for (;;) {
        size_t q = s.find(sep, p);
        if (q == std::string::npos) {
            out.push_back(s.substr(p));
            return;
        }
        out.push_back(s.substr(p, q - p));
        p = q + 1;
    }
}

// The x where a wrapped line starts, relative to the text box's left edge.
static float _font_line_x(const FontInfo &f, float width, float w, int align) {
    float x0 = f.m_left * f.scale;
    if (w != 0)
        x0 += (align + 1) * (w - width) / 2;
    return x0;
}

// Walks the wrapped lines of s in a box of width w at (x, y): fn(first, end, width, left, top) per line, where
// first..end are its byte offsets into s.
template <class F>
static void _font_each_line(const FontInfo &f, int fid, const char *s, float x, float y, float w, int align, F fn) {
    FontWrap wrap;
    _font_wrap_calc(fid, s, w, wrap);
    float y1 = y + f.m_top * f.scale;
    for (int k = 0; k < wrap.total; k++) {
        float width = (float)wrap.lines[k][2];
        fn(wrap.lines[k][0], wrap.lines[k][1], width, x + _font_line_x(f, width, w, align), y1);
        y1 += f.yinc;
    }
}

static void _font_draw_n(int fid, const char *s, int n, float x, float y);

// The caret distance without a range limit: rows first, then columns.
static double _font_dist_wide(const GfxRect &r, int x, int y) {
    double dx = std::fabs(std::trunc((double)r.x - x));
    double dy = std::fabs(std::trunc((double)r.y + (double)r.h / 2 - y));
    double d = dx + 65536.0 * dy;
    return d == d ? d : HUGE_VAL;
}

// Margins in fractions of the line height; scale and line advance follow from them and the size.
static void _font_margins(FontInfo &f, float top, float right, float bottom, float left) {
    f.m_top = f.height * top;
    f.m_right = f.height * right;
    f.m_bottom = f.height * bottom;
    f.m_left = f.height * left;
    float full = f.m_top + f.height + f.m_bottom;
    // A font without a line height cannot be scaled to a size; it keeps its pixels (and measures 0 high).
    f.scale = (f.size != 0 && full > 0) ? f.size / full : 1;
    f.yinc = full * f.scale;
}

// A size starts over on its file's metrics as a fresh parse would give them: line advance from the size, margins 0.
static void _font_size_reset(FontInfo &f) {
    f.commons_seen = f.file_commons;
    _font_margins(f, 0, 0, 0, 0);
}

// A new id on a face, for the key.
static int _font_add_size(const std::string &key, int face, int size) {
    FontFace &ff = _font->faces[face];
    int id = (int)_font->data.size();
    _font->data.emplace_back(id, face, ff, ff.rects, ff.shapes, ff.fname.c_str(), (float)size);
    _font->map[key] = id;
    ff.fonts.push_back(id);
    _font_size_reset(_font->data[id]);
    return id;
}

static int _font_new_face(const std::string &fname, const std::string &page, int tex) {
    _font->faces.emplace_back();
    FontFace &ff = _font->faces.back();
    ff.fname = fname;
    ff.page = page;
    ff.tex = tex;
    return (int)_font->faces.size() - 1;
}

// The file="..." value of a "page" line: quoted (blanks allowed) or up to the next blank.
static std::string _font_page_file(const std::string &line) {
    size_t at = line.find(" file=");
    if (at == std::string::npos)
        return "";
    at += 6;
    if (at < line.size() && line[at] == '"') {
        size_t end = line.find('"', at + 1);
        return line.substr(at + 1, end == std::string::npos ? std::string::npos : end - at - 1);
    }
    return line.substr(at, line.find(' ', at) - at);
}

// Parses into the face; with a "common" line among them, every size sharing it takes the new metrics.
static int _font_face_parse(int face, const std::string &text) {
    FontFace &ff = _font->faces[face];
    bool common = false, page = false;
    int used = 0;
    std::vector<std::string> lines, words;
    _font_split(text, '\n', lines);
    for (const std::string &line : lines) {
        _font_split(line, ' ', words);
        const std::string &tag = words[0];
        if (tag == "page" && !page) {
            std::string file = _font_page_file(line);
            if (!file.empty() && file.back() == '\r')
                file.pop_back();
            ff.named_page = file;
            page = true;
            continue;
        }
        bool is_common = tag == "common", chr = tag == "char";
        if (!is_common && !chr)
            continue;
        std::map<std::string, std::string> kv;
        for (const std::string &w : words) {
            size_t eq = w.find('=');
            if (eq == std::string::npos)
                continue;
            size_t eq2 = w.find('=', eq + 1);
            std::string value = eq2 == std::string::npos ? w.substr(eq + 1) : w.substr(eq + 1, eq2 - eq - 1);
            kv[w.substr(0, eq)] = value;
        }
        if (is_common) {
            ff.height = _font_int(kv["lineHeight"]);
            ff.base = _font_int(kv["base"]);
            ff.rect = GfxRect(0, 0, _font_int(kv["scaleW"]), _font_int(kv["scaleH"]));
            common = true;
            used++;
            continue;
        }
        double g = _font_number(kv["id"]);
        // The glyph tables hold one slot per byte value; other ids cannot be drawn from a byte text.
        if (g < 1 || g >= 256)
            continue;
        int i = (int)g;
        ff.rects[i] = GfxRect(_font_int(kv["x"]), _font_int(kv["y"]), _font_int(kv["width"]), _font_int(kv["height"]));
        ff.shapes[i] = GfxRect(_font_int(kv["xoffset"]), _font_int(kv["yoffset"]), (float)_font_number(kv["xadvance"]),
                               (float)_font_number(kv["height"]));
        used++;
    }
    // A new line height changes every sharing size's scale and line advance: each starts over, margins 0, when it
    // is next looked up.
    if (common)
        ff.commons++;
    return used;
}

// Why a font file's text gave no font, or null when it gave one.
static const char *_font_refusal(const char *fname, const std::string &text, int used) {
    if (used > 0)
        return nullptr;
    if (text.empty())
        return driver_file_refusal(fname);
    if (text.find('\0') != std::string::npos)
        return "a binary file, not font text";
    return "no common or char lines";
}

// Reads the face's file from an empty glyph table. A file that gives no font is logged and, on a reload, leaves
// the last glyphs in place; either way it is read again only once it changes again.
static void _font_face_read(int face, const char *who) {
    FontFace &ff = _font->faces[face];
    const char *fname = ff.fname.c_str();
    ff.stamp = driver_file_stamp(fname);
    ff.mtime = driver_file_stamp_time(ff.stamp);
    std::string text = driver_file_load(fname);
    FontFace last = ff;
    for (int g = 0; g < 256; g++)
        ff.rects[g] = ff.shapes[g] = GfxRect();
    const char *why = _font_refusal(fname, text, _font_face_parse(face, text));
    if (!why)
        return;
    kiv_printf("%s: %s gave no font - %s\n", who, fname, why);
    std::copy(last.rects, last.rects + 256, ff.rects);
    std::copy(last.shapes, last.shapes + 256, ff.shapes);
}

// The face a font name stands for: known, or found as a file and read once; -1 when there is no such file.
static int _font_face_find(const char *name) {
    auto known = _font->face_of.find(name);
    if (known != _font->face_of.end())
        return known->second;
    const char *f = _font_find(name);
    const char *path = f ? driver_data_fname(f) : nullptr;
    if (!path || !path[0] || strlen(path) >= KIV_FONT_FNAME_MAX)
        return -1;
    std::string fname = path;
    // A name given with its font file suffix would find the font file itself as its page; the page is the picture.
    std::string page = name;
    size_t n = page.size();
    if (n > 4 && (page.compare(n - 4, 4, ".fnt") == 0 || page.compare(n - 4, 4, ".txt") == 0))
        page.resize(n - 4);
    auto same = _font->face_path.find(fname + '\n' + page);
    int face = same != _font->face_path.end() ? same->second : -1;
    if (face < 0) {
        face = _font_new_face(fname, page, 0);
        _font->face_path[fname + '\n' + page] = face;
    }
    _font->face_of[name] = face;
    return face;
}

// A page that did not load, where the font file names another page file: authors name pages as their font tool
// does, while the page is always read from the font's own name, so the log says both.
static void _font_page_check(FontFace &ff, const char *name) {
    if (ff.named_page.empty() || ff.page_told)
        return;
    std::string named = ff.named_page.substr(ff.named_page.find_last_of('/') + 1);
    std::string wanted = ff.page.substr(ff.page.find_last_of('/') + 1);
    if (named.substr(0, named.rfind('.')) == wanted)
        return;
    ff.page_told = true;
    kiv_printf("font %s: page image %s.png (or .tga, .jpg) not found; the font file names the page %s, but a "
               "font's page is read from the font's own name\n",
               name, ff.page.c_str(), ff.named_page.c_str());
}

// --- public functions

FontInfo::FontInfo(int n, int face, const FontFileMetrics &file, GfxRect *rects, GfxRect *shapes, const char *fname,
                   float size)
    : n(n), tex(file.tex), rects(rects), shapes(shapes), height(file.height), base(file.base), size(size), scale(1),
      rect(file.rect), fnt_fname(fname), fnt_mtime(file.mtime), fnt_stamp(file.stamp), m_top(0), m_right(0),
      m_bottom(0), m_left(0), yinc(0), face(face), file_commons(file.commons), commons_seen(file.commons) {}

void font_init() {
    if (_font)
        return;
    _font = new _FontData();
    _font->data.push_back(_font_zero());
}

void font_deinit() {
    delete _font;
    _font = nullptr;
}

FontInfo *_font_get(int fid) {
    if (!_font || fid <= 0 || fid >= (int)_font->data.size())
        return nullptr;
    FontInfo &f = _font->data[fid];
    if (f.commons_seen != f.file_commons)
        _font_size_reset(f);
    return &f;
}

int _font_add(const char *key, int tex, int size, const char *fname) {
    if (!_font || !key || !fname)
        return 0;
    if (strlen(key) >= KIV_FONT_KEY_MAX || strlen(fname) >= KIV_FONT_FNAME_MAX)
        return 0;
    return _font_add_size(key, _font_new_face(fname, "", tex), size);
}

int font_load(const char *name, int size) {
    if (!_font || !name)
        return 0;
    char num[16];
    snprintf(num, sizeof(num), ":%d", size);
    std::string key = std::string(name) + num;
    auto it = _font->map.find(key);
    if (it != _font->map.end())
        return it->second;
    kiv_printf("trying load font %s\n", name);
    int face = key.size() < KIV_FONT_KEY_MAX ? _font_face_find(name) : -1;
    if (face < 0) {
        kiv_printf("unable to find font %s\n", name);
        _font->map[key] = 0;
        return 0;
    }
    FontFace &ff = _font->faces[face];
    // Without a GL context the page cannot load; the font still measures, and a later size, with a window, loads
    // the page for all of them.
    bool page_missed = false;
    if (!ff.tex && _gfx_is_ready()) {
        ff.tex = gfx_tex_load(ff.page.c_str());
        page_missed = !ff.tex;
    }
    int id = (int)_font->data.size();
    kiv_printf("doing load font %s (%d)\n", name, id);
    bool fresh = ff.fonts.empty();
    id = _font_add_size(key, face, size);
    if (fresh)
        _font_face_read(face, "font_load");
    if (page_missed)
        _font_page_check(ff, name);
    return id;
}

int _font_parse(int fid, const std::string &text) {
    FontInfo *f = _font_get(fid);
    if (!f)
        return 0;
    int used = _font_face_parse(f->face, text);
    _font_get(fid); // the size asked through takes a new line height at once
    return used;
}

void font_reload(int fid) {
    FontInfo *f = _font_get(fid);
    if (!f)
        return;
    kiv_printf("font_reload: %s\n", f->fnt_fname);
    _font_face_read(f->face, "font_reload");
}

void font_reload_auto() {
    font_reload_check(time(nullptr));
}

void font_reload_check(time_t now) {
    if (!_font || !driver_file_check_due(&_font->reload_checked, now))
        return;
    // One look at each file, however many sizes share it and under however many page names it was read.
    std::map<std::string, DriverFileStamp> seen;
    for (const FontFace &ff : _font->faces) {
        if (ff.fonts.empty() || ff.fname.empty())
            continue;
        auto at = seen.find(ff.fname);
        if (at == seen.end())
            at = seen.emplace(ff.fname, driver_file_stamp(ff.fname.c_str())).first;
        if (driver_file_settled(ff.stamp, at->second, now))
            font_reload(ff.fonts[0]);
    }
}

const char *_font_find(const char *name) {
    static char buf[KIV_FONT_FNAME_MAX];
    static const char *suffixes[] = {"", ".fnt", ".txt"};
    if (!name)
        return nullptr;
    for (const char *suf : suffixes) {
        int n = snprintf(buf, sizeof(buf), "%s%s", name, suf);
        if (n < 0 || n >= (int)sizeof(buf))
            continue;
        if (driver_data_exists(buf))
            return buf;
    }
    return nullptr;
}

void font_set_margins(int fid, float top, float right, float bottom, float left) {
    FontInfo *f = _font_get(fid);
    if (f)
        _font_margins(*f, top, right, bottom, left);
}

const char *_font_filter(const char *s) {
    return s;
}

void _font_wrap_calc(int fid, const char *s, float w, FontWrap &out) {
    out.total = 0;
    FontInfo *f = _font_get(fid);
    if (!f)
        return;
    s = _font_filter(s ? s : "");
    const float sc = f->scale;
    const float margins = f->m_left * sc + f->m_right * sc;
    const int len = (int)strlen(s);
    int start = 0;
    float width = margins;
    int last_blank = 0;
    int width_at_blank = 0;
    int i = 0;
    while (i <= len) {
        unsigned char g = (unsigned char)s[i];
        int end = i;
        if (g != '\n' && g != 0) {
            // The first glyph of a line always stays on it, so a glyph wider than w cannot make empty lines.
            bool over = w != 0 && width + _font_adv(*f, g) > w && i > start;
            if (!over) {
                if (g == ' ') {
                    last_blank = i;
                    width_at_blank = kiv_d2i(width);
                }
                width += _font_adv(*f, g);
                i++;
                continue;
            }
            if (last_blank) {
                end = last_blank;
                g = ' ';
                width = (float)width_at_blank;
            }
        }
        out.lines[out.total][0] = start;
        out.lines[out.total][1] = end;
        out.lines[out.total][2] = kiv_d2i(width);
        out.total++;
        if (out.total >= KIV_FONT_WRAP_MAX || g == 0)
            break;
        start = (g == ' ' || g == '\n') ? end + 1 : end;
        width = margins;
        last_blank = 0;
        width_at_blank = 0;
        i = start;
    }
}

float font_get_width(int fid, const char *s) {
    FontInfo *f = _font_get(fid);
    if (!f)
        return 0;
    s = _font_filter(s ? s : "");
    const float sc = f->scale;
    float line = f->m_left * sc, best = 0;
    for (const unsigned char *p = (const unsigned char *)s; *p; p++) {
        if (*p == '\n') {
            line = f->m_left * sc;
            continue;
        }
        line += _font_adv(*f, *p);
        if (line >= best)
            best = line;
    }
    return best + f->m_right * sc;
}

float font_get_height(int fid, const char *s, float w) {
    FontInfo *f = _font_get(fid);
    if (!f)
        return 0;
    if (s && w != 0) {
        FontWrap wrap;
        _font_wrap_calc(fid, s, w, wrap);
        return wrap.total * f->yinc;
    }
    return f->yinc;
}

void _font_line_glyphs(int fid, const char *s, int n, float x, float y, float page_w, float page_h,
                       std::vector<FontGlyph> &out) {
    out.clear();
    FontInfo *f = _font_get(fid);
    if (!f || !s)
        return;
    const float sc = f->scale;
    const float pw = page_w > 0 ? page_w : 0, ph = page_h > 0 ? page_h : 0;
    for (int i = 0; i < n && s[i]; i++) {
        unsigned char g = (unsigned char)s[i];
        const GfxRect &r = f->rects[g];
        const GfxRect &sh = f->shapes[g];
        FontGlyph q;
        if (pw > 0 && ph > 0)
            q.src = GfxRect(r.x / pw, r.y / ph, r.w / pw, r.h / ph);
        q.dst = GfxRect(x + sh.x * sc, y + sh.y * sc, r.w * sc, r.h * sc);
        x += _font_adv(*f, g);
        out.push_back(q);
    }
}

void _font_layout(int fid, const char *s, float x, float y, float w, int align, float page_w, float page_h,
                  std::vector<FontLine> &out) {
    out.clear();
    FontInfo *f = _font_get(fid);
    if (!f)
        return;
    s = _font_filter(s ? s : "");
    _font_each_line(*f, fid, s, x, y, w, align, [&](int first, int end, float width, float lx, float y1) {
        FontLine line;
        line.box = GfxRect(lx, y1, width, f->height * f->scale);
        _font_line_glyphs(fid, s + first, end - first, lx, y1, page_w, page_h, line.glyphs);
        out.push_back(line);
    });
}

// Glyph coordinates are fractions of the GL texture, which the loader pads to a power of two; the file's page
// size only stands in while the page has no texture.
static void _font_page_size(const FontInfo &f, float *w, float *h) {
    *w = f.rect.w;
    *h = f.rect.h;
    if (f.tex) {
        const GfxTexture &t = _gfx_get_tex(f.tex);
        if (t.rect.w > 0 && t.rect.h > 0) {
            *w = t.rect.w;
            *h = t.rect.h;
        }
    }
}

static void _font_draw_n(int fid, const char *s, int n, float x, float y) {
    static std::vector<FontGlyph> glyphs;
    static std::vector<float> pos, uv;
    FontInfo *f = _font_get(fid);
    if (!f || !s)
        return;
    float pw, ph;
    _font_page_size(*f, &pw, &ph);
    _font_line_glyphs(fid, s, n, x, y, pw, ph, glyphs);
    pos.clear();
    uv.clear();
    for (FontGlyph &q : glyphs) {
        if (!_gfx_clip(&q.dst, &q.src))
            continue;
        const GfxRect &d = q.dst, &t = q.src;
        const float px[6] = {d.x, d.x + d.w, d.x, d.x, d.x + d.w, d.x + d.w};
        const float py[6] = {d.y, d.y, d.y + d.h, d.y + d.h, d.y, d.y + d.h};
        const float tx[6] = {t.x, t.x + t.w, t.x, t.x, t.x + t.w, t.x + t.w};
        const float ty[6] = {t.y, t.y, t.y + t.h, t.y + t.h, t.y, t.y + t.h};
        for (int k = 0; k < 6; k++) {
            pos.push_back(px[k]);
            pos.push_back(py[k]);
            uv.push_back(tx[k]);
            uv.push_back(ty[k]);
        }
    }
    if (pos.empty())
        return;
    glBindTexture(GL_TEXTURE_2D, f->tex ? gfx_tex_get_id(f->tex) : 0);
    glVertexPointer(2, GL_FLOAT, 0, pos.data());
    glTexCoordPointer(2, GL_FLOAT, 0, uv.data());
    glDrawArrays(GL_TRIANGLES, 0, (GLsizei)(pos.size() / 2));
}

void _font_draw(int fid, const char *s, float x, float y) {
    s = _font_filter(s ? s : "");
    _font_draw_n(fid, s, (int)strlen(s), x, y);
}

void font_draw(int fid, const char *s, float x, float y, float w, int align) {
    FontInfo *f = _font_get(fid);
    if (!f)
        return;
    s = _font_filter(s ? s : "");
    _font_each_line(*f, fid, s, x, y, w, align, [&](int first, int end, float width, float lx, float y1) {
        GfxRect box(lx, y1, width, f->height * f->scale);
        if (_gfx_clip(&box, nullptr))
            _font_draw_n(fid, s + first, end - first, lx, y1);
    });
}

GfxRect font_crect(int fid, const char *s, int pos, float w, int align) {
    FontInfo *f = _font_get(fid);
    if (!f)
        return GfxRect();
    s = _font_filter(s ? s : "");
    FontWrap wrap;
    _font_wrap_calc(fid, s, w, wrap);
    float y1 = f->m_top * f->scale, cx = 0;
    for (int k = 0; k < wrap.total; k++) {
        cx = _font_line_x(*f, (float)wrap.lines[k][2], w, align);
        for (int i = wrap.lines[k][0]; i <= wrap.lines[k][1]; i++) {
            float adv = _font_adv(*f, (unsigned char)s[i]);
            if (i >= pos)
                return GfxRect(cx, y1, adv, f->yinc);
            cx += adv;
        }
        y1 += f->yinc;
    }
    return GfxRect(cx, y1 - f->yinc, 0, f->yinc);
}

int font_cnear(int fid, const char *s, int x, int y, float w, int align) {
    FontInfo *f = _font_get(fid);
    if (!f)
        return 0;
    s = _font_filter(s ? s : "");
    int best = 0;
    double best_dist = HUGE_VAL;
    bool found = false;
    _font_each_line(*f, fid, s, 0, 0, w, align, [&](int first, int end, float, float cx, float y1) {
        for (int i = first; i <= end; i++) {
            float adv = _font_adv(*f, (unsigned char)s[i]);
            GfxRect r(cx, y1, adv, f->yinc);
            double d = _font_dist_wide(r, x, y);
            if (!found || d < best_dist) {
                found = true;
                best = i;
                best_dist = d;
            }
            cx += adv;
        }
    });
    return best;
}

int _font_dist(GfxRect &r, int x, int y) {
    // Saturated: a point far below the text would overflow the weighted sum in int.
    double d = _font_dist_wide(r, x, y);
    if (d >= (double)INT_MAX)
        return INT_MAX;
    return (int)d;
}
