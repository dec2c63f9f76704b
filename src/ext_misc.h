// The misc extension's screenshot writers, apart from the verbs so tests and benchmarks can reach them.
#pragma once

#include <cstddef>

// Largest screenshot path, terminating zero included; longer paths are refused, never cut.
#define EXT_MISC_PATH_MAX 1024

// The screenshot path for an optional file name (null: the default); false when it does not fit.
bool ext_misc_screenshot_path(const char *tmpdir, const char *filename, char *out, size_t size);
// Reads the current GL viewport, flips it top row first and writes it by the path's extension; non-zero when
// the file was written.
int ext_misc_screenshot(const char *path);
// Writes top-row-first RGBA pixels as JPEG (".jpg" anywhere in the path) or PNG (".png"); the file appears
// whole under its name or not at all. Non-zero when written.
int ext_misc_write_image(const char *path, int width, int height, const unsigned char *rgba);
// The screenshot encoding: quality 85, 2x2 chroma subsampling, optimised tables; 1 on success.
int jpge_write_jpg(const char *path, int width, int height, int channels, void *pixels);
