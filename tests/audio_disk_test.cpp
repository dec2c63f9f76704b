// End to end through SDL's disk audio driver: a sample and a stream played by name through the mixer, and the
// PCM the device wrote compared with the sum of the WAV values and a direct decode of the Ogg file.
#include <gtest/gtest.h>

#include <SDL.h>
#include <sys/stat.h>

#include <cmath>
#include <string>
#include <vector>

#include "kiv_driver-audio.h"
#include "kiv_driver-audio_int.h"
#include "kiv_driver.h"
#include "kiv_mixer.h"
#include "sound_testutil.h"

using namespace soundtest;

namespace {

// SDL 2 turns the mixed floats into 16 bits by its own rule, which changed between its releases (x 32767 truncated,
// x 32768 rounded): up to 2 steps apart near full scale, plus 1 for the float sums. A lost voice, a wrong sample,
// a start off its block or a gain off by 0.1 % moves values by 8 steps or far more.
const int kDeviceSteps = 3;

long file_size(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? (long)st.st_size : 0;
}

TEST(AudioDiskTest, SampleAndStreamReachTheDevice) {
    std::string dir = make_tmpdir(), out = dir + "/out.raw";
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", out.c_str(), 1);
    setenv("SDL_DISKAUDIODELAY", "0", 1);
    const int blip_frames = 4410;
    write_wav(dir + "/blip.wav", 44100, 2, std::vector<int16_t>(2 * blip_frames, 8192)); // 0.25
    int rate = 0, ch = 0;
    std::vector<float> tune = decode_ogg(testdata("tone44_stereo.ogg"), &rate, &ch);
    ASSERT_FALSE(tune.empty()) << "test sound missing";
    write_text(dir + "/tune.ogg", read_file(testdata("tone44_stereo.ogg")));

    driver_init(DRIVER_AUDIO);
    ASSERT_NE(_sdl_audio_data, nullptr) << "disk audio driver did not open";
    driver_set_altdir(dir.c_str());
    mixer_init();
    int blip = mixer_sample_load("blip"), music = mixer_stream_load("tune");
    ASSERT_GT(blip, 0);
    ASSERT_GT(music, 0);
    // Both voices start in the same block.
    driver_audio_lock();
    mixer_sample_play(blip, 1, 0);
    mixer_stream_play(music, 1);
    long before = file_size(out);
    driver_audio_unlock();
    // The device writes silence as fast as it can from its start, so the wait counts from the voices' start:
    // a full pass of the tune and a bit of the next. A deadline in time, not in sleeps: on a loaded machine
    // each short sleep lasts much longer.
    const long want_frames = (long)tune.size() / 2 + 4096;
    for (Uint32 t0 = SDL_GetTicks();
         SDL_GetTicks() - t0 < 60000 && file_size(out) < before + (want_frames + 1024 * 64) * 4;)
        SDL_Delay(1);
    mixer_deinit();
    driver_deinit();
    unsetenv("SDL_AUDIODRIVER");

    std::string raw;
    ASSERT_TRUE(read_file(out, raw)) << "the device wrote no file " << out;
    std::vector<int16_t> pcm = pcm16_of(raw);
    size_t start = first_sound(pcm);
    ASSERT_LT(start, pcm.size()) << "the device wrote only silence";
    ASSERT_EQ(start % 2048, 0u) << "voices must begin on a block boundary";
    ASSERT_GE(pcm.size() - start, (size_t)want_frames * 2) << "device output too short";
    int bad = 0;
    for (long k = 0; k < want_frames * 2 && bad < 5; k++) {
        // The loop restarts at the block after the end; the rest of the last block is silent.
        long period = ((long)tune.size() + 2047) / 2048 * 2048, pos = k % period;
        float x = (pos < (long)tune.size() ? tune[pos] : 0.0f) + (k < 2 * blip_frames ? 0.25f : 0.0f);
        int want = (int)(x * 32767.0f);
        int saw = pcm[start + k];
        if (abs(saw - want) > kDeviceSteps) {
            ADD_FAILURE() << "value " << k << " expected " << want << " saw " << saw;
            bad++;
        }
    }
}

} // namespace
