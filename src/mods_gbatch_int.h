// The draw-command queue's inside, for its replay's tests and the benchmarks: the colour and image steps of a
// replay, the command rules on an image already looked up, and the program's one batcher.
#pragma once

#include "mods_gbatch.h"

// The blend (adding for a negative alpha) and premultiplied GL colour of a fill or text command, 0xRRGGBB.
void _color_set(int color, int alpha);
void _batch_img(GBatch &b, GfxImage &img, GfxTexture &tex, float x, float y, float w, float h, unsigned color,
                unsigned char alpha, int blend);
void _batch_img_r(GBatch &b, GfxImage &img, GfxTexture &tex, float x, float y, float w, float h, unsigned color,
                  unsigned char alpha, int blend, float angle);

// The image command rules of the replay (mirroring by negative size, blend by the alpha's sign, rotation) applied
// to an image that is already looked up.
void _batch_img_cmd(GBatch &b, const GCommand &c, GfxImage &img, GfxTexture &tex);
// The rectangle a rect command fills; false when it fills nothing.
bool _batch_rect_cmd(const GCommand &c, GfxRect *out);
// Window pixels of the drawing coordinates from the GL matrices (column-major) and viewport.
GPixelMap _batch_pixel_map(const float proj[16], const float model[16], const int viewport[4]);
// The program's one batcher, created on first use.
GBatch &_gbatch_get();
