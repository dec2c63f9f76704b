// The audio state behind the driver_audio_* calls: the voices, the device and the mix buffers, shared by
// kiv_driver-sdl2_audio.cpp and the tests that drive the mix.
#pragma once

#include <SDL.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "kiv_driver-audio.h"
#include "kiv_printf.h"

// One voice. Created zero-filled.
struct AudioPlaying {
    int src = 0;
    float vol = 0;
    float pan = 0;
    float _vol = 0;
    int _init = 0;
    int cur = 0;
    int loop = 0;
    int pause = 0;
};

// One-shot voices that may play at once; a sample play past them is refused (logged at most once a second), so a
// burst of plays cannot make every block mix hundreds of voices.
constexpr int DRIVER_AUDIO_ONESHOTS_MAX = 128;

struct _SDL_audioData {
    SDL_AudioSpec work;
    SDL_AudioSpec _want;
    SDL_AudioSpec have;
    std::vector<AudioSource *> sources;
    std::vector<std::string> paths; // the file each source was loaded from, by id, for hot reload
    std::vector<AudioPlaying> playing;
    float peak = 1;
    SDL_AudioDeviceID dev = 0;
    // Mix buffers and the device conversion are made on the main thread so the audio thread does not allocate.
    std::vector<float> mixbuf, scratch;
    SDL_AudioCVT cvt;
    std::vector<Uint8> cvtbuf;
    // One-shot voices started since the last block. SDL holds the device lock through a whole mix pass, so a sample
    // play takes only this short lock; whoever next holds the device lock (the mix, a list change of the main
    // thread) links them into `playing`.
    std::mutex pending_lock;
    std::vector<AudioPlaying> pending;
    std::atomic<int> oneshots{0}; // one-shot voices in `playing` when last counted
    // Plays refused at the cap since the last log line, in SDL's milliseconds (main thread).
    KivNoteLimit<Uint32> refused{1000};
};

extern _SDL_audioData *_sdl_audio_data;
extern std::atomic<unsigned long> _sdl_audio_memused;

// Device callback: mixes and converts into the device format.
void _driver_audio_callback(void *userdata, Uint8 *_stream, int _len);
