// Mixer names: the suffix search over the data and document directories, cached ids and misses with their log
// lines, and the change detection of the hot-reload check with a stepped clock.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "kiv_driver-audio.h"
#include "kiv_driver-audio_int.h"
#include "kiv_driver.h"
#include "kiv_mixer.h"
#include "kiv_mixer_int.h"
#include "sound_testutil.h"

using namespace soundtest;

namespace {

class MixerTest : public ::testing::Test {
protected:
    static std::string alt, doc;
    static void SetUpTestSuite() {
        if (!getenv("SDL_AUDIODRIVER"))
            setenv("SDL_AUDIODRIVER", "dummy", 1);
        std::string root = make_tmpdir();
        setenv("XDG_DATA_HOME", (root + "/xdg").c_str(), 1);
        alt = root + "/alt";
        mkdir(alt.c_str(), 0755);
        driver_init(DRIVER_AUDIO);
        driver_audio_pause_device(1);
        driver_set_gamename("kivsoundtest");
        driver_set_altdir(alt.c_str());
        doc = root + "/xdg/kivsoundtest";
        driver_doc_fname("probe"); // makes the document directory
    }
    static void TearDownTestSuite() {
        mixer_deinit();
        driver_deinit();
    }
    void SetUp() override { mixer_init(); }
};
std::string MixerTest::alt, MixerTest::doc;

void set_mtime(const std::string &path, time_t t) {
    struct utimbuf u = {t, t};
    utime(path.c_str(), &u);
}

TEST_F(MixerTest, NameSearchAndCache) {
    std::string ogg = read_file(testdata("tone44_mono.ogg"));
    ASSERT_FALSE(ogg.empty()) << "test sound missing";
    std::vector<int16_t> tone(2000, 4000);
    write_text(alt + "/click.ogg", ogg);
    write_text(alt + "/both.ogg", ogg);
    write_wav(doc + "/both", 44100, 2, tone);
    write_wav(alt + "/boom.wav", 44100, 2, tone);
    write_text(alt + "/boom.ogg", ogg);
    write_wav(doc + "/docsnd.wav", 44100, 1, tone);
    write_text(alt + "/bad.mp3", "not sound at all");
    write_text(alt + "/tune.ogg", ogg);
    struct Row {
        const char *name;
        bool stream;
        std::string path; // empty: not found
        bool loads;
        std::vector<std::string> log;
    } rows[] = {
        {"click", false, alt + "/click.ogg", true, {":: trying load sample click\n", "doing load sample click\n"}},
        {"both", false, doc + "/both", true, {"doing load sample both\n"}},
        {"boom", false, alt + "/boom.wav", true, {"doing load sample boom\n"}},
        {"boom.ogg", false, alt + "/boom.ogg", true, {"doing load sample boom.ogg\n"}},
        {"docsnd", false, doc + "/docsnd.wav", true, {"doing load sample docsnd\n"}},
        {"bad", false, alt + "/bad.mp3", false, {"doing load sample bad\n", "_mixer: error in _sample_load_wav"}},
        {"nothing", false, "", false, {":: trying load sample nothing\n", "unable to find sample nothing\n"}},
        {"tune", true, alt + "/tune.ogg", true, {"trying load stream tune\n", "doing load stream tune\n"}},
        {"nomusic", true, "", false, {"trying load stream nomusic\n", "unable to find stream nomusic\n"}},
        {"click", true, alt + "/click.ogg", true, {"doing load stream click\n"}},
    };
    for (auto &row : rows) {
        testing::internal::CaptureStdout();
        int id = row.stream ? mixer_stream_load(row.name) : mixer_sample_load(row.name);
        std::string log = testing::internal::GetCapturedStdout();
        for (auto &line : row.log)
            EXPECT_NE(log.find(line), std::string::npos)
                << row.name << ": expected '" << line << "' in '" << log << "'";
        EXPECT_EQ(id > 0, row.loads) << row.name << ": id " << id;
        const char *path =
            row.stream ? _mixer->stream_map[row.name].stream_fname : _mixer->sample_map[row.name].sample_fname;
        EXPECT_EQ(std::string(path), row.path) << row.name;
        // A second ask answers from the cache without a word, misses included.
        testing::internal::CaptureStdout();
        int again = row.stream ? mixer_stream_load(row.name) : mixer_sample_load(row.name);
        log = testing::internal::GetCapturedStdout();
        EXPECT_EQ(again, id) << row.name;
        EXPECT_EQ(log, "") << row.name << ": second load logged";
    }
    // The name cache is per mixer: a new one searches again and finds a file that appeared meanwhile.
    write_wav(alt + "/nothing.wav", 44100, 2, tone);
    EXPECT_EQ(mixer_sample_load("nothing"), 0);
    mixer_init();
    EXPECT_GT(mixer_sample_load("nothing"), 0);
}

long rss_kb() {
    long pages = 0, resident = 0;
    FILE *f = fopen("/proc/self/statm", "r");
    if (f) {
        if (fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Tiny files whose rate would convert them to gigabytes are refused with the reason, before any conversion.
TEST_F(MixerTest, TinyWavsAtAbsurdRatesStaySmall) {
    struct Row {
        const char *name;
        int rate, channels, values;
        std::string why; // empty: plays
    } rows[] = {
        {"hz1", 1, 1, 3000, "rate 1 Hz outside 1000..384000 Hz"},
        {"hz2", 2, 2, 2000, "rate 2 Hz outside 1000..384000 Hz"},
        {"hz1000", 1000, 1, 2000, ""},
        {"slow_long", 1000, 1, 400000, "longer than 33554432 values at 44100 Hz stereo"},
    };
    for (const Row &r : rows) {
        write_wav(alt + "/" + r.name + ".wav", r.rate, r.channels, std::vector<int16_t>(r.values, 1000));
        long before = rss_kb();
        unsigned long mem = driver_audio_memused();
        testing::internal::CaptureStdout();
        int id = mixer_sample_load(r.name);
        mixer_sample_play(id, 1, 0);
        std::string log = testing::internal::GetCapturedStdout();
        EXPECT_LT(rss_kb() - before, 64 * 1024) << r.name << ": memory grew by " << (rss_kb() - before) << " KB";
        if (r.why.empty()) {
            EXPECT_GT(id, 0) << r.name << ": " << log;
            EXPECT_LT(driver_audio_memused() - mem, 1024UL * 1024) << r.name;
            continue;
        }
        EXPECT_EQ(id, 0) << r.name;
        EXPECT_EQ(driver_audio_memused(), mem) << r.name;
        std::string want = "_mixer: error in _sample_load_wav '" + alt + "/" + r.name + ".wav': " + r.why + "\n";
        EXPECT_NE(log.find(want), std::string::npos) << r.name << ": expected '" << want << "' in '" << log << "'";
    }
    driver_audio_lock();
    _sdl_audio_data->playing.clear();
    driver_audio_unlock();
}

TEST_F(MixerTest, RefusesNamesTooLongAndNull) {
    std::string longname(600, 'x');
    testing::internal::CaptureStdout();
    EXPECT_EQ(mixer_sample_load(longname.c_str()), 0);
    EXPECT_EQ(mixer_stream_load(longname.c_str()), 0);
    EXPECT_EQ(mixer_sample_load(nullptr), 0);
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("unable to find sample " + longname), std::string::npos);
    // A long name that still fits is found under the empty suffix.
    std::string edge(250, 'e');
    write_wav(alt + "/" + edge, 44100, 2, std::vector<int16_t>(100, 1));
    EXPECT_GT(mixer_sample_load(edge.c_str()), 0);
}

TEST_F(MixerTest, ReloadNoticesChangedFilesOnce) {
    std::vector<int16_t> tone(1000, 3000);
    write_wav(alt + "/rl.wav", 44100, 2, tone);
    write_text(alt + "/rlm.ogg", read_file(testdata("tone44_mono.ogg")));
    time_t t = time(nullptr);
    set_mtime(alt + "/rl.wav", t - 100);
    set_mtime(alt + "/rlm.ogg", t - 100);
    ASSERT_GT(mixer_sample_load("rl"), 0);
    ASSERT_GT(mixer_stream_load("rlm"), 0);
    struct Row {
        const char *name;
        const char *touch; // file whose time is set to `mtime` before the check, or null
        time_t mtime, now;
        std::string log; // expected log text, "" for none
    } rows[] = {
        {"unchanged files", nullptr, 0, t, ""},
        {"touched one second ago", "/rl.wav", t + 9, t + 10, ""},
        {"same second is not checked again", nullptr, 0, t + 10, ""},
        {"two seconds old is reported", nullptr, 0, t + 11, "sample reload: " + alt + "/rl.wav\n"},
        {"reported only once", nullptr, 0, t + 12, ""},
        {"stream change", "/rlm.ogg", t + 20, t + 22, "stream reload: " + alt + "/rlm.ogg\n"},
        {"file put back with an older time is read", "/rl.wav", t, t + 30, "sample reload: " + alt + "/rl.wav\n"},
    };
    for (auto &row : rows) {
        if (row.touch)
            set_mtime(alt + row.touch, row.mtime);
        testing::internal::CaptureStdout();
        mixer_reload_check(row.now);
        std::string log = testing::internal::GetCapturedStdout();
        if (row.log.empty())
            EXPECT_EQ(log, "") << row.name;
        else
            EXPECT_TRUE(log.size() >= row.log.size() && log.find(row.log) != std::string::npos &&
                        log.find(row.log) == log.rfind(row.log) && log.find("reload: ") == log.rfind("reload: "))
                << row.name << ": expected one line '" << row.log << "' saw '" << log << "'";
    }
}

// A changed file noticed by the check is heard: the next mixed block comes from the new file.
TEST_F(MixerTest, ReloadedFilesAreHeard) {
    const int N = 2048;
    auto wav_bytes = [](int16_t v, int values) {
        std::string path = alt + "/tmp_make.wav";
        write_wav(path, 44100, 2, std::vector<int16_t>(values, v));
        return read_file(path);
    };
    std::string quiet = wav_bytes(3277, 8 * N), loud = wav_bytes(9830, 8 * N), cut = wav_bytes(9830, N / 2);
    std::string ogg44 = read_file(testdata("tone44_stereo.ogg")), ogg22 = read_file(testdata("tone22_mono.ogg"));
    ASSERT_FALSE(ogg44.empty() || ogg22.empty()) << "test sounds missing";
    int rate = 0, ch = 0;
    std::vector<float> ref44 = decode_ogg(testdata("tone44_stereo.ogg"), &rate, &ch);
    std::vector<float> ref22 = decode_ogg(testdata("tone22_mono.ogg"), &rate, &ch);
    ref22 = resample_ref(ref22, rate);
    struct Row {
        const char *name, *file;
        bool stream;
        std::string before, after;
        int blocks;     // blocks mixed before the file changes; -1: the first file does not load, nothing plays
        bool stop_play; // stream stopped before the check and played again after it
        std::function<float(int)> want;
        std::string log, not_log;
        int voices;
    } rows[] = {
        {"sample rewritten is heard from its place", "rw_a.wav", false, quiet, loud, 1, false,
         [](int) { return 9830 / 32768.0f; }, "_mixer: sample_reload ", "", 1},
        {"sample cut shorter than the voice's place ends it", "rw_b.wav", false, quiet, cut, 2, false,
         [](int) { return 0.0f; }, "_mixer: sample_reload ", "", 0},
        {"sample that no longer decodes keeps the old sound", "rw_c.wav", false, quiet, "not a wave", 1, false,
         [](int) { return 3277 / 32768.0f; }, "_mixer: error in _sample_load_wav '", "sample_reload ", 1},
        {"stream rewritten restarts from the new file", "rw_d.ogg", true, ogg44, ogg22, 2, false,
         [&](int i) { return ref22[i]; }, "_mixer: stream_reload ", "", 1},
        {"stream that no longer decodes keeps playing on", "rw_e.ogg", true, ogg44, "OggS but no more", 2, false,
         [&](int i) { return ref44[2 * N + i]; }, "(stb_vorbis_open_memory)", "stream_reload ", 1},
        {"stopped stream reads the new file at its next play", "rw_f.ogg", true, ogg44, ogg22, 1, true,
         [&](int i) { return ref22[i]; }, "stream reload: ", "_mixer: stream_reload ", 1},
        {"stream that failed at play is heard once repaired", "rw_i.ogg", true, "OggS broken", ogg22, 1, false,
         [&](int i) { return ref22[i]; }, "_mixer: stream_reload ", "", 1},
        {"sample that did not decode at first is loaded once repaired", "rw_g.wav", false, "junk", loud, -1, false,
         [](int) { return 9830 / 32768.0f; }, "_mixer: sample_load ", "", 1},
        {"stream that did not decode at first is loaded once repaired", "rw_h.wav", true, "junk", loud, -1, false,
         [](int) { return 9830 / 32768.0f; }, "_mixer: stream_load ", "", 1},
    };
    time_t now = time(nullptr) + 100;
    for (auto &row : rows) {
        driver_audio_lock();
        _sdl_audio_data->playing.clear();
        _sdl_audio_data->peak = 1;
        driver_audio_unlock();
        std::string path = alt + "/" + row.file;
        write_text(path, row.before);
        set_mtime(path, now - 100);
        auto load = [&] { return row.stream ? mixer_stream_load(row.file) : mixer_sample_load(row.file); };
        auto play = [&](int id) {
            if (row.stream)
                mixer_stream_play(id, 1);
            else
                mixer_sample_play(id, 1, 0);
        };
        int id = load();
        EXPECT_EQ(id > 0, row.blocks >= 0) << row.name << ": first load gave " << id;
        if (id)
            play(id);
        std::vector<float> out(N);
        for (int b = 0; b < row.blocks; b++)
            driver_audio_mix(out.data(), N / 2);
        if (row.stop_play)
            mixer_stream_stop(id);
        unsigned long mem = driver_audio_memused();
        write_text(path, row.after);
        now += 10;
        set_mtime(path, now - 2);
        testing::internal::CaptureStdout();
        mixer_reload_check(now);
        std::string log = testing::internal::GetCapturedStdout();
        EXPECT_NE(log.find(row.log), std::string::npos)
            << row.name << ": expected '" << row.log << "' in '" << log << "'";
        if (!row.not_log.empty()) {
            EXPECT_EQ(log.find(row.not_log), std::string::npos) << row.name << ": log '" << log << "'";
        }
        if (row.stop_play) {
            EXPECT_EQ(driver_audio_memused(), mem) << row.name << ": a stopped stream holds no file";
            mixer_stream_play(id, 1);
        }
        if (row.blocks < 0) {
            id = load();
            EXPECT_GT(id, 0) << row.name << ": the repaired file is not loaded";
            play(id);
        }
        driver_audio_mix(out.data(), N / 2);
        int bad = 0;
        for (int i = 0; i < N && bad < 3; i++)
            if (!(fabsf(out[i] - row.want(i)) <= 1e-5f)) {
                ADD_FAILURE() << row.name << ": value " << i << " expected " << row.want(i) << " saw " << out[i];
                bad++;
            }
        EXPECT_EQ((int)_sdl_audio_data->playing.size(), row.voices) << row.name;
        if (row.stream)
            mixer_stream_stop(id);
    }
}

TEST_F(MixerTest, CallsPassThroughToVoices) {
    write_text(alt + "/loop.ogg", read_file(testdata("tone44_stereo.ogg")));
    std::vector<int16_t> tone(4096, 8192);
    write_wav(alt + "/hit.wav", 44100, 2, tone);
    int music = mixer_stream_load("loop"), hit = mixer_sample_load("hit");
    ASSERT_GT(music, 0);
    ASSERT_GT(hit, 0);
    auto &playing = _sdl_audio_data->playing;
    struct Row {
        const char *name;
        std::function<void()> act;
        int voices;
        float music_vol;
        int music_pause;
    } rows[] = {
        {"stream play adds one looping voice", [=] { mixer_stream_play(music, 0.5f); }, 1, 0.5f, 0},
        {"stream play again restarts with one voice", [=] { mixer_stream_play(music, 0.7f); }, 1, 0.7f, 0},
        {"sample play adds a one-shot", [=] { mixer_sample_play(hit, 1, 0.3f); }, 2, 0.7f, 0},
        {"volume reaches the stream only", [=] { mixer_stream_volume(music, 0.2f); }, 2, 0.2f, 0},
        {"pause", [=] { mixer_stream_pause(music, 1); }, 2, 0.2f, 1},
        {"id 0 does nothing", [] { mixer_stream_stop(0); }, 2, 0.2f, 1},
        {"stop removes the stream's voice", [=] { mixer_stream_stop(music); }, 1, -1, 0},
    };
    for (auto &row : rows) {
        row.act();
        driver_audio_lock(); // links the one-shots started since the last block
        driver_audio_unlock();
        EXPECT_EQ((int)playing.size(), row.voices) << row.name;
        for (auto &p : playing) {
            if (p.src == music) {
                EXPECT_EQ(p.vol, row.music_vol) << row.name;
                EXPECT_EQ(p.pause, row.music_pause) << row.name;
                EXPECT_EQ(p.loop, 1) << row.name;
            } else {
                EXPECT_EQ(p.vol, 1.0f) << row.name;
                EXPECT_EQ(p.pan, 0.3f) << row.name;
                EXPECT_EQ(p.loop, 0) << row.name;
            }
        }
    }
}

} // namespace
