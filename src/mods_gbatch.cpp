// The draw-command queue (interned names, CBatch and its replay) and the triangle batcher the replay feeds.
// The shell replays the queue once per frame from mods_paint.
#include "mods_gbatch.h"
#include "mods_gbatch_int.h"

#include <GL/gl.h>

#include <cmath>
#include <cstdlib>
#include <unordered_set>

#include "game.h"
#include "kiv_font.h"
#include "kiv_gfx_int.h"
#include "mods_api_int.h"

static unsigned char _batch_byte(int v) {
    return (unsigned char)(v < 0 ? 0 : v > 255 ? 255 : v);
}

static void _batch_color(GVert &v, unsigned color, unsigned char alpha) {
    v.r = (unsigned char)(alpha * ((color >> 16) & 255) / 255);
    v.g = (unsigned char)(alpha * ((color >> 8) & 255) / 255);
    v.b = (unsigned char)(alpha * (color & 255) / 255);
    v.a = alpha;
}

static GVert _batch_vert(float vx, float vy, float tx, float ty, unsigned color, unsigned char alpha) {
    GVert v;
    v.tx = tx;
    v.ty = ty;
    v.vx = vx;
    v.vy = vy;
    _batch_color(v, color, alpha);
    return v;
}

// Texture rectangle of an image in fractions of its GL texture; zero when the texture has no size.
static GfxRect _batch_uv(const GfxImage &img, const GfxTexture &tex) {
    if (!(tex.rect.w > 0 && tex.rect.h > 0))
        return GfxRect();
    return GfxRect(img.rect.x / tex.rect.w, img.rect.y / tex.rect.h, img.rect.w / tex.rect.w, img.rect.h / tex.rect.h);
}

static bool _batch_whole(float v) {
    return v == std::floor(v) && std::fabs(v) < 4194304.0f;
}

static bool _batch_pow2(float v) {
    int n = (int)v;
    return v == (float)n && n > 0 && (n & (n - 1)) == 0;
}

// Every pixel centre of the quad falls on a texel centre: unscaled, unmirrored, on whole window pixels, from whole
// texels of a power-of-two texture (whose texel fractions are exact), so every filter returns the same texel.
static bool _batch_exact(const GBatch &b, const GfxImage &img, const GfxTexture &tex, float X, float Y, float w,
                         float h) {
    return b.pixels.exact && tex.tex && w == img.shape.w && h == img.shape.h && _batch_whole(X) && _batch_whole(Y) &&
           _batch_whole(img.rect.x) && _batch_whole(img.rect.y) && _batch_whole(img.rect.w) &&
           _batch_whole(img.rect.h) && _batch_pow2(tex.rect.w) && _batch_pow2(tex.rect.h);
}

static bool _batch_near(double v, double want, double tol) {
    return std::fabs(v - want) < tol;
}

GPixelMap _batch_pixel_map(const float P[16], const float V[16], const int vp[4]) {
    // M = P x V (column-major); only the terms a point (x, y, 0, 1) meets are needed.
    auto m = [&](int row, int col) {
        double s = 0;
        for (int k = 0; k < 4; k++)
            s += (double)P[k * 4 + row] * V[col * 4 + k];
        return s;
    };
    double hw = vp[2] / 2.0, hh = vp[3] / 2.0;
    double sx = m(0, 0) * hw, sxy = m(0, 1) * hw, syx = m(1, 0) * hh, sy = m(1, 1) * hh;
    double ox = vp[0] + (m(0, 3) + 1) * hw, oy = vp[1] + (m(1, 3) + 1) * hh;
    GPixelMap out;
    const double tol = 1e-5, pos = 1e-3;
    bool affine = _batch_near(m(3, 0), 0, tol) && _batch_near(m(3, 1), 0, tol) && _batch_near(m(3, 3), 1, tol);
    bool unit = _batch_near(sx, 1, tol) && _batch_near(std::fabs(sy), 1, tol) && _batch_near(sxy, 0, tol) &&
                _batch_near(syx, 0, tol);
    if (affine && unit && _batch_near(ox, std::round(ox), pos) && _batch_near(oy, std::round(oy), pos)) {
        out.exact = true;
        out.ox = (float)std::round(ox);
        out.oy = (float)std::round(oy);
    }
    return out;
}

// Both triangles of a quad turn the same way, so the rasteriser can recognise the pair as one rectangle; the
// plain order is kept for the reference path.
void GBatch::push_quad(const GfxTexture &t, const GVert &tl, const GVert &tr, const GVert &bl, const GVert &br,
                       int mode, bool exact) {
    GTri tris[2] = {{{tl, tr, bl}}, {{tr, bl, br}}};
    if (fast)
        tris[1] = {{bl, tr, br}};
    bool white = tl.r == 255 && tl.g == 255 && tl.b == 255 && tl.a == 255;
    bool opaque = t.opaque && tl.a == 255 && mode == GL_ONE_MINUS_SRC_ALPHA;
    for (GTri &tri : tris) {
        if (t.tex != tex || mode != blend) {
            if (!data.empty())
                flush();
            tex = t.tex;
            blend = mode;
        }
        if (data.empty()) {
            run_min = t.tex_filter_min;
            run_mag = t.tex_filter_mag;
        }
        run_white = run_white && white;
        run_exact = run_exact && exact;
        run_opaque = run_opaque && opaque;
        data.push_back(tri);
        if (data.size() >= KIV_GBATCH_MAX)
            flush();
    }
}

void GBatch::push(int t, GTri &tri, int bl) {
    if (t != tex || bl != blend) {
        if (!data.empty())
            flush();
        tex = t;
        blend = bl;
    }
    // A bare triangle says nothing about its texture or its pixels.
    run_exact = run_opaque = false;
    for (const GVert &v : tri.verts)
        run_white = run_white && v.r == 255 && v.g == 255 && v.b == 255 && v.a == 255;
    data.push_back(tri);
    if (data.size() >= KIV_GBATCH_MAX)
        flush();
}

std::vector<int> GBatch::call_lengths(int n, bool fast) {
    std::vector<int> out;
    int most = fast ? 2 * KIV_GBATCH_CALL_QUADS : n;
    for (int i = 0; i < n; i += most)
        out.push_back(n - i < most ? n - i : most);
    return out;
}

void GBatch::flush() {
    if (data.empty())
        return;
    if (observer)
        observer(*this);
    if (draw_gl)
        _gl_draw();
    data.clear();
    tex = 0;
    run_white = run_exact = run_opaque = true;
}

// Nearest sampling is switched per texture and remembered, so the texture's own filters come back at the end.
void GBatch::_gl_filters(bool nearest) {
    Switched *s = nullptr;
    for (Switched &e : switched)
        if (e.tex == tex)
            s = &e;
    if (!s) {
        if (!nearest)
            return;
        switched.push_back({tex, run_min, run_mag, false});
        s = &switched.back();
    }
    if (s->nearest == nearest)
        return;
    s->nearest = nearest;
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, nearest ? GL_NEAREST : s->min);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, nearest ? GL_NEAREST : s->mag);
}

void GBatch::_gl_draw() {
    const GVert *v = &data[0].verts[0];
    if (!fast) {
        glBlendFunc(GL_ONE, blend);
        glEnableClientState(GL_COLOR_ARRAY);
        glBindTexture(GL_TEXTURE_2D, tex);
        glTexCoordPointer(2, GL_FLOAT, sizeof(GVert), &v->tx);
        glVertexPointer(2, GL_FLOAT, sizeof(GVert), &v->vx);
        glColorPointer(4, GL_UNSIGNED_BYTE, sizeof(GVert), &v->r);
        glDrawArrays(GL_TRIANGLES, 0, (GLsizei)(3 * data.size()));
        glDisableClientState(GL_COLOR_ARRAY);
        gfx_color4ub(255, 255, 255, 255);
        glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
        return;
    }
    bool blend_on = !run_opaque, color_array = !run_white, replace = run_white;
    if (!gl.known || gl.blend_func != blend) {
        glBlendFunc(GL_ONE, blend);
        gl.blend_func = blend;
    }
    if (!gl.known || gl.blend_on != blend_on) {
        if (blend_on)
            glEnable(GL_BLEND);
        else
            glDisable(GL_BLEND);
        gl.blend_on = blend_on;
    }
    if (!gl.known || gl.color_array != color_array) {
        if (color_array)
            glEnableClientState(GL_COLOR_ARRAY);
        else
            glDisableClientState(GL_COLOR_ARRAY);
        gl.color_array = color_array;
    }
    // Modulating by full white changes nothing, so a white run can take the texel as it is.
    if (!gl.known || gl.replace != replace) {
        glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, replace ? GL_REPLACE : GL_MODULATE);
        gl.replace = replace;
    }
    // Bound every time: loading an image between two runs binds its new texture.
    glBindTexture(GL_TEXTURE_2D, tex);
    gl.known = true;
    if (tex)
        _gl_filters(run_exact);
    glTexCoordPointer(2, GL_FLOAT, sizeof(GVert), &v->tx);
    glVertexPointer(2, GL_FLOAT, sizeof(GVert), &v->vx);
    if (color_array)
        glColorPointer(4, GL_UNSIGNED_BYTE, sizeof(GVert), &v->r);
    int first = 0;
    for (int n : call_lengths((int)data.size(), true)) {
        glDrawArrays(GL_TRIANGLES, 3 * first, 3 * n);
        first += n;
    }
}

void GBatch::finish() {
    flush();
    if (!draw_gl)
        return;
    for (const Switched &s : switched) {
        if (!s.nearest || !glIsTexture((GLuint)s.tex))
            continue;
        glBindTexture(GL_TEXTURE_2D, s.tex);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, s.min);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, s.mag);
    }
    switched.clear();
    if (!gl.known)
        return;
    glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_BLEND);
    glDisableClientState(GL_COLOR_ARRAY);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    gfx_color4ub(255, 255, 255, 255);
    gl.known = false;
}

void _color_set(int color, int alpha) {
    glBlendFunc(GL_ONE, alpha < 0 ? GL_ONE : GL_ONE_MINUS_SRC_ALPHA);
    int a = alpha < 0 ? (alpha < -255 ? 255 : -alpha) : (alpha > 255 ? 255 : alpha);
    gfx_color4ub((unsigned char)((((color >> 16) & 255) * a) >> 8), (unsigned char)((((color >> 8) & 255) * a) >> 8),
                 (unsigned char)(((color & 255) * a) >> 8), (unsigned char)a);
}

void batch_img(GBatch &b, int img, float x, float y, float w, float h, unsigned color, unsigned char alpha, int blend) {
    if (!img)
        return;
    GfxImage &i = _gfx_get_img(img);
    _batch_img(b, i, _gfx_get_tex(i.tid), x, y, w, h, color, alpha, blend);
}

void batch_img_r(GBatch &b, int img, float x, float y, float w, float h, unsigned color, unsigned char alpha, int blend,
                 float angle) {
    if (!img)
        return;
    GfxImage &i = _gfx_get_img(img);
    _batch_img_r(b, i, _gfx_get_tex(i.tid), x, y, w, h, color, alpha, blend, angle);
}

void _batch_img(GBatch &b, GfxImage &img, GfxTexture &tex, float x, float y, float w, float h, unsigned color,
                unsigned char alpha, int blend) {
    // An image without a logical size (a failed load) has nothing to scale by.
    if (img.shape.w == 0 || img.shape.h == 0)
        return;
    GfxRect t = _batch_uv(img, tex);
    float X = img.shape.x * w / img.shape.w + x, Y = img.shape.y * h / img.shape.h + y;
    float W = img.rect.w * w / img.shape.w, H = img.rect.h * h / img.shape.h;
    GVert tl = _batch_vert(X, Y, t.x, t.y, color, alpha);
    GVert tr = _batch_vert(X + W, Y, t.x + t.w, t.y, color, alpha);
    GVert bl = _batch_vert(X, Y + H, t.x, t.y + t.h, color, alpha);
    GVert br = _batch_vert(X + W, Y + H, t.x + t.w, t.y + t.h, color, alpha);
    b.push_quad(tex, tl, tr, bl, br, blend, _batch_exact(b, img, tex, X, Y, w, h));
}

void _batch_img_r(GBatch &b, GfxImage &img, GfxTexture &tex, float x, float y, float w, float h, unsigned color,
                  unsigned char alpha, int blend, float angle) {
    // Like the unrotated form: an image without a logical size (a failed load) draws nothing, not a blank box.
    if (img.shape.w == 0 || img.shape.h == 0)
        return;
    GfxRect t = _batch_uv(img, tex);
    float hw = w / 2, hh = h / 2, cx = x + hw, cy = y + hh;
    float ca = cosf(angle), sa = sinf(angle);
    auto at = [&](float dx, float dy, float u, float v) {
        return _batch_vert(dx * ca + cx - dy * sa, dy * ca + cy + dx * sa, u, v, color, alpha);
    };
    GVert tl = at(-hw, -hh, t.x, t.y);
    GVert tr = at(w - hw, -hh, t.x + t.w, t.y);
    GVert bl = at(-hw, h - hh, t.x, t.y + t.h);
    GVert br = at(w - hw, h - hh, t.x + t.w, t.y + t.h);
    b.push_quad(tex, tl, tr, bl, br, blend, false);
}

void _batch_img_cmd(GBatch &b, const GCommand &c, GfxImage &img, GfxTexture &tex) {
    if (c.w == 0 || c.h == 0)
        return;
    float px = c.w < 0 ? c.x - c.w : c.x;
    float py = c.h < 0 ? c.y - c.h : c.y;
    int blend = GL_ONE_MINUS_SRC_ALPHA;
    int alpha = c.alpha;
    if (alpha < 0) {
        blend = GL_ONE;
        alpha = alpha < -255 ? 255 : -alpha;
    }
    // Out-of-range alphas saturate instead of wrapping round to a faint byte.
    unsigned char a = _batch_byte(alpha);
    if (c.rotate != 0)
        _batch_img_r(b, img, tex, px, py, c.w, c.h, (unsigned)c.color, a, blend, (float)(-c.rotate * M_PI / 180));
    else
        _batch_img(b, img, tex, px, py, c.w, c.h, (unsigned)c.color, a, blend);
}

bool _batch_rect_cmd(const GCommand &c, GfxRect *out) {
    if (c.w == 0 || c.h == 0)
        return false;
    // The origin moved by a negative size, filled back by that size, is the box from x to x + |w|; handing the
    // fill a negative size instead would fill it or not depending on the clip stack.
    *out = GfxRect(c.x, c.y, std::fabs(c.w), std::fabs(c.h));
    return true;
}

// Names are few (the images and fonts a game draws with), so the table keeps every one it was given; its nodes
// never move, so a name stays one pointer.
static std::unordered_set<std::string> &_gname_table() {
    static std::unordered_set<std::string> *table = new std::unordered_set<std::string>();
    return *table;
}

static const std::string *_gname_empty() {
    static const std::string *empty = &*_gname_table().emplace().first;
    return empty;
}

GName::GName() : p(_gname_empty()) {}
GName::GName(const char *s) : p(&*_gname_table().emplace(s ? s : "").first) {}
GName::GName(const std::string &s) : p(&*_gname_table().emplace(s).first) {}
GName::GName(const char *s, size_t len) : p(&*_gname_table().emplace(s, len).first) {}

GName GName::from_key(const void *key) {
    GName n;
    if (key)
        n.p = (const std::string *)key;
    return n;
}

void CBatch::clear() {
    // A swap, not a copy: the kept frame costs no allocation, and the emptied vector keeps its room.
    last.swap(queue);
    queue.clear();
}

void CBatch::restore_last() {
    queue.swap(last);
    last.clear();
}

GBatch &_gbatch_get() {
    static GBatch batch;
    return batch;
}

// Where the drawing coordinates land on the window, asked of GL after every change of view.
static void _batch_pixels_update(GBatch &gb) {
    if (!gb.draw_gl || !gb.fast) {
        gb.pixels = GPixelMap();
        return;
    }
    float P[16], V[16];
    int vp[4];
    glGetFloatv(GL_PROJECTION_MATRIX, P);
    glGetFloatv(GL_MODELVIEW_MATRIX, V);
    glGetIntegerv(GL_VIEWPORT, vp);
    gb.pixels = _batch_pixel_map(P, V, vp);
}

void CBatch::draw() {
    Game *game = game_self();
    ModsAPI *api = game ? game->data.mods.api : nullptr;
    GBatch &gb = _gbatch_get();
    _color_set(0xFFFFFF, 255);
    _batch_pixels_update(gb);
    GName img_name, font_name;
    int img_id = 0, font_size = 0, font_id = 0;
    for (const GCommand &c : queue) {
        switch (c.type) {
        case GCOMMAND_VIEW:
            gb.finish();
            if (api) {
                var p = api->params;
                p["view_x"] = var(c.x);
                p["view_y"] = var(c.y);
                p["view_w"] = var(c.w);
                p["view_h"] = var(c.h);
                _mods_view_init(*game);
            }
            gfx_ortho();
            _batch_pixels_update(gb);
            break;
        case GCOMMAND_IMAGE:
            if (!img_id || c.name != img_name) {
                img_id = gfx_img_load(c.name.c_str());
                img_name = c.name;
            }
            if (img_id) {
                GfxImage &img = _gfx_get_img(img_id);
                _batch_img_cmd(gb, c, img, _gfx_get_tex(img.tid));
            }
            break;
        case GCOMMAND_TEXT:
            gb.finish();
            if (!font_id || c.name != font_name || c.points != font_size) {
                font_id = font_load(c.name.c_str(), c.points);
                font_name = c.name;
                font_size = c.points;
            }
            _color_set(c.color, c.alpha);
            font_draw(font_id, c.text.c_str(), c.x, c.y, 0, -1);
            _color_set(0xFFFFFF, 255);
            break;
        case GCOMMAND_RECT: {
            gb.finish();
            GfxRect r;
            if (_batch_rect_cmd(c, &r))
                gfx_fill((unsigned)c.color, r.x, r.y, r.w, r.h);
            break;
        }
        default:
            break;
        }
    }
    gb.finish();
}
