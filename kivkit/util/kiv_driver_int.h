// What the driver's own files (kiv_driver-*.cpp) share and no other module calls.
#pragma once

// --- window and GL context (kiv_driver-sdl2_video.cpp)
void _driver_video_start();

// --- event translation (kiv_driver-sdl2_event.cpp)
// Starts the joystick subsystem when needed and opens the devices not open yet (video start, a device added).
void _driver_joystick_scan();
void _driver_joystick_close_all();
// Closes the joysticks and drops the poll's state (driver_deinit).
void _driver_event_stop();

// --- texture upload (kiv_driver-tex_load.cpp)
// The checked decode of an image file to RGBA (free() the pixels); null with *why set when it is refused.
unsigned char *_stbi_load(const char *path, int *w, int *h, const char **why);
void _driver_tex_load_downscale_both(unsigned char *p, int w, int h);
void _driver_tex_load_downscale_horz(unsigned char *p, int w, int h);
void _driver_tex_load_downscale_vert(unsigned char *p, int w, int h);
int _has_gl_generate_mipmap();
int _has_gl_manual_mipmap();
int _driver_gl_version();
