// Sound names over the audio driver: suffix search in the data and document directories, cached ids and misses,
// change detection for hot reload. Called by the shell (init, deinit, reload) and the script bindings.
#pragma once

#include <ctime>
#include <map>
#include <string>

#include "kiv_driver.h"

// --- public functions

void mixer_init();
void mixer_deinit();
void mixer_loop();
void mixer_reload_auto();
// mixer_reload_auto at the given wall-clock second: the frame loop passes one clock to every module.
void mixer_reload_check(time_t now);
int mixer_sample_load(const char *name);
void mixer_sample_play(int v, float vol, float pan);
int mixer_stream_load(const char *name);
void mixer_stream_play(int v, float vol);
void mixer_stream_stop(int v);
void mixer_stream_pause(int v, int pause);
void mixer_stream_volume(int v, float vol);
