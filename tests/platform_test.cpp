// The platform layer on whichever system it is built for: saves replace their target in one step, a killed save
// leaves the old file whole, non-ASCII names reach the file system, the environment folders, and the names each
// system counts as absolute. Rows that differ between systems say so by kiv_platform_osinfo().
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "kiv_platform.h"

namespace fs = std::filesystem;

namespace {

bool on_windows() {
    return strcmp(kiv_platform_osinfo(), "Windows") == 0;
}

// A folder of its own under the system's temporary folder, reached by the standard library (not the layer under
// test), which also converts UTF-8 names by itself.
class Platform : public ::testing::Test {
protected:
    fs::path dir;
    std::string root; // dir as UTF-8
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("kiv_platform_" + std::to_string((long long)std::hash<std::string>()(
                                     ::testing::UnitTest::GetInstance()->current_test_info()->name())));
        fs::remove_all(dir);
        fs::create_directories(dir);
        root = dir.u8string();
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string read(const fs::path &p) {
        std::ifstream f(p, std::ios::binary);
        return f ? std::string(std::istreambuf_iterator<char>(f), {}) : "<missing>";
    }
    void write(const fs::path &p, const std::string &s) { std::ofstream(p, std::ios::binary) << s; }
};

} // namespace

TEST_F(Platform, SavesReplaceWholeAndKilledSavesLeaveTheOldFile) {
    const std::string path = root + "/save.json", tmp = kiv_platform_tmp_name(path);
    EXPECT_EQ(tmp, root + "/.save.json.kivtmp");
    struct Row {
        const char *name;
        const char *leftover; // written to the temporary file first, as a killed save leaves it; null for none
        std::string data;
    } rows[] = {
        {"first save", nullptr, "one"},
        {"replaces an existing file", nullptr, std::string("two\0bytes\r\n", 11)},
        {"takes over a killed save's leftover", "half", "three"},
        {"empty data empties the file", nullptr, ""},
    };
    for (const Row &r : rows) {
        std::string before = read(fs::u8path(path));
        if (r.leftover) {
            write(fs::u8path(tmp), r.leftover);
            EXPECT_EQ(read(fs::u8path(path)), before) << r.name << ": a killed save leaves the old file whole";
        }
        ASSERT_TRUE(kiv_platform_file_write_atomic(path.c_str(), r.data.data(), r.data.size())) << r.name;
        EXPECT_EQ(read(fs::u8path(path)), r.data) << r.name;
        EXPECT_FALSE(fs::exists(fs::u8path(tmp))) << r.name << ": no temporary file left";
    }
    fs::create_directory(dir / "adir");
    EXPECT_FALSE(kiv_platform_file_write_atomic((root + "/adir").c_str(), "x", 1)) << "a folder is never replaced";
    EXPECT_TRUE(fs::is_directory(dir / "adir"));
    ASSERT_TRUE(kiv_platform_file_write_new((root + "/shot.jpg").c_str(), "jpg", 3));
    EXPECT_EQ(read(dir / "shot.jpg"), "jpg");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 3) << "save, adir, shot only";
}

TEST_F(Platform, NonAsciiNamesRoundTrip) {
    const std::string name = "s\xc3\xa4ve-\xe6\x97\xa5\xe6\x9c\xac"; // "säve-日本"
    const std::string sub = root + "/" + name, path = sub + "/" + name + ".json";
    ASSERT_TRUE(kiv_platform_mkdir_p(sub.c_str()));
    ASSERT_TRUE(kiv_platform_file_write_atomic(path.c_str(), "data", 4));
    EXPECT_EQ(read(fs::u8path(path)), "data") << "the name on disk is the UTF-8 name, not its bytes in a code page";
    EXPECT_EQ(kiv_platform_file_kind(path.c_str()), KIV_FILE_REGULAR);
    EXPECT_EQ(kiv_platform_file_kind(sub.c_str()), KIV_FILE_DIR);
    long long size = 0;
    long long ns = 0;
    EXPECT_TRUE(kiv_platform_file_stat(path.c_str(), &size, nullptr, &ns));
    EXPECT_EQ(size, 4);
    FILE *f = kiv_platform_fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    char buf[8] = {0};
    EXPECT_EQ(fread(buf, 1, sizeof(buf), f), 4u);
    fclose(f);
    EXPECT_STREQ(buf, "data");
    EXPECT_TRUE(kiv_platform_file_replace(path.c_str(), (sub + "/b").c_str()));
    EXPECT_TRUE(kiv_platform_file_remove((sub + "/b").c_str()));
    EXPECT_EQ(kiv_platform_file_kind((sub + "/b").c_str()), KIV_FILE_NONE);
    EXPECT_EQ(kiv_platform_fopen((root + "/not\xff"
                                         "utf8")
                                     .c_str(),
                                 "rb"),
              nullptr);
}

// File times finer than a second: two stamps 0.4 s apart stay 0.4 s apart (where the standard library can set
// fractions at all: on Windows it sets whole seconds, and the layer must then agree with it).
TEST_F(Platform, FileTimesKeepFractionsOfASecond) {
    const fs::path p = dir / "t.lua";
    write(p, "a");
    const auto t0 = fs::last_write_time(p) - std::chrono::seconds(10), t1 = t0 + std::chrono::milliseconds(400);
    long long a = 0, b = 0;
    time_t secs = 0;
    fs::last_write_time(p, t0);
    ASSERT_TRUE(kiv_platform_file_stat((root + "/t.lua").c_str(), nullptr, &secs, &a));
    auto set0 = fs::last_write_time(p);
    fs::last_write_time(p, t1);
    ASSERT_TRUE(kiv_platform_file_stat((root + "/t.lua").c_str(), nullptr, nullptr, &b));
    long long lib = std::chrono::duration_cast<std::chrono::nanoseconds>(fs::last_write_time(p) - set0).count();
    EXPECT_TRUE(lib == 400000000LL || (on_windows() && lib == 0)) << lib;
    EXPECT_EQ(b - a, lib);
    EXPECT_EQ((long long)secs, a / 1000000000LL - (a % 1000000000LL < 0 ? 1 : 0));
}

TEST_F(Platform, EnvironmentFoldersAndAbsoluteNames) {
    bool win = on_windows();
    static std::string env[] = {std::string(win ? "APPDATA" : "XDG_DATA_HOME") + "=" + root + "/appdata",
                                std::string(win ? "TEMP" : "TMPDIR") + "=" + root + "/temp",
                                std::string(win ? "HOMEPATH" : "HOME") + "=\\Users\\x"};
    for (std::string &e : env)
        putenv(&e[0]);
    EXPECT_EQ(kiv_platform_appdata_dir(), root + "/appdata");
    EXPECT_EQ(kiv_platform_temp_dir(), root + "/temp");
    EXPECT_EQ(kiv_platform_home_dir(), "\\Users\\x");
    EXPECT_EQ(std::string(kiv_platform_osinfo()), win ? "Windows" : "Linux");
    std::string exe = kiv_platform_exe_dir();
    ASSERT_FALSE(exe.empty());
    EXPECT_TRUE(kiv_platform_path_sep(exe.back())) << exe;
    EXPECT_EQ(kiv_platform_file_kind(exe.c_str()), KIV_FILE_DIR) << exe;

    struct Row {
        const char *name;
        bool posix, windows; // absolute there
    } rows[] = {
        {"/etc/passwd", true, true}, {"\\x", false, true},        {"C:x", false, true},      {"c:\\x", false, true},
        {"C:/x", false, true},       {"save.json", false, false}, {"sub/a:b", false, false}, {"1:x", false, false},
    };
    for (const Row &r : rows)
        EXPECT_EQ(kiv_platform_path_absolute(r.name), win ? r.windows : r.posix) << r.name;
    EXPECT_TRUE(kiv_platform_path_sep('/'));
    EXPECT_EQ(kiv_platform_path_sep('\\'), win);
}

// Links a browser would hand to a program, or the opener would read as its own option, never leave the game.
TEST(PlatformUrl, UnsafeLinksAreRefused) {
    bool win = on_windows();
    struct Row {
        const char *url;
        const char *why; // refusal on Windows; POSIX refuses only the leading '-'
    } rows[] = {
        {"-help", "starts with '-'"},
        {"C:\\Windows\\system32\\calc.exe", "not an http, https or mailto link"},
        {"file:///etc/passwd", "not an http, https or mailto link"},
        {"\\\\server\\share\\x.exe", "not an http, https or mailto link"},
        {"http://a b", "not plain printable ASCII"},
        {"https://x/\"quoted\"", "not plain printable ASCII"},
        {"https://x/\xc3\xa4", "not plain printable ASCII"},
    };
    for (const Row &r : rows) {
        if (!win && r.url[0] != '-')
            continue;
        ::testing::internal::CaptureStdout();
        bool ok = kiv_platform_open_url(r.url);
        std::string log = ::testing::internal::GetCapturedStdout();
        EXPECT_FALSE(ok) << r.url;
        std::string line = std::string("open_url: link refused (") + r.why + "): " + r.url + "\n";
        EXPECT_NE(log.find(line), std::string::npos) << "expected '" << line << "' in '" << log << "'";
    }
}
