// The extension registry's call path: argument texts wrapped and decoded, "null" when no extension answers.
#include <gtest/gtest.h>

#include <string>

#include "ext_header.h"

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

} // namespace
