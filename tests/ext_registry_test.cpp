// The extension registry: argument texts wrapped and decoded, "null" when no extension answers, and extension
// events logged and handed to a real Lua state's _event.
#include <gtest/gtest.h>

#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>

#include <string>

#include "ext_header.h"
#include "mods_testutil.h"

namespace {

TEST(ExtRegistry, CallsNobodyAnswers) {
    struct Row {
        const char *name;
        std::string action;
        std::string data;
        std::string answer;
        std::string log; // a text the log must hold, "" for a silent call
    };
    const Row rows[] = {
        {"empty argument reads element 0 of []", "nobody:knows", "", "null", "IndexError: list index out of range"},
        {"string argument", "nobody:knows", "\"abc\"", "null", ""},
        {"several values", "nobody:knows", "1,2,3", "null", ""},
        {"stray closer", "x", "]", "null", "JSON_parser_char: syntax error, byte 2"},
        {"two stray closers", "x", "]]", "null", "JSON_parser_char: syntax error, byte 2"},
        {"unclosed object", "x", "{", "null", "JSON_parser_char: syntax error, byte 2"},
        {"unclosed list", "x", "[1", "null", "JSON_parser_end: syntax error"},
        {"comment only", "x", "/* */", "null", "IndexError: list index out of range"},
    };
    Game game;
    for (const Row &row : rows) {
        testing::internal::CaptureStdout();
        std::string answer = ext_do_call(game, row.action, row.data);
        std::string log = testing::internal::GetCapturedStdout();
        EXPECT_EQ(row.answer, answer) << row.name;
        if (row.log.empty())
            EXPECT_EQ("", log) << row.name;
        else
            EXPECT_NE(std::string::npos, log.find(row.log)) << row.name << ": log was " << log;
    }
}

using Host = modstest::ModsRig;

TEST(ExtRegistry, EventsReachTheScript) {
    var no_value = var_dict();
    no_value["type"] = var("bare");
    struct Row {
        const char *name;
        var evt;
        std::string log;  // the log line after its "[file:func:line] " prefix
        std::string seen; // what _event recorded: type|value|count of fields
    };
    const Row rows[] = {
        {"number value", var_dict(var("type"), var("x"), var("value"), var(5)), "ext_do_event: x, value=5\n", "x|5|2"},
        {"string value", var_dict(var("type"), var("cb"), var("value"), var("body")), "ext_do_event: cb, value=body\n",
         "cb|body|2"},
        {"missing value", no_value, "ext_do_event: bare, value=\n", "bare|nil|1"},
        {"long body: the log keeps its start, the script gets it all",
         var_dict(var("type"), var("web"), var("value"), var(std::string(256, 'a') + "bcd")),
         "ext_do_event: web, value=" + std::string(256, 'a') + "... (259 bytes)\n",
         "web|" + std::string(256, 'a') + "bcd|2"},
        {"line ends and control bytes are escaped in the log only",
         var_dict(var("type"), var("cb"), var("value"), var(std::string("a\n$ x\r\0\t\x1b\x7f\\\x80", 12))),
         "ext_do_event: cb, value=a\\n$ x\\r\\0\\t\\x1b\\x7f\\\\\\x80\n",
         std::string("cb|a\n$ x\r\0\t\x1b\x7f\\\x80|2", 17)},
        {"a script's event name too", var_dict(var("type"), var("a\nb"), var("value"), var(1)),
         "ext_do_event: a\\nb, value=1\n", "a\nb|1|2"},
        {"cut at 256 bytes, then escaped",
         var_dict(var("type"), var("w"), var("value"), var(std::string(255, 'a') + "\n\n")),
         "ext_do_event: w, value=" + std::string(255, 'a') + "\\n... (257 bytes)\n",
         "w|" + std::string(255, 'a') + "\n\n|2"},
    };
    Host h;
    std::string setup = "function _event(e) local n = 0 for k in pairs(e) do n = n + 1 end "
                        "seen = tostring(e.type) .. '|' .. tostring(e.value) .. '|' .. n end";
    ASSERT_EQ("nil", h.eval(setup + " return nil"));
    for (const Row &row : rows) {
        h.eval("seen = 'nothing'");
        testing::internal::CaptureStdout();
        ext_do_event(h.game, row.evt);
        std::string log = testing::internal::GetCapturedStdout();
        size_t p = log.find("] ");
        EXPECT_EQ(row.log, p == std::string::npos ? log : log.substr(p + 2)) << row.name;
        EXPECT_EQ(row.seen, h.eval("return seen")) << row.name;
    }
    // The script's own call goes through the same path.
    testing::internal::CaptureStdout();
    EXPECT_EQ("null", h.eval("return kiv_ext_call('nobody:knows', ']')"));
    EXPECT_NE(std::string::npos, testing::internal::GetCapturedStdout().find("syntax error, byte 2"));
}

} // namespace
