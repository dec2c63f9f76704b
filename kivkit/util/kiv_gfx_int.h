// The graphics module's inside: the view and texture-table steps its own calls share, the clip test, slot access
// and readiness check that fonts, the GUI and the draw batch call, the frame loop's file-change check, and the
// plain geometry and parsing its tests drive without a window.
#pragma once

#include <ctime>
#include <string>
#include <vector>

#include "kiv_gfx.h"

class var;

// --- the module's own steps
void _gfx_fix_view();
void _gfx_tex_check(int id);
void _gfx_tex_gl_free(int id);
void _gfx_tex_recycle();
const char *_gfx_find(const char *name);
// 1 when every one of n RGBA pixels has alpha 255.
int _gfx_rgba_opaque(const unsigned char *p, long n);

// --- for fonts, the GUI, the draw batch and the frame loop
bool _gfx_is_ready();
bool _gfx_clip(GfxRect *dst, GfxRect *src);
bool _gfx_clip_test(GfxRect &clip, GfxRect *dst, GfxRect *src);
GfxRect _gfx_get_focus_fixed();
GfxTexture &_gfx_get_tex(int id);
GfxImage &_gfx_get_img(int id);
// The file-change scan of the check, without its once-a-second gate.
void _gfx_reload_scan(time_t now);

// --- the plain code behind loading and drawing, which tests and fuzzers drive without a window
const char *_gfx_find_ext(const char *name);
GfxRect _gfx_json_rect(var &v);
// One frame of an atlas description: the image name (its file suffix cut), its pixels on the page, its shape.
struct GfxAtlasFrame {
    std::string name;
    GfxRect rect, shape;
};
// The frames of an atlas description's JSON text, without a window; false (logged with fname) when it is not JSON.
bool _gfx_atlas_parse(const std::string &text, const char *fname, std::vector<GfxAtlasFrame> &out);
// The plain geometry behind the drawing calls, kept apart from GL.
struct GfxQuad {
    GfxRect dst, src;
};
// The blits of a nine-slice: up to nine (image part in fractions, destination) pairs; returns how many.
int _gfx_img_box_parts(int iw, int ih, int x, int y, int w, int h, int sz, GfxQuad out[9]);
// The tiles of a tiled nine-slice of a whole texture, sources in texture fractions.
std::vector<GfxQuad> _gfx_tex_box_slow_parts(int x, int y, int w, int h, int sz);
// Destination and source of an image blit before clipping; false when nothing can be drawn.
bool _gfx_img_blit_rects(const GfxImage &i, const GfxRect &T, float sx, float sy, float sw, float sh, float x, float y,
                         float w, float h, GfxRect *dst, GfxRect *src);
