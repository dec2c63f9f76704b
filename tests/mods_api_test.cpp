// Mod services: log rules, path helpers, script lookup order and the loaded-once rule, parameter side effects,
// stream bookkeeping, the own extension verbs and the event bridge's dicts.
#include <gtest/gtest.h>

#include <SDL.h>
#include <lua.h>
#include <lauxlib.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "game.h"
#include "kiv_driver.h"
#include "kiv_driver_int.h"
#include "kiv_event.h"
#include "kiv_gfx.h"
#include "mods.h"
#include "mods_api_int.h"
#include "mods_testutil.h"

namespace {

struct Rig : modstest::ModsRig {
    explicit Rig(const std::string &main_path = "main.lua")
        : ModsRig([&](Game &g) { modstest::set_main_path(g, main_path); }) {}
};

void write_file(const std::string &path, const std::string &text) {
    std::ofstream o(path, std::ios::binary);
    o << text;
}

TEST(ModsAPI, LogEntryRules) {
    struct Row {
        const char *name;
        std::vector<std::string> entries;
        std::vector<std::string> want; // newest first
        int toggle;
    } rows[] = {
        {"CR LF splits, empty piece dropped", {"a\r\nb"}, {"b", "a"}, 0},
        {"lone CR is a break", {"a\rb"}, {"b", "a"}, 0},
        {"one tab adds nothing", {"\t"}, {}, 0},
        {"three spaces add nothing", {"   "}, {}, 0},
        {"tab becomes four spaces", {"\tx"}, {"    x"}, 1},
        {"first single line opens the console", {"one"}, {"one"}, 1},
        {"second line keeps the toggle", {"one", "two"}, {"two", "one"}, 1},
        {"trailing newline", {"x\n"}, {"x"}, 1},
        {"empty entry", {""}, {}, 0},
    };
    for (auto &row : rows) {
        Rig r;
        for (auto &e : row.entries)
            r.api->log_entry(e);
        EXPECT_EQ(r.api->log, row.want) << row.name;
        EXPECT_EQ(r.api->console_toggle, row.toggle) << row.name;
    }
    Rig r;
    for (int i = 1; i <= 256; i++)
        r.api->log_printf("line %d\n", i);
    ASSERT_EQ(r.api->log.size(), 255u) << "the log holds at most 255 lines";
    EXPECT_EQ(r.api->log.front(), "line 256");
    EXPECT_EQ(r.api->log.back(), "line 2");
    std::string big(5000, 'z');
    r.api->log_printf("%s", big.c_str());
    EXPECT_EQ(r.api->log.front(), big) << "log_printf has no length limit";
}

TEST(ModsAPI, PathHelpers) {
    struct Row {
        const char *name;
        std::string (*fn)(std::string);
        const char *in;
        const char *want;
    } rows[] = {
        {"basename plain", get_basename, "menu", "menu"},
        {"basename dir", get_basename, "sub/menu.lua", "menu.lua"},
        {"basename parent", get_basename, "../a", "a"},
        {"basename double dot", get_basename, "x..y", "x_y"},
        {"basename backslash", get_basename, "a\\b", "b"},
        {"basename trailing slash", get_basename, "a/b/", ""},
        {"dirname nested", get_dirname, "a/b/c.lua", "a/b"},
        {"dirname none", get_dirname, "c.lua", ""},
        {"dirname backslashes", get_dirname, "a\\b\\c", "a/b"},
        {"dirname root", get_dirname, "/main.lua", ""},
        {"dirname absolute", get_dirname, "/x/y/main.lua", "/x/y"},
        {"clean stops at dot", _name_clean, "hello.lua", "hello"},
        {"clean replaces", _name_clean, "a-b c", "a_b_c"},
        {"clean empty", _name_clean, "", "_"},
        {"clean leading dot", _name_clean, ".x", "_"},
        {"clean sixteen", _name_clean, "abcdefghijklmnopqrst", "abcdefghijklmnop"},
        {"clean bytes", _name_clean, "h\xc3\xa9llo", "h__llo"},
    };
    for (auto &row : rows)
        EXPECT_EQ(row.fn(row.in), row.want) << row.name;
}

// A scratch tree: root/data is the data directory seen from root/work, the working directory.
class RequireTest : public ::testing::Test {
protected:
    std::string root, dir, alt, data;
    char old_cwd[4096] = {};
    void SetUp() override {
        char tmpl[] = "/tmp/kiv_require_XXXXXX";
        root = mkdtemp(tmpl);
        dir = root + "/mod";
        alt = root + "/alt";
        data = root + "/data";
        for (auto d : {dir, alt, data, root + "/work"})
            mkdir(d.c_str(), 0755);
        ASSERT_NE(getcwd(old_cwd, sizeof(old_cwd)), nullptr);
        ASSERT_EQ(chdir((root + "/work").c_str()), 0);
    }
    void TearDown() override {
        EXPECT_EQ(chdir(old_cwd), 0);
        std::string cmd = "rm -rf '" + root + "'";
        EXPECT_EQ(system(cmd.c_str()), 0);
    }
};

TEST_F(RequireTest, LookupOrder) {
    struct Row {
        const char *name;
        bool main_has_dir;
        const char *altdir; // nullptr: never set; "(none)": read but never set
        std::vector<std::pair<std::string, std::string>> files;
        const char *request;
        const char *want; // line printed, or "file missing"
    } rows[] = {
        {"embedded wins over disk", true, nullptr, {{"mod/api.lua", "print('disk api')"}}, "api", "(embedded)"},
        {"main script directory", true, nullptr, {{"mod/m.lua", "print('from dir')"}}, "m", "from dir"},
        {"altdir replaces the main directory",
         true,
         "alt",
         {{"mod/m.lua", "print('from dir')"}, {"alt/m.lua", "print('from alt')"}},
         "m",
         "from alt"},
        {"data directory last", true, nullptr, {{"data/m.lua", "print('from data')"}}, "m", "from data"},
        {"directory before data",
         true,
         nullptr,
         {{"data/m.lua", "print('from data')"}, {"mod/m.lua", "print('from dir')"}},
         "m",
         "from dir"},
        {"main path without directory", false, nullptr, {{"data/m.lua", "print('from data')"}}, "m", "from data"},
        {"main path without directory: working directory",
         false,
         nullptr,
         {{"work/m.lua", "print('from cwd')"}},
         "m",
         "from cwd"},
        {"working directory before data",
         false,
         nullptr,
         {{"data/m.lua", "print('from data')"}, {"work/m.lua", "print('from cwd')"}},
         "m",
         "from cwd"},
        {"empty altdir is absent", true, "", {{"mod/m.lua", "print('from dir')"}}, "m", "from dir"},
        {"none altdir is absent", true, "(none)", {{"mod/m.lua", "print('from dir')"}}, "m", "from dir"},
        {"own extension kept", true, nullptr, {{"mod/x.txt", "print('txt')"}}, "x.txt", "txt"},
        {"directory of request ignored",
         true,
         nullptr,
         {{"mod/m.lua", "print('from dir')"}},
         "elsewhere/m",
         "from dir"},
        {"missing everywhere", true, nullptr, {}, "nope", "file missing"},
    };
    for (auto &row : rows) {
        for (auto d : {dir, alt, data, root + "/work"})
            system(("rm -f '" + d + "'/*").c_str());
        for (auto &f : row.files)
            write_file(root + "/" + f.first, f.second);
        Rig r(row.main_has_dir ? dir + "/main.lua" : "main.lua");
        if (row.altdir && std::string(row.altdir) == "(none)")
            r.api->params_get("altdir");
        else if (row.altdir)
            r.api->params_set("altdir", var(*row.altdir ? root + "/" + row.altdir : std::string()));
        r.api->require(row.request);
        std::string want = row.want;
        if (want == "(embedded)") {
            ASSERT_EQ(r.api->scripts.size(), 1u) << row.name;
            EXPECT_EQ(r.api->scripts[0].fname, "api.lua") << row.name;
            EXPECT_EQ(r.api->scripts[0].mtime, 0) << row.name;
            EXPECT_EQ(r.log_text().find("disk api"), std::string::npos) << row.name;
        } else if (want == "file missing") {
            EXPECT_TRUE(r.api->scripts.empty()) << row.name;
            EXPECT_EQ(r.api->api_error_get(), "file missing") << row.name;
            ASSERT_FALSE(r.api->log.empty()) << row.name;
            EXPECT_EQ(r.api->log[0], std::string("ModsAPI::require(\"") + row.request + "\") file missing") << row.name;
        } else {
            EXPECT_EQ(r.api->api_error(), 0) << row.name;
            ASSERT_FALSE(r.api->log.empty()) << row.name;
            EXPECT_EQ(r.api->log[0], want) << row.name;
            ASSERT_EQ(r.api->scripts.size(), 1u) << row.name;
            EXPECT_NE(r.api->scripts[0].mtime, 0) << row.name;
            EXPECT_EQ(r.api->scripts[0]._fname, row.request) << row.name;
        }
    }
}

TEST_F(RequireTest, LoadedOnceAndFilter) {
    write_file(dir + "/menu.lua", "count = (count or 0) + 1");
    write_file(dir + "/self.lua", "selfcount = (selfcount or 0) + 1 require('self')");
    write_file(dir + "/f.lua", "print('unfiltered')");
    Rig r(dir + "/main.lua");
    for (const char *name : {"menu", "menu.lua", "sub/menu", "../menu"})
        r.api->require(name);
    r.api->require("self");
    lua_State *L = r.mod->L;
    lua_getglobal(L, "count");
    lua_getglobal(L, "selfcount");
    EXPECT_EQ(lua_tonumber(L, -2), 1) << "menu ran more than once";
    EXPECT_EQ(lua_tonumber(L, -1), 1) << "a script that requires itself ran twice";
    lua_pop(L, 2);
    EXPECT_EQ(r.api->scripts.size(), 2u);

    r.mod->script("function flt(s) return (s:gsub('unfiltered', 'filtered')) end", "t");
    r.api->params_set("require_filter_callback", var("flt"));
    r.api->require("f");
    ASSERT_FALSE(r.api->log.empty());
    EXPECT_EQ(r.api->log[0], "filtered");
}

TEST(ModsAPI, ParamsSideEffects) {
    driver_init(DRIVER_TIMER);
    struct Row {
        const char *name;
        const char *key;
        var value;
        std::string (*probe)(Game &);
        const char *want;
    } rows[] = {
        {"caption", "caption", var("Hello"), [](Game &) { return std::string(driver_get_caption()); }, "Hello"},
        {"altdir", "altdir", var("/some/dir"), [](Game &) { return std::string(driver_get_altdir()); }, "/some/dir"},
        {"empty altdir clears", "altdir", var(""), [](Game &) { return std::string(driver_get_altdir()); }, ""},
        {"appid", "appid", var("KivTestApp"), [](Game &) { return std::string(driver_get_gamename()); }, "KivTestApp"},
        {"suspendable true", "suspendable", var(true), [](Game &g) { return std::to_string(g.suspendable); }, "1"},
        {"suspendable zero", "suspendable", var(0), [](Game &g) { return std::to_string(g.suspendable); }, "0"},
        {"other key only stores", "speedy", var(3), [](Game &g) { return std::to_string(g.suspendable); }, "0"},
    };
    for (auto &row : rows) {
        Rig r;
        r.api->params_set(row.key, row.value);
        EXPECT_EQ(row.probe(r.game), row.want) << row.name;
        EXPECT_TRUE(r.api->params_get(row.key) == row.value) << row.name << ": the entry shares the value";
    }
    driver_deinit();
}

TEST(ModsAPI, RestartParameters) {
    const char *argv[] = {"prog", "-caption", "Hello", "-platform", "X", "-a", "-b", "c", "-last"};
    Game game;
    snprintf(game.data.mods.fname, sizeof(game.data.mods.fname), "/nonexistent/main.lua");
    game._argc = 9;
    game._argv = const_cast<char **>(argv);
    mods_restart(game, 1);
    ASSERT_NE(game.data.mods.api, nullptr);
    var &p = game.data.mods.api->params;
    struct Row {
        const char *key;
        var want;
    } rows[] = {
        {"caption", var("Hello")},
        {"platform", var("Win32")},
        {"a", var("-b")},
        {"b", var("c")},
        {"vinfo", var("test-Desktop-Win32-Steamworks")},
        {"version", var("test")},
        {"speed", var(1.0)},
        {"ticks", var(1)},
        {"view_x", var(0)},
        {"view_scale", var(1.0)},
    };
    for (auto &row : rows)
        EXPECT_TRUE(p[row.key] == row.want) << row.key << ": saw " << p[row.key].__str__();
    EXPECT_FALSE(p.has("last")) << "a last argument never becomes a key";
    // The main script is looked up by its base name, so the embedded main.lua wins over the missing path.
    EXPECT_TRUE(game.data.mods.mod->is_okay());
    ASSERT_EQ(game.data.mods.api->scripts.size(), 14u)
        << "main.lua, game.lua, api.lua and the game's eleven other modules";
    EXPECT_EQ(game.data.mods.api->scripts[0].fname, "main.lua");
    delete game.data.mods.mod;
    delete game.data.mods.api;
}

// The shell hands its filter answers to the texture loader at start-up; "filter" of the running mod picks them.
TEST(ModsAPI, TextureFilterAnswers) {
    Game g;
    char prog[] = "kivgame", headless[] = "-headless";
    char *argv[] = {prog, headless, nullptr};
    g.args(2, argv);
    g.init();
    ASSERT_NE(g.data.mods.api, nullptr);
    struct Row {
        const char *name;
        const char *filter; // null: left unset
        int min, mag;
    } rows[] = {
        {"unset", nullptr, 0x2703, 0x2601},
        {"nearest", "nearest", 0x2600, 0x2600},
        {"any other text", "linear", 0x2703, 0x2601},
    };
    for (const Row &r : rows) {
        if (r.filter)
            g.data.mods.api->params_set("filter", var(r.filter));
        EXPECT_EQ(_kiv_gl_texture_min_filter(), r.min) << r.name << ": minification";
        EXPECT_EQ(_kiv_gl_texture_mag_filter(), r.mag) << r.name << ": magnification";
    }
    g.deinit();
}

TEST(ModsAPI, StreamBookkeeping) {
    struct Row {
        const char *name;
        bool headless;
        std::vector<std::pair<char, std::string>> calls; // 'p' play, 's' stop
        std::map<std::string, int> want;
    } rows[] = {
        {"play twice starts once", false, {{'p', "music"}, {'p', "music"}}, {{"music", 1}}},
        {"stop marks stopped", false, {{'p', "music"}, {'s', "music"}}, {{"music", 0}}},
        {"play after stop restarts", false, {{'p', "music"}, {'s', "music"}, {'p', "music"}}, {{"music", 1}}},
        {"stop of never played", false, {{'s', "x"}}, {{"x", 0}}},
        {"headless does nothing", true, {{'p', "music"}, {'s', "other"}}, {}},
    };
    for (auto &row : rows) {
        Rig r;
        r.game._headless = row.headless;
        for (auto &c : row.calls) {
            if (c.first == 'p')
                r.api->stream_play(c.second, 0.5f);
            else
                r.api->stream_stop(c.second);
        }
        EXPECT_EQ(r.api->streams, row.want) << row.name;
    }
    Rig r;
    r.game._headless = 1;
    float w = -1, h = -1;
    r.api->font_size("font", 12, "text", &w, &h);
    EXPECT_EQ(w, 0);
    EXPECT_EQ(h, 0);
}

TEST(ModsAPI, OwnExtensionVerbs) {
    struct Row {
        const char *name;
        const char *verb;
        const char *arg;
        const char *want;
        int quit;
    } rows[] = {
        {"md5 of abc", "md5_digest", "abc", "900150983cd24fb0d6963f7d28e17f72", 0},
        {"md5 of nothing", "md5_digest", "", "d41d8cd98f00b204e9800998ecf8427e", 0},
        {"md5 hashes the quotes too", "md5_digest", "\"abc\"", "ebd9f4c7b06cb0aaf5d13d80e49d8b90", 0},
        {"exit", "exit", "", "", 1},
        {"unknown verb", "no:such_verb", "", "null", 0},
    };
    for (auto &row : rows) {
        Rig r;
        EXPECT_EQ(r.api->ext_call(row.verb, row.arg), row.want) << row.name;
        EXPECT_EQ(r.game.quit, row.quit) << row.name;
    }
}

TEST(ModsAPI, EventBridgeDicts) {
    struct Row {
        const char *name;
        Event e;
        std::string want; // Lua expression over the received table e, must be true
    } rows[] = {
        {"none is dropped", Event(EVT_NONE), "received == nil"},
        {"login is dropped", Event(EVT_LOGIN), "received == nil"},
        {"type name", Event(EVT_MOUSEDOWN), "e.type == 'mousedown' and e.text == '' and e.key == nil"},
        {"unnamed type", Event(EVT_ACCEL), "e.type == '?'"},
        {"past the table", Event(EVT_CUSTOM), "e.type == '?'"},
    };
    for (auto &row : rows) {
        Rig r;
        r.mod->script("received = nil function _event(x) e = x received = true end", "t");
        mods_event_handle(r.game, row.e);
        lua_State *L = r.mod->L;
        std::string code = "return " + row.want;
        ASSERT_EQ(luaL_dostring(L, code.c_str()), 0) << row.name;
        EXPECT_TRUE(lua_toboolean(L, -1)) << row.name << ": " << row.want;
        lua_pop(L, 1);
    }
    struct FieldRow {
        const char *name;
        int type, c, v, _v, b, device;
        std::string want;
    } fields[] = {
        {"key A", EVT_KEYDOWN, 'a', KEY_a, 97, 1, 0,
         "e.key == 97 and e.name == 'A' and e.text == 'a' and e.button == 1"},
        {"byte 233", EVT_KEYDOWN, 233, 0, 0, 0, 0, "e.text == '\\233'"},
        {"code point above 255", EVT_KEYUP, 0x1F600, 0, 0, 0, 0, "e.text == '\\0' and e.type == 'keyup'"},
        {"joystick without match", EVT_JOYDOWN, 0, 0, 0, 3, 77, "e.name == '?' and e.device == 77 and e.key == nil"},
    };
    // Key names come from the keyboard map, which only the video subsystem sets up.
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_VIDEO), 0) << SDL_GetError();
    for (auto &row : fields) {
        Rig r;
        r.mod->script("function _event(x) e = x end", "t");
        Event ev(row.type);
        ev.c = row.c;
        ev.v = row.v;
        ev._v = row._v;
        ev.b = row.b;
        ev.device = row.device;
        mods_event_handle(r.game, ev);
        lua_State *L = r.mod->L;
        std::string code = "return " + row.want;
        ASSERT_EQ(luaL_dostring(L, code.c_str()), 0) << row.name;
        EXPECT_TRUE(lua_toboolean(L, -1)) << row.name << ": " << row.want;
        lua_pop(L, 1);
    }
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

} // namespace
