// The real binary, windowed, runs a mod that plays a sample and then a stream by name; the PCM that SDL's disk
// driver wrote must be the WAV values, then the Ogg file's decode, each within a few steps of 16 bits.
#include <gtest/gtest.h>

#include <SDL.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstring>
#include <string>
#include <vector>

#include "../sound_testutil.h"

extern char **environ;

using namespace soundtest;

namespace {

// SDL 2 turns the mixed floats into 16 bits by its own rule, which changed between its releases (x 32767 truncated,
// x 32768 rounded): up to 2 steps apart near full scale, plus 1 for the float sums. A lost voice, a wrong sample,
// a start off its block or a gain off by 0.1 % moves values by 8 steps or far more.
const int kDeviceSteps = 3;

TEST(SoundPlayTest, ScriptSoundsReachTheDevice) {
    const char *build = getenv("KIV_BUILD_DIR"), *source = getenv("KIV_SOURCE_DIR");
    ASSERT_TRUE(build && source) << "KIV_BUILD_DIR and KIV_SOURCE_DIR must be set";
    std::string dir = make_tmpdir(), out = dir + "/out.raw", mod = dir + "/sound_play.lua";
    write_text(mod, read_file(std::string(source) + "/tests/mods/sound_play.lua"));
    const int blip_frames = 4410;
    write_wav(dir + "/blip.wav", 44100, 2, std::vector<int16_t>(2 * blip_frames, 8192));
    write_text(dir + "/tune.ogg", read_file(testdata("tone44_stereo.ogg")));
    int rate = 0, ch = 0;
    std::vector<float> tune = decode_ogg(testdata("tone44_stereo.ogg"), &rate, &ch);
    ASSERT_FALSE(tune.empty()) << "test sound missing";

    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", out.c_str(), 1);
    // Under the sanitizers the windowed binary reports a small leak inside an unloaded GL module at exit; this test
    // is about the sound, so the child's exit status must not depend on it.
    setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
    std::string bin = std::string(build) + "/kivgame";
    const char *argv[] = {bin.c_str(), "-mod", mod.c_str(), nullptr};
    pid_t pid;
    ASSERT_EQ(posix_spawn(&pid, bin.c_str(), nullptr, nullptr, (char **)argv, environ), 0);
    int status = 0;
    // The mod ends itself after 90 frames; the bound only keeps a broken build from hanging the suite.
    for (int i = 0; i < 6000 && waitpid(pid, &status, WNOHANG) == 0; i++)
        SDL_Delay(10);
    if (waitpid(pid, &status, WNOHANG) == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        FAIL() << "the game did not end";
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "game status " << status;

    std::string raw = read_file(out);
    std::vector<int16_t> pcm = pcm16_of(raw);
    size_t start = first_sound(pcm);
    ASSERT_LT(start, pcm.size()) << "the device wrote only silence";
    ASSERT_EQ(start % 2048, 0u) << "the sample must begin on a block boundary";
    // The stream starts at the first block that differs from the sample alone.
    auto sample_at = [&](size_t k) { return k - start < 2u * blip_frames ? 0.25f : 0.0f; };
    size_t stream = start;
    while (stream < pcm.size() && abs(pcm[stream] - (int)(sample_at(stream) * 32767)) <= kDeviceSteps)
        stream++;
    stream -= stream % 2048;
    ASSERT_LT(stream + 2 * 2048, pcm.size()) << "the stream did not play long enough";
    size_t end = pcm.size() < stream + tune.size() ? pcm.size() : stream + tune.size();
    int bad = 0;
    for (size_t k = start; k < end && bad < 5; k++) {
        float x = sample_at(k) + (k >= stream ? tune[k - stream] : 0.0f);
        int want = (int)(x * 32767), saw = pcm[k];
        if (abs(saw - want) > kDeviceSteps) {
            ADD_FAILURE() << "value " << k - start << " after the first sound: expected " << want << " saw " << saw;
            bad++;
        }
    }
}

} // namespace
