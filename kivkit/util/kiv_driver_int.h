// What the driver's own files (kiv_driver-*.cpp) share, with the texture filters the gfx module reads; tests
// reach the steps of uploads, decoding and the window through it.
#pragma once

#include <vector>

// --- window and GL context (kiv_driver-sdl2_video.cpp)
void _driver_video_start();
void _driver_video_stop();
void _driver_video_resize();
// Driver size, aspect, scale and orientation from the window and drawable sizes; false for an empty window.
bool _driver_video_metrics(int w, int h, int dw, int dh);
// Shrinks w x h to at most max_w x max_h (a limit of 0 or less is none); true when it changed anything.
bool _driver_video_fit(int *w, int *h, int max_w, int max_h);
// The largest window the displays and, once a context exists, GL take.
void _driver_video_max(int *w, int *h);
// RGBA pixels box-filtered down to fit max x max, keeping the aspect; false (out untouched) when they already fit.
bool _driver_icon_fit(const unsigned char *px, int w, int h, int max, std::vector<unsigned char> *out, int *ow,
                      int *oh);

// --- event translation (kiv_driver-sdl2_event.cpp)
// Starts the joystick subsystem when needed and opens the devices not open yet (video start, a device added).
void _driver_joystick_scan();
void _driver_joystick_close_all();
// Closes the joysticks and drops the poll's state (driver_deinit).
void _driver_event_stop();
int _driver_sdl_sym2key(int sym);

// --- texture upload (kiv_driver-tex_load.cpp)
// The filters of textures loaded from now on: the shell's answers, the minification one made linear when no
// mipmaps can be built. The gfx module gives its texture slots the same.
int _kiv_gl_texture_min_filter();
int _kiv_gl_texture_mag_filter();
// The steps of an upload, for the window code and tests.
int _driver_tex_load(const char *path, int *w, int *h, int *tw, int *th);
int _driver_tex_load_from_data(unsigned char *rgba, int w, int h, int *ow, int *oh, int *tw, int *th);
// The upload behind _driver_tex_load_from_data, with the halving the configuration asks for given explicitly.
int _driver_tex_upload(unsigned char *rgba, int w, int h, bool downscale, int *ow, int *oh, int *tw, int *th);
void _driver_tex_load_downscale(unsigned char *p, int *w, int *h);
// The GL version text as major x 65536 + minor x 256 + patch (each part at most 255).
int _driver_gl_version_parse(const char *s);
// Premultiplies RGBA pixels in place.
void _driver_tex_premultiply(unsigned char *p, int w, int h);
// The GL size for a picture size: the first allowed size not below it; sizes above the table are kept.
int _driver_tex_size(int n);
// Pads a w x h picture to tw x th by repeating its last column and row; returns a new buffer (free()) or null.
unsigned char *_driver_tex_pad(const unsigned char *p, int w, int h, int tw, int th);
// Halves (w, h) until a texture of that size fits under maxsize per axis; returns how many halvings, -1 when never.
int _driver_tex_fit(int w, int h, int maxsize);
// Checks a file's picture size before decoding: 0 when it can be drawn at maxsize (after halving), -1 otherwise.
int _driver_tex_check_size(const unsigned char *data, int len, int maxsize, int *w, int *h);
// The checked decode of an image file to RGBA (free() the pixels); null with *why set when it is refused.
unsigned char *_stbi_load(const char *path, int *w, int *h, const char **why);
void _driver_tex_load_downscale_both(unsigned char *p, int w, int h);
void _driver_tex_load_downscale_horz(unsigned char *p, int w, int h);
void _driver_tex_load_downscale_vert(unsigned char *p, int w, int h);
int _has_glGenerateMipmap();
int _has_gl_generate_mipmap();
int _has_gl_manual_mipmap();
int _driver_gl_version();

// --- image decoding (kiv_driver-image.cpp): PNG, JPEG and TGA only, chosen by the leading bytes
enum { KIV_IMAGE_NONE = 0, KIV_IMAGE_PNG, KIV_IMAGE_JPEG, KIV_IMAGE_TGA };
// The format the bytes hold and the picture size its header claims; KIV_IMAGE_NONE for anything else.
int _driver_image_info(const unsigned char *data, int len, int *w, int *h);
// RGBA pixels (free()) of an image held in memory; null with *why (valid until the next call) on refusal.
unsigned char *_driver_image_decode(const unsigned char *data, int len, int *w, int *h, const char **why);

// --- audio device (kiv_driver-sdl2_audio.cpp)
void _driver_audio_start();
void _driver_audio_stop();
