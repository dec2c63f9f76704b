// Audio device and voices: the mix driven block by block (device paused, SDL dummy driver) and compared as floats,
// the Ogg streaming source against a direct decode, refusals of bad ids and volumes, and the memory count.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "kiv_driver-audio.h"
#include "kiv_driver-audio_int.h"
#include "kiv_driver.h"
#include "sound_testutil.h"
#include "stdout_testutil.h"

using namespace soundtest;

namespace {

const int FRAMES = 1024, N = 2 * FRAMES;

class AudioTest : public ::testing::Test {
protected:
    static std::string dir;
    static void SetUpTestSuite() {
        if (!getenv("SDL_AUDIODRIVER"))
            setenv("SDL_AUDIODRIVER", "dummy", 1);
        dir = make_tmpdir();
        driver_init(DRIVER_AUDIO);
        driver_audio_pause_device(1);
    }
    static void TearDownTestSuite() { driver_deinit(); }
    void SetUp() override {
        ASSERT_NE(_sdl_audio_data, nullptr) << "audio device did not open";
        driver_audio_lock();
        _sdl_audio_data->playing.clear();
        _sdl_audio_data->peak = 1;
        driver_audio_unlock();
    }
    static int wav(const std::string &name, const std::vector<int16_t> &v, int rate = 44100, int ch = 2) {
        std::string path = dir + "/" + name;
        write_wav(path, rate, ch, v);
        return driver_audio_sample_load(path.c_str());
    }
    static int wav_stream(const std::string &name, const std::vector<int16_t> &v) {
        std::string path = dir + "/" + name;
        write_wav(path, 44100, 2, v);
        return driver_audio_stream_load(path.c_str(), false);
    }
    static std::vector<float> block() {
        std::vector<float> out(N);
        driver_audio_mix(out.data(), FRAMES);
        return out;
    }
    // The voices, the ones started since the last block linked in (as any holder of the lock sees them).
    static int voices() {
        driver_audio_lock();
        int n = (int)_sdl_audio_data->playing.size();
        driver_audio_unlock();
        return n;
    }
};
std::string AudioTest::dir;

std::vector<int16_t> constant(int16_t v, int values) {
    return std::vector<int16_t>(values, v);
}
int16_t pat16(int k) {
    return (int16_t)(((k % 256) - 128) * 128);
}
float pat(int k) {
    return pat16(k) / 32768.0f;
}
std::vector<int16_t> pattern(int values) {
    std::vector<int16_t> v(values);
    for (int k = 0; k < values; k++)
        v[k] = pat16(k);
    return v;
}

TEST_F(AudioTest, MixBlocks) {
    const float a = 19661 / 32768.0f, b = 13107 / 32768.0f; // limiter case: blocks sum to 2a + b, then 2a
    const float s0 = 2 * a + b, s1 = 2 * a;
    struct Row {
        const char *name;
        std::function<void(std::vector<int> &ids)> start;
        std::function<void(int blk, std::vector<int> &ids)> before;
        int blocks;
        std::function<float(int blk, int i)> want;
        int voices_left;
    } rows[] = {
        {"no voices give silence", [](std::vector<int> &) {}, nullptr, 2, [](int, int) { return 0.0f; }, 0},
        {"unity voice passes unchanged",
         [](std::vector<int> &ids) { driver_audio_sample_play(wav("u.wav", constant(16384, 8192)), 1, 0); }, nullptr, 2,
         [](int, int) { return 0.5f; }, 1},
        {"half volume",
         [](std::vector<int> &ids) { driver_audio_sample_play(wav("h.wav", constant(16384, 8192)), 0.5f, 0); }, nullptr,
         2, [](int, int) { return 0.25f; }, 1},
        {"volume change ramps over one block",
         [](std::vector<int> &ids) {
             ids.push_back(wav_stream("r.wav", constant(16384, 16384)));
             driver_audio_stream_play(ids[0], 1, 0);
         },
         [](int blk, std::vector<int> &ids) {
             if (blk == 1)
                 driver_audio_stream_volume(ids[0], 0.5f);
         },
         3,
         [](int blk, int i) {
             if (blk == 0)
                 return 0.5f;
             if (blk == 1)
                 return 0.5f * (1.0f - 0.5f * i / N);
             return 0.25f;
         },
         1},
        {"limiter scales down at once and recovers over a block",
         [](std::vector<int> &ids) {
             int la = wav("la.wav", constant(19661, 3 * N)), lb = wav("lb.wav", constant(13107, N));
             driver_audio_sample_play(la, 1, 0);
             driver_audio_sample_play(la, 1, 0);
             driver_audio_sample_play(lb, 1, 0);
         },
         nullptr, 3,
         [=](int blk, int i) {
             if (blk == 1)
                 return s1 * (1 / s0 + i * (1 / s1 - 1 / s0) / N);
             return 1.0f;
         },
         0},
        {"one-shot shorter than the block is mixed once and removed",
         [](std::vector<int> &ids) { driver_audio_sample_play(wav("o.wav", pattern(1000)), 1, 0); }, nullptr, 2,
         [](int blk, int i) { return blk == 0 && i < 1000 ? pat(i) : 0.0f; }, 0},
        {"looping voice stops at the end mid-block and restarts next block",
         [](std::vector<int> &ids) {
             ids.push_back(wav_stream("l.wav", pattern(3000)));
             driver_audio_stream_play(ids[0], 1, 0);
         },
         nullptr, 3,
         [](int blk, int i) {
             if (blk == 1)
                 return i < 952 ? pat(2048 + i) : 0.0f;
             return pat(i);
         },
         1},
        {"paused voice is silent and keeps its place",
         [](std::vector<int> &ids) {
             ids.push_back(wav_stream("p.wav", pattern(8192)));
             driver_audio_stream_play(ids[0], 1, 0);
             driver_audio_stream_pause(ids[0], 1);
         },
         [](int blk, std::vector<int> &ids) {
             if (blk == 1)
                 driver_audio_stream_pause(ids[0], 0);
         },
         3, [](int blk, int i) { return blk == 0 ? 0.0f : pat((blk - 1) * N + i); }, 1},
        {"two voices of one sample add",
         [](std::vector<int> &ids) {
             int s = wav("t.wav", constant(8192, 4096));
             driver_audio_sample_play(s, 1, 0);
             driver_audio_sample_play(s, 1, 0);
         },
         nullptr, 1, [](int, int) { return 0.5f; }, 2},
    };
    for (auto &row : rows) {
        SetUp();
        std::vector<int> ids;
        row.start(ids);
        for (int blk = 0; blk < row.blocks; blk++) {
            if (row.before)
                row.before(blk, ids);
            std::vector<float> out = block();
            int bad = 0;
            for (int i = 0; i < N && bad < 3; i++) {
                float want = row.want(blk, i);
                if (!(fabsf(out[i] - want) <= 1e-5f)) {
                    ADD_FAILURE() << row.name << ": block " << blk << " value " << i << " expected " << want << " saw "
                                  << out[i];
                    bad++;
                }
            }
        }
        EXPECT_EQ(voices(), row.voices_left) << row.name;
        if (row.voices_left == 0) {
            driver_audio_mix(std::vector<float>(N).data(), FRAMES);
            EXPECT_EQ(_sdl_audio_data->peak, 1.0f) << row.name << ": peak after silence";
        }
    }
}

TEST_F(AudioTest, RefusesBadIdsAndVolumes) {
    int sample = wav("ok.wav", constant(8192, 4096));
    int stream = driver_audio_stream_load(testdata("tone44_stereo.ogg").c_str(), false);
    ASSERT_GT(sample, 0);
    ASSERT_GT(stream, 0);
    struct Row {
        const char *name;
        std::function<void()> act;
        int voices;
        std::string log;
    } rows[] = {
        {"unknown id", [] { driver_audio_sample_play(9999, 1, 0); }, 0, "sample_play: no sound with id 9999"},
        {"negative id", [] { driver_audio_sample_play(-3, 1, 0); }, 0, "no sound with id -3"},
        {"id 0 is silently none", [] { driver_audio_sample_play(0, 1, 0); }, 0, ""},
        {"stream play of an unknown id", [] { driver_audio_stream_play(77777, 1, 0); }, 0, "no sound with id 77777"},
        {"stream stop of an unknown id", [] { driver_audio_stream_stop(77777); }, 0, "no sound with id 77777"},
        {"NaN volume", [=] { driver_audio_sample_play(sample, NAN, 0); }, 0, "volume is not a number"},
        {"infinite volume", [=] { driver_audio_sample_play(sample, INFINITY, 0); }, 0, "volume is not a number"},
        {"NaN stream volume", [=] { driver_audio_stream_play(stream, NAN, 0); }, 0, "volume is not a number"},
        {"sample play of a stream would share its decoder", [=] { driver_audio_sample_play(stream, 1, 0); }, 0,
         "is a stream, not a sample"},
        {"NaN volume change keeps the voice's volume",
         [=] {
             driver_audio_sample_play(sample, 1, 0);
             driver_audio_stream_volume(sample, NAN);
         },
         1, "volume is not a number"},
        {"NaN pan is kept neutral", [=] { driver_audio_sample_play(sample, 1, NAN); }, 1, ""},
    };
    for (auto &row : rows) {
        SetUp();
        testing::internal::CaptureStdout();
        row.act();
        std::string log = testing::internal::GetCapturedStdout();
        EXPECT_EQ(voices(), row.voices) << row.name;
        if (row.log.empty())
            EXPECT_EQ(log, "") << row.name;
        else
            EXPECT_NE(log.find(row.log), std::string::npos)
                << row.name << ": expected log '" << row.log << "' saw '" << log << "'";
        for (auto &p : _sdl_audio_data->playing) {
            EXPECT_EQ(p.vol, 1.0f) << row.name;
            EXPECT_EQ(p.pan, 0.0f) << row.name;
        }
        std::vector<float> out = block();
        for (float x : out)
            ASSERT_TRUE(std::isfinite(x)) << row.name << ": mix holds " << x;
    }
    // A voice whose id no load returned (never made by the calls above) is dropped by the mix, not read.
    SetUp();
    AudioPlaying p;
    p.src = 5000;
    p.vol = 1;
    driver_audio_lock();
    _sdl_audio_data->playing.push_back(p);
    driver_audio_unlock();
    EXPECT_EQ(driver_audio_mix(std::vector<float>(N).data(), FRAMES), 0);
    EXPECT_EQ(voices(), 0);
}

// A burst of plays stops at the cap of one-shot voices with one log line a second; a looping stream still starts,
// and voices that end make room.
TEST_F(AudioTest, OneShotVoicesCapped) {
    int s = wav("cap.wav", constant(800, 3000)), music = wav_stream("cap_loop.wav", constant(800, 4096));
    block(); // counts the voices the set-up cleared
    stdouttest::StdoutCapture cap;
    for (int i = 0; i < 400; i++)
        driver_audio_sample_play(s, 1, 0);
    driver_audio_stream_play(music, 1, 0);
    EXPECT_EQ(voices(), DRIVER_AUDIO_ONESHOTS_MAX + 1);
    block();
    block(); // the 3000-value sample has ended: room again
    driver_audio_sample_play(s, 1, 0);
    EXPECT_EQ(voices(), 2);
    std::string log = cap.text();
    EXPECT_NE(log.find("] _mixer: sample_play: 1 refused, 128 one-shot voices already playing\n"), std::string::npos)
        << log;
    EXPECT_EQ(log.find("refused,", log.find("refused,") + 1), std::string::npos) << "logged twice in a second: " << log;
}

// SDL's hint list has no lock and the device's thread reads it: the start sets every hint before it opens the device.
TEST_F(AudioTest, HintsSetBeforeTheDevice) {
    EXPECT_STREQ(SDL_GetHint(SDL_HINT_RENDER_VSYNC), "1");
}

TEST_F(AudioTest, OggStreamsMatchDirectDecode) {
    struct Row {
        const char *file;
        int rate, channels;
    } rows[] = {
        {"tone44_stereo.ogg", 44100, 2},  {"tone44_mono.ogg", 44100, 1}, {"tone22_mono.ogg", 22050, 1},
        {"tone22_stereo.ogg", 22050, 2},  {"tone48_mono.ogg", 48000, 1}, {"tone48_stereo.ogg", 48000, 2},
        {"short44_stereo.ogg", 44100, 2},
    };
    for (auto &row : rows) {
        SetUp();
        std::string path = testdata(row.file);
        int rate = 0, ch = 0;
        std::vector<float> ref = decode_ogg(path, &rate, &ch);
        ASSERT_FALSE(ref.empty()) << row.file << ": test file missing";
        ASSERT_EQ(rate, row.rate) << row.file;
        ASSERT_EQ(ch, row.channels) << row.file;
        ref = resample_ref(ref, rate);
        int id = driver_audio_stream_load(path.c_str(), false);
        driver_audio_stream_play(id, 1, 0);
        int len = _sdl_audio_data->sources[id]->get_length();
        EXPECT_EQ(len, (int)ref.size()) << row.file << ": length in values";
        // Two passes: the stream loops and must start again from its first value.
        int blocks = (len + N - 1) / N;
        int bad = 0;
        for (int pass = 0; pass < 2; pass++)
            for (int blk = 0; blk < blocks; blk++) {
                std::vector<float> out = block();
                for (int i = 0; i < N && bad < 3; i++) {
                    size_t k = (size_t)blk * N + i;
                    float want = k < ref.size() ? ref[k] : 0.0f;
                    if (!(fabsf(out[i] - want) <= 1e-5f)) {
                        ADD_FAILURE() << row.file << ": pass " << pass << " value " << k << " expected " << want
                                      << " saw " << out[i];
                        bad++;
                    }
                    if (row.channels == 1 && i % 2 == 1 && out[i] != out[i - 1] && bad < 3) {
                        ADD_FAILURE() << row.file << ": mono frame " << k / 2 << " differs between sides";
                        bad++;
                    }
                }
            }
        driver_audio_stream_stop(id);
    }
}

TEST_F(AudioTest, ShortFinalOggBlockReportsWhatWasDecoded) {
    AudioSourceVorbis s(testdata("short44_stereo.ogg").c_str());
    ASSERT_TRUE(s.load());
    int len = s.get_length();
    ASSERT_GT(len, N);
    ASSERT_LT(len, 2 * N);
    std::vector<float> r(N, NAN);
    EXPECT_EQ(s.get_samples(0, N, r.data()), N);
    std::fill(r.begin(), r.end(), NAN);
    EXPECT_EQ(s.get_samples(N, N, r.data()), len - N);
    for (int i = len - N; i < N; i++)
        ASSERT_EQ(r[i], 0.0f) << "value " << i << " after the end";
    std::fill(r.begin(), r.end(), NAN);
    EXPECT_EQ(s.get_samples(2 * N, N, r.data()), 0) << "past the end";
    for (int i = 0; i < N; i++)
        ASSERT_EQ(r[i], 0.0f) << "value " << i << " past the end";
}

TEST_F(AudioTest, StreamPlayRestartsFromStart) {
    int id = driver_audio_stream_load(testdata("tone44_stereo.ogg").c_str(), false);
    driver_audio_stream_play(id, 1, 0);
    std::vector<float> first = block();
    block();
    block();
    driver_audio_stream_play(id, 1, 0);
    EXPECT_EQ(voices(), 1);
    std::vector<float> again = block();
    for (int i = 0; i < N; i++)
        ASSERT_EQ(again[i], first[i]) << "value " << i << " after restart";
    driver_audio_stream_stop(id);
    EXPECT_EQ(voices(), 0);
}

TEST_F(AudioTest, FailedStreamIsRetriedOnlyFromMainThread) {
    std::string path = dir + "/missing.ogg";
    int id = driver_audio_stream_load(path.c_str(), false);
    ASSERT_GT(id, 0);
    unsigned long before = driver_audio_memused();
    testing::internal::CaptureStdout();
    driver_audio_stream_play(id, 1, 0);
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("_mixer: error in _stream_load_ogg '" + path + "' (driver_file_alloc)"), std::string::npos)
        << log;
    testing::internal::CaptureStdout();
    for (int i = 0; i < 20; i++)
        block();
    log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(log, "") << "the mix must not reload the file";
    EXPECT_EQ(driver_audio_memused(), before);
    // The file appears: the next play on the main thread loads it.
    std::string bytes;
    ASSERT_TRUE(read_file(testdata("tone44_mono.ogg"), bytes)) << "test sound missing";
    write_text(path, bytes);
    driver_audio_stream_play(id, 1, 0);
    EXPECT_EQ(driver_audio_memused(), before + bytes.size());
    std::vector<float> out = block();
    float peak = 0;
    for (float x : out)
        peak = std::max(peak, fabsf(x));
    EXPECT_GT(peak, 0.1f) << "stream silent after a successful load";
    driver_audio_stream_stop(id);
    EXPECT_EQ(driver_audio_memused(), before);
}

TEST_F(AudioTest, LoadsConvertToWorkFormat) {
    struct Row {
        const char *name;
        std::function<int()> load;
        int min_len, max_len; // values of the work format
        bool mono;
        std::string log;
    } rows[] = {
        {"stereo WAV at 44100 keeps its length", [] { return wav("s.wav", pattern(3000)); }, 3000, 3000, false,
         "_mixer: sample_load"},
        {"mono WAV at 44100 doubles to both sides", [] { return wav("m.wav", pattern(1000), 44100, 1); }, 2000, 2000,
         true, "_mixer: sample_load"},
        {"mono WAV at 22050 is resampled", [] { return wav("m22.wav", constant(8000, 22050), 22050, 1); }, 88000, 88400,
         true, "_mixer: sample_load"},
        {"not a WAV",
         [] {
             write_text(dir + "/junk.wav", "this is not audio");
             return driver_audio_sample_load((dir + "/junk.wav").c_str());
         },
         -1, -1, false, "_mixer: error in _sample_load_wav '" + dir + "/junk.wav': not a RIFF WAVE file\n"},
        {"empty WAV",
         [] {
             write_text(dir + "/empty.wav", "");
             return driver_audio_sample_load((dir + "/empty.wav").c_str());
         },
         -1, -1, false, "_mixer: error in _sample_load_wav '" + dir + "/empty.wav': empty file\n"},
        {"missing WAV", [] { return driver_audio_sample_load((dir + "/none.wav").c_str()); }, -1, -1, false,
         "_mixer: error in _sample_load_wav '" + dir + "/none.wav': file not found\n"},
        {"WAV above 384000 Hz", [] { return wav("hz400k.wav", pattern(2000), 400000, 2); }, -1, -1, false,
         "/hz400k.wav': rate 400000 Hz outside 1000..384000 Hz\n"},
        {"WAV at 1000 Hz is played", [] { return wav("hz1000.wav", constant(8000, 1000), 1000, 1); }, 88198, 88202,
         true, "_mixer: sample_load"},
        {"WAV over the cap once converted, refused before converting",
         [] { return wav("long.wav", constant(100, 400000), 1000, 1); }, -1, -1, false,
         "/long.wav': longer than 33554432 values at 44100 Hz stereo\n"},
        {"empty Ogg sample",
         [] {
             write_text(dir + "/empty.ogg", "");
             return driver_audio_sample_load((dir + "/empty.ogg").c_str());
         },
         -1, -1, false, "_mixer: error in _sample_load_ogg '" + dir + "/empty.ogg' (driver_file_alloc): empty file\n"},
        {"Ogg sample decoded whole and resampled",
         [] { return driver_audio_sample_load(testdata("tone22_mono.ogg").c_str()); }, 88000, 88400, true,
         "_mixer: sample_load"},
        {"truncated Ogg sample",
         [] {
             write_text(dir + "/cut.ogg", "OggS\0\0\0");
             return driver_audio_sample_load((dir + "/cut.ogg").c_str());
         },
         -1, -1, false, "(stb_vorbis_decode_memory): not an Ogg Vorbis file\n"},
        {"missing Ogg sample", [] { return driver_audio_sample_load((dir + "/none.ogg").c_str()); }, -1, -1, false,
         "_mixer: error in _sample_load_ogg '" + dir + "/none.ogg' (driver_file_alloc): file not found\n"},
        {"stream of a non-Ogg file is decoded whole",
         [] {
             write_wav(dir + "/sw.wav", 44100, 2, pattern(500));
             return driver_audio_stream_load((dir + "/sw.wav").c_str(), false);
         },
         500, 500, false, "_mixer: stream_load"},
    };
    for (auto &row : rows) {
        testing::internal::CaptureStdout();
        int id = row.load();
        std::string log = testing::internal::GetCapturedStdout();
        EXPECT_NE(log.find(row.log), std::string::npos) << row.name << ": log was '" << log << "'";
        if (row.min_len < 0) {
            EXPECT_EQ(id, 0) << row.name;
            continue;
        }
        ASSERT_GT(id, 0) << row.name;
        EXPECT_NE(log.find("_mixer: " + std::string(strstr(row.log.c_str(), "stream") ? "stream" : "sample") +
                           "_load " + std::to_string(id) + " ("),
                  std::string::npos)
            << row.name << ": " << log;
        AudioSource *s = _sdl_audio_data->sources[id];
        int len = s->get_length();
        EXPECT_GE(len, row.min_len) << row.name;
        EXPECT_LE(len, row.max_len) << row.name;
        std::vector<float> v(len);
        s->get_samples(0, len, v.data());
        if (row.mono) {
            for (int i = 0; i + 1 < len; i += 2)
                ASSERT_EQ(v[i], v[i + 1]) << row.name << ": frame " << i / 2;
        } else if (row.min_len == row.max_len) {
            for (int i = 0; i < len; i++)
                ASSERT_EQ(v[i], pat(i)) << row.name << ": value " << i;
        }
    }
}

TEST_F(AudioTest, PathWithOggInsideIsAStream) {
    int id = driver_audio_stream_load((dir + "/music.ogg.wav").c_str(), false);
    ASSERT_GT(id, 0);
    EXPECT_NE(dynamic_cast<AudioSourceVorbis *>(_sdl_audio_data->sources[id]), nullptr);
}

TEST_F(AudioTest, MemoryAccounting) {
    unsigned long before = driver_audio_memused();
    testing::internal::CaptureStdout();
    int id = wav("acct.wav", pattern(2 * 262144)); // 2 MB of floats
    std::string log = testing::internal::GetCapturedStdout();
    ASSERT_GT(id, 0);
    EXPECT_EQ(driver_audio_memused(), before + 2 * 1048576UL);
    char want[64];
    snprintf(want, sizeof want, "_mixer->memused: %.2fM\n", (before + 2 * 1048576UL) / 1048576.0);
    EXPECT_NE(log.find(want), std::string::npos) << "expected '" << want << "' in '" << log << "'";
    // A stream holds its file only between play and stop.
    std::string path = testdata("tone48_stereo.ogg");
    int sid = driver_audio_stream_load(path.c_str(), false);
    EXPECT_EQ(driver_audio_memused(), before + 2 * 1048576UL);
    driver_audio_stream_play(sid, 1, 0);
    EXPECT_EQ(driver_audio_memused(), before + 2 * 1048576UL + driver_file_fsize(path.c_str()));
    driver_audio_stream_stop(sid);
    EXPECT_EQ(driver_audio_memused(), before + 2 * 1048576UL);
}

TEST_F(AudioTest, DeviceCallbackConvertsToSigned16) {
    std::vector<Uint8> buf(4096, 0xAA);
    _driver_audio_callback(nullptr, buf.data(), (int)buf.size());
    for (size_t i = 0; i < buf.size(); i++)
        ASSERT_EQ(buf[i], 0) << "silence byte " << i;
    driver_audio_sample_play(wav("cb.wav", constant(-16384, 4096)), 1, 0);
    driver_audio_sample_play(wav("cb2.wav", constant(24576, 4096)), 1, 0); // sum 0.25
    _driver_audio_callback(nullptr, buf.data(), (int)buf.size());
    const int16_t *s = (const int16_t *)buf.data();
    for (int i = 0; i < 2048; i++)
        ASSERT_LE(abs(s[i] - 8192), 1) << "value " << i;
}

TEST_F(AudioTest, CallbackSourceLoopsAndIsOwned) {
    struct Half : AudioCallback {
        int get_samples(float *out, int n) override {
            for (int i = 0; i < n; i++)
                out[i] = 0.5f;
            return n;
        }
    };
    int id = driver_audio_callback_add(new Half, 1);
    ASSERT_GT(id, 0);
    for (int blk = 0; blk < 3; blk++) {
        std::vector<float> out = block();
        EXPECT_EQ(out[0], 0.5f);
        EXPECT_EQ(out[N - 1], 0.5f);
    }
    EXPECT_EQ(voices(), 1);
    EXPECT_EQ(driver_audio_callback_add(new Half, NAN), 0) << "NaN volume";
}

} // namespace

namespace {

TEST_F(AudioTest, DamagedOggStreamsPlayWhatTheyHold) {
    std::string ogg;
    ASSERT_TRUE(read_file(testdata("tone44_stereo.ogg"), ogg)) << "test sound missing";
    std::string flipped = ogg;
    for (size_t i = flipped.size() / 3; i < flipped.size(); i += 97)
        flipped[i] ^= 0x5a;
    struct Row {
        const char *name;
        std::string bytes;
        int opens; // 1: the decoder opens, 0: refused, -1: either (the decoder's own call)
    } rows[] = {
        {"cut in the middle", ogg.substr(0, ogg.size() / 2), 1},
        {"headers only", ogg.substr(0, 4000), 1},
        {"bytes flipped after the headers", flipped, -1},
        {"not Ogg at all", std::string(3000, 'x'), 0},
    };
    for (auto &row : rows) {
        SetUp();
        std::string path = dir + "/damaged.ogg";
        write_text(path, row.bytes);
        int id = driver_audio_stream_load(path.c_str(), false);
        testing::internal::CaptureStdout();
        driver_audio_stream_play(id, 1, 0);
        std::string log = testing::internal::GetCapturedStdout();
        if (row.opens >= 0) {
            EXPECT_EQ(log.find("(stb_vorbis_open_memory)") == std::string::npos, row.opens == 1)
                << row.name << ": " << log;
        }
        for (int blk = 0; blk < 80; blk++) {
            std::vector<float> out = block();
            for (float x : out)
                ASSERT_TRUE(std::isfinite(x) && fabsf(x) <= 1.0f) << row.name << ": mix holds " << x;
        }
        EXPECT_EQ(voices(), 1) << row.name << ": the looping voice stays";
        driver_audio_stream_stop(id);
    }
}

// Files that crashed, stalled or flooded the log: each refused with the loader's one line and id 0, or, as a stream,
// registered but silent, its failure logged once until the file changes.
TEST_F(AudioTest, HostileSoundFiles) {
    const std::string corpus =
        std::string(getenv("KIV_SOURCE_DIR") ? getenv("KIV_SOURCE_DIR") : "..") + "/tests/fuzz/corpus/sound/";
    struct Row {
        const char *file, *as; // the corpus file and the name it is loaded under
        int kind;              // 0: sample, 1: stream
        const char *log;       // the failure line after "_mixer: error in "
    } rows[] = {
        {"data_claims_2gb.wav", "big.wav", 0, "_sample_load_wav '%s': a chunk size points past the end of the file"},
        {"riff_zero_data_4gb.wav", "zero.wav", 0,
         "_sample_load_wav '%s': a chunk size points past the end of the file"},
        {"damaged_164.ogg", "d.ogg", 0, "_sample_load_ogg '%s' (stb_vorbis_decode_memory): not an Ogg Vorbis file"},
        {"damaged_164.ogg", "d.ogg", 1, "_stream_load_ogg '%s' (stb_vorbis_open_memory): not an Ogg Vorbis file"},
        {"stalls_stb_4057.ogg", "s.ogg", 0, "_sample_load_ogg '%s' (stb_vorbis_decode_memory): not an Ogg Vorbis file"},
        {"data_claims_2gb.wav", "w.ogg", 1, "_stream_load_ogg '%s' (stb_vorbis_open_memory): not an Ogg Vorbis file"},
    };
    for (const Row &r : rows) {
        std::string bytes, path = dir + "/" + r.as;
        ASSERT_TRUE(read_file(corpus + r.file, bytes)) << r.file;
        write_text(path, bytes);
        unsigned long before = driver_audio_memused();
        char want[512];
        snprintf(want, sizeof want, (std::string("_mixer: error in ") + r.log + "\n").c_str(), path.c_str());
        testing::internal::CaptureStdout();
        int id = r.kind ? driver_audio_stream_load(path.c_str(), false) : driver_audio_sample_load(path.c_str());
        if (r.kind)
            driver_audio_stream_play(id, 1, 0);
        std::string log = testing::internal::GetCapturedStdout();
        EXPECT_NE(log.find(want), std::string::npos) << r.file << ": expected '" << want << "' in '" << log << "'";
        EXPECT_EQ(driver_audio_memused(), before) << r.file;
        if (!r.kind) {
            EXPECT_EQ(id, 0) << r.file;
            continue;
        }
        testing::internal::CaptureStdout();
        driver_audio_stream_play(id, 1, 0);
        std::vector<float> out = block();
        log = testing::internal::GetCapturedStdout();
        std::string line = "_mixer: stream_play " + std::to_string(id) + "\n";
        EXPECT_TRUE(std::count(log.begin(), log.end(), '\n') == 1 && log.find(line) != std::string::npos)
            << r.file << ": an unchanged file is not tried again: " << log;
        EXPECT_EQ(*std::max_element(out.begin(), out.end()), 0.0f) << r.file;
        driver_audio_stream_stop(id);
    }
}

} // namespace
