// The driver: the engine's only door to the operating system (files, window, input, time, audio, platform service).
// Implemented in kiv_driver-sdl2*.cpp (SDL2), kiv_driver-tex_load.cpp, kiv_driver-image.cpp, kiv_driver-csteam.cpp
// and the kiv_platform sources; each section names its file.
#pragma once

#include <ctime>
#include <string>
#include <vector>

struct Event;
class AudioCallback;

// driver_init flag bits
enum { DRIVER_VIDEO = 1, DRIVER_AUDIO = 2, DRIVER_TIMER = 4, DRIVER_ALL = 255 };

// --- core and names (kiv_driver-sdl2.cpp)
void driver_init(int flags);
void driver_deinit();
void driver_set_gamename(const char *s);
const char *driver_get_gamename();
void driver_set_caption(const char *s);
const char *driver_get_caption();
void driver_set_icon(const char *s);
const char *driver_get_icon();
void driver_set_idiom(const char *s);
const char *driver_get_idiom();
void driver_set_altdir(const char *v);
const char *driver_get_altdir();
void driver_set_size(int w, int h);
void driver_get_size(int *w, int *h);
void driver_set_aspect(float v);
float driver_get_aspect();
void driver_set_scale(float v);
float driver_get_scale();
void driver_set_orient(float v);
float driver_get_orient();
const char *driver_get_tmpdir();
const char *driver_get_home_dir();
const char *driver_get_osinfo();
void driver_open_url(const char *url);
void driver_app_exit();
void driver_log_printf(const char *fmt, ...);

// --- files (kiv_driver-sdl2.cpp)
bool driver_file_exists(const char *fname);
int driver_file_fsize(const char *fname);
time_t driver_file_mtime(const char *fname);
// What hot reload compares of a watched file: its modification time in nanoseconds since the epoch and its size;
// both 0 when the file cannot be examined.
struct DriverFileStamp {
    long long mtime_ns;
    long long size;
};
DriverFileStamp driver_file_stamp(const char *fname);
// The stamp's time in whole seconds, as driver_file_mtime gives it.
time_t driver_file_stamp_time(const DriverFileStamp &s);
// The one hot-reload rule of scripts, textures, atlases, fonts and sounds: true when the file's stamp differs from
// the known one (its time, older or newer, or its size, so a rewrite within the same second counts) and its time
// lies at least two seconds before now, so a file still being written is left alone.
bool driver_file_settled(const DriverFileStamp &known, const DriverFileStamp &seen, time_t now);
// The same rule over whole-second times (`resized`: the size differs).
bool driver_file_settled(time_t known, time_t mtime, time_t now, bool resized = false);
// The reload checks' gate, at most once a wall-clock second: true, with *last set to now, when now is a new second.
bool driver_file_check_due(time_t *last, time_t now);
void *driver_file_alloc(const char *fname, int *_len);
// Why driver_file_alloc gave nothing for a path: "empty file" or "file not found".
const char *driver_file_refusal(const char *fname);
int driver_file_load(const char *fname, void *data, int len);
std::string driver_file_load(const char *fname);
void driver_file_save(const char *fname, const void *data, int len);
const char *driver_data_fname(const char *_fname);
bool driver_data_exists(const char *fname);
int driver_data_fsize(const char *fname);
int driver_data_load(const char *fname, void *data, int len);
std::string driver_data_load(const char *fname);
const char *driver_doc_fname(const char *_fname);
bool driver_doc_exists(const char *fname);
int driver_doc_fsize(const char *fname);
int driver_doc_load(const char *fname, void *data, int len);
std::string driver_doc_load(const char *fname);
void driver_doc_save(const char *fname, const void *data, int len);

// --- window and GL context (kiv_driver-sdl2_video.cpp)
void driver_video_init(int ww, int hh, int dw, int dh, int mw, int mh, int full);
void driver_video_flip();
bool driver_video_minimize();
struct SDL_Window *driver_sdl2_window();
void driver_sdl2_window_destroy();

// --- texture upload (kiv_driver-tex_load.cpp)
int driver_tex_load(const char *fname, int *rw, int *rh, int *rtw, int *rth);
// The shell's answers for the minification and magnification filters of textures loaded from now on.
void driver_tex_filters_set(int (*min_filter)(), int (*mag_filter)());

// --- event translation (kiv_driver-sdl2_event.cpp)
int driver_event_poll(Event *r);

// --- timer (kiv_driver-sdl2.cpp)
long driver_timer_get_ticks();
void driver_timer_reset_ticks();
void driver_timer_delay(int ticks);
void driver_timer_set(int fps);
int driver_timer_tick();
// Replaces the millisecond source (SDL_GetTicks) so tests can drive the clock; null restores it.
void driver_timer_set_source(unsigned (*source)());

// --- on-screen keyboard and clipboard (kiv_driver-sdl2_video.cpp)
// Where text is typed, in window pixels (the graphics layer's focus); a width of 0 sets no rectangle at show.
void driver_keyboard_set_rect(float x, float y, float w, float h);
void driver_keyboard_show();
void driver_keyboard_hide();
int driver_keyboard_state();
int driver_keyboard_get_height();
void driver_keyboard_set_height(int v);
void driver_keyboard_init(void *_view);
std::string driver_clipboard_get_text();
void driver_clipboard_set_text(const std::string &text);

// --- audio device and voices (kiv_driver-sdl2_audio.cpp; source classes in kiv_driver-audio.h)
int driver_audio_sample_load(const char *path);
void driver_audio_sample_play(int v, float vol, float pan);
int driver_audio_stream_load(const char *s, bool preload);
void driver_audio_stream_play(int v, float vol, float pos);
void driver_audio_stream_stop(int v);
void driver_audio_stream_pause(int v, int pause);
void driver_audio_stream_volume(int v, float vol);
void driver_audio_sample_reload(int n);
void driver_audio_stream_reload(int sid);
void driver_audio_loop();
void driver_audio_lock();
void driver_audio_unlock();
int driver_audio_callback_add(AudioCallback *callback, float vol);

// --- platform service bridge (kiv_driver-csteam.cpp)
bool driver_steam_is_init();
// Starts the platform; driver_social_init (kiv_social.cpp, which owns the sign-in) calls it.
void driver_steam_start();
void driver_social_init();
void driver_social_loop();
void driver_social_deinit();
const char *driver_steam_get_uid();
void driver_social_achievment_set(const char *name, double value);
void driver_social_achievements_reset();
bool driver_social_achievements_show();
void driver_social_leaderboard_submit(const char *name, double value);
bool driver_social_leaderboard_show(const char *name);
std::vector<std::string> driver_social_friends_get();
void driver_social_friends_invite();
void driver_social_share(const char *text, const char *url, const char *image);
int driver_steam_open_overlay(const char *dialog);
int driver_steam_open_overlay_to_store(int appid);
void driver_steam_trigger_screenshot();
int driver_open_url_steam(const char *url);
// cloud files: the document directory while the service is down
bool driver_cloud_exists(const char *fname);
int driver_cloud_fsize(const char *fname);
int driver_cloud_load(const char *fname, void *data, int len);
std::string driver_cloud_load(const char *fname);
void driver_cloud_save(const char *fname, const void *data, int len);
