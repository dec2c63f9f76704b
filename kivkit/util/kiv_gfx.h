// The 2D graphics module: virtual screen, clip stack, texture and image tables, atlases and drawing over GL 1.x.
// The game shell creates it (gfx_init) and draws each frame; fonts, the draw batcher and the GUI draw through it.
#pragma once

#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "kiv_driver.h"

struct Event;

// Bytes of texture memory kept before idle textures are freed.
#define KIV_GFX_MEMMAX 268435456UL
// Depth of the clip stack; deeper pushes are counted and clip everything.
#define KIV_GFX_CLIPMAX 8
// Most tiles one tiled drawing call may draw.
#define KIV_GFX_TILEMAX (1LL << 20)

struct GfxRect {
    float x, y, w, h;
    GfxRect() : x(0), y(0), w(0), h(0) {}
    GfxRect(float x_, float y_, float w_, float h_) : x(x_), y(y_), w(w_), h(h_) {}
};

struct GfxTexture {
    int n;
    int loaded;
    int tex;
    int tex_filter_init;
    int tex_filter_mag, tex_filter_min;
    unsigned long tex_memused;
    long tex_memwaste;
    GfxRect rect;
    char name[64];
    char tex_fname[512];
    time_t tex_mtime;
    char atlas_fname[512];
    time_t atlas_mtime;
    time_t tex_atime;
    int opaque; // 1 when every texel has full alpha: drawn at alpha 255 it needs no blending
    // tex_fname and the atlas description at their last load, as hot reload compares them.
    DriverFileStamp tex_stamp;
    DriverFileStamp atlas_stamp;
};

struct GfxImage {
    int n;
    int tid;
    GfxRect rect;
    GfxRect shape;
    int sub_of = 0;          // the image it is a part of (0: pixels of its own), whose new pixels it follows
    GfxRect sub = GfxRect(); // that part, in fractions of the source's rect
};

// --- public functions

// state and virtual screen
void gfx_init();
void gfx_deinit();
void gfx_gl_state_reset();
void gfx_clear();
// The current GL colour that images, text and fills are drawn with, bytes as given (a caller premultiplies).
void gfx_color4ub(unsigned char r, unsigned char g, unsigned char b, unsigned char a);
// True between gfx_init and gfx_deinit: drawing helpers outside this module ask it before any GL call.
bool gfx_exists();
void gfx_set_view(int x, int y, int w, int h);
void gfx_get_view(int *x, int *y, int *w, int *h);
void gfx_set_size(int w, int h);
void gfx_get_size(int *w, int *h);
void gfx_set_shift(int dx, int dy);
void gfx_get_shift(int *dx, int *dy);
void gfx_set_orient(float deg);
float gfx_get_orient();
void gfx_set_scale(float s);
float gfx_get_scale();
void gfx_set_ortho_near_far(float near_, float far_);
void gfx_ortho();
void gfx_translate(float x, float y);
void gfx_clip(float x, float y, float w, float h);
void gfx_unclip();
GfxRect gfx_pos_to_hwpos(GfxRect r);
GfxRect gfx_hwpos_to_pos(GfxRect r);
GfxRect gfx_rect_to_hwrect(GfxRect r);
GfxRect gfx_hwrect_to_rect(GfxRect r);
void gfx_event_correct(Event *e);
void gfx_focus(GfxRect r);
void gfx_blur();

// texture table
int gfx_tex_load(const char *name);
void gfx_tex_reload(int id);
int gfx_tex_get_id(int id);
void gfx_reload_auto();
// gfx_reload_auto at the given wall-clock second: the frame loop passes one clock to every module.
void gfx_reload_check(time_t now);
bool driver_gfx_exists(const char *name);
const char *driver_gfx_fname(const char *name);
void gfx_atlas_load(const char *name);
void gfx_atlas_reload(int tid, const char *fname);
void gfx_tex_blit(int gltex, int x, int y, int w, int h);
void gfx_tex_blit2(int gltex, float sx, float sy, float sw, float sh, float dx, float dy, float dw, float dh);
void gfx_tex_quad(int gltex, float x0, float y0, float z0, float x1, float y1, float z1, float x2, float y2, float z2,
                  float x3, float y3, float z3);
void gfx_tex_box(int gltex, int x, int y, int w, int h, int sz);
void gfx_tex_box_slow(int gltex, int x, int y, int w, int h, int sz);

// images and drawing
int gfx_img_add(const char *name, int tid, GfxRect rect, GfxRect shape);
int gfx_img_load(const char *name);
// Defines image name as the part (x, y, w, h in fractions) of image src, and keeps it that part of src whenever src
// takes new pixels (its file reloaded at another size, its atlas frame moved). Returns its id, 0 for a bad src.
int gfx_img_sub(const char *name, int src, float x, float y, float w, float h);
int gfx_img_get_tex(int img);
int gfx_img_get_width(int img);
int gfx_img_get_height(int img);
float gfx_img_get_ratio(int img);
void gfx_img_blit(int img, float x, float y, float w, float h);
void gfx_img_blit2(int img, float sx, float sy, float sw, float sh, float dx, float dy, float dw, float dh);
void gfx_img_quad(int img, float x0, float y0, float z0, float x1, float y1, float z1, float x2, float y2, float z2,
                  float x3, float y3, float z3);
void gfx_img_box(int img, int x, int y, int w, int h, int sz);
void gfx_img_tile(int img, int x, int y, int w, int h, int sz);
void gfx_fill(unsigned color, float x, float y, float w, float h);
