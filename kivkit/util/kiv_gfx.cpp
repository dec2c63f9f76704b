// The 2D graphics module: virtual screen, clip stack, texture and image tables, atlases and drawing over GL 1.x.
// The game shell owns its lifetime; fonts, the draw batcher, the GUI and the extensions draw through it.
#include "kiv_gfx.h"
#include "kiv_gfx_int.h"
#include "kiv_util.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "kiv_driver.h"
#include "kiv_driver_int.h"
#include "kiv_event.h"
#include "kiv_glext.h"
#include "kiv_json.h"
#include "kiv_printf.h"
#include "kiv_var.h"

// --- constants

static const char *const _gfx_suffixes[] = {"", ".tga", ".png", ".jpg", ".kiv"};
static const float _gfx_third = 0.33333334f;
// Textures idle longer than this many seconds may be freed when memory runs over the cap.
static const long _gfx_idle_secs = 4;

// --- state

struct _GfxData {
    GfxRect _driver_size;
    GfxRect view;
    GfxRect size;
    float orient;
    float scale;
    GfxRect focus;
    GfxRect shift;
    std::map<std::string, int> img_map;
    std::vector<GfxImage> img_data;
    std::map<int, std::vector<int>> img_subs; // image -> the images defined as parts of it
    std::map<std::string, int> tex_map;
    std::vector<GfxTexture> tex_data;
    GfxRect translate;
    GfxRect clip[KIV_GFX_CLIPMAX];
    int clip_n;
    float ortho_near, ortho_far;
    unsigned long memused;
    long memwaste;
    time_t reload_checked; // the wall-clock second of the last file-change scan
    _GfxData();
};

static _GfxData *_gfx = nullptr;

_GfxData::_GfxData()
    : orient(0), scale(1), clip_n(0), ortho_near(-1), ortho_far(1), memused(0), memwaste(0), reload_checked(0) {
    img_data.push_back(GfxImage());
    tex_data.push_back(GfxTexture());
}

// --- internal helpers

// Tiles of one tiled call: a tiny tile over a huge box would otherwise take unbounded time and memory.
static bool _gfx_tiles_ok(const char *who, int w, int h, int sz) {
    if (sz <= 0 || w <= 0 || h <= 0)
        return false;
    long long n = ((long long)w + sz - 1) / sz * (((long long)h + sz - 1) / sz);
    if (n > KIV_GFX_TILEMAX) {
        kiv_printf("%s: %lld tiles of %d refused\n", who, n, sz);
        return false;
    }
    return true;
}

static bool _gfx_finite(float v) {
    return std::isfinite(v);
}

static bool _gfx_rect_finite(const GfxRect &r) {
    return _gfx_finite(r.x) && _gfx_finite(r.y) && _gfx_finite(r.w) && _gfx_finite(r.h);
}

static bool _gfx_img_ok(int id) {
    return _gfx && id > 0 && id < (int)_gfx->img_data.size();
}
static bool _gfx_tex_ok(int id) {
    return _gfx && id > 0 && id < (int)_gfx->tex_data.size();
}

static void _gfx_gl_error_check(int &prev) {
    int e = (int)glGetError();
    if (e != prev) {
        kiv_printf("glGetError() -> %d\n", e);
        prev = e;
    }
}

static void _gfx_draw_strip2(int gltex, const GfxRect &d, const GfxRect &s) {
    GLfloat v[8] = {d.x, d.y, d.x, d.y + d.h, d.x + d.w, d.y, d.x + d.w, d.y + d.h};
    GLfloat t[8] = {s.x, s.y, s.x, s.y + s.h, s.x + s.w, s.y, s.x + s.w, s.y + s.h};
    glBindTexture(GL_TEXTURE_2D, (GLuint)gltex);
    glVertexPointer(2, GL_FLOAT, 0, v);
    glTexCoordPointer(2, GL_FLOAT, 0, t);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
}

// --- public functions: state and virtual screen

void gfx_init() {
    if (!_gfx) {
        _gfx = new _GfxData();
        if (_gfx_is_ready())
            gfx_gl_state_reset();
        gfx_set_size(256, 256);
        gfx_set_orient(0);
        gfx_set_scale(1);
    }
    _gfx_fix_view();
}

void gfx_deinit() {
    if (!_gfx)
        return;
    kiv_printf("gfx_deinit()\n");
    kiv_printf("_gfx->memused: %.2fM\n", _gfx->memused / 1048576.0);
    for (int i = 1; i < (int)_gfx->tex_data.size(); i++)
        _gfx_tex_gl_free(i);
    kiv_printf("_gfx->memused: %.2fM\n", _gfx->memused / 1048576.0);
    driver_keyboard_set_rect(0, 0, 0, 0);
    delete _gfx;
    _gfx = nullptr;
}

void gfx_gl_state_reset() {
    static int prev = 0;
    _gfx_gl_error_check(prev);
    glDisable(GL_DEPTH_TEST);
    glActiveTexture(GL_TEXTURE0);
    glClientActiveTexture(GL_TEXTURE0);
    glEnable(GL_TEXTURE_2D);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    glFrontFace(GL_CCW);
    glCullFace(GL_BACK);
    glDisable(GL_CULL_FACE);
    glDisableClientState(GL_COLOR_ARRAY);
    gfx_color4ub(255, 255, 255, 255);
}

void gfx_clear() {
    static int prev = 0;
    if (!_gfx)
        return;
    _gfx_gl_error_check(prev);
    glClearColor(0, 0, 0, 1);
    glClearDepth(1.0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

void gfx_color4ub(unsigned char r, unsigned char g, unsigned char b, unsigned char a) {
    glColor4ub(r, g, b, a);
}

bool gfx_exists() {
    return _gfx != nullptr;
}

bool _gfx_is_ready() {
    return glGetString(GL_VERSION) != nullptr;
}

void _gfx_fix_view() {
    if (!_gfx)
        return;
    int w = 0, h = 0;
    driver_get_size(&w, &h);
    if ((float)w == _gfx->_driver_size.w && (float)h == _gfx->_driver_size.h)
        return;
    gfx_set_view(0, 0, w, h);
    _gfx->_driver_size.w = (float)w;
    _gfx->_driver_size.h = (float)h;
}

void gfx_set_view(int x, int y, int w, int h) {
    if (_gfx)
        _gfx->view = GfxRect((float)x, (float)y, (float)w, (float)h);
}

void gfx_get_view(int *x, int *y, int *w, int *h) {
    if (!_gfx)
        return;
    *x = kiv_d2i(_gfx->view.x);
    *y = kiv_d2i(_gfx->view.y);
    *w = kiv_d2i(_gfx->view.w);
    *h = kiv_d2i(_gfx->view.h);
}

void gfx_set_size(int w, int h) {
    if (!_gfx)
        return;
    _gfx->size.w = (float)w;
    _gfx->size.h = (float)h;
}

void gfx_get_size(int *w, int *h) {
    if (!_gfx)
        return;
    *w = kiv_d2i(_gfx->size.w);
    *h = kiv_d2i(_gfx->size.h);
}

void gfx_set_shift(int dx, int dy) {
    if (!_gfx)
        return;
    _gfx->shift.x = (float)dx;
    _gfx->shift.y = (float)dy;
}

void gfx_get_shift(int *dx, int *dy) {
    if (!_gfx)
        return;
    *dx = kiv_d2i(_gfx->shift.x);
    *dy = kiv_d2i(_gfx->shift.y);
}

void gfx_set_orient(float deg) {
    if (_gfx && _gfx_finite(deg))
        _gfx->orient = deg;
}

float gfx_get_orient() {
    return _gfx ? _gfx->orient : 0;
}

// A zero or non-finite zoom (a view of size 0) would divide by zero in the event mapping: the last good one stays.
void gfx_set_scale(float s) {
    if (!_gfx)
        return;
    if (!_gfx_finite(s) || s == 0) {
        kiv_printf("gfx_set_scale: ignoring scale %f\n", s);
        return;
    }
    _gfx->scale = s;
}

float gfx_get_scale() {
    return _gfx ? _gfx->scale : 0;
}

void gfx_set_ortho_near_far(float near_, float far_) {
    if (!_gfx)
        return;
    _gfx->ortho_near = near_;
    _gfx->ortho_far = far_;
}

void gfx_ortho() {
    static int prev = 0;
    if (!_gfx)
        return;
    _gfx_gl_error_check(prev);
    _gfx_fix_view();
    int ww = 0, wh = 0;
    driver_get_size(&ww, &wh);
    // A minimised window reports 0; glOrtho refuses an empty box.
    if (ww <= 0)
        ww = 1;
    if (wh <= 0)
        wh = 1;
    float n = _gfx->ortho_near, f = _gfx->ortho_far;
    if (!(n != f && _gfx_finite(n) && _gfx_finite(f))) {
        n = -1;
        f = 1;
    }
    int sw = kiv_d2i(_gfx->size.w), sh = kiv_d2i(_gfx->size.h);
    const GfxRect &v = _gfx->view;
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, ww, wh, 0, n, f);
    glTranslatef(v.x + v.w / 2, v.y + v.h / 2, 0);
    glScalef(_gfx->scale, _gfx->scale, 1);
    glRotatef(_gfx->orient, 0, 0, 1);
    glTranslatef(-(float)sw / 2, -(float)sh / 2, 0);
    glTranslatef(_gfx->shift.x, _gfx->shift.y, 0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

// Offsets that are not finite would poison every later clip; both the push and its undo are dropped alike.
void gfx_translate(float x, float y) {
    if (!_gfx || !_gfx_finite(x) || !_gfx_finite(y))
        return;
    _gfx->translate.x += x;
    _gfx->translate.y += y;
    glTranslatef(x, y, 0);
}

void gfx_clip(float x, float y, float w, float h) {
    if (!_gfx)
        return;
    _gfx->clip_n += 1;
    int n = _gfx->clip_n;
    if (n > KIV_GFX_CLIPMAX)
        return;
    GfxRect r(_gfx->translate.x + x, _gfx->translate.y + y, w, h);
    // A rectangle that is not finite clips everything rather than nothing.
    if (!_gfx_rect_finite(r))
        r = GfxRect();
    _gfx->clip[n - 1] = r;
    if (n > 1)
        _gfx_clip_test(_gfx->clip[n - 2], &_gfx->clip[n - 1], nullptr);
}

void gfx_unclip() {
    if (_gfx && _gfx->clip_n > 0)
        _gfx->clip_n -= 1;
}

bool _gfx_clip(GfxRect *dst, GfxRect *src) {
    if (!_gfx)
        return false;
    if (!_gfx_rect_finite(*dst) || (src && !_gfx_rect_finite(*src)))
        return false;
    if (_gfx->clip_n == 0)
        return true;
    if (_gfx->clip_n > KIV_GFX_CLIPMAX)
        return false;
    GfxRect c = _gfx->clip[_gfx->clip_n - 1];
    c.x -= _gfx->translate.x;
    c.y -= _gfx->translate.y;
    return _gfx_clip_test(c, dst, src);
}

bool _gfx_clip_test(GfxRect &r, GfxRect *d, GfxRect *s) {
    if (!_gfx_rect_finite(r) || !_gfx_rect_finite(*d) || (s && !_gfx_rect_finite(*s)))
        return false;
    if (!(d->w > 0 && d->h > 0))
        return false;
    if (r.x > d->x) {
        float diff = r.x - d->x;
        if (s) {
            float k = s->w * diff / d->w;
            s->x += k;
            s->w -= k;
        }
        d->x += diff;
        d->w -= diff;
    }
    if (!(d->w > 0))
        return false;
    if (d->x + d->w > r.x + r.w) {
        float over = (d->x + d->w) - (r.x + r.w);
        if (s)
            s->w -= s->w * over / d->w;
        d->w -= over;
    }
    if (!(d->w > 0))
        return false;
    if (r.y > d->y) {
        float diff = r.y - d->y;
        if (s) {
            float k = s->h * diff / d->h;
            s->y += k;
            s->h -= k;
        }
        d->y += diff;
        d->h -= diff;
    }
    if (!(d->h > 0))
        return false;
    if (d->y + d->h > r.y + r.h) {
        float over = (d->y + d->h) - (r.y + r.h);
        if (s)
            s->h -= s->h * over / d->h;
        d->h -= over;
    }
    return d->h > 0;
}

GfxRect gfx_pos_to_hwpos(GfxRect r) {
    if (!_gfx)
        return r;
    double a = _gfx->orient * M_PI / 180.0, s = _gfx->scale;
    const GfxRect &v = _gfx->view;
    double cx = v.x + v.w / 2.0, cy = v.y + v.h / 2.0;
    double sw = kiv_d2i(_gfx->size.w), sh = kiv_d2i(_gfx->size.h);
    double px = r.x + _gfx->shift.x - sw / 2, py = r.y + _gfx->shift.y - sh / 2;
    double rx = cos(a) * px - sin(a) * py, ry = sin(a) * px + cos(a) * py;
    return GfxRect((float)(rx * s + cx), (float)(ry * s + cy), r.w, r.h);
}

GfxRect gfx_hwpos_to_pos(GfxRect r) {
    if (!_gfx)
        return r;
    double a = _gfx->orient * M_PI / 180.0, s = _gfx->scale;
    const GfxRect &v = _gfx->view;
    double cx = v.x + v.w / 2.0, cy = v.y + v.h / 2.0;
    double sw = kiv_d2i(_gfx->size.w), sh = kiv_d2i(_gfx->size.h);
    double px = (r.x - cx) / s, py = (r.y - cy) / s;
    double rx = cos(-a) * px + sin(a) * py, ry = sin(-a) * px + cos(-a) * py;
    return GfxRect((float)(rx + sw / 2 - _gfx->shift.x), (float)(ry + sh / 2 - _gfx->shift.y), r.w, r.h);
}

GfxRect gfx_rect_to_hwrect(GfxRect r) {
    GfxRect p1 = gfx_pos_to_hwpos(GfxRect(r.x, r.y, 0, 0));
    GfxRect p2 = gfx_pos_to_hwpos(GfxRect(r.x + r.w, r.y + r.h, 0, 0));
    return GfxRect(p1.x, p1.y, p2.x - p1.x, p2.y - p1.y);
}

GfxRect gfx_hwrect_to_rect(GfxRect r) {
    GfxRect p1 = gfx_hwpos_to_pos(GfxRect(r.x, r.y, 0, 0));
    GfxRect p2 = gfx_hwpos_to_pos(GfxRect(r.x + r.w, r.y + r.h, 0, 0));
    return GfxRect(p1.x, p1.y, p2.x - p1.x, p2.y - p1.y);
}

void gfx_event_correct(Event *e) {
    if (!_gfx || !e)
        return;
    if (e->type != EVT_DOWN && e->type != EVT_MOTION && e->type != EVT_UP && e->type != EVT_WHEEL)
        return;
    e->_x = e->x;
    e->_y = e->y;
    e->_dx = e->dx;
    e->_dy = e->dy;
    GfxRect r = gfx_hwrect_to_rect(GfxRect(e->_x, e->_y, e->_dx, e->_dy));
    e->x = r.x;
    e->y = r.y;
    e->dx = r.w;
    e->dy = r.h;
}

// The driver keeps the focus rectangle in window pixels, where the on-screen keyboard must not cover it.
static void _gfx_focus_set(GfxRect r) {
    _gfx->focus = r;
    GfxRect hw = _gfx_get_focus_fixed();
    driver_keyboard_set_rect(hw.x, hw.y, hw.w, hw.h);
}

void gfx_focus(GfxRect r) {
    if (_gfx)
        _gfx_focus_set(r);
}

void gfx_blur() {
    if (_gfx)
        _gfx_focus_set(GfxRect());
}

GfxRect _gfx_get_focus_fixed() {
    return _gfx ? gfx_rect_to_hwrect(_gfx->focus) : GfxRect();
}

// --- public functions: texture table

int gfx_tex_load(const char *name) {
    static long total = 0;
    if (!_gfx || !name)
        return 0;
    auto it = _gfx->tex_map.find(name);
    if (it == _gfx->tex_map.end()) {
        if (!_gfx_is_ready())
            return 0;
        kiv_printf("trying load tex %s\n", name);
        // A name the slot cannot hold whole would be registered under a cut, different name.
        const char *found = strlen(name) < sizeof(GfxTexture::name) ? _gfx_find(name) : nullptr;
        const char *path = found ? driver_gfx_fname(found) : nullptr;
        if (!path || !*path || strlen(path) >= sizeof(GfxTexture::tex_fname)) {
            kiv_printf("unable to find tex %s\n", name);
            _gfx->tex_map[name] = 0;
            return 0;
        }
        int id = (int)_gfx->tex_data.size();
        GfxTexture t = GfxTexture();
        t.n = id;
        snprintf(t.tex_fname, sizeof(t.tex_fname), "%s", path);
        snprintf(t.name, sizeof(t.name), "%s", name);
        _gfx->tex_data.push_back(t);
        kiv_printf("doing load tex %s (%d)\n", name, id);
        _gfx->tex_map[name] = id;
        long t0 = driver_timer_get_ticks();
        gfx_tex_reload(id);
        long dt = driver_timer_get_ticks() - t0;
        total += dt;
        kiv_printf("gfx_tex_load: %ld ms, total %ld ms\n\n", dt, total);
        it = _gfx->tex_map.find(name);
    }
    int id = it->second;
    _gfx_tex_check(id);
    return id;
}

int _gfx_rgba_opaque(const unsigned char *p, long n) {
    for (long i = 0; i < n; i++)
        if (p[4 * i + 3] != 255)
            return 0;
    return 1;
}

// Reads the bound texture's level 0 back once at upload; very large textures are taken as translucent rather
// than doubled in memory for the check.
static int _gfx_tex_opaque(int tw, int th) {
    if (tw <= 0 || th <= 0 || (long)tw * th > 4096L * 2048)
        return 0;
    std::vector<unsigned char> px((size_t)tw * th * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
    return _gfx_rgba_opaque(px.data(), (long)tw * th);
}

void gfx_tex_reload(int id) {
    if (!_gfx_tex_ok(id))
        return;
    GfxTexture *t = &_gfx->tex_data[id];
    kiv_printf("gfx_tex_reload: %d %s %s\n", id, t->name, t->tex_fname);
    DriverFileStamp stamp = driver_file_stamp(t->tex_fname);
    // The new file is decoded before the old texture goes: a damaged or half-written file keeps the picture on
    // screen, and is tried again only once it changes again (its time and size are recorded).
    int w = 0, h = 0, tw = 0, th = 0;
    int tex = driver_tex_load(t->tex_fname, &w, &h, &tw, &th);
    if (!tex && t->tex) {
        t->tex_stamp = stamp;
        t->tex_mtime = driver_file_stamp_time(stamp);
        kiv_printf("gfx_tex_reload: %d %s keeps its last picture until the file changes again\n", id, t->name);
        return;
    }
    if (t->tex)
        _gfx_tex_gl_free(id);
    t->loaded = 1;
    t->tex_stamp = stamp;
    t->tex_mtime = driver_file_stamp_time(stamp);
    t->tex = tex;
    if (!t->tex)
        w = h = tw = th = 0;
    if (!t->tex_filter_init) {
        t->tex_filter_init = 1;
        t->tex_filter_mag = _kiv_gl_texture_mag_filter();
        t->tex_filter_min = _kiv_gl_texture_min_filter();
    }
    // A failed upload has no texture of its own; binding 0 would change the filters of the default texture.
    t->opaque = 0;
    if (t->tex) {
        glBindTexture(GL_TEXTURE_2D, (GLuint)t->tex);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, t->tex_filter_mag);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, t->tex_filter_min);
        t->opaque = _gfx_tex_opaque(tw, th);
    }
    t->rect = GfxRect(0, 0, (float)tw, (float)th);
    t->tex_memused = (unsigned long)tw * (unsigned long)th * 16 / 3;
    long waste = (long)t->tex_memused - (long)(w + 8) * (long)(h + 8) * 16 / 3;
    t->tex_memwaste = waste > 0 ? waste : 0;
    t->tex_atime = time(nullptr);
    _gfx->memused += t->tex_memused;
    _gfx->memwaste += t->tex_memwaste;
    std::string name = t->name;
    gfx_img_add(name.c_str(), id, GfxRect(0, 0, (float)w, (float)h), GfxRect(0, 0, (float)w, (float)h));
    _gfx_tex_recycle();
}

void _gfx_tex_check(int id) {
    if (!_gfx_tex_ok(id))
        return;
    if (!_gfx->tex_data[id].loaded)
        gfx_tex_reload(id);
    _gfx->tex_data[id].tex_atime = time(nullptr);
}

int gfx_tex_get_id(int id) {
    if (!_gfx_tex_ok(id))
        return 0;
    _gfx_tex_check(id);
    return _gfx->tex_data[id].tex;
}

// Unknown ids get a zeroed scratch slot, so a stale id cannot reach outside the table.
GfxTexture &_gfx_get_tex(int id) {
    static GfxTexture scratch;
    if (_gfx && id >= 0 && id < (int)_gfx->tex_data.size())
        return _gfx->tex_data[id];
    scratch = GfxTexture();
    return scratch;
}

void _gfx_tex_gl_free(int id) {
    if (!_gfx_tex_ok(id))
        return;
    GfxTexture &t = _gfx->tex_data[id];
    if (t.tex && _gfx_is_ready() && glIsTexture((GLuint)t.tex)) {
        GLuint name = (GLuint)t.tex;
        glDeleteTextures(1, &name);
    }
    t.tex = 0;
    _gfx->memused -= t.tex_memused;
    _gfx->memwaste -= t.tex_memwaste;
    t.tex_memused = 0;
    t.tex_memwaste = 0;
    t.loaded = 0;
}

void _gfx_tex_recycle() {
    if (!_gfx)
        return;
    kiv_printf("_gfx->memused: %.2fM\n", _gfx->memused / 1048576.0);
    while (_gfx->memused > KIV_GFX_MEMMAX) {
        kiv_printf("KIV_GFX_MEMMAX: %.2fM exceeded by %.2f\n", 256.0, _gfx->memused / 1048576.0 - 256);
        time_t now = time(nullptr);
        int best = 0;
        long best_idle = 0;
        for (int i = 1; i < (int)_gfx->tex_data.size(); i++) {
            const GfxTexture &t = _gfx->tex_data[i];
            long idle = (long)(now - t.tex_atime);
            if (!t.loaded || idle <= _gfx_idle_secs)
                continue;
            if (!best || idle >= best_idle) {
                best = i;
                best_idle = idle;
            }
        }
        if (!best)
            break;
        kiv_printf("_gfx_tex_recycle: %d (%s)\n", best, _gfx->tex_data[best].name);
        _gfx_tex_gl_free(best);
    }
}

void gfx_reload_auto() {
    gfx_reload_check(time(nullptr));
}

void gfx_reload_check(time_t now) {
    if (_gfx && driver_file_check_due(&_gfx->reload_checked, now))
        _gfx_reload_scan(now);
}

void _gfx_reload_scan(time_t now) {
    if (!_gfx)
        return;
    for (int i = 1; i < (int)_gfx->tex_data.size(); i++) {
        const GfxTexture &t = _gfx->tex_data[i];
        if (!t.tex_fname[0])
            continue;
        if (driver_file_settled(t.tex_stamp, driver_file_stamp(t.tex_fname), now))
            gfx_tex_reload(i);
    }
    for (int i = 1; i < (int)_gfx->tex_data.size(); i++) {
        if (!_gfx->tex_data[i].atlas_fname[0])
            continue;
        const GfxTexture &t = _gfx->tex_data[i];
        if (driver_file_settled(t.atlas_stamp, driver_file_stamp(t.atlas_fname), now)) {
            std::string fname = _gfx->tex_data[i].atlas_fname;
            gfx_atlas_reload(i, fname.c_str());
        }
    }
}

const char *_gfx_find(const char *name) {
    if (!name)
        return nullptr;
    const char *dot = strchr(name, '.');
    std::string base = dot ? std::string(name, dot - name) : std::string(name);
    kiv_printf("_gfx_find(%s):%s:%s\n", name, base.c_str(), dot ? dot : "");
    return _gfx_find_ext(name);
}

const char *_gfx_find_ext(const char *name) {
    static char buf[512];
    if (!name)
        return nullptr;
    size_t first = strchr(name, '.') ? 0 : 1;
    for (size_t i = first; i < sizeof(_gfx_suffixes) / sizeof(_gfx_suffixes[0]); i++) {
        int n = snprintf(buf, sizeof(buf), "%s%s", name, _gfx_suffixes[i]);
        if (n < 0 || n >= (int)sizeof(buf))
            continue;
        if (driver_gfx_exists(buf))
            return buf;
    }
    return nullptr;
}

bool driver_gfx_exists(const char *name) {
    return driver_data_exists(name) || driver_doc_exists(name);
}

const char *driver_gfx_fname(const char *name) {
    if (driver_data_exists(name))
        return driver_data_fname(name);
    if (driver_doc_exists(name))
        return driver_doc_fname(name);
    return driver_data_fname(name);
}

void gfx_atlas_load(const char *name) {
    if (!_gfx || !name)
        return;
    // The texture may already be in use as plain images; its frames are registered once per slot.
    int tid = gfx_tex_load(name);
    if (!tid) {
        kiv_printf("gfx_atlas_load: no texture for %s\n", name);
        return;
    }
    if (_gfx->tex_data[tid].atlas_fname[0])
        return;
    std::string j = std::string(name) + ".json";
    kiv_printf("gfx_atlas_load: %s\n", j.c_str());
    const char *found = _gfx_find(j.c_str());
    const char *path = found ? driver_gfx_fname(found) : nullptr;
    if (!path || !*path || strlen(path) >= sizeof(GfxTexture::atlas_fname)) {
        kiv_printf("gfx_atlas_load: unable to find %s\n", j.c_str());
        return;
    }
    snprintf(_gfx->tex_data[tid].atlas_fname, sizeof(GfxTexture::atlas_fname), "%s", path);
    std::string fname = _gfx->tex_data[tid].atlas_fname;
    gfx_atlas_reload(tid, fname.c_str());
}

void gfx_atlas_reload(int tid, const char *fname) {
    if (!_gfx_tex_ok(tid) || !fname)
        return;
    GfxTexture &t = _gfx->tex_data[tid];
    t.atlas_stamp = driver_file_stamp(fname);
    t.atlas_mtime = driver_file_stamp_time(t.atlas_stamp);
    // The file found at load time, wherever it lies, not a name looked up again in the data directory.
    std::vector<GfxAtlasFrame> frames;
    if (!_gfx_atlas_parse(driver_file_load(fname), fname, frames))
        return;
    for (const GfxAtlasFrame &f : frames)
        gfx_img_add(f.name.c_str(), tid, f.rect, f.shape);
}

bool _gfx_atlas_parse(const std::string &text, const char *fname, std::vector<GfxAtlasFrame> &out) {
    out.clear();
    var doc;
    if (text.empty() || json_decode(doc, text.c_str(), (int)text.size()) != 0) {
        kiv_printf("gfx_atlas_reload: unable to read %s\n", fname);
        return false;
    }
    if (doc.__type__() != VAR_DICT || !doc.__has__(var("frames")))
        return true;
    var frames = doc["frames"];
    if (frames.__type__() != VAR_DICT)
        return true;
    var it(frames.__iter__());
    var k, v;
    while (it.__pair__(k, v)) {
        std::string key = k.__str__();
        if (key.size() > 255) {
            kiv_printf("gfx_atlas_reload: frame name too long in %s\n", fname);
            continue;
        }
        size_t dot = key.rfind('.');
        if (dot != std::string::npos)
            key.resize(dot);
        GfxRect rect, s, src;
        if (v.__type__() == VAR_DICT) {
            if (v.__has__(var("frame")))
                rect = _gfx_json_rect(v["frame"]);
            if (v.__has__(var("spriteSourceSize")))
                s = _gfx_json_rect(v["spriteSourceSize"]);
            if (v.__has__(var("sourceSize")))
                src = _gfx_json_rect(v["sourceSize"]);
        }
        out.push_back(GfxAtlasFrame{key, rect, GfxRect(s.x, s.y, src.w, src.h)});
    }
    return true;
}

GfxRect _gfx_json_rect(var &v) {
    GfxRect r;
    if (v.__type__() != VAR_DICT)
        return r;
    const char *keys[4] = {"x", "y", "w", "h"};
    float *out[4] = {&r.x, &r.y, &r.w, &r.h};
    for (int i = 0; i < 4; i++)
        if (v.__has__(var(keys[i])))
            *out[i] = (float)(double)v[keys[i]];
    return r;
}

void gfx_tex_blit(int gltex, int x, int y, int w, int h) {
    gfx_tex_blit2(gltex, 0, 0, 1, 1, (float)x, (float)y, (float)w, (float)h);
}

void gfx_tex_blit2(int gltex, float sx, float sy, float sw, float sh, float dx, float dy, float dw, float dh) {
    GfxRect d(dx, dy, dw, dh), s(sx, sy, sw, sh);
    if (_gfx_clip(&d, &s))
        _gfx_draw_strip2(gltex, d, s);
}

void gfx_tex_quad(int gltex, float x0, float y0, float z0, float x1, float y1, float z1, float x2, float y2, float z2,
                  float x3, float y3, float z3) {
    if (!_gfx)
        return;
    GLfloat v[12] = {x0, y0, z0, x1, y1, z1, x2, y2, z2, x3, y3, z3};
    GLfloat t[8] = {0, 1, 1, 1, 0, 0, 1, 0};
    glBindTexture(GL_TEXTURE_2D, (GLuint)gltex);
    glVertexPointer(3, GL_FLOAT, 0, v);
    glTexCoordPointer(2, GL_FLOAT, 0, t);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
}

void gfx_tex_box(int gltex, int x, int y, int w, int h, int sz) {
    const float t = _gfx_third, t2 = _gfx_third + _gfx_third;
    float fx = (float)x, fy = (float)y, fw = (float)w, fh = (float)h, s = (float)sz;
    gfx_tex_blit2(gltex, 0, 0, t, t, fx, fy, s, s);
    gfx_tex_blit2(gltex, t, 0, t, t, fx + s, fy, fw - 2 * s, s);
    gfx_tex_blit2(gltex, t2, 0, t, t, fx + fw - s, fy, s, s);
    gfx_tex_blit2(gltex, 0, t, t, t, fx, fy + s, s, fh - 2 * s);
    gfx_tex_blit2(gltex, t, t, t, t, fx + s, fy + s, fw - 2 * s, fh - 2 * s);
    gfx_tex_blit2(gltex, t2, t, t, t, fx + fw - s, fy + s, s, fh - 2 * s);
    gfx_tex_blit2(gltex, 0, t2, t, t, fx, fy + fh - s, s, s);
    gfx_tex_blit2(gltex, t, t2, t, t, fx + s, fy + fh - s, fw - 2 * s, s);
    gfx_tex_blit2(gltex, t2, t2, t, t, fx + fw - s, fy + fh - s, s, s);
}

// One axis of the tiled nine-slice: (source offset, position, length) of each tile.
struct _GfxSpan {
    long long off, pos, len;
};

static std::vector<_GfxSpan> _gfx_slow_spans(long long x, long long w, long long sz) {
    std::vector<_GfxSpan> out;
    for (long long xx = x; xx < x + w; xx += sz) {
        _GfxSpan s = {xx == x ? 0 : sz, xx, sz};
        if (xx >= x + w - 2 * sz && xx < x + w - sz)
            s.len = x + w - sz - xx;
        if (xx >= x + w - sz) {
            s.off += sz;
            s.pos = x + w - sz;
        }
        out.push_back(s);
    }
    return out;
}

std::vector<GfxQuad> _gfx_tex_box_slow_parts(int x, int y, int w, int h, int sz) {
    std::vector<GfxQuad> out;
    if (!_gfx_tiles_ok("gfx_tex_box_slow", w, h, sz))
        return out;
    std::vector<_GfxSpan> cols = _gfx_slow_spans(x, w, sz), rows = _gfx_slow_spans(y, h, sz);
    float k = 3.0f * (float)sz;
    for (const _GfxSpan &r : rows)
        for (const _GfxSpan &c : cols) {
            GfxQuad q;
            q.src = GfxRect((float)c.off / k, (float)r.off / k, (float)c.len / k, (float)r.len / k);
            q.dst = GfxRect((float)c.pos, (float)r.pos, (float)c.len, (float)r.len);
            out.push_back(q);
        }
    return out;
}

void gfx_tex_box_slow(int gltex, int x, int y, int w, int h, int sz) {
    for (const GfxQuad &q : _gfx_tex_box_slow_parts(x, y, w, h, sz))
        gfx_tex_blit2(gltex, q.src.x, q.src.y, q.src.w, q.src.h, q.dst.x, q.dst.y, q.dst.w, q.dst.h);
}

// --- public functions: images and drawing

// The id of an image name, appended when new.
static int _gfx_img_slot(const char *name) {
    auto it = _gfx->img_map.find(name);
    // A name cached as "not found" maps to the dummy entry 0, which must never be written.
    if (it != _gfx->img_map.end() && it->second > 0)
        return it->second;
    int id = (int)_gfx->img_data.size();
    _gfx->img_data.push_back(GfxImage());
    _gfx->img_data[id].n = id;
    _gfx->img_map[name] = id;
    return id;
}

static void _gfx_img_unlink(int id) {
    GfxImage &i = _gfx->img_data[id];
    if (!i.sub_of)
        return;
    std::vector<int> &subs = _gfx->img_subs[i.sub_of];
    subs.erase(std::remove(subs.begin(), subs.end(), id), subs.end());
    i.sub_of = 0;
}

static void _gfx_img_cut(GfxImage &i, const GfxImage &s) {
    const GfxRect &f = i.sub;
    i.tid = s.tid;
    i.rect = GfxRect(s.rect.x + s.rect.w * f.x, s.rect.y + s.rect.h * f.y, s.rect.w * f.w, s.rect.h * f.h);
    i.shape = GfxRect(0, 0, i.rect.w, i.rect.h);
}

// Cuts every image defined as a part of id, and their parts in turn, again from their sources' present pixels.
static void _gfx_img_follow(int id) {
    std::vector<int> todo(1, id);
    while (!todo.empty()) {
        int src = todo.back();
        todo.pop_back();
        auto it = _gfx->img_subs.find(src);
        if (it == _gfx->img_subs.end())
            continue;
        const GfxImage s = _gfx->img_data[src];
        for (int sub : it->second) {
            _gfx_img_cut(_gfx->img_data[sub], s);
            todo.push_back(sub);
        }
    }
}

int gfx_img_add(const char *name, int tid, GfxRect rect, GfxRect shape) {
    if (!_gfx || !name)
        return 0;
    int id = _gfx_img_slot(name);
    // Pixels of its own from now on: it no longer follows what it was once cut from.
    _gfx_img_unlink(id);
    GfxImage &i = _gfx->img_data[id];
    i.tid = tid;
    i.rect = rect;
    i.shape = shape;
    _gfx_img_follow(id);
    return id;
}

int gfx_img_sub(const char *name, int src, float x, float y, float w, float h) {
    if (!_gfx_img_ok(src) || !name)
        return 0;
    int id = _gfx_img_slot(name);
    _gfx_img_unlink(id);
    const GfxImage s = _gfx->img_data[src];
    GfxImage &i = _gfx->img_data[id];
    i.sub = GfxRect(x, y, w, h);
    _gfx_img_cut(i, s);
    // A part of itself, or of one of its own parts, would follow itself without end: such a part is cut once.
    bool loop = false;
    for (int a = src; a && !loop; a = _gfx->img_data[a].sub_of)
        loop = a == id;
    if (!loop) {
        i.sub_of = src;
        _gfx->img_subs[src].push_back(id);
    }
    _gfx_img_follow(id);
    return id;
}

int gfx_img_load(const char *name) {
    if (!_gfx || !name)
        return 0;
    auto it = _gfx->img_map.find(name);
    if (it == _gfx->img_map.end()) {
        if (!_gfx_is_ready())
            return 0;
        int tid = gfx_tex_load(name);
        it = _gfx->img_map.find(name);
        if (!tid || it == _gfx->img_map.end()) {
            kiv_printf("unable to find img %s\n", name);
            _gfx->img_map[name] = 0;
            return 0;
        }
    }
    int id = it->second;
    if (_gfx_img_ok(id))
        _gfx_tex_check(_gfx->img_data[id].tid);
    return id;
}

GfxImage &_gfx_get_img(int id) {
    static GfxImage scratch;
    if (_gfx && id >= 0 && id < (int)_gfx->img_data.size())
        return _gfx->img_data[id];
    scratch = GfxImage();
    return scratch;
}

int gfx_img_get_tex(int img) {
    if (!_gfx_img_ok(img))
        return 0;
    int tid = _gfx->img_data[img].tid;
    _gfx_tex_check(tid);
    return _gfx_get_tex(tid).tex;
}

int gfx_img_get_width(int img) {
    return _gfx_img_ok(img) ? kiv_d2i(_gfx->img_data[img].shape.w) : 0;
}

int gfx_img_get_height(int img) {
    return _gfx_img_ok(img) ? kiv_d2i(_gfx->img_data[img].shape.h) : 0;
}

float gfx_img_get_ratio(int img) {
    int w = gfx_img_get_width(img), h = gfx_img_get_height(img);
    return (float)(w > 1 ? w : 1) / (float)(h > 1 ? h : 1);
}

bool _gfx_img_blit_rects(const GfxImage &i, const GfxRect &T, float sx, float sy, float sw, float sh, float x, float y,
                         float w, float h, GfxRect *dst, GfxRect *src) {
    // Images without a logical size (the dummy, a failed load) and textures without pixels have nothing to show.
    if (i.shape.w == 0 || i.shape.h == 0 || T.w == 0 || T.h == 0 || w == 0 || h == 0)
        return false;
    *src = GfxRect(i.rect.x / T.w + i.rect.w * sx / T.w, i.rect.y / T.h + i.rect.h * sy / T.h, i.rect.w * sw / T.w,
                   i.rect.h * sh / T.h);
    *dst = GfxRect(x + i.shape.x * w / i.shape.w, y + i.shape.y * h / i.shape.h, i.rect.w * w / i.shape.w,
                   i.rect.h * h / i.shape.h);
    return _gfx_rect_finite(*src) && _gfx_rect_finite(*dst);
}

void gfx_img_blit(int img, float x, float y, float w, float h) {
    if (!_gfx_img_ok(img))
        return;
    const GfxImage &i = _gfx->img_data[img];
    if (w == 0)
        w = i.shape.w;
    if (h == 0)
        h = i.shape.h;
    gfx_img_blit2(img, 0, 0, 1, 1, x, y, w, h);
}

void gfx_img_blit2(int img, float sx, float sy, float sw, float sh, float dx, float dy, float dw, float dh) {
    if (!_gfx_img_ok(img))
        return;
    const GfxImage &i = _gfx->img_data[img];
    const GfxTexture &t = _gfx_get_tex(i.tid);
    GfxRect d, s;
    if (!_gfx_img_blit_rects(i, t.rect, sx, sy, sw, sh, dx, dy, dw, dh, &d, &s))
        return;
    if (_gfx_clip(&d, &s))
        _gfx_draw_strip2(t.tex, d, s);
}

void gfx_img_quad(int img, float x0, float y0, float z0, float x1, float y1, float z1, float x2, float y2, float z2,
                  float x3, float y3, float z3) {
    if (!_gfx_img_ok(img))
        return;
    const GfxImage &i = _gfx->img_data[img];
    const GfxTexture &tx = _gfx_get_tex(i.tid);
    const GfxRect &T = tx.rect;
    if (T.w == 0 || T.h == 0)
        return;
    float l = i.rect.x / T.w, t = i.rect.y / T.h, r = (i.rect.x + i.rect.w) / T.w, b = (i.rect.y + i.rect.h) / T.h;
    GLfloat v[12] = {x0, y0, z0, x2, y2, z2, x1, y1, z1, x3, y3, z3};
    GLfloat c[8] = {l, b, l, t, r, b, r, t};
    glBindTexture(GL_TEXTURE_2D, (GLuint)tx.tex);
    glVertexPointer(3, GL_FLOAT, 0, v);
    glTexCoordPointer(2, GL_FLOAT, 0, c);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
}

int _gfx_img_box_parts(int iw, int ih, int x, int y, int w, int h, int sz, GfxQuad out[9]) {
    // Sizes of zero or below have no corners to keep, and would divide by zero.
    if (iw <= 0 || ih <= 0 || sz <= 0 || w <= 0 || h <= 0)
        return 0;
    long long cw = sz, ch = sz;
    if (iw > ih)
        cw = (long long)sz * iw / ih;
    if (ih > iw)
        ch = (long long)sz * ih / iw;
    if (w / 3 < cw) {
        ch = (long long)(w / 3) * ch / cw;
        cw = w / 3;
    }
    if (h / 3 < ch) {
        cw = (long long)(h / 3) * cw / ch;
        ch = h / 3;
    }
    const float t = _gfx_third, t2 = _gfx_third + _gfx_third;
    const float fr[3] = {0, t, t2};
    double X = x, Y = y, W = w, H = h, CW = (double)cw, CH = (double)ch;
    const double ry[3] = {Y, Y + CH, Y + H - CH}, rh[3] = {CH, H - 2 * CH, CH};
    const double cx[3] = {X, X + CW, X + W - CW}, cwv[3] = {CW, W - 2 * CW, CW};
    int n = 0;
    for (int r = 0; r < 3; r++)
        for (int c = 0; c < 3; c++) {
            out[n].src = GfxRect(fr[c], fr[r], t, t);
            out[n].dst = GfxRect((float)cx[c], (float)ry[r], (float)cwv[c], (float)rh[r]);
            n++;
        }
    return n;
}

void gfx_img_box(int img, int x, int y, int w, int h, int sz) {
    if (!_gfx_img_ok(img))
        return;
    GfxQuad q[9];
    int n = _gfx_img_box_parts(gfx_img_get_width(img), gfx_img_get_height(img), x, y, w, h, sz, q);
    for (int i = 0; i < n; i++)
        gfx_img_blit2(img, q[i].src.x, q[i].src.y, q[i].src.w, q[i].src.h, q[i].dst.x, q[i].dst.y, q[i].dst.w,
                      q[i].dst.h);
}

void gfx_img_tile(int img, int x, int y, int w, int h, int sz) {
    if (!_gfx_img_ok(img) || !_gfx_tiles_ok("gfx_img_tile", w, h, sz))
        return;
    gfx_clip((float)x, (float)y, (float)w, (float)h);
    long long x1 = (long long)x + w, y1 = (long long)y + h;
    for (long long yy = y; yy < y1; yy += sz)
        for (long long xx = x; xx < x1; xx += sz)
            gfx_img_blit(img, (float)xx, (float)yy, (float)sz, (float)sz);
    gfx_unclip();
}

void gfx_fill(unsigned color, float x, float y, float w, float h) {
    GfxRect d(x, y, w, h);
    if (!_gfx_clip(&d, nullptr))
        return;
    gfx_color4ub((color >> 16) & 255, (color >> 8) & 255, color & 255, 255);
    glDisable(GL_TEXTURE_2D);
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    GLfloat v[8] = {d.x, d.y, d.x + d.w, d.y, d.x, d.y + d.h, d.x + d.w, d.y + d.h};
    glVertexPointer(2, GL_FLOAT, 0, v);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    glEnable(GL_TEXTURE_2D);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    gfx_color4ub(255, 255, 255, 255);
}
