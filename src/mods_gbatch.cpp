// The draw-command replay (CBatch::draw) and the triangle batcher it feeds image commands into.
// The shell replays the queue once per frame from mods_paint.
#include "mods_gbatch.h"

#include <GL/gl.h>

#include <cmath>
#include <cstdlib>

#include "game.h"
#include "kiv_font.h"

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

static void _batch_quad(GBatch &b, int gltex, const GVert &tl, const GVert &tr, const GVert &bl, const GVert &br,
                        int blend) {
    GTri t1 = {{tl, tr, bl}};
    GTri t2 = {{tr, bl, br}};
    b.push(gltex, t1, blend);
    b.push(gltex, t2, blend);
}

void GBatch::push(int t, GTri &tri, int bl) {
    if (t != tex || bl != blend) {
        if (!data.empty())
            flush();
        tex = t;
        blend = bl;
    }
    data.push_back(tri);
    if (data.size() >= KIV_GBATCH_MAX)
        flush();
}

void GBatch::flush() {
    if (data.empty())
        return;
    if (observer)
        observer(*this);
    if (draw_gl) {
        glBlendFunc(GL_ONE, blend);
        glEnableClientState(GL_COLOR_ARRAY);
        glBindTexture(GL_TEXTURE_2D, tex);
        const GVert *v = &data[0].verts[0];
        glTexCoordPointer(2, GL_FLOAT, sizeof(GVert), &v->tx);
        glVertexPointer(2, GL_FLOAT, sizeof(GVert), &v->vx);
        glColorPointer(4, GL_UNSIGNED_BYTE, sizeof(GVert), &v->r);
        glDrawArrays(GL_TRIANGLES, 0, (GLsizei)(3 * data.size()));
        glDisableClientState(GL_COLOR_ARRAY);
        glColor4f(1, 1, 1, 1);
        glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    }
    data.clear();
    tex = 0;
}

void _color_set(int color, int alpha) {
    glBlendFunc(GL_ONE, alpha < 0 ? GL_ONE : GL_ONE_MINUS_SRC_ALPHA);
    int a = alpha < 0 ? (alpha < -255 ? 255 : -alpha) : (alpha > 255 ? 255 : alpha);
    glColor4ub((GLubyte)((((color >> 16) & 255) * a) >> 8), (GLubyte)((((color >> 8) & 255) * a) >> 8),
               (GLubyte)(((color & 255) * a) >> 8), (GLubyte)a);
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
    _batch_quad(b, tex.tex, tl, tr, bl, br, blend);
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
    _batch_quad(b, tex.tex, tl, tr, bl, br, blend);
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

GBatch &_gbatch_get() {
    static GBatch batch;
    return batch;
}

void CBatch::draw() {
    Game *game = game_self();
    ModsAPI *api = game ? game->data.mods.api : nullptr;
    GBatch &gb = _gbatch_get();
    _color_set(0xFFFFFF, 255);
    std::string img_name, font_name;
    int img_id = 0, font_size = 0, font_id = 0;
    for (const GCommand &c : queue) {
        switch (c.type) {
        case 1:
            gb.flush();
            if (api) {
                var p = api->params;
                p["view_x"] = var(c.x);
                p["view_y"] = var(c.y);
                p["view_w"] = var(c.w);
                p["view_h"] = var(c.h);
                _mods_view_init(*game);
            }
            gfx_ortho();
            break;
        case 2:
            if (!img_id || c.name != img_name) {
                img_id = gfx_img_load(c.name.c_str());
                img_name = c.name;
            }
            if (img_id) {
                GfxImage &img = _gfx_get_img(img_id);
                _batch_img_cmd(gb, c, img, _gfx_get_tex(img.tid));
            }
            break;
        case 3:
            gb.flush();
            if (!font_id || c.name != font_name || c.points != font_size) {
                font_id = font_load(c.name.c_str(), c.points);
                font_name = c.name;
                font_size = c.points;
            }
            _color_set(c.color, c.alpha);
            font_draw(font_id, c.text.c_str(), c.x, c.y, 0, -1);
            _color_set(0xFFFFFF, 255);
            break;
        case 4: {
            gb.flush();
            GfxRect r;
            if (_batch_rect_cmd(c, &r))
                gfx_fill((unsigned)c.color, r.x, r.y, r.w, r.h);
            break;
        }
        default:
            break;
        }
    }
    gb.flush();
}
