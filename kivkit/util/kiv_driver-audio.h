// Audio sources behind the driver_audio_* calls (kiv_driver-sdl2_audio.cpp); the voices and the audio state are in
// kiv_driver-audio_int.h. The mixer (kiv_mixer) is the only caller of the driver calls; tests drive the mix through
// driver_audio_mix.
#pragma once

#include <ctime>
#include <string>
#include <vector>

#include "kiv_driver.h"

// An Ogg Vorbis decoder reading a file image in memory (kiv_driver-sdl2_audio.cpp).
struct KivVorbis;

// Implemented by a caller that synthesises sound; the callback source owns it.
class AudioCallback {
public:
    virtual int get_samples(float *out, int n) = 0;
    virtual ~AudioCallback() {}
};

// A sound known by its id (its index in the source table). Lengths and positions count sample values of
// the work format: 44100 Hz float stereo, interleaved, so two values per frame.
class AudioSource {
public:
    virtual int get_length() { return 0; }
    virtual int get_samples(int start, int length, float *r) { return 0; }
    virtual bool load() { return true; }
    virtual void unload() {}
    virtual ~AudioSource() {}
};

class AudioSourceMemory : public AudioSource {
public:
    int len = 0;
    float *data = nullptr;
    int _memused = 0;

    AudioSourceMemory(int count, const float *values);
    int get_length() override { return len; }
    int get_samples(int start, int length, float *r) override;
    ~AudioSourceMemory() override;
};

// An Ogg Vorbis file read whole into memory with its decoder open; fields are swapped in and out of a stream.
struct VorbisFile {
    void *mem = nullptr;
    KivVorbis *dec = nullptr;
    int size = 0, channels = 0, rate = 0;
};

// Streams an Ogg Vorbis file held in memory, resampled to 44100 Hz stereo on the fly.
// load() and unload() belong to the main thread; get_length() and get_samples() to the mix, which never loads.
class AudioSourceVorbis : public AudioSource {
public:
    char fname[1024] = {0};
    KivVorbis *data = nullptr;
    int channels = 0;
    int rate = 0;
    void *file_mem = nullptr;
    int len = 0;
    int _memused = 0;
    bool failed = false; // the last load failed: the mix plays silence until the main thread loads again
    // Size and time of the file the last failed load read: an unchanged file is not tried (nor logged) again.
    long long failed_size = -1;
    time_t failed_mtime = 0;

    explicit AudioSourceVorbis(const char *path);
    int get_length() override;
    int get_samples(int start, int length, float *r) override;
    bool load() override;
    void unload() override;
    // Exchanges the open file with `f` and starts reading from the top; the caller holds the lock when a voice
    // may be reading, and closes what `f` holds afterwards.
    void swap_file(VorbisFile &f);
    ~AudioSourceVorbis() override;

private:
    // Resampler state: frames a and b of the file bracket the next output frame; the phase is counted in
    // 1/44100ths of an input frame so that no rounding drift accumulates.
    float a[2] = {0, 0}, b[2] = {0, 0};
    int phase = 0;
    bool primed = false, have_b = false, spent = false;
    bool ended = false; // the decoder has no more frames
    std::vector<float> in;
    int in_pos = 0, in_count = 0;
    void _restart();
    bool _next_frame(float *f);
    int _read(float *out, int frames);
};

class AudioSourceCallback : public AudioSource {
public:
    AudioCallback *callback = nullptr;

    explicit AudioSourceCallback(AudioCallback *cb) : callback(cb) {}
    int get_length() override { return 1; }
    int get_samples(int start, int length, float *r) override;
    ~AudioSourceCallback() override;
};

// Mixes the next `frames` frames of all voices into `out` (2 x frames floats, limited to -1..1), exactly as the
// device callback does before its format conversion. Returns the number of voices mixed (0: `out` is silence).
// Takes the device lock; tests call it with the device paused.
int driver_audio_mix(float *out, int frames);
// Pauses (1) or resumes (0) the device so that a test can own the mix.
void driver_audio_pause_device(int pause);
// Bytes held by decoded samples and in-memory Ogg files.
unsigned long driver_audio_memused();
