// Audio device and voices: sound sources by id, the voice list, and the mix callback on SDL's audio thread.
// Called by the mixer (kiv_mixer) and, for start and stop, by driver_init/driver_deinit.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <vorbis/vorbisfile.h>

#include "kiv_driver-audio.h"
#include "kiv_driver-audio_int.h"
#include "kiv_driver_int.h"
#include "kiv_platform.h"
#include "kiv_printf.h"

static const int WORK_RATE = 44100;
// Rates a sound card plays; beyond them a few bytes of file would convert to gigabytes (or overflow the
// resampler's phase arithmetic).
static const int MIN_FILE_RATE = 1000, MAX_FILE_RATE = 384000;
// Input frames decoded per refill by the resampling stream reader.
static const int STREAM_CHUNK = 512;
// Channel layouts the reader folds to stereo (Vorbis defines orders up to 7.1).
static const int MAX_CHANNELS = 8;
// Damaged stretches skipped in a row before a reader gives up on the rest of the file.
static const int MAX_HOLES = 32;
// Work-format values one decoded sample may hold: 128 MB, about six minutes.
static const int MAX_SAMPLE_VALUES = 1 << 25;

_SDL_audioData *_sdl_audio_data = nullptr;
std::atomic<unsigned long> _sdl_audio_memused{0};

static void _driver_audio_memused_add(long delta) {
    unsigned long total = (_sdl_audio_memused += (unsigned long)delta);
    kiv_printf("_mixer->memused: %.2fM\n", total / 1048576.0);
}

// --- sources

AudioSourceMemory::AudioSourceMemory(int count, const float *values) {
    if (count < 0 || !values)
        count = 0;
    data = (float *)malloc(sizeof(float) * (count ? count : 1));
    if (!data) {
        kiv_printf("_mixer: out of memory for %d sample values\n", count);
        count = 0;
    }
    len = count;
    // Non-finite values from a float WAV would poison the whole mix: silence them once here.
    for (int i = 0; i < count; i++)
        data[i] = std::isfinite(values[i]) ? values[i] : 0.0f;
    _memused = count * (int)sizeof(float);
    _driver_audio_memused_add(_memused);
}

int AudioSourceMemory::get_samples(int start, int length, float *r) {
    if (start < 0 || start >= len || length <= 0)
        return 0;
    int n = length < len - start ? length : len - start;
    memcpy(r, data + start, sizeof(float) * n);
    return n;
}

AudioSourceMemory::~AudioSourceMemory() {
    free(data);
    _driver_audio_memused_add(-(long)_memused);
}

AudioSourceVorbis::AudioSourceVorbis(const char *path) {
    snprintf(fname, sizeof(fname), "%s", path);
}

// --- Ogg Vorbis over a file image in memory (libvorbisfile)

struct KivVorbis {
    OggVorbis_File vf;
    const unsigned char *mem = nullptr;
    size_t size = 0, pos = 0;
};

static size_t _vorbis_mem_read(void *ptr, size_t size, size_t n, void *src) {
    KivVorbis *v = (KivVorbis *)src;
    if (size == 0 || n == 0)
        return 0;
    size_t items = (v->size - v->pos) / size;
    if (items > n)
        items = n;
    memcpy(ptr, v->mem + v->pos, items * size);
    v->pos += items * size;
    return items;
}

static int _vorbis_mem_seek(void *src, ogg_int64_t off, int whence) {
    KivVorbis *v = (KivVorbis *)src;
    long long base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? (long long)v->pos : (long long)v->size;
    if (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END)
        return -1;
    if (off < -base || off > (long long)v->size - base)
        return -1;
    v->pos = (size_t)(base + off);
    return 0;
}

static long _vorbis_mem_tell(void *src) {
    return (long)((KivVorbis *)src)->pos;
}

static void _vorbis_free(KivVorbis *v) {
    if (!v)
        return;
    ov_clear(&v->vf);
    delete v;
}

static std::string _rate_refusal(long rate) {
    return "rate " + std::to_string(rate) + " Hz outside " + std::to_string(MIN_FILE_RATE) + ".." +
           std::to_string(MAX_FILE_RATE) + " Hz";
}

static std::string _channels_refusal(int channels) {
    return std::to_string(channels) + " channels (1.." + std::to_string(MAX_CHANNELS) + " play)";
}

static std::string _length_refusal() {
    return "longer than " + std::to_string(MAX_SAMPLE_VALUES) + " values at 44100 Hz stereo";
}

// A decoder over `size` bytes at `mem`, which the caller keeps alive; null when the file does not open, with
// *why saying so when it is Vorbis of a layout we refuse (empty: not Vorbis at all). Chained parts must share
// channels and rate.
static KivVorbis *_vorbis_open_mem(const void *mem, int size, std::string *why) {
    why->clear();
    KivVorbis *v = new KivVorbis();
    v->mem = (const unsigned char *)mem;
    v->size = size > 0 ? (size_t)size : 0;
    ov_callbacks cb = {_vorbis_mem_read, _vorbis_mem_seek, nullptr, _vorbis_mem_tell};
    // A failed open clears the decoder itself.
    if (ov_open_callbacks(v, &v->vf, nullptr, 0, cb) != 0) {
        delete v;
        return nullptr;
    }
    vorbis_info *first = ov_info(&v->vf, 0);
    if (!first || ov_pcm_total(&v->vf, -1) < 0)
        *why = "no stream length";
    else if (first->channels < 1 || first->channels > MAX_CHANNELS)
        *why = _channels_refusal(first->channels);
    else if (first->rate < MIN_FILE_RATE || first->rate > MAX_FILE_RATE)
        *why = _rate_refusal(first->rate);
    for (long i = 1; why->empty() && i < ov_streams(&v->vf); i++) {
        vorbis_info *vi = ov_info(&v->vf, (int)i);
        if (!vi || vi->channels != first->channels || vi->rate != first->rate)
            *why = "chained parts differ in channels or rate";
    }
    if (!why->empty()) {
        _vorbis_free(v);
        return nullptr;
    }
    return v;
}

// One output frame from planar input: mono on both sides, stereo as is, and the front pair of a surround layout
// (Vorbis order: left, centre, right, ... from three channels on, except left, right, rear pair for four).
static void _vorbis_fold(float **pcm, int channels, long i, float *lr) {
    int right = channels == 1 ? 0 : channels == 2 || channels == 4 ? 1 : 2;
    lr[0] = pcm[0][i];
    lr[1] = pcm[right][i];
}

// What opening an Ogg file came to.
enum { _VORBIS_OPEN, _VORBIS_UNREAD, _VORBIS_REFUSED };

// Reads an Ogg file and opens a decoder over it, for samples and streams alike. A file that cannot be read is
// logged here, in the words of `who`; on a refusal *why gives the cause (empty: not Vorbis at all) and the caller
// logs it. `f` stays empty unless the file opened.
static int _vorbis_file_open(const char *fname, const char *who, VorbisFile &f, std::string *why) {
    int size = 0;
    void *mem = driver_file_alloc(fname, &size);
    if (!mem) {
        kiv_printf("_mixer: error in %s '%s' (driver_file_alloc): %s\n", who, fname, driver_file_refusal(fname));
        return _VORBIS_UNREAD;
    }
    KivVorbis *v = _vorbis_open_mem(mem, size, why);
    if (!v) {
        free(mem);
        return _VORBIS_REFUSED;
    }
    vorbis_info *vi = ov_info(&v->vf, 0);
    f.mem = mem;
    f.dec = v;
    f.size = size;
    f.channels = vi->channels;
    f.rate = (int)vi->rate;
    return _VORBIS_OPEN;
}

// Opens a stream's file; logs one line and leaves `f` empty on failure. The lines keep their historic wording, so
// that tools reading the log need no change, with the cause after them.
static bool _vorbis_open(const char *fname, VorbisFile &f) {
    std::string why;
    int r = _vorbis_file_open(fname, "_stream_load_ogg", f, &why);
    if (r == _VORBIS_REFUSED && !why.empty())
        kiv_printf("_mixer: error in _stream_load_ogg '%s' (unsupported rate, channels or chained layout): %s\n", fname,
                   why.c_str());
    else if (r == _VORBIS_REFUSED)
        kiv_printf("_mixer: error in _stream_load_ogg '%s' (stb_vorbis_open_memory): not an Ogg Vorbis file\n", fname);
    return r == _VORBIS_OPEN;
}

static void _vorbis_close(VorbisFile &f) {
    _vorbis_free(f.dec);
    free(f.mem);
    f = VorbisFile();
}

bool AudioSourceVorbis::load() {
    if (data)
        return true;
    long long size = -1;
    time_t mtime = 0;
    if (!kiv_platform_file_stat(fname, &size, &mtime))
        size = -1;
    // A file that failed and has not changed since fails silently: no read and no log line on every play.
    if (failed && size == failed_size && mtime == failed_mtime)
        return false;
    kiv_printf("_mixer: AudioSourceVorbis.load '%s' ...\n", fname);
    failed = true;
    failed_size = size;
    failed_mtime = mtime;
    VorbisFile f;
    if (!_vorbis_open(fname, f))
        return false;
    swap_file(f);
    _driver_audio_memused_add(_memused);
    failed = false;
    return true;
}

void AudioSourceVorbis::swap_file(VorbisFile &f) {
    std::swap(data, f.dec);
    std::swap(file_mem, f.mem);
    std::swap(_memused, f.size);
    std::swap(channels, f.channels);
    std::swap(rate, f.rate);
    len = 0;
    if (!data)
        return;
    // Frames at the work rate: one per step of rate/44100 input frames while the position is inside the file.
    long long in_frames = ov_pcm_total(&data->vf, -1);
    if (in_frames < 0)
        in_frames = 0;
    long long out_frames = in_frames > INT_MAX ? INT_MAX / 4 : (in_frames * WORK_RATE + rate - 1) / rate;
    if (out_frames > INT_MAX / 4)
        out_frames = INT_MAX / 4;
    len = (int)out_frames * 2;
    if (in.size() != (size_t)STREAM_CHUNK * 2)
        in.assign(STREAM_CHUNK * 2, 0.0f);
    failed = false;
    _restart();
}

int AudioSourceVorbis::get_length() {
    return data ? len : 0;
}

void AudioSourceVorbis::_restart() {
    phase = 0;
    primed = false;
    have_b = false;
    spent = false;
    in_pos = in_count = 0;
    // A file that cannot seek back plays on as silence.
    ended = ov_pcm_seek(&data->vf, 0) != 0;
}

int AudioSourceVorbis::_read(float *out, int frames) {
    int made = 0, holes = 0;
    while (made < frames && !ended) {
        float **pcm = nullptr;
        int link = 0;
        long got = ov_read_float(&data->vf, &pcm, frames - made, &link);
        vorbis_info *vi = got > 0 ? ov_info(&data->vf, link) : nullptr;
        if (got == OV_HOLE && ++holes < MAX_HOLES)
            continue;
        if (got <= 0 || !vi || vi->channels != channels) {
            ended = true;
            break;
        }
        holes = 0;
        for (long i = 0; i < got; i++)
            _vorbis_fold(pcm, channels, i, out + 2 * (made + i));
        made += (int)got;
    }
    return made;
}

bool AudioSourceVorbis::_next_frame(float *f) {
    if (in_pos >= in_count) {
        int got = _read(in.data(), STREAM_CHUNK);
        if (got <= 0)
            return false;
        in_pos = 0;
        in_count = got;
    }
    f[0] = in[2 * in_pos];
    f[1] = in[2 * in_pos + 1];
    in_pos++;
    return true;
}

int AudioSourceVorbis::get_samples(int start, int length, float *r) {
    if (!data || length <= 0)
        return 0;
    if (start == 0)
        _restart();
    int want = (start >= 0 && start < len) ? (length < len - start ? length : len - start) : 0;
    int frames = want / 2, made = 0;
    if (rate == WORK_RATE) {
        made = frames ? _read(r, frames) : 0;
    } else {
        // Linear interpolation between the input frames a and b; past the last frame b holds a.
        if (!primed && frames > 0) {
            primed = true;
            if (!_next_frame(a)) {
                spent = true;
            } else if (!(have_b = _next_frame(b))) {
                b[0] = a[0], b[1] = a[1];
            }
        }
        while (made < frames && !spent) {
            float t = phase * (1.0f / WORK_RATE);
            r[2 * made] = a[0] + (b[0] - a[0]) * t;
            r[2 * made + 1] = a[1] + (b[1] - a[1]) * t;
            made++;
            phase += rate;
            while (phase >= WORK_RATE) {
                phase -= WORK_RATE;
                if (!have_b) {
                    spent = true;
                    break;
                }
                a[0] = b[0], a[1] = b[1];
                if (!(have_b = _next_frame(b)))
                    b[0] = a[0], b[1] = a[1];
            }
        }
    }
    for (int i = made * 2; i < length; i++)
        r[i] = 0.0f;
    return made * 2;
}

void AudioSourceVorbis::unload() {
    if (!data)
        return;
    kiv_printf("_mixer: AudioSourceVorbis.unload '%s' ...\n", fname);
    _vorbis_free(data);
    data = nullptr;
    free(file_mem);
    file_mem = nullptr;
    _driver_audio_memused_add(-(long)_memused);
    _memused = 0;
}

AudioSourceVorbis::~AudioSourceVorbis() {
    unload();
}

int AudioSourceCallback::get_samples(int start, int length, float *r) {
    return callback ? callback->get_samples(r, length) : 0;
}

AudioSourceCallback::~AudioSourceCallback() {
    delete callback;
}

// --- decoding whole files into memory sources

// Work-format values `bytes` of PCM become once converted to 44100 Hz stereo, worked out from the format alone.
static long long _converted_values(SDL_AudioFormat fmt, int channels, int freq, long long bytes) {
    long long frame = (long long)SDL_AUDIO_BITSIZE(fmt) / 8 * channels;
    if (frame <= 0 || freq <= 0)
        return 0;
    long long frames = bytes / frame;
    return (frames * WORK_RATE + freq - 1) / freq * 2;
}

// Converts PCM of any SDL format to the work format and wraps it in a memory source; null with *why on failure.
// The size is checked before anything is converted: the conversion allocates for the whole result at once.
static AudioSource *_driver_audio_convert(SDL_AudioFormat fmt, int channels, int freq, const Uint8 *buf,
                                          long long bytes, std::string *why) {
    _SDL_audioData *d = _sdl_audio_data;
    SDL_AudioCVT cvt;
    if (freq < MIN_FILE_RATE || freq > MAX_FILE_RATE) {
        *why = _rate_refusal(freq);
        return nullptr;
    }
    if (channels < 1 || channels > MAX_CHANNELS) {
        *why = _channels_refusal(channels);
        return nullptr;
    }
    long long values = _converted_values(fmt, channels, freq, bytes);
    if (bytes < 0 || values > MAX_SAMPLE_VALUES) {
        *why = _length_refusal();
        return nullptr;
    }
    if (SDL_BuildAudioCVT(&cvt, fmt, (Uint8)channels, freq, d->work.format, d->work.channels, d->work.freq) < 0) {
        *why = std::string("no conversion: ") + SDL_GetError();
        return nullptr;
    }
    long long room = bytes * (cvt.len_mult > 0 ? cvt.len_mult : 1);
    if (room > INT_MAX) {
        *why = _length_refusal();
        return nullptr;
    }
    cvt.len = (int)bytes;
    cvt.buf = (Uint8 *)malloc(room ? room : 1);
    if (!cvt.buf) {
        *why = "out of memory";
        return nullptr;
    }
    if (bytes)
        memcpy(cvt.buf, buf, bytes);
    AudioSource *s = nullptr;
    if (SDL_ConvertAudio(&cvt) == 0)
        s = new AudioSourceMemory(cvt.len_cvt / 4, (const float *)cvt.buf);
    else
        *why = std::string("conversion failed: ") + SDL_GetError();
    free(cvt.buf);
    return s;
}

static AudioSource *_sample_load_ogg(const char *path) {
    VorbisFile f;
    std::string why;
    int r = _vorbis_file_open(path, "_sample_load_ogg", f, &why);
    if (r == _VORBIS_UNREAD)
        return nullptr;
    AudioSource *s = nullptr;
    if (r == _VORBIS_REFUSED && why.empty())
        why = "not an Ogg Vorbis file";
    if (r == _VORBIS_OPEN) {
        KivVorbis *v = f.dec;
        int channels = f.channels, rate = f.rate;
        // A few bytes of hostile Ogg can hold hours of silence: the decode stops at what a sample may hold.
        long long max_bytes = (long long)MAX_SAMPLE_VALUES / 2 * rate / WORK_RATE * channels * 2;
        if (max_bytes > MAX_SAMPLE_VALUES * 4LL)
            max_bytes = MAX_SAMPLE_VALUES * 4LL;
        std::vector<char> pcm;
        int holes = 0;
        bool ok = true;
        for (;;) {
            size_t at = pcm.size();
            pcm.resize(at + 16384);
            int link = 0;
            long got = ov_read(&v->vf, pcm.data() + at, 16384, 0, 2, 1, &link);
            pcm.resize(at + (got > 0 ? got : 0));
            if (got == OV_HOLE && ++holes < MAX_HOLES)
                continue;
            if (got <= 0)
                break;
            holes = 0;
            if ((long long)pcm.size() > max_bytes) {
                ok = false;
                why = _length_refusal();
                break;
            }
        }
        _vorbis_close(f);
        if (ok && pcm.empty())
            why = "no sound in the file";
        if (ok && !pcm.empty())
            s = _driver_audio_convert(AUDIO_S16LSB, channels, rate, (const Uint8 *)pcm.data(), (long long)pcm.size(),
                                      &why);
    }
    if (!s)
        kiv_printf("_mixer: error in _sample_load_ogg '%s' (stb_vorbis_decode_memory): %s\n", path, why.c_str());
    return s;
}

// The bytes of a WAV file's RIFF chunk that SDL may read, with every chunk size inside them checked first (SDL
// allocates whatever a chunk header claims); 0 when a size points past the file. A RIFF size of 0 stands for the
// whole file, as SDL reads it.
static size_t _wav_checked_size(const unsigned char *p, size_t n) {
    auto le32 = [p](size_t at) {
        return (size_t)p[at] | (size_t)p[at + 1] << 8 | (size_t)p[at + 2] << 16 | (size_t)p[at + 3] << 24;
    };
    if (n < 12 || memcmp(p, "RIFF", 4) != 0 || memcmp(p + 8, "WAVE", 4) != 0)
        return 0;
    size_t end = le32(4) ? le32(4) + 8 : n;
    // One missing pad byte at the end of the file is common and harmless.
    if (end > n + 1)
        return 0;
    if (end > n)
        end = n;
    for (size_t at = 12; at + 8 <= end;) {
        size_t size = le32(at + 4);
        if (size > end - at - 8)
            return 0;
        at += 8 + size + (size & 1);
    }
    return end;
}

static AudioSource *_sample_load_wav(const char *path) {
    int size = 0;
    void *mem = driver_file_alloc(path, &size);
    AudioSource *s = nullptr;
    std::string why;
    size_t riff = mem ? _wav_checked_size((const unsigned char *)mem, (size_t)size) : 0;
    if (!mem) {
        why = driver_file_refusal(path);
    } else if (!riff) {
        why = size >= 12 && memcmp(mem, "RIFF", 4) == 0 && memcmp((char *)mem + 8, "WAVE", 4) == 0
                  ? "a chunk size points past the end of the file"
                  : "not a RIFF WAVE file";
    } else {
        SDL_AudioSpec spec;
        Uint8 *buf = nullptr;
        Uint32 bytes = 0;
        if (SDL_LoadWAV_RW(SDL_RWFromConstMem(mem, (int)riff), 1, &spec, &buf, &bytes)) {
            s = _driver_audio_convert(spec.format, spec.channels, spec.freq, buf, bytes, &why);
            SDL_FreeWAV(buf);
        } else {
            why = SDL_GetError();
        }
    }
    free(mem);
    if (!s)
        kiv_printf("_mixer: error in _sample_load_wav '%s': %s\n", path, why.c_str());
    return s;
}

static AudioSource *_sample_decode(const char *path) {
    return strstr(path, ".ogg") ? _sample_load_ogg(path) : _sample_load_wav(path);
}

static int _driver_audio_register(AudioSource *s, const char *what, const char *path) {
    driver_audio_lock();
    int id = (int)_sdl_audio_data->sources.size();
    _sdl_audio_data->sources.push_back(s);
    _sdl_audio_data->paths.push_back(path ? path : "");
    driver_audio_unlock();
    if (what)
        kiv_printf("_mixer: %s %d (%s)\n", what, id, path);
    return id;
}

// Counts the one-shot voices in the list; caller holds the device lock.
static void _driver_audio_count(_SDL_audioData *d) {
    int n = 0;
    for (const AudioPlaying &p : d->playing)
        n += !p.loop;
    d->oneshots = n;
}

// Links the one-shot voices started since the last block into the list; caller holds the device lock.
static void _driver_audio_link(_SDL_audioData *d) {
    std::lock_guard<std::mutex> g(d->pending_lock);
    if (!d->pending.empty()) {
        d->playing.insert(d->playing.end(), d->pending.begin(), d->pending.end());
        d->pending.clear();
    }
    _driver_audio_count(d);
}

static void _driver_audio_refused(_SDL_audioData *d) {
    Uint32 now = SDL_GetTicks();
    if (!d->refused.note(now))
        return;
    unsigned n = d->refused.take(now);
    kiv_printf("_mixer: sample_play: %u refused, %d one-shot voices already playing\n", n, DRIVER_AUDIO_ONESHOTS_MAX);
}

// A new looping voice on source id, handed to the device thread whole.
static void _driver_audio_voice_add(int id, float vol, float pan, int loop) {
    AudioPlaying p;
    p.src = id;
    p.vol = vol;
    p.pan = pan;
    p.loop = loop;
    driver_audio_lock();
    _sdl_audio_data->playing.push_back(p);
    driver_audio_unlock();
}

// The source behind a caller's id, or null (logged) for an id no load returned. Id 0 is silently none.
static AudioSource *_driver_audio_source(int v, const char *op) {
    _SDL_audioData *d = _sdl_audio_data;
    if (!d || v == 0)
        return nullptr;
    if (v < 0 || v >= (int)d->sources.size() || !d->sources[v]) {
        kiv_printf("_mixer: %s: no sound with id %d\n", op, v);
        return nullptr;
    }
    return d->sources[v];
}

static bool _driver_audio_volume_ok(float vol, const char *op) {
    if (std::isfinite(vol))
        return true;
    kiv_printf("_mixer: %s: volume is not a number\n", op);
    return false;
}

// Caller holds the lock.
static void _driver_audio_remove(int v) {
    std::vector<AudioPlaying> &playing = _sdl_audio_data->playing;
    for (int i = (int)playing.size() - 1; i >= 0; i--)
        if (playing[i].src == v)
            playing.erase(playing.begin() + i);
}

// --- mixing (audio thread, under the device lock)

// Adds len values of tmp into stream at the voice's volume, ramping linearly from the volume of the last block.
static void _driver_audio_mix(float *stream, int len, AudioPlaying *p, const float *tmp) {
    float a = p->_vol, b = p->vol;
    if (a == 0 && b == 0) {
    } else if (a == 1 && b == 1) {
        for (int i = 0; i < len; i++)
            stream[i] += tmp[i];
    } else if (a == b) {
        for (int i = 0; i < len; i++)
            stream[i] += tmp[i] * a;
    } else if (len > 0) {
        // Gain from the index, not summed step by step, so rounding does not drift over the block.
        float step = (b - a) / (float)len;
        for (int i = 0; i < len; i++)
            stream[i] += tmp[i] * (a + i * step);
    }
    p->_vol = p->vol;
}

// Scales the block so it never clips: down at once when louder, back up over one block when quieter.
static void _driver_audio_normalize(float *stream, int len) {
    _SDL_audioData *d = _sdl_audio_data;
    float newpeak = 1;
    for (int i = 0; i < len; i++) {
        float m = fabsf(stream[i]);
        if (!(m <= 3.0e38f))
            stream[i] = m = 0; // NaN or infinity from a callback source
        if (m > newpeak)
            newpeak = m;
    }
    float startpeak = d->peak > newpeak ? d->peak : newpeak;
    // The gain is rounded, and tiny (subnormal) for absurd peaks from hostile float files: the result is clamped
    // so that rounding never carries a value past full scale.
    if (startpeak == 1 && newpeak == 1) {
    } else if (startpeak == newpeak) {
        float g = 1 / startpeak;
        for (int i = 0; i < len; i++)
            stream[i] = std::max(-1.0f, std::min(1.0f, stream[i] * g));
    } else {
        float g = 1 / startpeak, step = (1 / newpeak - 1 / startpeak) / (float)len;
        for (int i = 0; i < len; i++)
            stream[i] = std::max(-1.0f, std::min(1.0f, stream[i] * (g + i * step)));
    }
    d->peak = newpeak;
}

// Mixes n values of every voice into mix, limited; returns the number of voices mixed (0: mix untouched).
static int _driver_audio_render(float *mix, float *scratch, int n) {
    _SDL_audioData *d = _sdl_audio_data;
    _driver_audio_link(d);
    std::vector<AudioPlaying> &playing = d->playing;
    int mixed = 0;
    for (int i = (int)playing.size() - 1; i >= 0; i--) {
        AudioPlaying &p = playing[i];
        if (!p._init) {
            p._init = 1;
            p._vol = p.vol;
        }
        if (p.pause)
            continue;
        AudioSource *s = (p.src > 0 && p.src < (int)d->sources.size()) ? d->sources[p.src] : nullptr;
        if (!s) {
            playing.erase(playing.begin() + i);
            continue;
        }
        if (!mixed)
            memset(mix, 0, sizeof(float) * n);
        mixed++;
        int r = s->get_samples(p.cur, n, scratch);
        if (r < 0)
            r = 0;
        if (r > n)
            r = n;
        _driver_audio_mix(mix, r, &p, scratch);
        int length = s->get_length();
        p.cur = (p.cur > INT_MAX - n) ? INT_MAX : p.cur + n;
        if (p.cur >= length) {
            if (p.loop)
                p.cur = 0;
            else
                playing.erase(playing.begin() + i);
        }
    }
    if (mixed)
        _driver_audio_normalize(mix, n);
    else
        d->peak = 1;
    _driver_audio_count(d);
    return mixed;
}

static void _driver_audio_buffers(_SDL_audioData *d, int n) {
    if ((int)d->mixbuf.size() < n)
        d->mixbuf.resize(n);
    if ((int)d->scratch.size() < n)
        d->scratch.resize(n);
}

void _driver_audio_callback(void *userdata, Uint8 *_stream, int _len) {
    _SDL_audioData *d = _sdl_audio_data;
    int bytes = d ? SDL_AUDIO_BITSIZE(d->have.format) / 8 : 0;
    if (!d || _len <= 0 || bytes <= 0) {
        if (_len > 0)
            memset(_stream, 0, _len);
        return;
    }
    int n = _len / bytes;
    _driver_audio_buffers(d, n);
    if (!_driver_audio_render(d->mixbuf.data(), d->scratch.data(), n)) {
        memset(_stream, 0, _len);
        return;
    }
    size_t room = (size_t)n * 4 * (d->cvt.len_mult > 0 ? d->cvt.len_mult : 1);
    if (d->cvtbuf.size() < room)
        d->cvtbuf.resize(room);
    memcpy(d->cvtbuf.data(), d->mixbuf.data(), (size_t)n * 4);
    d->cvt.buf = d->cvtbuf.data();
    d->cvt.len = n * 4;
    int out = 0;
    if (SDL_ConvertAudio(&d->cvt) == 0)
        out = d->cvt.len_cvt < _len ? d->cvt.len_cvt : _len;
    memcpy(_stream, d->cvtbuf.data(), out);
    if (out < _len)
        memset(_stream + out, 0, _len - out);
}

int driver_audio_mix(float *out, int frames) {
    _SDL_audioData *d = _sdl_audio_data;
    int n = frames * 2;
    if (!d || frames <= 0) {
        if (frames > 0)
            memset(out, 0, sizeof(float) * n);
        return 0;
    }
    driver_audio_lock();
    _driver_audio_buffers(d, n);
    int mixed = _driver_audio_render(out, d->scratch.data(), n);
    if (!mixed)
        memset(out, 0, sizeof(float) * n);
    driver_audio_unlock();
    return mixed;
}

void driver_audio_pause_device(int pause) {
    if (_sdl_audio_data)
        SDL_PauseAudioDevice(_sdl_audio_data->dev, pause);
}

unsigned long driver_audio_memused() {
    return _sdl_audio_memused;
}

// --- driver calls (main thread)

int driver_audio_sample_load(const char *path) {
    if (!_sdl_audio_data || !path)
        return 0;
    AudioSource *s = _sample_decode(path);
    return s ? _driver_audio_register(s, "sample_load", path) : 0;
}

void driver_audio_sample_play(int v, float vol, float pan) {
    AudioSource *s = _driver_audio_source(v, "sample_play");
    if (!s || !_driver_audio_volume_ok(vol, "sample_play"))
        return;
    // A stream's decoder (or a callback) keeps one read position, so only decoded samples take extra voices.
    if (!dynamic_cast<AudioSourceMemory *>(s)) {
        kiv_printf("_mixer: sample_play: %d is a stream, not a sample\n", v);
        return;
    }
    AudioPlaying p;
    p.src = v;
    p.vol = vol;
    p.pan = std::isfinite(pan) ? pan : 0;
    _SDL_audioData *d = _sdl_audio_data;
    std::unique_lock<std::mutex> g(d->pending_lock);
    if (d->oneshots + (int)d->pending.size() >= DRIVER_AUDIO_ONESHOTS_MAX) {
        g.unlock();
        _driver_audio_refused(d);
        return;
    }
    d->pending.push_back(p);
}

int driver_audio_stream_load(const char *s, bool preload) {
    if (!_sdl_audio_data || !s)
        return 0;
    AudioSource *src = nullptr;
    if (strstr(s, ".ogg")) {
        if (strlen(s) >= sizeof(AudioSourceVorbis::fname)) {
            kiv_printf("_mixer: error in _stream_load_ogg '%s' (path too long)\n", s);
            return 0;
        }
        src = new AudioSourceVorbis(s);
    } else {
        src = _sample_decode(s);
    }
    return src ? _driver_audio_register(src, "stream_load", s) : 0;
}

void driver_audio_stream_play(int v, float vol, float pos) {
    AudioSource *s = _driver_audio_source(v, "stream_play");
    if (!s || !_driver_audio_volume_ok(vol, "stream_play"))
        return;
    kiv_printf("_mixer: stream_play %d\n", v);
    driver_audio_lock();
    _driver_audio_remove(v);
    driver_audio_unlock();
    // Loading happens here on the main thread only; a failed load leaves a silent voice until the next play.
    s->load();
    _driver_audio_voice_add(v, vol, 0, 1);
}

void driver_audio_stream_stop(int v) {
    AudioSource *s = _driver_audio_source(v, "stream_stop");
    if (!s)
        return;
    kiv_printf("_mixer: stream_stop\n");
    driver_audio_lock();
    _driver_audio_remove(v);
    driver_audio_unlock();
    s->unload();
}

void driver_audio_stream_pause(int v, int pause) {
    if (!_driver_audio_source(v, "stream_pause"))
        return;
    kiv_printf("_mixer: stream_pause\n");
    driver_audio_lock();
    for (AudioPlaying &p : _sdl_audio_data->playing)
        if (p.src == v)
            p.pause = pause;
    driver_audio_unlock();
}

void driver_audio_stream_volume(int v, float vol) {
    if (!_driver_audio_source(v, "stream_volume") || !_driver_audio_volume_ok(vol, "stream_volume"))
        return;
    driver_audio_lock();
    for (AudioPlaying &p : _sdl_audio_data->playing)
        if (p.src == v)
            p.vol = vol;
    driver_audio_unlock();
}

// Reads a source's file again and swaps the new sound in under the lock; a file that no longer decodes keeps the
// old sound (its decoder logged why). Sample voices keep their position, so one past the new end finishes (or
// loops) at its next block; stream voices start again from the top of the new file.
static void _driver_audio_reload(int v, const char *op, bool restart) {
    AudioSource *s = _driver_audio_source(v, op);
    if (!s)
        return;
    _SDL_audioData *d = _sdl_audio_data;
    std::string path = d->paths[v];
    if (path.empty())
        return;
    if (AudioSourceMemory *m = dynamic_cast<AudioSourceMemory *>(s)) {
        AudioSource *fresh = _sample_decode(path.c_str());
        AudioSourceMemory *f = dynamic_cast<AudioSourceMemory *>(fresh);
        if (!f) {
            delete fresh;
            return;
        }
        driver_audio_lock();
        std::swap(m->len, f->len);
        std::swap(m->data, f->data);
        std::swap(m->_memused, f->_memused);
        if (restart)
            for (AudioPlaying &p : d->playing)
                if (p.src == v)
                    p.cur = 0;
        driver_audio_unlock();
        delete f; // the old values, and their bytes off the count
    } else if (AudioSourceVorbis *o = dynamic_cast<AudioSourceVorbis *>(s)) {
        bool heard = false;
        driver_audio_lock();
        for (AudioPlaying &p : d->playing)
            heard = heard || p.src == v;
        driver_audio_unlock();
        // A stream nobody plays holds no file: its next play reads the new one anyway.
        if (!o->data && !heard)
            return;
        VorbisFile f;
        if (!_vorbis_open(o->fname, f))
            return;
        driver_audio_lock();
        o->swap_file(f);
        for (AudioPlaying &p : d->playing)
            if (p.src == v)
                p.cur = 0;
        driver_audio_unlock();
        _driver_audio_memused_add((long)o->_memused - f.size);
        _vorbis_close(f);
    } else {
        return;
    }
    kiv_printf("_mixer: %s %d (%s)\n", op, v, path.c_str());
}

void driver_audio_sample_reload(int n) {
    _driver_audio_reload(n, "sample_reload", false);
}

void driver_audio_stream_reload(int sid) {
    _driver_audio_reload(sid, "stream_reload", true);
}

void driver_audio_loop() {}

// Every holder of the device lock sees the voices started since the last block, so list changes include them.
void driver_audio_lock() {
    if (_sdl_audio_data) {
        SDL_LockAudioDevice(_sdl_audio_data->dev);
        _driver_audio_link(_sdl_audio_data);
    }
}

void driver_audio_unlock() {
    if (_sdl_audio_data)
        SDL_UnlockAudioDevice(_sdl_audio_data->dev);
}

int driver_audio_callback_add(AudioCallback *callback, float vol) {
    if (!_sdl_audio_data || !callback || !_driver_audio_volume_ok(vol, "callback_add")) {
        delete callback;
        return 0;
    }
    int id = _driver_audio_register(new AudioSourceCallback(callback), nullptr, nullptr);
    _driver_audio_voice_add(id, vol, 0, 1);
    return id;
}

// --- start and stop (driver_init / driver_deinit)

void _driver_audio_start() {
    if (_sdl_audio_data)
        return;
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) < 0) {
        kiv_printf("_mixer: error in audio_init - %s\n", SDL_GetError());
        return;
    }
    _SDL_audioData *d = new _SDL_audioData();
    SDL_zero(d->work);
    SDL_zero(d->_want);
    SDL_zero(d->have);
    SDL_zero(d->cvt);
    d->work.freq = WORK_RATE;
    d->work.format = AUDIO_F32SYS;
    d->work.channels = 2;
    d->_want.freq = WORK_RATE;
    d->_want.format = AUDIO_S16LSB;
    d->_want.channels = 2;
    d->_want.samples = 1024;
    d->_want.callback = _driver_audio_callback;
    d->_want.userdata = nullptr;
    d->sources.push_back(nullptr);
    d->paths.push_back("");
    // Room enough that linking voices on the audio thread seldom allocates.
    d->playing.reserve(2 * DRIVER_AUDIO_ONESHOTS_MAX);
    d->pending.reserve(DRIVER_AUDIO_ONESHOTS_MAX);
    // No allowed changes: SDL converts to exactly the requested format, so a block is always what we mix.
    d->dev = SDL_OpenAudioDevice(nullptr, 0, &d->_want, &d->have, 0);
    if (!d->dev || SDL_BuildAudioCVT(&d->cvt, d->work.format, d->work.channels, d->work.freq, d->have.format,
                                     d->have.channels, d->have.freq) < 0) {
        kiv_printf("_mixer: error in audio_init - %s\n", SDL_GetError());
        if (d->dev)
            SDL_CloseAudioDevice(d->dev);
        delete d;
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return;
    }
    _driver_audio_buffers(d, d->have.samples * d->have.channels);
    d->cvtbuf.resize((size_t)d->have.samples * d->have.channels * 4 * (d->cvt.len_mult > 0 ? d->cvt.len_mult : 1));
    _sdl_audio_data = d;
    kiv_printf("_mixer: freq=%d, channels=%d, samples=%d\n", d->have.freq, d->have.channels, d->have.samples);
    kiv_printf("_mixer: audio_init: OK\n");
    SDL_PauseAudioDevice(d->dev, 0);
}

void _driver_audio_stop() {
    _SDL_audioData *d = _sdl_audio_data;
    if (!d)
        return;
    kiv_printf("_mixer: audio_deinit ...\n");
    SDL_CloseAudioDevice(d->dev);
    for (int i = (int)d->sources.size() - 1; i >= 1; i--)
        delete d->sources[i];
    delete d;
    _sdl_audio_data = nullptr;
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    kiv_printf("_mixer: audio_deinit: OK\n");
}
