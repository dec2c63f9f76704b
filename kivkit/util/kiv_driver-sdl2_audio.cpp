// Audio device and voices: sound sources by id, the voice list, and the mix callback on SDL's audio thread.
// Called by the mixer (kiv_mixer) and, for start and stop, by driver_init/driver_deinit.
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#define STB_VORBIS_HEADER_ONLY
#include <stb_vorbis.h>

#include "kiv_driver-audio.h"
#include "kiv_printf.h"

static const int WORK_RATE = 44100;
// Rates beyond this are refused so the resampler's phase arithmetic stays in range.
static const int MAX_FILE_RATE = 384000;
// Input frames decoded per refill by the resampling stream reader.
static const int STREAM_CHUNK = 512;

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

// Reads and opens the file; logs one line and leaves `f` empty on failure.
static bool _vorbis_open(const char *fname, VorbisFile &f) {
    int size = 0;
    void *mem = driver_file_alloc(fname, &size);
    if (!mem) {
        kiv_printf("_mixer: error in _stream_load_ogg '%s' (driver_file_alloc)\n", fname);
        return false;
    }
    int err = 0;
    stb_vorbis *v = stb_vorbis_open_memory((const unsigned char *)mem, size, &err, nullptr);
    if (!v) {
        free(mem);
        kiv_printf("_mixer: error in _stream_load_ogg '%s' (stb_vorbis_open_memory)\n", fname);
        return false;
    }
    stb_vorbis_info info = stb_vorbis_get_info(v);
    if (info.channels < 1 || info.sample_rate < 1 || info.sample_rate > (unsigned)MAX_FILE_RATE) {
        stb_vorbis_close(v);
        free(mem);
        kiv_printf("_mixer: error in _stream_load_ogg '%s' (unsupported rate %u, channels %d)\n", fname,
                   info.sample_rate, info.channels);
        return false;
    }
    f.mem = mem;
    f.dec = v;
    f.size = size;
    f.channels = info.channels;
    f.rate = (int)info.sample_rate;
    return true;
}

static void _vorbis_close(VorbisFile &f) {
    if (f.dec)
        stb_vorbis_close(f.dec);
    free(f.mem);
    f = VorbisFile();
}

bool AudioSourceVorbis::load() {
    if (data)
        return true;
    kiv_printf("_mixer: AudioSourceVorbis.load '%s' ...\n", fname);
    failed = true;
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
    long long in_frames = stb_vorbis_stream_length_in_samples(data);
    long long out_frames = (in_frames * WORK_RATE + rate - 1) / rate;
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
    stb_vorbis_seek_start(data);
    phase = 0;
    primed = false;
    ended = false;
    have_b = false;
    spent = false;
    in_pos = in_count = 0;
}

bool AudioSourceVorbis::_next_frame(float *f) {
    if (in_pos >= in_count) {
        if (ended)
            return false;
        int got = stb_vorbis_get_samples_float_interleaved(data, 2, in.data(), STREAM_CHUNK * 2);
        if (got <= 0) {
            ended = true;
            return false;
        }
        if (channels == 1)
            for (int i = 0; i < got; i++)
                in[2 * i + 1] = in[2 * i];
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
        made = frames ? stb_vorbis_get_samples_float_interleaved(data, 2, r, frames * 2) : 0;
        if (made < 0)
            made = 0;
        if (channels == 1)
            for (int i = 0; i < made; i++)
                r[2 * i + 1] = r[2 * i];
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
    stb_vorbis_close(data);
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

// Converts PCM of any SDL format to the work format and wraps it in a memory source; null on failure.
static AudioSource *_driver_audio_convert(SDL_AudioFormat fmt, int channels, int freq, const Uint8 *buf,
                                          long long bytes) {
    _SDL_audioData *d = _sdl_audio_data;
    SDL_AudioCVT cvt;
    if (channels < 1 || freq < 1 ||
        SDL_BuildAudioCVT(&cvt, fmt, (Uint8)channels, freq, d->work.format, d->work.channels, d->work.freq) < 0)
        return nullptr;
    long long room = bytes * (cvt.len_mult > 0 ? cvt.len_mult : 1);
    if (bytes < 0 || room > INT_MAX)
        return nullptr;
    cvt.len = (int)bytes;
    cvt.buf = (Uint8 *)malloc(room ? room : 1);
    if (!cvt.buf)
        return nullptr;
    if (bytes)
        memcpy(cvt.buf, buf, bytes);
    AudioSource *s = nullptr;
    if (SDL_ConvertAudio(&cvt) == 0)
        s = new AudioSourceMemory(cvt.len_cvt / 4, (const float *)cvt.buf);
    free(cvt.buf);
    return s;
}

static AudioSource *_sample_load_ogg(const char *path) {
    int size = 0;
    void *mem = driver_file_alloc(path, &size);
    if (!mem) {
        kiv_printf("_mixer: error in _sample_load_ogg '%s' (driver_file_alloc)\n", path);
        return nullptr;
    }
    int channels = 0, freq = 0;
    short *pcm = nullptr;
    int frames = stb_vorbis_decode_memory((const unsigned char *)mem, size, &channels, &freq, &pcm);
    free(mem);
    AudioSource *s = nullptr;
    if (frames > 0 && pcm)
        s = _driver_audio_convert(AUDIO_S16SYS, channels, freq, (const Uint8 *)pcm, 2LL * frames * channels);
    free(pcm);
    if (!s)
        kiv_printf("_mixer: error in _sample_load_ogg '%s' (stb_vorbis_decode_memory)\n", path);
    return s;
}

static AudioSource *_sample_load_wav(const char *path) {
    SDL_AudioSpec spec;
    Uint8 *buf = nullptr;
    Uint32 bytes = 0;
    AudioSource *s = nullptr;
    if (SDL_LoadWAV_RW(SDL_RWFromFile(path, "rb"), 1, &spec, &buf, &bytes)) {
        s = _driver_audio_convert(spec.format, spec.channels, spec.freq, buf, bytes);
        SDL_FreeWAV(buf);
    }
    if (!s)
        kiv_printf("_mixer: error in _sample_load_wav '%s'\n", path);
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

// A new voice on source id, handed to the device thread whole.
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
    if (startpeak == 1 && newpeak == 1) {
    } else if (startpeak == newpeak) {
        float g = 1 / startpeak;
        for (int i = 0; i < len; i++)
            stream[i] *= g;
    } else {
        float g = 1 / startpeak, step = (1 / newpeak - 1 / startpeak) / (float)len;
        for (int i = 0; i < len; i++)
            stream[i] *= g + i * step;
    }
    d->peak = newpeak;
}

// Mixes n values of every voice into mix, limited; returns the number of voices mixed (0: mix untouched).
static int _driver_audio_render(float *mix, float *scratch, int n) {
    _SDL_audioData *d = _sdl_audio_data;
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
    _driver_audio_voice_add(v, vol, std::isfinite(pan) ? pan : 0, 0);
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

void driver_audio_lock() {
    if (_sdl_audio_data)
        SDL_LockAudioDevice(_sdl_audio_data->dev);
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
