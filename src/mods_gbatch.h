// The triangle batcher behind the draw-command replay: image commands become textured, coloured triangles that are
// drawn with one GL call per run of one texture and one blend mode. CBatch::draw (the replay) lives in the .cpp.
#pragma once

#include <functional>
#include <vector>

#include "kiv_gfx.h"
#include "mods.h"

// Triangles pending at most before the batch is drawn.
#define KIV_GBATCH_MAX 8192

// One vertex as the GL client arrays read it (20 bytes).
struct GVert {
    float tx, ty;
    float vx, vy;
    unsigned char r, g, b, a; // premultiplied
};
static_assert(sizeof(GVert) == 20, "GVert is read by GL with a 20-byte stride");

struct GTri {
    GVert verts[3];
};

class GBatch {
public:
    std::vector<GTri> data;
    int tex = 0;   // GL texture name of the pending triangles
    int blend = 0; // GL destination blend factor of the pending triangles

    // Seams for tests and benchmarks: observer sees every run before it is drawn; draw_gl false skips GL.
    std::function<void(const GBatch &)> observer;
    bool draw_gl = true;

    void push(int tex, GTri &tri, int blend);
    void flush();
};

void _color_set(int color, int alpha);
void batch_img(GBatch &b, int img, float x, float y, float w, float h, unsigned color, unsigned char alpha, int blend);
void batch_img_r(GBatch &b, int img, float x, float y, float w, float h, unsigned color, unsigned char alpha, int blend,
                 float angle);
void _batch_img(GBatch &b, GfxImage &img, GfxTexture &tex, float x, float y, float w, float h, unsigned color,
                unsigned char alpha, int blend);
void _batch_img_r(GBatch &b, GfxImage &img, GfxTexture &tex, float x, float y, float w, float h, unsigned color,
                  unsigned char alpha, int blend, float angle);

// The image command rules of the replay (mirroring by negative size, blend by the alpha's sign, rotation) applied
// to an image that is already looked up.
void _batch_img_cmd(GBatch &b, const GCommand &c, GfxImage &img, GfxTexture &tex);
// The rectangle a rect command fills; false when it fills nothing.
bool _batch_rect_cmd(const GCommand &c, GfxRect *out);
// The program's one batcher, created on first use.
GBatch &_gbatch_get();
