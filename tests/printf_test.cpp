// Log line formats of kiv_printf and gprint, and the float helpers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <regex>
#include <string>
#include <unistd.h>
#include <vector>

#include "gprint.h"
#include "kiv_printf.h"
#include "kiv_util.h"
#include "stdout_testutil.h"

namespace {

using stdouttest::capture_stdout;

TEST(PrintfTest, KivPrintfLineFormats) {
    const std::string big(10000, 'x');
    const std::string longfunc(400, 'f');
    struct Row {
        const char *name;
        std::function<void()> call;
        std::string want;
    } rows[] = {
        {"full prefix, directories cut", [] { _kiv_iprintf("a/b/c/file.cpp", 12, "fn", 0, "hello %d\n", 5); },
         "[file.cpp:fn:12] hello 5\n"},
        {"missing newline is added", [] { _kiv_iprintf("file.cpp", 3, "fn", 0, "x"); }, "[file.cpp:fn:3] x\n"},
        {"file without slash used whole", [] { _kiv_iprintf("name.c", 1, "g", 0, "m\n"); }, "[name.c:g:1] m\n"},
        {"backslash is not a separator", [] { _kiv_iprintf("dir\\f.cpp", 1, "g", 0, "m"); }, "[dir\\f.cpp:g:1] m\n"},
        {"empty message gives prefix and newline", [] { _kiv_iprintf("f.c", 7, "g", 0, "%s", ""); }, "[f.c:g:7] \n"},
        {"null file: no prefix", [] { _kiv_iprintf(nullptr, 7, "g", 0, "plain"); }, "plain\n"},
        {"null func: no prefix", [] { _kiv_iprintf("f.c", 7, nullptr, 0, "plain"); }, "plain\n"},
        {"line 0: no prefix", [] { _kiv_iprintf("f.c", 0, "g", 0, "plain\n"); }, "plain\n"},
        {"only one newline when present", [] { _kiv_iprintf(nullptr, 0, nullptr, 0, "two\n\n"); }, "two\n\n"},
        {"many mixed arguments survive measuring",
         [] { _kiv_iprintf("f.c", 1, "g", 0, "%s|%d|%.2f|%ld|%c|%s", "a", -3, 1.5, 1234567890123L, 'z', "end"); },
         "[f.c:g:1] a|-3|1.50|1234567890123|z|end\n"},
        {"message far beyond any fixed buffer", [&] { _kiv_iprintf("f.c", 1, "g", 0, "%s", big.c_str()); },
         "[f.c:g:1] " + big + "\n"},
        {"long function name is not cut into the message", [&] { _kiv_iprintf("f.c", 2, longfunc.c_str(), 0, "m"); },
         "[f.c:" + longfunc + ":2] m\n"},
        {"macro passes the call site", [] { kiv_printf("via macro %s", "ok"); }, ""},
    };
    for (auto &r : rows) {
        std::string got = capture_stdout(r.call);
        if (r.want.empty()) {
            // The macro's line depends on this file: check the shape.
            EXPECT_TRUE(std::regex_match(got, std::regex(R"(\[printf_test\.cpp:operator\(\):\d+\] via macro ok\n)")))
                << r.name << ": saw \"" << got << "\"";
            continue;
        }
        EXPECT_EQ(got, r.want) << r.name;
    }
}

TEST(PrintfTest, LogTextEscapes) {
    struct Row {
        const char *name;
        std::string in, want;
    } rows[] = {
        {"plain text kept", "join 127.0.0.1:7777", "join 127.0.0.1:7777"},
        {"named controls and backslash", std::string("a\r\n\t\0\\", 6), "a\\r\\n\\t\\0\\\\"},
        {"other C0 controls and DEL", "\x1b[2J\x07\x08\x7f", "\\x1b[2J\\x07\\x08\\x7f"},
        {"C1 controls, first and last", "\xc2\x80\xc2\x9b\xc2\x9f", "\\xc2\\x80\\xc2\\x9b\\xc2\\x9f"},
        {"valid UTF-8 kept, from U+00A0", "\xc2\xa0\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80",
         "\xc2\xa0\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80"},
        {"bytes never in UTF-8", "\xff\xfe\xc0\xaf", "\\xff\\xfe\\xc0\\xaf"},
        {"lone continuation byte", "a\x9b!", "a\\x9b!"},
        {"sequence cut by the end", "\xe2\x82", "\\xe2\\x82"},
        {"sequence cut by ASCII", "\xf0\x9fz", "\\xf0\\x9fz"},
        {"surrogate", "\xed\xa0\x80", "\\xed\\xa0\\x80"},
        {"past U+10FFFF", "\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"},
        {"last code point kept", "\xf4\x8f\xbf\xbf", "\xf4\x8f\xbf\xbf"},
    };
    for (auto &r : rows)
        EXPECT_EQ(kiv_log_text(r.in), r.want) << r.name;
    EXPECT_EQ(kiv_log_text(nullptr, 5), "") << "null text";
}

// A site as the engine writes one: count the event, and log what take() answers when the line is due.
TEST(PrintfTest, NoteLimitLinesOnAnInjectedClock) {
    struct Row {
        const char *name;
        bool started; // a line taken at tick 0, as the network guard does
        std::vector<uint32_t> events;
        std::string want; // "<count>@<tick>" per line, then what is still held
    } rows[] = {
        {"first at once, the rest of the second held", false, {5, 10, 500, 1004, 1005, 1006}, "1@5 4@1005 held 1"},
        {"distance across the wrap of the tick", false, {4294967000u, 200, 703, 704}, "1@4294967000 3@704 held 0"},
        {"started: the first line an interval after the start", true, {10, 999, 1000}, "3@1000 held 0"},
    };
    for (const Row &r : rows) {
        KivNoteLimit<uint32_t> lim{1000};
        if (r.started)
            lim.take(0);
        std::string got;
        for (uint32_t t : r.events)
            if (lim.note(t))
                got += kiv_format("%u@%u ", lim.take(t), t);
        EXPECT_EQ(got + "held " + std::to_string(lim.held), r.want) << r.name;
    }
}

TEST(PrintfTest, GprintComposeForms) {
    struct Row {
        const char *name;
        const char *info, *stamp, *file;
        int line;
        const char *func, *msg;
        std::string want;
    } rows[] = {
        {"empty info: empty brackets then time", "", "2026-01-02 03:04:05", "src/game.cpp", 10, "init", "start\n",
         "[][2026-01-02 03:04:05][game.cpp:init:10] start\n"},
        {"info 0: short form without time", "0", "2026-01-02 03:04:05", "src/game.cpp", 10, "init", "start",
         "[game.cpp:init:10] start\n"},
        {"other info kept", "tag", "T", "x.cpp", 1, "f", "m", "[tag][T][x.cpp:f:1] m\n"},
        {"empty message gets a newline", "", "T", "x.cpp", 1, "f", "", "[][T][x.cpp:f:1] \n"},
        {"prefix printed even with line 0", "", "T", "x.cpp", 0, "f", "m\n", "[][T][x.cpp:f:0] m\n"},
        {"null pointers print as empty", "", "T", nullptr, 4, nullptr, nullptr, "[][T][::4] \n"},
    };
    for (auto &r : rows)
        EXPECT_EQ(_gprint_compose(r.info, r.stamp, r.file, r.line, r.func, r.msg), r.want) << r.name;
}

TEST(PrintfTest, GprintWritesTimeStampedLine) {
    std::string got = capture_stdout([] { _gprint("a/b/shell.cpp", 42, "loop", 0, "n=%d %s", 7, "done"); });
    EXPECT_TRUE(
        std::regex_match(got, std::regex(R"(\[\]\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\]\[shell\.cpp:loop:42\] n=7 done\n)")))
        << "saw \"" << got << "\"";
}

TEST(PrintfTest, FloatHelpers) {
    const float nan = std::nanf("");
    struct Row {
        const char *name;
        float got, want;
    } frows[] = {
        {"abs of negative", myabs(-2.5f), 2.5f},
        {"abs of positive", myabs(3.f), 3.f},
        {"max picks larger", mymax(1.f, 2.f), 2.f},
        {"max picks first when larger", mymax(5.f, 2.f), 5.f},
        {"min picks smaller", mymin(1.f, 2.f), 1.f},
        {"min picks second when smaller", mymin(5.f, 2.f), 2.f},
        {"max with NaN first gives second", mymax(nan, 4.f), 4.f},
        {"min with NaN first gives second", mymin(nan, 4.f), 4.f},
    };
    for (auto &r : frows)
        EXPECT_EQ(r.got, r.want) << r.name;
    EXPECT_TRUE(std::signbit(myabs(-0.0f))) << "myabs(-0.0) comes back unchanged";
    EXPECT_TRUE(std::isnan(myabs(nan)));
    EXPECT_TRUE(std::isnan(mymax(4.f, nan))) << "equal or unordered values give the second argument";
    // Equal values: the second argument is returned (observable through the sign of zero).
    EXPECT_TRUE(std::signbit(mymax(0.0f, -0.0f)));
    EXPECT_FALSE(std::signbit(mymin(-0.0f, 0.0f)));

    struct IRow {
        const char *name;
        int got, want;
    } irows[] = {
        {"round 2.5 away from zero", myround(2.5f), 3},
        {"round -2.5 away from zero", myround(-2.5f), -3},
        {"round 0.49 down", myround(0.49f), 0},
        {"round -0.5 to -1", myround(-0.5f), -1},
        {"round 1.4999 to 1", myround(1.4999f), 1},
        {"round NaN to 0", myround(nan), 0},
        {"round huge saturates high", myround(1e20f), 2147483647},
        {"round huge negative saturates low", myround(-1e20f), -2147483647 - 1},
        {"sign of zero", mysign(0.0f), 0},
        {"sign of negative zero", mysign(-0.0f), 0},
        {"sign of NaN", mysign(nan), 0},
        {"sign of negative", mysign(-0.1f), -1},
        {"sign of positive", mysign(1e-30f), 1},
    };
    for (auto &r : irows)
        EXPECT_EQ(r.got, r.want) << r.name;
}

} // namespace
