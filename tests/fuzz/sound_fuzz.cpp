// Fuzz target for sound files: the same bytes load as a WAV sample, an Ogg sample and an Ogg stream through the
// real sources, and a few mixed blocks hold only finite values within -1..1. Every source is freed afterwards and
// the memory count returns to zero.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "fuzz_check.h"
#include "kiv_driver-audio.h"
#include "kiv_driver-audio_int.h"
#include "kiv_driver.h"

static std::string _dir;

static void _cleanup() {
    driver_deinit();
    rmdir(_dir.c_str());
}

static void _put(const std::string &path, const uint8_t *data, size_t size) {
    FILE *f = fopen(path.c_str(), "wb");
    KIV_FUZZ_CHECK(f != nullptr, "temporary file");
    fwrite(data, 1, size, f);
    fclose(f);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 1 << 18)
        return 0;
    if (_dir.empty()) {
        setenv("SDL_AUDIODRIVER", "dummy", 0);
        char tmpl[] = "/tmp/kivsoundfuzz.XXXXXX";
        KIV_FUZZ_CHECK(mkdtemp(tmpl) != nullptr, "temporary directory");
        _dir = tmpl;
        driver_init(DRIVER_AUDIO);
        KIV_FUZZ_CHECK(_sdl_audio_data != nullptr, "audio device");
        driver_audio_pause_device(1);
        atexit(_cleanup);
    }
    std::string wav = _dir + "/f.wav", ogg = _dir + "/f.ogg";
    _put(wav, data, size);
    _put(ogg, data, size);
    int a = driver_audio_sample_load(wav.c_str());
    int b = driver_audio_sample_load(ogg.c_str());
    int c = driver_audio_stream_load(ogg.c_str(), false);
    KIV_FUZZ_CHECK(c > 0, "an Ogg stream always registers");
    driver_audio_sample_play(a, 0.7f, 0);
    driver_audio_sample_play(b, 1.3f, 0);
    driver_audio_stream_play(c, 1, 0);
    std::vector<float> out(2048);
    for (int blk = 0; blk < 6; blk++) {
        driver_audio_mix(out.data(), 1024);
        for (float x : out)
            KIV_FUZZ_CHECK(std::isfinite(x) && std::fabs(x) <= 1.0f, "mixed values are finite and limited");
    }
    driver_audio_stream_stop(c);
    driver_audio_lock();
    _sdl_audio_data->playing.clear();
    for (size_t i = 1; i < _sdl_audio_data->sources.size(); i++)
        delete _sdl_audio_data->sources[i];
    _sdl_audio_data->sources.resize(1);
    _sdl_audio_data->paths.resize(1);
    driver_audio_unlock();
    KIV_FUZZ_CHECK(driver_audio_memused() == 0, "every byte counted is given back");
    remove(wav.c_str());
    remove(ogg.c_str());
    return 0;
}
