// Sound names over the audio driver: suffix search in the data and document directories, cached ids and misses,
// change detection for hot reload. Called by the shell (init, deinit, reload) and the script bindings.
#pragma once

#include <ctime>
#include <map>
#include <string>

#include "kiv_driver.h"

struct MixerSample {
    int n = 0;
    char sample_fname[512] = {0};
    time_t sample_mtime = 0;
    DriverFileStamp sample_stamp = {0, 0}; // what hot reload compares
    MixerSample() {}
    explicit MixerSample(int v) : n(v) {}
};

struct MixerStream {
    int n = 0;
    char stream_fname[512] = {0};
    time_t stream_mtime = 0;
    DriverFileStamp stream_stamp = {0, 0};
    MixerStream() {}
    explicit MixerStream(int v) : n(v) {}
};

struct _MixerData {
    std::map<std::string, MixerSample> sample_map;
    std::map<std::string, MixerStream> stream_map;
    time_t last_check = 0;
};

extern _MixerData *_mixer;

// --- public functions

void mixer_init();
void mixer_deinit();
void mixer_loop();
void mixer_reload_auto();
int mixer_sample_load(const char *name);
void mixer_sample_play(int v, float vol, float pan);
int mixer_stream_load(const char *name);
void mixer_stream_play(int v, float vol);
void mixer_stream_stop(int v);
void mixer_stream_pause(int v, int pause);
void mixer_stream_volume(int v, float vol);

// --- for the frame loop and tests: the module's inside

// mixer_reload_auto at the given wall-clock second: the frame loop passes one clock to every module.
void _mixer_reload_check(time_t now);
