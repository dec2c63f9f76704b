// The platform bridge, the social session, the cloud store and the social and store extensions, driven through
// the store-platform stand-in: down by default, and signed in from a directory with user.json.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

#include "ext_header.h"
#include "kiv_driver.h"
#include "kiv_event.h"
#include "kiv_platform-store.h"
#include "kiv_social.h"

namespace {

std::vector<std::string> events; // "login <uuid>" / "logout <uuid>" as the session stood during the event

void on_event(Event e) {
    events.push_back((e.type == EVT_LOGIN ? "login " : "logout ") + social_user_uuid());
}

std::string slurp(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

struct StoreDir {
    std::string dir;
    explicit StoreDir(const std::string &user) {
        char tmpl[] = "/tmp/kiv_store_XXXXXX";
        dir = mkdtemp(tmpl);
        std::ofstream(dir + "/user.json") << user;
        setenv(KIV_PLATFORM_DIR_ENV, dir.c_str(), 1);
        driver_init(0);
        events.clear();
        social_set_event_handler(on_event);
    }
    ~StoreDir() {
        social_deinit();
        driver_deinit();
        unsetenv(KIV_PLATFORM_DIR_ENV);
        std::system(("rm -rf " + dir).c_str());
    }
    std::string calls() { return slurp(dir + "/calls.log"); }
};

TEST(PlatformStore, DownFallsBack) {
    StoreDir d("{}");
    unsetenv(KIV_PLATFORM_DIR_ENV);
    Game game;
    EXPECT_EQ("\"\"", ext_do_call(game, "social:uuid", ""));
    EXPECT_EQ("null", ext_do_call(game, "store:products", "")) << "none before the first store:init";
    EXPECT_TRUE(!driver_steam_is_init() && !*driver_steam_get_uid() && social_friends_get().empty() &&
                !social_achievements_show());
    EXPECT_EQ(-3, driver_steam_open_overlay("Friends") + driver_steam_open_overlay_to_store(480) +
                      driver_open_url_steam("http://127.0.0.1/"));
    EXPECT_EQ("[]", (ext_do_call(game, "store:init", "[{\"id\":1}]"), ext_do_call(game, "store:products", "")));
    EXPECT_TRUE(events.empty());
}

TEST(PlatformStore, SignedInUserFriendsStatsAndOverlay) {
    std::string longname(300, 'n');
    StoreDir d("{\"id\":\"0xff\",\"name\":\"" + longname + "\",\"friends\":[\"0x10\",\"18446744073709551615\",3]}");
    Game game;
    EXPECT_EQ("\"s:00000000000000ff\"", ext_do_call(game, "social:uuid", ""));
    EXPECT_EQ(std::vector<std::string>{"login s:00000000000000ff"}, events);
    EXPECT_EQ(longname.substr(0, 255), social_user_name());
    EXPECT_EQ((std::vector<std::string>{"s:0000000000000010", "s:ffffffffffffffff", "s:0000000000000003"}),
              social_friends_get());

    social_achievement_set("A", 1);
    social_achievement_set("B", 1);
    social_loop();
    social_loop();
    social_achievement_set("C", 1); // after the last pump: stored at shutdown
    EXPECT_TRUE(social_achievements_show());
    ext_do_call(game, "steam:overlay", "{\"type\":\"dialog\",\"value\":\"Friends\"}");
    ext_do_call(game, "steam:overlay", "{\"type\":\"web\",\"value\":\"Stats\"}");
    ext_do_call(game, "store:init", "[{\"id\":7,\"t\":\"a\"},{\"t\":\"b\"}]");
    EXPECT_EQ("[{\"id\":7,\"t\":\"a\"},{\"id\":null,\"t\":\"b\"}]", ext_do_call(game, "store:products", ""));
    for (const char *arg : {"480.9", "\"abc\"", "1e300", "-1e300"})
        ext_do_call(game, "store:buy", arg);
    EXPECT_EQ(0, driver_open_url_steam("http://127.0.0.1/x\nfake"));
    driver_steam_trigger_screenshot();
    social_deinit();
    EXPECT_FALSE(driver_steam_is_init()) << "down after shutdown";
    EXPECT_EQ(std::vector<std::string>({"login s:00000000000000ff", "logout s:00000000000000ff"}), events);
    EXPECT_EQ("store_stats {\"A\":true,\"B\":true}\noverlay Achievements\noverlay Friends\nstore 480 2\nstore 0 2\n"
              "store 2147483647 2\nstore 2147483648 2\nwebpage http://127.0.0.1/x?fake\nscreenshot\n"
              "store_stats {\"A\":true,\"B\":true,\"C\":true}\n",
              d.calls());
}

TEST(PlatformStore, RemoteStorageAndFailureSwitches) {
    StoreDir d("{\"id\":1,\"name\":\"x\",\"overlay\":false}");
    social_init();
    ASSERT_TRUE(driver_steam_is_init());
    driver_cloud_save("dir/save.json", "hello", 5);
    EXPECT_EQ("hello", slurp(d.dir + "/remote/dir/save.json"));
    EXPECT_EQ("hello", driver_cloud_load("dir/save.json"));
    for (const char *bad : {"/tmp/abs.json", "../up.json", "a/../../b", ""})
        driver_cloud_save(bad, "x", 1);
    EXPECT_TRUE(access("/tmp/abs.json", F_OK) && access((d.dir + "/up.json").c_str(), F_OK) &&
                access((d.dir + "/b").c_str(), F_OK));
    EXPECT_EQ(-2, driver_steam_open_overlay("Friends") + driver_open_url_steam("http://127.0.0.1/")) << "overlay off";
    EXPECT_EQ("", d.calls());

    // A failing read zeroes the buffer; a failing write keeps the old file.
    std::ofstream(d.dir + "/user.json") << "{\"id\":1,\"name\":\"x\",\"fail_read\":true,\"fail_write\":true}";
    social_deinit();
    social_init();
    char buf[4] = {1, 2, 3, 4};
    EXPECT_EQ(0, driver_cloud_load("dir/save.json", buf, 4));
    EXPECT_EQ(std::string(4, '\0'), std::string(buf, 4));
    driver_cloud_save("dir/save.json", "bye", 3);
    EXPECT_EQ("hello", slurp(d.dir + "/remote/dir/save.json"));
}

TEST(PlatformStore, SessionLoginRules) {
    StoreDir d("{\"no_user\":true}");
    social_init();
    EXPECT_FALSE(driver_steam_is_init()) << "no user signed in";
    social_login("s", "1", "a");
    social_login("s", "1", "other name"); // same uuid: nothing
    social_login("s", "2", "b");
    social_login("s", std::string(254, '9').c_str(), "c"); // uuid of 256 bytes: refused
    social_login("s", "2", nullptr);
    EXPECT_EQ(std::vector<std::string>({"login s:1", "logout s:1", "login s:2", "logout s:2"}), events);
    EXPECT_EQ("", social_user_uuid());
}

} // namespace
