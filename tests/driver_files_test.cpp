// Driver core: names, data/document/cloud paths, escape refusal, regular files only, atomic saves,
// the timer with an injected clock, the store-platform stand-in and the URL opener.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <SDL.h>

#include "kiv_driver.h"
#include "kiv_event.h"
#include "kiv_platform.h"
#include "stdout_testutil.h"

namespace {

using stdouttest::capture_stdout;

void write_file(const std::string &path, const std::string &data) {
    FILE *f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    fwrite(data.data(), 1, data.size(), f);
    fclose(f);
}

std::string read_file(const std::string &path) {
    std::string s;
    FILE *f = fopen(path.c_str(), "rb");
    if (!f)
        return "<missing>";
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0)
        s.append(buf, n);
    fclose(f);
    return s;
}

std::vector<std::string> list_dir(const std::string &dir) {
    std::vector<std::string> names;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d))
            if (strcmp(e->d_name, ".") && strcmp(e->d_name, ".."))
                names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool is_dir(const std::string &p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void restore_env(const char *name, const std::string &value, bool had) {
    if (had)
        setenv(name, value.c_str(), 1);
    else
        unsetenv(name);
}

// A scratch tree: <root>/work is the working directory, so ../data is <root>/data and ./data is <root>/work/data.
class DriverFiles : public ::testing::Test {
protected:
    std::string root, oldcwd;
    std::string saved_env[4];
    bool had_env[4];
    const char *env_names[4] = {"XDG_DATA_HOME", "HOME", "TMPDIR", "PATH"};

    void SetUp() override {
        char tmpl[] = "/tmp/kiv_drvXXXXXX";
        root = mkdtemp(tmpl);
        for (const char *d : {"/work", "/work/data", "/data", "/xdg", "/home", "/alt"})
            mkdir((root + d).c_str(), 0755);
        char cwd[4096];
        oldcwd = getcwd(cwd, sizeof(cwd)) ? cwd : "/tmp";
        ASSERT_EQ(chdir((root + "/work").c_str()), 0);
        for (int i = 0; i < 4; i++) {
            const char *v = getenv(env_names[i]);
            had_env[i] = v != nullptr;
            saved_env[i] = v ? v : "";
        }
        setenv("XDG_DATA_HOME", (root + "/xdg").c_str(), 1);
        setenv("HOME", (root + "/home").c_str(), 1);
        driver_init(0);
    }
    void TearDown() override {
        driver_deinit();
        driver_timer_set_source(nullptr);
        for (int i = 0; i < 4; i++)
            restore_env(env_names[i], saved_env[i], had_env[i]);
        if (chdir(oldcwd.c_str()) != 0)
            perror("chdir");
        std::string cmd = "rm -rf '" + root + "'";
        if (system(cmd.c_str()) != 0)
            perror("rm");
    }
    std::string sub(std::string s) {
        size_t p;
        while ((p = s.find("{R}")) != std::string::npos)
            s.replace(p, 3, root);
        if ((p = s.find("{B}")) != std::string::npos) {
            char *base = SDL_GetBasePath();
            s.replace(p, 3, base ? base : "");
            SDL_free(base);
        }
        return s;
    }
};

TEST_F(DriverFiles, PathRules) {
    write_file(root + "/alt/a.png", "alt");
    write_file(root + "/data/black.png", "relative"); // the build's own data/ (beside the test program) has one too
    struct Row {
        const char *name;
        const char *gamename; // null: none set
        const char *altdir;   // null: driver_set_altdir(NULL)
        bool xdg;             // XDG_DATA_HOME set
        char kind;            // 'd' data, 'o' document
        const char *file;
        std::string want;
    } rows[] = {
        {"data without game name", nullptr, nullptr, true, 'd', "a.png", "../data/a.png"},
        {"data with game name", "G", nullptr, true, 'd', "a.png", "./data/a.png"},
        {"altdir holding the file", nullptr, "{R}/alt", true, 'd', "a.png", "{R}/alt/a.png"},
        {"altdir without the file falls back", "G", "{R}/alt", true, 'd', "b.png", "./data/b.png"},
        {"empty altdir is no directory, not the root", nullptr, "", true, 'd', "a.png", "../data/a.png"},
        {"subdirectory names are kept", nullptr, nullptr, true, 'd', "fonts/x.fnt", "../data/fonts/x.fnt"},
        {"dots inside a name are fine", nullptr, nullptr, true, 'd', "a..b", "../data/a..b"},
        {"relative data directory first", nullptr, nullptr, true, 'd', "black.png", "../data/black.png"},
        {"then the program's folder, game name's place first", "G", nullptr, true, 'd', "console.fnt",
         "{B}data/console.fnt"},
        {"then the program's folder, the other place too", nullptr, nullptr, true, 'd', "console.fnt",
         "{B}data/console.fnt"},
        {"document without game name", nullptr, nullptr, true, 'o', "save.json", "./save.json"},
        {"document under XDG_DATA_HOME", "G", nullptr, true, 'o', "save.json", "{R}/xdg/G/save.json"},
        {"document under HOME without XDG", "G", nullptr, false, 'o', "save.json", "{R}/home/.local/share/G/save.json"},
    };
    for (auto &r : rows) {
        driver_init(0);
        if (r.xdg)
            setenv("XDG_DATA_HOME", (root + "/xdg").c_str(), 1);
        else
            unsetenv("XDG_DATA_HOME");
        if (r.gamename)
            driver_set_gamename(r.gamename);
        driver_set_altdir(r.altdir ? sub(r.altdir).c_str() : nullptr);
        std::string got = r.kind == 'd' ? driver_data_fname(r.file) : driver_doc_fname(r.file);
        EXPECT_EQ(got, sub(r.want)) << r.name;
        if (r.kind == 'o' && r.gamename) {
            std::string dir = got.substr(0, got.rfind('/'));
            EXPECT_TRUE(is_dir(dir)) << r.name << ": the lookup creates " << dir;
        }
    }
    setenv("XDG_DATA_HOME", (root + "/xdg").c_str(), 1);
}

TEST_F(DriverFiles, NamesThatLeaveTheirDirectoryAreRefused) {
    driver_set_gamename("G");
    driver_doc_fname("ok"); // creates the game directory
    const char *leaves = "leaves its directory", *absolute = "absolute path", *kept = "kept for saves in progress";
    struct Row {
        const char *name, *cause;
    } rows[] = {{"../x", leaves},          {"a/../../x", leaves}, {"..", leaves},      {"sub/..", leaves},
                {"/etc/passwd", absolute}, {"/x", absolute},      {".x.kivtmp", kept}, {"sub/.x.kivtmp", kept}};
    for (const Row &r : rows) {
        const char *n = r.name;
        std::string data, doc;
        std::string log = capture_stdout([&] {
            data = driver_data_fname(n);
            doc = driver_doc_fname(n);
        });
        // A refused save says so in its one line, the cause after it.
        std::string saved = capture_stdout([&] { driver_doc_save(n, "evil", 4); });
        EXPECT_EQ(data, "") << n;
        EXPECT_EQ(doc, "") << n;
        EXPECT_NE(log.find(std::string("file name refused (") + r.cause + "): " + n + "\n"), std::string::npos)
            << n << ": log was \"" << log << "\"";
        std::string line = std::string("] file not writable: ") + n + " - file name refused (" + r.cause + ")\n";
        EXPECT_TRUE(saved.size() > line.size() && saved.compare(saved.size() - line.size(), line.size(), line) == 0 &&
                    saved.find('\n') == saved.size() - 1)
            << n << ": expected the one line '" << line << "', saw '" << saved << "'";
        EXPECT_EQ(driver_doc_load(n), "") << n;
        EXPECT_FALSE(driver_data_exists(n)) << n;
    }
    EXPECT_EQ(list_dir(root + "/xdg"), std::vector<std::string>{"G"}) << "nothing written beside the game directory";
    EXPECT_EQ(list_dir(root + "/xdg/G"), std::vector<std::string>{}) << "nothing written inside it either";
}

TEST_F(DriverFiles, NamesAndFieldsStayWithinBounds) {
    const std::string longname(300, 'g');
    const std::string longpath(600, 'p');
    std::string log = capture_stdout([&] {
        driver_set_gamename("Good");
        driver_set_gamename(longname.c_str());
        driver_set_gamename("../evil");
        driver_set_altdir("/some/dir");
        driver_set_altdir(longpath.c_str());
        driver_set_icon(longpath.c_str());
    });
    struct Row {
        const char *name;
        std::string got, want;
    } rows[] = {
        {"too long game name keeps the previous", driver_get_gamename(), "Good"},
        {"too long altdir keeps the previous", driver_get_altdir(), "/some/dir"},
        {"too long icon refused", driver_get_icon(), ""},
    };
    for (auto &r : rows)
        EXPECT_EQ(r.got, r.want) << r.name;
    EXPECT_NE(log.find("game name too long"), std::string::npos) << log;
    EXPECT_NE(log.find("game name refused"), std::string::npos) << log;
    EXPECT_NE(log.find("alternative directory too long"), std::string::npos) << log;

    // A caption is display text: cut at a character boundary instead of refused.
    std::string cap(254, 'c');
    cap += "\xc3\xa9\xc3\xa9"; // two 2-byte characters crossing the 255-byte limit
    driver_set_caption(cap.c_str());
    EXPECT_EQ(std::string(driver_get_caption()), std::string(254, 'c'));

    // A joined path longer than the buffers is refused, never cut into another name.
    std::string deep(1100, 'd');
    std::string got;
    log = capture_stdout([&] { got = driver_data_fname(deep.c_str()); });
    EXPECT_EQ(got, "");
    EXPECT_NE(log.find("path too long"), std::string::npos) << log;
}

TEST_F(DriverFiles, OnlyRegularFilesExist) {
    mkdir((root + "/data/d.png").c_str(), 0755);
    write_file(root + "/data/f.png", "1234");
    struct Row {
        const char *name;
        const char *file;
        bool exists;
        int size;
        bool mtime;
        const char *log; // what a load logs
    } rows[] = {
        {"directory is not a file", "d.png", false, 0, false, "file not found: ../data/d.png - a folder\n"},
        {"missing file", "none.png", false, 0, false, "file not found: ../data/none.png\n"},
        {"regular file", "f.png", true, 4, true, ""},
    };
    for (auto &r : rows) {
        std::string path = std::string("../data/") + r.file;
        EXPECT_EQ(driver_data_exists(r.file), r.exists) << r.name;
        EXPECT_EQ(driver_file_exists(path.c_str()), r.exists) << r.name;
        EXPECT_EQ(driver_data_fsize(r.file), r.size) << r.name;
        EXPECT_EQ(driver_file_mtime(path.c_str()) != 0, r.mtime) << r.name;
        if (!r.exists) {
            std::string s;
            std::string log = capture_stdout([&] { s = driver_data_load(r.file); });
            EXPECT_EQ(s, "") << r.name;
            EXPECT_NE(log.find(r.log), std::string::npos) << r.name << ": log was \"" << log << "\"";
        }
    }
}

TEST_F(DriverFiles, LoadForms) {
    const std::string bin("a\0b\0\xff", 5);
    write_file(root + "/work/four", "abcd");
    write_file(root + "/work/empty", "");
    write_file(root + "/work/bin", bin);

    char buf[10] = {};
    EXPECT_EQ(driver_file_load("four", buf, 10), 4) << "asking for more than the file holds";
    EXPECT_EQ(std::string(buf, 4), "abcd");
    EXPECT_EQ(driver_file_load("four", buf, 2), 2) << "asking for less";

    int len = 99;
    void *p = nullptr;
    std::string log = capture_stdout([&] { p = driver_file_alloc("empty", &len); });
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(len, 0);
    EXPECT_EQ(log, "") << "an empty file is not an error";
    EXPECT_EQ(driver_file_load("empty"), "");

    EXPECT_EQ(driver_file_load("bin"), bin) << "embedded zero bytes kept";
    p = driver_file_alloc("bin", &len);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(len, 5);
    free(p);
}

TEST_F(DriverFiles, SavesAreAtomicAndBinarySafe) {
    driver_set_gamename("G");
    const std::string dir = root + "/xdg/G";
    driver_doc_fname("x"); // creates the directory
    mkdir((dir + "/adir").c_str(), 0755);
    write_file(dir + "/keep.dat", "old contents");

    const std::string big(8192, 'n');
    const std::string bin("\0\1\2zero\0", 8);
    struct Row {
        const char *name;
        const char *file;
        std::string data;
        int len;            // -2: data.size()
        rlim_t fsize_limit; // 0: none
        bool fails;
        std::string want;  // file contents afterwards
        const char *cause; // after "file not writable: <path> - " when it fails
    } rows[] = {
        {"write past the file-size limit", "keep.dat", big, -2, 1024, true, "old contents", "File too large"},
        {"negative length", "keep.dat", "x", -1, 0, true, "old contents", "Invalid argument"},
        {"target is a directory", "adir", "x", -2, 0, true, "<missing>", "Is a directory"},
        {"parent directory missing", "nodir/f", "x", -2, 0, true, "<missing>", "No such file or directory"},
        {"binary data replaces the old file", "keep.dat", bin, -2, 0, false, bin, nullptr},
        {"zero length gives an empty file", "zero.dat", "", -2, 0, false, "", nullptr},
    };
    for (auto &r : rows) {
        int len = r.len == -2 ? (int)r.data.size() : r.len;
        struct rlimit old;
        getrlimit(RLIMIT_FSIZE, &old);
        void (*oldsig)(int) = signal(SIGXFSZ, SIG_IGN);
        std::string log = capture_stdout([&] {
            if (r.fsize_limit) {
                struct rlimit lim = old;
                lim.rlim_cur = r.fsize_limit;
                setrlimit(RLIMIT_FSIZE, &lim);
            }
            driver_doc_save(r.file, r.data.data(), len);
            setrlimit(RLIMIT_FSIZE, &old);
        });
        signal(SIGXFSZ, oldsig);
        bool logged = log.find("file not writable") != std::string::npos;
        EXPECT_EQ(logged, r.fails) << r.name << ": log was \"" << log << "\"";
        std::string path = dir + "/" + r.file;
        if (r.cause) {
            std::string line = "file not writable: " + path + " - " + r.cause + "\n";
            EXPECT_NE(log.find(line), std::string::npos) << r.name << ": expected '" << line << "' in '" << log << "'";
        }
        if (!is_dir(path))
            EXPECT_EQ(read_file(path), r.want) << r.name;
        else
            EXPECT_TRUE(r.fails) << r.name;
    }
    EXPECT_TRUE(is_dir(dir + "/adir")) << "a directory in the way is left alone";
    EXPECT_EQ(list_dir(dir), (std::vector<std::string>{"adir", "keep.dat", "zero.dat"})) << "no temporary files left";
}

// A save killed mid-write leaves its one temporary file, which the next save of the name takes over. Names too
// long for ".<name>.kivtmp" beside them get a hashed temporary name of the same form, so they save too.
TEST_F(DriverFiles, SaveTemporaryNamesFitAnyName) {
    driver_set_gamename("G");
    const std::string dir = root + "/xdg/G";
    driver_doc_fname("x");
    const std::string n247(247, 'a'), n248(248, 'b'), n255(255, 'c');
    struct Row {
        const char *name;
        std::string file;
        bool hashed;
    } rows[] = {
        {"short name", "save.json", false},
        {"247 bytes: .<name>.kivtmp just fits", n247, false},
        {"248 bytes: hashed", n248, true},
        {"255 bytes, the longest name", n255, true},
    };
    for (const Row &r : rows) {
        std::string path = dir + "/" + r.file, tmp = kiv_platform_tmp_name(path);
        std::string tmp_base = tmp.substr(dir.size() + 1);
        EXPECT_LE(tmp_base.size(), 255u) << r.name;
        EXPECT_EQ(tmp_base.compare(0, 1, "."), 0) << r.name;
        EXPECT_EQ(tmp_base.substr(tmp_base.size() - 7), ".kivtmp") << r.name;
        EXPECT_EQ(tmp_base == "." + r.file + ".kivtmp", !r.hashed) << r.name << ": " << tmp_base;
        EXPECT_EQ(kiv_platform_tmp_name(path), tmp) << r.name << ": the same name every time";
        write_file(tmp, "left by a killed save");
        std::string log = capture_stdout([&] { driver_doc_save(r.file.c_str(), "new", 3); });
        EXPECT_EQ(log, "") << r.name;
        EXPECT_EQ(read_file(path), "new") << r.name;
        EXPECT_EQ(read_file(tmp), "<missing>") << r.name << ": the leftover was taken over";
        EXPECT_EQ(driver_doc_load(r.file.c_str()), "new") << r.name;
        unlink(path.c_str());
    }
    EXPECT_NE(kiv_platform_tmp_name(dir + "/" + n255), kiv_platform_tmp_name(dir + "/" + std::string(255, 'd')));
    EXPECT_EQ(list_dir(dir), std::vector<std::string>{}) << "no temporary files left";
}

TEST_F(DriverFiles, CloudUsesDocumentDirectoryWhileServiceIsDown) {
    driver_set_gamename("G");
    const std::string bin("cloud\0data\n", 11);
    EXPECT_FALSE(driver_cloud_exists("c.bin"));
    EXPECT_EQ(driver_cloud_load("c.bin"), "");
    driver_cloud_save("c.bin", bin.data(), (int)bin.size());
    EXPECT_TRUE(driver_cloud_exists("c.bin"));
    EXPECT_EQ(driver_cloud_fsize("c.bin"), 11);
    EXPECT_EQ(driver_cloud_load("c.bin"), bin);
    EXPECT_EQ(read_file(root + "/xdg/G/c.bin"), bin);
}

TEST_F(DriverFiles, ServiceDownAnswers) {
    driver_social_init();
    EXPECT_FALSE(driver_steam_is_init());
    EXPECT_EQ(std::string(driver_steam_get_uid()), "");
    EXPECT_TRUE(driver_social_friends_get().empty());
    EXPECT_FALSE(driver_social_achievements_show());
    EXPECT_FALSE(driver_social_leaderboard_show("x"));
    EXPECT_EQ(driver_steam_open_overlay("Friends"), -1);
    EXPECT_EQ(driver_steam_open_overlay_to_store(480), -1);
    int rc = 0;
    std::string log = capture_stdout([&] { rc = driver_open_url_steam("http://example.invalid/"); });
    EXPECT_EQ(rc, -1);
    EXPECT_NE(log.find("driver_open_url_steam\n"), std::string::npos) << log;
    EXPECT_NE(log.find("...failed\n"), std::string::npos) << log;
    driver_social_deinit();
}

TEST_F(DriverFiles, EnvironmentDirectories) {
    struct Row {
        const char *name;
        const char *home, *tmpdir; // null: unset
        std::string want_home, want_tmp;
    } rows[] = {
        {"both set", "/h/x", "/t/y", "/h/x/Desktop", "/t/y"},
        {"both unset", nullptr, nullptr, "", "/tmp"},
    };
    for (auto &r : rows) {
        r.home ? setenv("HOME", r.home, 1) : unsetenv("HOME");
        r.tmpdir ? setenv("TMPDIR", r.tmpdir, 1) : unsetenv("TMPDIR");
        EXPECT_EQ(std::string(driver_get_home_dir()), r.want_home) << r.name;
        EXPECT_EQ(std::string(driver_get_tmpdir()), r.want_tmp) << r.name;
    }
}

unsigned fake_now = 0;
unsigned fake_clock() {
    return fake_now;
}

TEST_F(DriverFiles, TimerResetAndStepCounter) {
    driver_timer_set_source(fake_clock);
    struct Row {
        const char *name;
        unsigned now;
        char op; // 'g' get ticks, 'r' reset then get, 't' step counter, 'f' set fps to want
        long want;
    } rows[] = {
        {"raw count", 90000000, 'g', 90000000},
        {"reset brings it back to 0", 90000000, 'r', 0},
        {"counts on from the reset", 90000016, 'g', 16},
        {"reset near the 32-bit wrap", 4294967290u, 'r', 0},
        {"counts across the wrap", 5, 'g', 11},
        {"rate 0: no steps", 10000, 't', 0},
        {"rate 60", 0, 'f', 60},
        {"first call at 10.000 s: step 0 due exactly then", 10000 + 10, 't', 0},
        {"at 10.050 s: steps 0, 1, 2", 10050 + 10, 't', 3},
        {"same time: nothing new", 10050 + 10, 't', 0},
        {"at 10.100 s: steps 3, 4, 5", 10100 + 10, 't', 3},
        {"a stall returns every missed step", 11100 + 10, 't', 60},
    };
    fake_now = 0;
    for (auto &r : rows) {
        if (r.op == 'f') {
            driver_timer_set((int)r.want);
            continue;
        }
        fake_now = r.now;
        long got;
        if (r.op == 'r')
            driver_timer_reset_ticks();
        if (r.op == 't')
            got = driver_timer_tick();
        else
            got = driver_timer_get_ticks();
        EXPECT_EQ(got, r.want) << r.name;
    }
}

// The hot-reload rule every module follows, on an injected wall clock: a file is read again once its time or size
// differs from the known one and its time is two seconds old, checked at most once a second.
TEST(DriverReloadRule, SettledFilesAndTheOnceASecondGate) {
    struct Row {
        const char *name;
        time_t known, mtime, now;
        bool resized, want;
    } rows[] = {
        {"unchanged", 100, 100, 500, false, false},
        {"newer, exactly two seconds old", 100, 150, 152, false, true},
        {"newer, one second old: still being written", 100, 151, 152, false, false},
        {"newer but dated in the future", 100, 150, 140, false, false},
        {"put back with an older time (a copy keeping its time, a backup)", 100, 90, 500, false, true},
        {"older time, one second before now", 100, 90, 91, false, false},
        {"file gone (time 0)", 100, 0, 500, false, false},
        {"file gone, size now 0", 100, 0, 500, true, false},
        {"same second, another size, settled", 100, 100, 102, true, true},
        {"same second, another size, one second old", 100, 100, 101, true, false},
        {"older file, another size", 100, 90, 500, true, true},
    };
    for (const Row &r : rows)
        EXPECT_EQ(driver_file_settled(r.known, r.mtime, r.now, r.resized), r.want) << r.name;
    // The same rule on stamps, finer than a second: a script rewritten 0.4 s after its load is read again.
    const long long s = 1000000000LL;
    struct StampRow {
        const char *name;
        DriverFileStamp known, seen;
        time_t now;
        bool want;
    } stamps[] = {
        {"same second, 0.4 s later, another size", {100 * s, 10}, {100 * s + s * 4 / 10, 12}, 102, true},
        {"same second, 0.4 s later, same size", {100 * s, 10}, {100 * s + s * 4 / 10, 10}, 102, true},
        {"same second and nanosecond, another size", {100 * s + 5, 10}, {100 * s + 5, 11}, 102, true},
        {"0.4 s later, one second and a half old", {100 * s, 10}, {100 * s + s * 4 / 10, 12}, 101, false},
        {"identical", {100 * s + 7, 10}, {100 * s + 7, 10}, 500, false},
    };
    for (const StampRow &r : stamps)
        EXPECT_EQ(driver_file_settled(r.known, r.seen, r.now), r.want) << r.name;

    struct Gate {
        const char *name;
        time_t now;
        bool want;
    } gates[] = {
        {"first check", 7, true},
        {"same second", 7, false},
        {"next second", 8, true},
        {"clock set back", 3, true},
    };
    time_t last = 0;
    for (const Gate &g : gates) {
        EXPECT_EQ(driver_file_check_due(&last, g.now), g.want) << g.name;
        EXPECT_EQ(last, g.now) << g.name << ": the second of the last check";
    }
    EXPECT_FALSE(driver_file_check_due(nullptr, 9)) << "no record, no check";
}

TEST_F(DriverFiles, HeadlessPollStartsNoJoysticks) {
    driver_init(DRIVER_TIMER);
    Event e(EVT_NONE);
    for (int i = 0; i < 3; i++)
        driver_event_poll(&e);
    EXPECT_FALSE(SDL_WasInit(SDL_INIT_JOYSTICK)) << "the event poll of a headless run started the joysticks";
}

TEST_F(DriverFiles, OpenUrlPassesTheLinkAsOneArgument) {
    // A stand-in opener records whether it ignores SIGPIPE (bit 13 of SigIgn), then the arguments it was given.
    const std::string bin = root + "/bin";
    mkdir(bin.c_str(), 0755);
    const std::string out = root + "/opened";
    write_file(bin + "/xdg-open",
               "#!/bin/sh\npipe=$(( 0x$(sed -n 's/^SigIgn:[[:space:]]*//p' /proc/$$/status) >> 12 & 1 ))\n"
               "printf '%s|' \"$pipe\" \"$#\" \"$@\" > '" +
                   out + ".tmp'\nmv '" + out + ".tmp' '" + out + "'\n");
    chmod((bin + "/xdg-open").c_str(), 0755);
    setenv("PATH", (bin + ":/usr/bin:/bin").c_str(), 1);

    // A link that the opener would read as an option never reaches it.
    struct Row {
        const char *name;
        const char *url;
    } refused[] = {{"long option", "--help"}, {"short option", "-x http://example.invalid/"}};
    for (auto &r : refused) {
        bool ok = true;
        std::string log = capture_stdout([&] { ok = kiv_platform_open_url(r.url); });
        EXPECT_FALSE(ok) << r.name;
        EXPECT_NE(log.find(std::string("link refused (starts with '-'): ") + r.url), std::string::npos)
            << r.name << ": " << log;
    }

    const std::string url = "http://example.invalid/a b?x=1&y=$(touch " + root + "/pwned);touch " + root + "/pwned2";
    void (*oldpipe)(int) = signal(SIGPIPE, SIG_IGN); // as the game runs
    std::string log = capture_stdout([&] { driver_open_url(url.c_str()); });
    signal(SIGPIPE, oldpipe);
    EXPECT_NE(log.find("Driver::weblink: " + url), std::string::npos) << log;
    // The opener runs detached: wait (bounded) for its record.
    for (int i = 0; i < 500 && access(out.c_str(), F_OK) != 0; i++)
        usleep(10000);
    EXPECT_EQ(read_file(out), "0|1|" + url + "|") << "the opener gets SIGPIPE's usual action, then the link";
    EXPECT_NE(access((root + "/pwned").c_str(), F_OK), 0) << "no shell may parse the link";
    EXPECT_NE(access((root + "/pwned2").c_str(), F_OK), 0) << "no shell may parse the link";
}

} // namespace
