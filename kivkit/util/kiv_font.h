// Bitmap fonts: glyph pages plus ".fnt" text metrics, loaded by name and size, with wrapping, measuring, aligned
// drawing and the caret helpers of the text input. Used by the shell, the draw-command queue, the console and the GUI.
#pragma once

#include <ctime>
#include <string>
#include <vector>

#include "kiv_gfx.h"

// Lines kept by one wrap; further lines are dropped.
#define KIV_FONT_WRAP_MAX 32
// Size of the font key and path fields; a name that does not fit is treated as not found.
#define KIV_FONT_KEY_MAX 256
#define KIV_FONT_FNAME_MAX 512

// --- public functions

void font_init();
void font_deinit();
int font_load(const char *name, int size);
// Reads the font's file again, from an empty glyph table, for every size sharing it; a file that gives no font
// (logged with its cause) leaves the last glyphs.
void font_reload(int fid);
void font_reload_auto();
// font_reload_auto at the given wall-clock second: the frame loop passes one clock to every module.
void font_reload_check(time_t now);
void font_set_margins(int fid, float top, float right, float bottom, float left);
float font_get_width(int fid, const char *s);
float font_get_height(int fid, const char *s, float w);
void font_draw(int fid, const char *s, float x, float y, float w, int align);
GfxRect font_crect(int fid, const char *s, int pos, float w, int align);
int font_cnear(int fid, const char *s, int x, int y, float w, int align);
