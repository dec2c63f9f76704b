// The draw-command queue (interned names, commands, CBatch) and the triangle batcher behind its replay: image
// commands become textured, coloured triangles drawn with one GL call per run of one texture and one blend mode.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "kiv_gfx.h"

// An image or font name, interned for the life of the program: commands copy and compare one pointer. Equal
// texts give equal names; the empty name is the default.
class GName {
public:
    GName();
    GName(const char *s);
    GName(const std::string &s);
    GName(const char *s, size_t len);
    const std::string &str() const { return *p; }
    const char *c_str() const { return p->c_str(); }
    bool operator==(const GName &o) const { return p == o.p; }
    bool operator!=(const GName &o) const { return p != o.p; }
    // The interned text behind a name, and back: lets a binding cache a name as a plain pointer.
    const void *key() const { return p; }
    static GName from_key(const void *key);

private:
    const std::string *p;
};

// Kinds of queued draw commands (GCommand::type).
enum { GCOMMAND_VIEW = 1, GCOMMAND_IMAGE = 2, GCOMMAND_TEXT = 3, GCOMMAND_RECT = 4 };

// One queued draw command of one of the kinds above.
struct GCommand {
    int type = 0;
    GName name;
    int points = 0;
    std::string text;
    float x = 0, y = 0, w = 0, h = 0;
    float rotate = 0;
    int color = 0;
    int alpha = 0;
};

class CBatch {
public:
    std::vector<GCommand> queue;
    // Empties the queue for a new frame; the frame it held is kept as the last completed one.
    void clear();
    void draw(); // replays the queue
    // The frame being queued failed: the queue goes back to the last completed frame, which is replayed instead.
    void restore_last();

private:
    std::vector<GCommand> last;
};

// Triangles pending at most before the batch is drawn.
#define KIV_GBATCH_MAX 8192
// Quads handed to GL in one draw call at most: Mesa's software rasteriser looks for screen-aligned rectangles only
// in draws of fewer than 4,096 vertices.
#define KIV_GBATCH_CALL_QUADS 682

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

// Where the current drawing coordinates land in window pixels, when one unit is one pixel and nothing rotates.
struct GPixelMap {
    bool exact = false;
    float ox = 0, oy = 0; // GL window coordinates (y up) of the drawing origin, whole when exact
};

class GBatch {
public:
    std::vector<GTri> data;
    int tex = 0;   // GL texture name of the pending triangles
    int blend = 0; // GL destination blend factor of the pending triangles

    // What the pending run allows; each holds only while every triangle pushed since the run began allows it.
    bool run_white = true;        // every vertex is full white at full alpha: no colour stage needed
    bool run_exact = true;        // every quad maps texels one to one onto whole window pixels: nearest sampling
    bool run_opaque = true;       // a fully opaque texture drawn at alpha 255 over normal blending: no blending
    int run_min = 0, run_mag = 0; // the texture's own filters, put back after nearest sampling

    // false draws every run the plain way (one call, blending and colour array on, the texture's filters):
    // the reference the pixel tests compare the fast paths with.
    bool fast = true;
    GPixelMap pixels;

    // Seams for tests and benchmarks: observer sees every run before it is drawn; draw_gl false skips GL.
    std::function<void(const GBatch &)> observer;
    bool draw_gl = true;

    void push(int tex, GTri &tri, int blend);
    // One image quad; exact when it maps texels one to one onto whole window pixels.
    void push_quad(const GfxTexture &t, const GVert &tl, const GVert &tr, const GVert &bl, const GVert &br, int mode,
                   bool exact);
    void flush();
    // Flushes and puts the GL state back as the rest of the frame expects it (text, fills, the GUI).
    void finish();
    // The lengths of the draw calls a run of n triangles is handed to GL in.
    static std::vector<int> call_lengths(int n, bool fast);

private:
    struct GlState {
        bool known = false;
        int blend_func = 0;
        bool blend_on = true, color_array = false, replace = false;
    } gl;
    struct Switched {
        int tex, min, mag;
        bool nearest;
    };
    std::vector<Switched> switched; // textures whose filters this replay changed
    void _run_begin(int tex, int blend);
    void _gl_draw();
    void _gl_filters(bool nearest);
};

// --- public functions

void batch_img(GBatch &b, int img, float x, float y, float w, float h, unsigned color, unsigned char alpha, int blend);
void batch_img_r(GBatch &b, int img, float x, float y, float w, float h, unsigned color, unsigned char alpha, int blend,
                 float angle);
