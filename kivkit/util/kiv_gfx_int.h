// What the graphics module keeps to itself: the view and texture-table steps its own calls share.
#pragma once

void _gfx_fix_view();
void _gfx_tex_check(int id);
void _gfx_tex_gl_free(int id);
void _gfx_tex_recycle();
const char *_gfx_find(const char *name);
// 1 when every one of n RGBA pixels has alpha 255.
int _gfx_rgba_opaque(const unsigned char *p, long n);
