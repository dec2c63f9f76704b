// Mixer names: the suffix search over the data and document directories, cached ids and misses with their log
// lines, and the change detection of the hot-reload check with a stepped clock.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <utime.h>

#include <functional>
#include <string>
#include <vector>

#include "kiv_driver-audio.h"
#include "kiv_driver.h"
#include "kiv_mixer.h"
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

std::string file_bytes(const std::string &path) {
    std::string s;
    FILE *f = fopen(path.c_str(), "rb");
    if (!f)
        return s;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        s.append(buf, n);
    fclose(f);
    return s;
}

void set_mtime(const std::string &path, time_t t) {
    struct utimbuf u = {t, t};
    utime(path.c_str(), &u);
}

TEST_F(MixerTest, NameSearchAndCache) {
    std::string ogg = file_bytes(testdata("tone44_mono.ogg"));
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
    write_text(alt + "/rlm.ogg", file_bytes(testdata("tone44_mono.ogg")));
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
        {"file older than recorded is ignored", "/rl.wav", t, t + 30, ""},
    };
    for (auto &row : rows) {
        if (row.touch)
            set_mtime(alt + row.touch, row.mtime);
        testing::internal::CaptureStdout();
        _mixer_reload_check(row.now);
        std::string log = testing::internal::GetCapturedStdout();
        if (row.log.empty())
            EXPECT_EQ(log, "") << row.name;
        else
            EXPECT_TRUE(log.size() >= row.log.size() &&
                        log.compare(log.size() - row.log.size(), std::string::npos, row.log) == 0 &&
                        log.find('\n') == log.size() - 1)
                << row.name << ": expected one line ending '" << row.log << "' saw '" << log << "'";
    }
}

TEST_F(MixerTest, CallsPassThroughToVoices) {
    write_text(alt + "/loop.ogg", file_bytes(testdata("tone44_stereo.ogg")));
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
