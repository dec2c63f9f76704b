// What the font module keeps to itself: the file lookup, the text filter and the one-line draw its calls share.
#pragma once

// The data file a font name stands for (as given, or with ".fnt" or ".txt"); null when there is none.
const char *_font_find(const char *name);
const char *_font_filter(const char *s);
void _font_draw(int fid, const char *s, float x, float y);
