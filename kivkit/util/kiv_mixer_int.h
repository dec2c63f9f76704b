// The sound-name module's inside: its state, which its tests read, and the frame loop's file-change check on a
// clock the caller gives.
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
