// Script host and bindings through a real Lua state: value texts, the failure latch, error reports, argument
// checks, the event table and the C++ unwinding of Lua errors.
#include <gtest/gtest.h>

#include <lua.h>
#include <lauxlib.h>
#include <lualib.h>

#include "game.h"
#include "mods.h"
#include "mods_testutil.h"

namespace {

using Rig = modstest::ModsRig;

TEST(ModsLua, ValueTexts) {
    var nested = var_dict();
    nested["k"] = var(1);
    var d = var_dict();
    d["b"] = var(2);
    d["a"] = var("x");
    var quit = var_dict();
    quit["type"] = var("quit");
    quit["x"] = var(0);
    struct Row {
        const char *name;
        var v;
        const char *want;
    } rows[] = {
        {"none", var(), "nil"},
        {"true", var(true), "true"},
        {"false", var(false), "false"},
        {"whole number", var(5), "5"},
        {"negative whole", var(-7), "-7"},
        {"fraction cut to one decimal", var(0.5), "0.5"},
        {"six decimals", var(0.0166667), "0.016667"},
        {"beyond int range", var(1e10), "10000000000.0"},
        {"plain text", var("abc"), "[=[abc]=]"},
        {"closing sequence replaced", var("a]=]b"), "[=[a?b]=]"},
        {"dict in key order", d, "{a=[=[x]=],b=2}"},
        {"example event", quit, "{type=[=[quit]=],x=0}"},
        {"nested dict", var_dict(var("n"), nested), "{n={k=1}}"},
    };
    Rig r;
    for (auto &row : rows)
        EXPECT_EQ(r.mod->var2lua(row.v), row.want) << row.name;
    EXPECT_EQ(r.mod->dict2lua(var_dict()), "{}");
    // A dict that holds itself is written down to a fixed depth, then as its text.
    var self = var_dict();
    self["me"] = self;
    std::string text = r.mod->var2lua(self);
    EXPECT_EQ(text.substr(0, 16 * 4), [] {
        std::string s;
        for (int i = 0; i < 16; i++)
            s += "{me=";
        return s;
    }());
    EXPECT_NE(text.find("[=[<dict instance at "), std::string::npos) << text;
    self["me"] = var();
}

TEST(ModsLua, LatchAndReports) {
    struct Row {
        const char *name;
        const char *script;
        int which; // 0 init, 1 loop, 2 paint, 3 event, 4 call("f")
        int status;
        std::vector<std::string> log_has; // substrings, oldest first
        bool logged;                      // anything written to the log at all
    } rows[] = {
        {"missing _paint", "", 2, 2, {"zorbit: ", "attempt to call global '_paint'", "stack traceback:"}, true},
        {"runtime error in _loop",
         "function _loop(t) error('boom') end",
         1,
         2,
         {"zorbit: ", "[string \"t\"]:1: boom", "stack traceback:", "[string \"loop\"]:1: in main chunk"},
         true},
        {"table error through the handler",
         "function _init() error({}) end",
         0,
         2,
         {"zorbit: ", "(no error message)"},
         true},
        {"table error from call",
         "function f() error({}) end",
         4,
         2,
         {"zorbit: ", "(error object is not a string)"},
         true},
        {"table with __tostring",
         "function _init() error(setmetatable({}, {__tostring=function() return 'custom' end})) end",
         0,
         2,
         {"zorbit: ", "custom"},
         true},
        {"nil error is silent but latches", "function _paint() error(nil) end", 2, 2, {}, false},
        {"call of a missing function", "", 4, 2, {"zorbit: ", "attempt to call a nil value"}, true},
        {"call through a global table that raises on reads",
         "setmetatable(_G, {__index = function(t, k) error('undeclared ' .. k, 2) end})",
         4,
         2,
         {"zorbit: ", "undeclared f"},
         true},
        {"failing finalizer met by the collection after an error",
         "function _init() setmetatable({}, {__gc = function() error('gc boom') end}) error('first') end",
         0,
         2,
         {"zorbit: ", "first", "zorbit: ", "error in __gc metamethod", "gc boom"},
         true},
        {"failing finalizer after an error in call",
         "function f() setmetatable({}, {__gc = function() error('gc boom') end}) error('first') end",
         4,
         2,
         {"zorbit: ", "first", "zorbit: ", "error in __gc metamethod"},
         true},
        {"number error object", "function _paint() error(42, 0) end", 2, 2, {"zorbit: ", "42"}, true},
        {"number error object from call", "function f() error(42, 0) end", 4, 2, {"zorbit: ", "42"}, true},
        {"healthy entry", "function _init() end", 0, 0, {}, false},
    };
    for (auto &row : rows) {
        Rig r;
        r.mod->script(row.script, "t");
        r.api->log.clear();
        switch (row.which) {
        case 0:
            r.mod->init();
            break;
        case 1:
            r.mod->loop(0.5f);
            break;
        case 2:
            r.mod->paint();
            break;
        case 3:
            r.mod->event(var_dict());
            break;
        case 4:
            EXPECT_EQ(r.mod->call("f", "x"), "") << row.name;
            break;
        }
        EXPECT_EQ(r.mod->status, row.status) << row.name;
        EXPECT_EQ(r.mod->is_okay(), row.status == 0) << row.name;
        std::string log = r.log_text();
        EXPECT_EQ(!log.empty(), row.logged) << row.name << ": log was\n" << log;
        size_t pos = 0;
        for (auto &want : row.log_has) {
            size_t p = log.find(want, pos);
            EXPECT_NE(p, std::string::npos) << row.name << ": expected '" << want << "' in order, log was\n" << log;
            if (p != std::string::npos)
                pos = p;
        }
        if (!row.log_has.empty()) {
            EXPECT_EQ(r.api->log.back(), "zorbit: ") << row.name << ": the program name is a line of its own";
        }
    }
}

TEST(ModsLua, LatchSkipsEntriesUntilAScriptRuns) {
    Rig r;
    r.mod->script("n = 0 function _loop(t) n = n + 1 end function _event(e) n = n + 100 end", "t");
    r.mod->loop(0.1f);
    EXPECT_EQ(r.eval("return n"), "1");
    r.mod->paint(); // no _paint: latches
    ASSERT_FALSE(r.mod->is_okay());
    r.mod->loop(0.1f);
    r.mod->event(var_dict());
    r.mod->init();
    EXPECT_EQ(r.eval("return n"), "1") << "entry points ran while latched";
    EXPECT_EQ(r.mod->call("tostring", "x"), "") << "call ran while latched";
    r.mod->script("function _paint() end", "fix");
    EXPECT_TRUE(r.mod->is_okay());
    r.mod->loop(0.1f);
    r.mod->paint();
    EXPECT_EQ(r.eval("return n"), "2");
    EXPECT_TRUE(r.mod->is_okay());
    // A syntax error in a script is reported but does not latch.
    r.mod->script("this is not lua", "bad");
    EXPECT_TRUE(r.mod->is_okay());
    EXPECT_NE(r.log_text().find("[string \"bad\"]:1:"), std::string::npos) << r.log_text();
}

TEST(ModsLua, CallResults) {
    struct Row {
        const char *name;
        const char *fn;
        std::string data;
        std::string want;
    } rows[] = {
        {"string result", "function f(s) return s .. '!' end", "ab", "ab!"},
        {"number result", "function f(s) return 42 end", "", "42"},
        {"table result gives empty", "function f(s) return {} end", "", ""},
        {"binary data keeps its bytes", "function f(s) return s end", std::string("a\0b", 3), std::string("a\0b", 3)},
    };
    for (auto &row : rows) {
        Rig r;
        r.mod->script(row.fn, "t");
        EXPECT_EQ(r.mod->call("f", row.data), row.want) << row.name;
        EXPECT_TRUE(r.mod->is_okay()) << row.name;
    }
}

TEST(ModsLua, EventTableKeepsExactBytes) {
    struct Row {
        const char *name;
        std::string text;
    } rows[] = {
        {"ends in ]=", "a]="}, {"closing sequence", "a]=]b"}, {"NUL byte", std::string("x\0y", 3)},
        {"CR LF", "\r\n"},     {"leading newline", "\nlead"}, {"long bracket", "]]"},
    };
    for (auto &row : rows) {
        Rig r;
        r.mod->script("function _event(e) got_text, got_value, got_x = e.text, e.value, e.x end", "t");
        var d = var_dict();
        d["type"] = var("custom");
        d["text"] = var(row.text);
        d["value"] = var(row.text);
        d["x"] = var(0.1234567);
        r.mod->event(d);
        ASSERT_TRUE(r.mod->is_okay()) << row.name << "\n" << r.log_text();
        EXPECT_EQ(r.eval("return got_text"), row.text) << row.name;
        EXPECT_EQ(r.eval("return got_value"), row.text) << row.name;
        EXPECT_EQ(r.eval("return got_x == 0.123457"), "true") << row.name << ": numbers keep six decimals";
    }
    // A value that is not a dict is ignored.
    Rig r;
    r.mod->script("n = 0 function _event(e) n = n + 1 end", "t");
    r.mod->event(var("not a dict"));
    r.mod->event(var_list());
    EXPECT_EQ(r.eval("return n"), "0");
    // A dict that holds itself still arrives, cut at a fixed depth.
    var self = var_dict();
    self["me"] = self;
    r.mod->event(self);
    EXPECT_EQ(r.eval("return n"), "1");
    self["me"] = var();
}

TEST(ModsLua, LoopRoundsToSixDecimals) {
    Rig r;
    r.mod->script("function _loop(t) got = t end", "t");
    r.mod->loop(0.0166667f);
    EXPECT_EQ(r.eval("return got == 0.016667"), "true") << r.eval("return got");
    r.mod->loop(1.0f);
    EXPECT_EQ(r.eval("return got"), "1");
}

TEST(ModsLua, BindingArgumentChecks) {
    struct Row {
        const char *name;
        const char *body;
        const char *want;
    } rows[] = {
        {"require without name", "require()", "false:incorrect number of arguments"},
        {"require of nil", "require(nil)", "false:null string"},
        {"require missing file", "require('no_such_script_here')", "false:file missing"},
        {"params_set one arg", "kiv_params_set('a')", "false:incorrect number of arguments"},
        {"params_set table value", "kiv_params_set('a', {})", "false:null string"},
        {"params_set table key", "kiv_params_set({}, 1)", "false:null string"},
        {"params nil stores none", "kiv_params_set('a', nil) return kiv_params_get('a')", "true:nil"},
        {"params number", "kiv_params_set('a', 5) return kiv_params_get('a') + 1", "true:6"},
        {"params number key", "kiv_params_set(7, 'x') return kiv_params_get('7')", "true:x"},
        {"params bool", "kiv_params_set('a', false) return type(kiv_params_get('a'))", "true:boolean"},
        {"params never set", "return kiv_params_get('never')", "true:nil"},
        {"params_get two args", "kiv_params_get('a', 'b')", "false:incorrect number of arguments"},
        {"file_load none", "kiv_file_load()", "false:incorrect number of arguments"},
        {"file_load three", "kiv_file_load('a', false, 1)", "false:incorrect number of arguments"},
        {"file_load missing", "return '[' .. kiv_file_load('no/such/file.txt') .. ']'", "true:[]"},
        {"file_save one", "kiv_file_save('a')", "false:incorrect number of arguments"},
        {"file_save bool data", "kiv_file_save('a', true)", "false:null string"},
        {"view_set three", "kiv_view_set(1, 2, 3)", "false:incorrect number of arguments"},
        {"image_draw four", "kiv_image_draw('a', 1, 2, 3)", "false:incorrect number of arguments"},
        {"image_draw nine", "kiv_image_draw('a', 1, 2, 3, 4, 5, 6, 7, 8)", "false:incorrect number of arguments"},
        {"image_draw function name", "kiv_image_draw(print, 1, 2, 3, 4)", "false:null string"},
        {"rect_draw four", "kiv_rect_draw(1, 2, 3, 4)", "false:incorrect number of arguments"},
        {"rect_draw lenient numbers", "kiv_rect_draw('x', {}, nil, '3', true)", "true:nil"},
        {"sample_play none", "kiv_sample_play()", "false:incorrect number of arguments"},
        {"sample_play four", "kiv_sample_play('a', 1, 2, 3)", "false:incorrect number of arguments"},
        {"stream_play three", "kiv_stream_play('a', 1, 2)", "false:incorrect number of arguments"},
        {"stream_stop none", "kiv_stream_stop()", "false:incorrect number of arguments"},
        {"font_draw four", "kiv_font_draw('f', 1, 't', 1)", "false:incorrect number of arguments"},
        {"font_draw eight", "kiv_font_draw('f', 1, 't', 1, 2, 3, 4, 5)", "false:incorrect number of arguments"},
        {"font_draw nil text", "kiv_font_draw('f', 1, nil, 1, 2)", "false:null string"},
        {"font_size two", "kiv_font_size('f', 1)", "false:incorrect number of arguments"},
        {"font_size two results", "return select('#', kiv_font_size('f', 1, 't'))", "true:2"},
        {"ext_call none", "kiv_ext_call()", "false:incorrect number of arguments"},
        {"ext_call three", "kiv_ext_call('a', 'b', 'c')", "false:incorrect number of arguments"},
        {"ext_call md5", "return kiv_ext_call('md5_digest', 'abc')", "true:900150983cd24fb0d6963f7d28e17f72"},
        {"ext_call md5 empty default", "return kiv_ext_call('md5_digest')", "true:d41d8cd98f00b204e9800998ecf8427e"},
    };
    for (auto &row : rows) {
        Rig r;
        EXPECT_EQ(r.pcall_eval(row.body), row.want) << row.name;
    }
}

TEST(ModsLua, LogTextBindingEscapesHostileText) {
    struct Row {
        const char *name, *body, *want;
    } rows[] = {
        {"controls and backslash", R"(return kiv_log_text('\27[2J\7\r\n\t\0\\'))", R"(true:\x1b[2J\x07\r\n\t\0\\)"},
        {"C1 control, stray and cut bytes", R"(return kiv_log_text('\194\155 \255 \226\130'))",
         R"(true:\xc2\x9b \xff \xe2\x82)"},
        {"UTF-8 and quotes kept", R"(return kiv_log_text('\195\169 "x" \'y\''))", "true:\xc3\xa9 \"x\" 'y'"},
        {"nil refused", "kiv_log_text(nil)", "false:null string"},
    };
    Rig r;
    for (auto &row : rows)
        EXPECT_EQ(r.pcall_eval(row.body), row.want) << row.name;
}

TEST(ModsLua, DrawBindingsQueueCommands) {
    struct Row {
        const char *name;
        const char *code;
        GCommand want;
    } rows[] = {
        {"image defaults", "kiv_image_draw('img', 1, 2, 3, 4)", {2, "img", 0, "", 1, 2, 3, 4, 0, 0xFFFFFF, 255}},
        {"image all",
         "kiv_image_draw('img', 1, 2, 3, 4, 90, 0x102030, 128.9)",
         {2, "img", 0, "", 1, 2, 3, 4, 90, 0x102030, 128}},
        {"image negative colour",
         "kiv_image_draw('img', 1, 2, 3, 4, 0, -1, -255)",
         {2, "img", 0, "", 1, 2, 3, 4, 0, -1, -255}},
        {"image huge colour keeps its low 32 bits, alpha not a number is 0",
         "kiv_image_draw('img', 1, 2, 3, 4, 0, 1e300 + 0x123456, 0/0)",
         {2, "img", 0, "", 1, 2, 3, 4, 0, 0, 0}},
        {"image colour above 32 bits wraps",
         "kiv_image_draw('img', 1, 2, 3, 4, 0, 0x100FF0000)",
         {2, "img", 0, "", 1, 2, 3, 4, 0, 0xFF0000, 255}},
        {"image name repeated and changed",
         "kiv_image_draw('a', 0, 0, 1, 1) kiv_image_draw('a', 0, 0, 1, 1) kiv_image_draw(12, 1, 2, 3, 4)",
         {2, "12", 0, "", 1, 2, 3, 4, 0, 0xFFFFFF, 255}},
        {"image ARGB tint keeps its low 32 bits",
         "kiv_image_draw('img', 1, 2, 3, 4, 0, 0xFF102030 + 0x100000000)",
         {2, "img", 0, "", 1, 2, 3, 4, 0, (int)0xFF102030, 255}},
        {"rect", "kiv_rect_draw(0xFF0000, 5, 6, -7, 8)", {4, "", 0, "", 5, 6, -7, 8, 0, 0xFF0000, 0}},
        {"rect ARGB colour",
         "kiv_rect_draw(0xFF102030, 0, 0, 1, 1)",
         {4, "", 0, "", 0, 0, 1, 1, 0, (int)0xFF102030, 0}},
        {"rect infinite colour", "kiv_rect_draw(1/0, 0, 0, 1, 1)", {4, "", 0, "", 0, 0, 1, 1, 0, 0, 0}},
        {"text ARGB colour",
         "kiv_font_draw('font', 12, 'hi', 3, 4, 0x80FF0000)",
         {3, "font", 12, "hi", 3, 4, 0, 0, 0, (int)0x80FF0000, 255}},
        {"text defaults", "kiv_font_draw('font', 12, 'hi', 3, 4)", {3, "font", 12, "hi", 3, 4, 0, 0, 0, 0xFFFFFF, 255}},
        {"text numeric string size",
         "kiv_font_draw('font', '14', 'hi', 3, 4, 0x00FF00, 7)",
         {3, "font", 14, "hi", 3, 4, 0, 0, 0, 0x00FF00, 7}},
        {"view", "kiv_view_set(10, 20, 320, 240)", {1, "", 0, "", 10, 20, 320, 240, 0, 0, 0}},
    };
    for (auto &row : rows) {
        Rig r;
        r.mod->script(row.code, "t");
        ASSERT_FALSE(r.api->batch.queue.empty()) << row.name << "\n" << r.log_text();
        const GCommand &c = r.api->batch.queue.back();
        const GCommand &w = row.want;
        EXPECT_EQ(c.type, w.type) << row.name;
        EXPECT_EQ(c.name.str(), w.name.str()) << row.name;
        EXPECT_EQ(c.text, w.text) << row.name;
        if (w.type == 3) {
            EXPECT_EQ(c.points, w.points) << row.name;
        }
        EXPECT_EQ(c.x, w.x) << row.name;
        EXPECT_EQ(c.y, w.y) << row.name;
        if (w.type != 3) {
            EXPECT_EQ(c.w, w.w) << row.name;
            EXPECT_EQ(c.h, w.h) << row.name;
        }
        if (w.type == 2) {
            EXPECT_EQ(c.rotate, w.rotate) << row.name;
        }
        if (w.type != 1) {
            EXPECT_EQ(c.color, w.color) << row.name;
        }
        if (w.type == 2 || w.type == 3) {
            EXPECT_EQ(c.alpha, w.alpha) << row.name;
        }
    }
}

TEST(ModsLua, PrintAndPendingErrors) {
    Rig r;
    r.mod->script("print('a', 'b') print(1, nil, true)", "t");
    // Every write is an entry of its own; the tab and newline writes are blank and dropped.
    std::vector<std::string> want = {"true", "nil", "1", "b", "a"};
    EXPECT_EQ(r.api->log, want) << r.log_text();
    // An error left pending outside the bindings is raised by the next binding call, then cleared.
    r.api->api_error_set("file missing");
    EXPECT_EQ(r.eval("return select(2, pcall(kiv_params_get, 'x'))"), "file missing");
    EXPECT_EQ(r.api->api_error(), 0);
    EXPECT_EQ(r.eval("return select(2, pcall(kiv_params_get, 'x'))"), "nil");
}

// A Lua error raised under a C++ frame must run that frame's destructors (the C++ build of Lua throws).
static bool _guard_destroyed = false;
struct Guard {
    ~Guard() { _guard_destroyed = true; }
};
static int _raising(lua_State *L) {
    Guard g;
    lua_pushstring(L, "raised");
    lua_error(L);
    return 0;
}

TEST(ModsLua, LuaErrorUnwindsCppFrames) {
    lua_State *L = luaL_newstate();
    ASSERT_NE(L, nullptr);
    lua_pushcfunction(L, _raising);
    _guard_destroyed = false;
    int status = lua_pcall(L, 0, 0, 0);
    EXPECT_EQ(status, LUA_ERRRUN);
    EXPECT_STREQ(lua_tostring(L, -1), "raised");
    EXPECT_TRUE(_guard_destroyed) << "the destructor of the raising frame did not run";
    lua_close(L);
}

} // namespace
