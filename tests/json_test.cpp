// JSON push parser events, json_decode/json_encode texts and logs, and round trips against nlohmann-json.
#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "json/JSON_parser.h"
#include "kiv_json.h"
#include "kiv_var.h"
#include "locale_testutil.h"

namespace {

// Trace of parser events: "[", "]", "{", "}", "I<n>", "F<%.17g>", "S<text>", "K<text>", "null", "true", "false";
// bytes outside printable ASCII are written as \xHH.
std::string printable(const char *s, size_t n) {
    std::string out;
    for (size_t i = 0; i < n; i++) {
        unsigned char c = (unsigned char)s[i];
        if (c >= 32 && c < 127) {
            out += (char)c;
        } else {
            char b[8];
            snprintf(b, sizeof b, "\\x%02X", c);
            out += b;
        }
    }
    return out;
}

int trace_cb(void *ctx, int type, const JSON_value *v) {
    std::string &t = *static_cast<std::string *>(ctx);
    if (!t.empty())
        t += ' ';
    char b[64];
    switch (type) {
    case JSON_T_ARRAY_BEGIN:
        t += '[';
        break;
    case JSON_T_ARRAY_END:
        t += ']';
        break;
    case JSON_T_OBJECT_BEGIN:
        t += '{';
        break;
    case JSON_T_OBJECT_END:
        t += '}';
        break;
    case JSON_T_INTEGER:
        snprintf(b, sizeof b, "I%lld", (long long)v->vu.integer_value);
        t += b;
        break;
    case JSON_T_FLOAT:
        snprintf(b, sizeof b, "F%.17g", v->vu.float_value);
        t += b;
        break;
    case JSON_T_NULL:
        t += v ? "null+payload" : "null";
        break;
    case JSON_T_TRUE:
        t += "true";
        break;
    case JSON_T_FALSE:
        t += "false";
        break;
    case JSON_T_STRING:
        t += "S" + printable(v->vu.str.value, v->vu.str.length);
        break;
    case JSON_T_KEY:
        t += "K" + printable(v->vu.str.value, v->vu.str.length);
        break;
    default:
        t += "?";
    }
    return 1;
}

struct ParseResult {
    std::string trace;
    int fail_at; // byte index of the rejected character, -1 when every byte was taken
    bool done;
    int error;
};

// bulk: feed the whole text through JSON_parser_chars instead of one JSON_parser_char call per byte.
ParseResult run_parser(const std::string &text, int depth, bool comments, bool bulk = false) {
    ParseResult r{"", -1, false, 0};
    JSON_config config;
    init_JSON_config(&config);
    config.depth = depth;
    config.allow_comments = comments;
    config.callback = trace_cb;
    config.callback_ctx = &r.trace;
    JSON_parser jc = new_JSON_parser(&config);
    if (bulk) {
        size_t taken = JSON_parser_chars(jc, text.data(), text.size());
        if (taken < text.size())
            r.fail_at = (int)taken;
    } else {
        for (size_t i = 0; i < text.size(); i++) {
            if (!JSON_parser_char(jc, (unsigned char)text[i])) {
                r.fail_at = (int)i;
                break;
            }
        }
    }
    if (r.fail_at < 0)
        r.done = JSON_parser_done(jc) != 0;
    r.error = JSON_parser_get_last_error(jc);
    delete_JSON_parser(jc);
    return r;
}

std::string nested(int n, char open, char close) {
    return std::string(n, open) + std::string(n, close);
}

TEST(JsonParser, EventsAndErrors) {
    struct Row {
        const char *name;
        std::string text;
        int depth;
        bool comments;
        std::string trace;
        int fail_at;
        bool done;
        int error;
    };
    const int E0 = JSON_E_NONE;
    const Row rows[] = {
        {"empty array", "[]", 16, true, "[ ]", -1, true, E0},
        {"empty object", "{}", 16, true, "{ }", -1, true, E0},
        {"empty text", "", 16, true, "", -1, true, E0},
        {"only blanks", " \t\r\n ", 16, true, "", -1, true, E0},
        {"bare number", "1", 16, true, "", 0, false, JSON_E_INVALID_CHAR},
        {"bare string", "\"a\"", 16, true, "", 0, false, JSON_E_INVALID_CHAR},
        {"leading zero then digit", "[01]", 16, true, "[", 2, false, JSON_E_INVALID_NUMBER},
        {"point without digits", "[1.]", 16, true, "[ F1 ]", -1, true, E0},
        {"point then exponent", "[1.e2]", 16, true, "[ F100 ]", -1, true, E0},
        {"minus alone", "[-]", 16, true, "[", 2, false, JSON_E_INVALID_NUMBER},
        {"blanks around comma", "[1 , 2]", 16, true, "[ I1 I2 ]", -1, true, E0},
        {"exponent makes float", "[1e2]", 16, true, "[ F100 ]", -1, true, E0},
        {"zero with exponent", "[0e1,-0E+2]", 16, true, "[ F0 F-0 ]", -1, true, E0},
        {"negative fraction", "[-1.25e-1]", 16, true, "[ F-0.125 ]", -1, true, E0},
        {"key then digit", "{\"a\" 1}", 16, true, "{ Ka", 5, false, JSON_E_EXPECTED_COLON},
        {"comma as key", "{,}", 16, true, "{", 1, false, JSON_E_EXPECTED_KEY},
        {"array closed by brace", "[1}", 16, true, "[ I1", 2, false, JSON_E_UNBALANCED_COLLECTION},
        {"object closed by bracket", "{\"a\":1]", 16, true, "{ Ka I1", 6, false, JSON_E_UNBALANCED_COLLECTION},
        {"extra bracket after array", "[1]]", 16, true, "[ I1 ]", 3, false, JSON_E_UNBALANCED_COLLECTION},
        {"extra brace after object", "{}}", 16, true, "{ }", 2, false, JSON_E_UNBALANCED_COLLECTION},
        {"extra bracket after empty", "[]]", 16, true, "[ ]", 2, false, JSON_E_UNBALANCED_COLLECTION},
        {"comma after document", "[],", 16, true, "[ ]", 2, false, E0},
        {"unclosed array", "[1,2", 16, true, "[ I1", -1, false, JSON_E_UNBALANCED_COLLECTION},
        {"array after number", "[1,[]]", 16, true, "[ I1 [ ] ]", -1, true, E0},
        {"object after number", "[1,{}]", 16, true, "[ I1 { } ]", -1, true, E0},
        {"array after true", "[true,[]]", 16, true, "[ true [ ] ]", -1, true, E0},
        {"blank array after number", "[1, [ ] ]", 16, true, "[ I1 [ ] ]", -1, true, E0},
        {"object value then array", "{\"a\":1,\"b\":[]}", 16, true, "{ Ka I1 Kb [ ] }", -1, true, E0},
        {"keywords", "[true,false,null]", 16, true, "[ true false null ]", -1, true, E0},
        {"upper-case keyword", "[True]", 16, true, "[", 1, false, JSON_E_UNBALANCED_COLLECTION},
        {"bad keyword letter", "[nul1]", 16, true, "[", 4, false, JSON_E_INVALID_KEYWORD},
        {"sixteen levels", nested(16, '[', ']'), 16, true,
         "[ [ [ [ [ [ [ [ [ [ [ [ [ [ [ [ ] ] ] ] ] ] ] ] ] ] ] ] ] ] ] ]", -1, true, E0},
        {"seventeen levels", std::string(17, '['), 16, true, "[ [ [ [ [ [ [ [ [ [ [ [ [ [ [ [", 16, false,
         JSON_E_NESTING_DEPTH_REACHED},
        {"depth zero counts as one", "[[]]", 0, true, "[", 1, false, JSON_E_NESTING_DEPTH_REACHED},
        {"surrogate pair", "[\"\\ud83d\\ude00\"]", 16, true, "[ S\\xF0\\x9F\\x98\\x80 ]", -1, true, E0},
        {"upper-case hex", "[\"\\u00E9\\u20AC\"]", 16, true, "[ S\\xC3\\xA9\\xE2\\x82\\xAC ]", -1, true, E0},
        {"escape of zero", "[\"a\\u0000b\"]", 16, true, "[ Sa\\x00b ]", -1, true, E0},
        {"low half alone", "[\"\\ude00\"]", 16, true, "[", 7, false, JSON_E_INVALID_UNICODE_SEQUENCE},
        {"high half then quote", "[\"\\ud83d\"]", 16, true, "[", 8, false, JSON_E_INVALID_UNICODE_SEQUENCE},
        {"two high halves", "[\"\\ud83d\\ud83d\"]", 16, true, "[", 13, false, JSON_E_INVALID_UNICODE_SEQUENCE},
        {"non-hex digit", "[\"\\u12g4\"]", 16, true, "[", 6, false, JSON_E_INVALID_UNICODE_SEQUENCE},
        {"unknown escape", "[\"\\x\"]", 16, true, "[", 3, false, JSON_E_INVALID_ESCAPE_SEQUENCE},
        {"simple escapes", "[\"\\\"\\\\\\/\\b\\f\\n\\r\\t\"]", 16, true, "[ S\"\\/\\x08\\x0C\\x0A\\x0D\\x09 ]", -1,
         true, E0},
        {"comment between values", "[1/* x */,2]", 16, true, "[ I1 I2 ]", -1, true, E0},
        {"comment before document", "/* c */[]", 16, true, "[ ]", -1, true, E0},
        {"comment after document", "[]/* c */", 16, true, "[ ]", -1, true, E0},
        {"comment with stars", "[/** a **/1]", 16, true, "[ I1 ]", -1, true, E0},
        {"comment in key position", "{/*k*/\"a\"/*c*/:/*v*/1}", 16, true, "{ Ka I1 }", -1, true, E0},
        {"comment after exponent", "[1e2/* x */]", 16, true, "[", 4, false, JSON_E_INVALID_NUMBER},
        {"comment after point", "[1./* x */]", 16, true, "[", 3, false, JSON_E_INVALID_CHAR},
        {"comment ends true", "[tru/* x */]", 16, true, "[ true ]", -1, true, E0},
        {"comment ends false", "[fals/* x */]", 16, true, "[ false ]", -1, true, E0},
        {"comment ends null", "[nul/* x */]", 16, true, "[ null ]", -1, true, E0},
        {"comment early in keyword", "[tr/* x */]", 16, true, "[", 3, false, JSON_E_INVALID_KEYWORD},
        {"comment not allowed", "[1/* x */]", 16, false, "[", 2, false, E0},
        {"unfinished comment", "[]/* x", 16, true, "[ ]", -1, false, JSON_E_UNBALANCED_COLLECTION},
        {"raw line feed in string", "[\"a\nb\"]", 16, true, "[", 3, false, JSON_E_INVALID_CHAR},
        {"control byte in string", std::string("[\"a\x01\"]"), 16, true, "[", 3, false, JSON_E_INVALID_CHAR},
        {"high byte in string", "[\"\xC8\"]", 16, true, "[ S\\xC8 ]", -1, true, E0},
        {"high byte outside string", "[\xC8]", 16, true, "[", 1, false, JSON_E_UNBALANCED_COLLECTION},
        {"32-bit overflow is exact", "[2147483648,-2147483649]", 16, true, "[ I2147483648 I-2147483649 ]", -1, true,
         E0},
        {"64-bit limits", "[9223372036854775807,-9223372036854775808]", 16, true,
         "[ I9223372036854775807 I-9223372036854775808 ]", -1, true, E0},
        {"beyond 64 bits becomes float", "[9223372036854775808,-99999999999999999999]", 16, true,
         "[ F9.2233720368547758e+18 F-1e+20 ]", -1, true, E0},
        {"float overflow", "[1e999,-1e999,1e-999]", 16, true, "[ Finf F-inf F0 ]", -1, true, E0},
        {"duplicate keys reported", "{\"a\":1,\"a\":2}", 16, true, "{ Ka I1 Ka I2 }", -1, true, E0},
        {"key then comma", "{\"a\",1}", 16, true, "{ Ka", 4, false, JSON_E_EXPECTED_COLON},
        {"missing value", "{\"a\":}", 16, true, "{ Ka", 5, false, JSON_E_INVALID_CHAR},
        {"trailing comma in array", "[1,]", 16, true, "[ I1", 3, false, JSON_E_INVALID_CHAR},
        {"trailing comma in object", "{\"a\":1,}", 16, true, "{ Ka I1", 7, false, JSON_E_EXPECTED_KEY},
        {"nul byte", std::string("[\0]", 3), 16, true, "[", 1, false, JSON_E_UNBALANCED_COLLECTION},
    };
    for (const Row &row : rows) {
        for (bool bulk : {false, true}) {
            std::string name = std::string(row.name) + (bulk ? " (bulk)" : "");
            ParseResult r = run_parser(row.text, row.depth, row.comments, bulk);
            EXPECT_EQ(row.trace, r.trace) << name;
            EXPECT_EQ(row.fail_at, r.fail_at) << name;
            EXPECT_EQ(row.done, r.done) << name;
            EXPECT_EQ(row.error, r.error) << name;
        }
    }
}

TEST(JsonParser, DepthLimitsAndStorage) {
    struct Row {
        const char *name;
        int depth;
        int levels;
        bool accepted;
    };
    const Row rows[] = {
        {"depth 1 takes one", 1, 1, true},       {"depth 1 refuses two", 1, 2, false},
        {"depth 127 takes 127", 127, 127, true}, {"depth 127 refuses 128", 127, 128, false},
        {"depth 128 takes 128", 128, 128, true}, {"depth 128 refuses 129", 128, 129, false},
        {"depth 500 takes 500", 500, 500, true}, {"depth 500 refuses 501", 500, 501, false},
        {"no limit takes 5000", -1, 5000, true},
    };
    for (const Row &row : rows) {
        ParseResult r = run_parser(nested(row.levels, '[', ']'), row.depth, false);
        EXPECT_EQ(row.accepted, r.done) << row.name << " error " << r.error;
        if (!row.accepted) {
            EXPECT_EQ(JSON_E_NESTING_DEPTH_REACHED, r.error) << row.name;
        }
    }
    // A token longer than the inline buffer moves to the heap and comes back whole.
    std::string big(10000, 'x');
    for (bool bulk : {false, true}) {
        ParseResult r = run_parser("[\"" + big + "\", 12345678901]", 16, false, bulk);
        EXPECT_EQ("[ S" + big + " I12345678901 ]", r.trace) << (bulk ? "bulk" : "per byte");
        EXPECT_TRUE(r.done);
    }

    // A reset parser takes a new text with the storage it has.
    JSON_parser jc = new_JSON_parser(nullptr);
    ASSERT_NE(nullptr, jc);
    for (char c : std::string("[1}"))
        JSON_parser_char(jc, c);
    EXPECT_EQ(JSON_E_UNBALANCED_COLLECTION, JSON_parser_get_last_error(jc));
    EXPECT_NE(0, JSON_parser_reset(jc));
    int ok = 1;
    for (char c : std::string("{\"a\":[1]}"))
        ok = ok && JSON_parser_char(jc, c);
    EXPECT_TRUE(ok && JSON_parser_done(jc));
    delete_JSON_parser(jc);
    EXPECT_EQ(0, JSON_parser_reset(nullptr));
    EXPECT_EQ(0, JSON_parser_char(nullptr, '['));
    EXPECT_EQ(0u, JSON_parser_chars(nullptr, "[]", 2));
    EXPECT_EQ(0, JSON_parser_done(nullptr));
    EXPECT_EQ(JSON_E_NONE, JSON_parser_get_last_error(nullptr));
    delete_JSON_parser(nullptr);
}

TEST(JsonParser, WhiteSpaceStrings) {
    struct Row {
        const char *text;
        int expected;
    };
    const Row rows[] = {{"", 1}, {" \t\r\n", 1}, {" x ", 0}, {"\v", 0}, {nullptr, 0}};
    for (const Row &row : rows)
        EXPECT_EQ(row.expected, JSON_parser_is_legal_white_space_string(row.text) != 0)
            << (row.text ? row.text : "(null)");
}

struct Decoded {
    int status;
    std::string encoded;
    std::string log;
};

Decoded decode_logged(const std::string &text, int length, var start = var()) {
    var out = start;
    testing::internal::CaptureStdout();
    int status = json_decode(out, text.data(), length);
    std::string log = testing::internal::GetCapturedStdout();
    return Decoded{status, json_encode(out), log};
}

// The log line's text after its "[file:func:line] " prefix.
std::string log_text(const std::string &log) {
    size_t p = log.find("] ");
    return p == std::string::npos ? log : log.substr(p + 2);
}

TEST(JsonDecode, TreesStatusAndLog) {
    struct Row {
        const char *name;
        std::string text;
        int length; // -1: the whole text
        int status;
        std::string encoded;
        std::string log;
    };
    const std::string syntax0 = "JSON_parser_char: syntax error, byte 0\n";
    const std::string end = "JSON_parser_end: syntax error\n";
    const Row rows[] = {
        {"keys sorted, numbers, null", "{\"b\":1,\"a\":[true,null,2.5,\"s\"]}", -1, 0,
         "{\"a\":[true,null,2.5,\"s\"],\"b\":1}", ""},
        {"utf-8 kept", "[\"h\xC3\xA9llo \xE2\x82\xAC\"]", -1, 0, "[\"h\xC3\xA9llo \xE2\x82\xAC\"]", ""},
        {"zero byte ends input", std::string("[1]\0garbage", 11), -1, 0, "[1]", ""},
        {"zero byte inside string", std::string("[\"ab\0cd\"]", 9), -1, 1, "[]", end},
        {"length cuts text", "[1,2,3]", 3, 1, "[1]", end},
        {"empty text keeps value", "", -1, 0, "7", ""},
        {"blanks keep value", "  \n\t", -1, 0, "7", ""},
        {"comment only keeps value", "/* nothing */", -1, 0, "7", ""},
        {"bare number", "1", -1, 1, "7", syntax0},
        {"bare string", "\"a\"", -1, 1, "7", syntax0},
        {"unclosed list keeps first", "[1,2", -1, 1, "[1]", end},
        {"error inside keeps partial", "[1,{\"a\":tx", -1, 1, "[1,{}]", "JSON_parser_char: syntax error, byte 9\n"},
        {"duplicate key keeps later", "{\"k\":1,\"k\":[2]}", -1, 0, "{\"k\":[2]}", ""},
        {"extra bracket", "[1]]", -1, 1, "[1]", "JSON_parser_char: syntax error, byte 3\n"},
        {"extra brace", "{}}", -1, 1, "{}", "JSON_parser_char: syntax error, byte 2\n"},
        {"registry wrap of a closer", "[]]", -1, 1, "[]", "JSON_parser_char: syntax error, byte 2\n"},
        {"list after number", "[1,[]]", -1, 0, "[1,[]]", ""},
        {"dict after number", "[1,{}]", -1, 0, "[1,{}]", ""},
        {"list after bool", "[true,[]]", -1, 0, "[true,[]]", ""},
        {"nested dicts", "{\"a\":{\"b\":{\"c\":[1,2,{\"d\":null}]}}}", -1, 0,
         "{\"a\":{\"b\":{\"c\":[1,2,{\"d\":null}]}}}", ""},
        {"empty key", "{\"\":1}", -1, 0, "{\"\":1}", ""},
        {"key cut at zero", "{\"a\\u0000b\":1}", -1, 0, "{\"a\":1}", ""},
        {"string cut at zero", "[\"a\\u0000b\"]", -1, 0, "[\"a\"]", ""},
        {"integers as numbers", "[-0,3000000000,-7]", -1, 0, "[0,3000000000.0,-7]", ""},
        {"overflow written as null", "[1e999]", -1, 0, "[null]", ""},
        {"seventeen levels refused", std::string(17, '[') + std::string(17, ']'), -1, 1, nested(16, '[', ']'),
         "JSON_parser_char: syntax error, byte 16\n"},
    };
    for (const Row &row : rows) {
        int length = row.length < 0 ? (int)row.text.size() : row.length;
        Decoded d = decode_logged(row.text, length, var(7));
        EXPECT_EQ(row.status, d.status) << row.name;
        EXPECT_EQ(row.encoded, d.encoded) << row.name;
        EXPECT_EQ(row.log, log_text(d.log)) << row.name << ": full log " << d.log;
    }
    // The string form answers none when nothing was decoded.
    EXPECT_EQ(VAR_NONE, json_decode(std::string("oops")).__type__());
    var v = json_decode(std::string("{\"b\":1}"));
    EXPECT_EQ(VAR_NUMBER, v["b"].__type__());
    EXPECT_EQ(1.0, v["b"].__num__());
}

TEST(JsonEncode, Texts) {
    var self_list = var_list();
    list_append(self_list, var(1));
    list_append(self_list, self_list);
    var self_dict = var_dict();
    self_dict.__set__("me", self_dict);
    self_dict.__set__("n", var(2));
    var shared = var_list();
    list_append(shared, var(3));
    var twice = var(VAR_LIST, 2, shared, shared); // the same list twice is no cycle
    var deep = var_list();
    var inner = deep;
    for (int i = 0; i < 2000; i++) {
        var next = var_list();
        list_append(inner, next);
        inner = next;
    }
    std::string deep_text = json_encode(deep);
    var non_finite = var(VAR_LIST, 3, var(INFINITY), var(-INFINITY), var(NAN));

    struct Row {
        const char *name;
        var value;
        std::string text;
    };
    const Row rows[] = {
        {"none", var(), "null"},
        {"dict in key order", var_dict(var("b"), var("x"), var("a"), var(1)), "{\"a\":1,\"b\":\"x\"}"},
        {"control escapes", var(std::string("a\nb\x01\x1f")), "\"a\\nb\\u0001\\u001f\""},
        {"named escapes", var(std::string("\b\t\n\f\r\"\\")), "\"\\b\\t\\n\\f\\r\\\"\\\\\""},
        {"slash, DEL and high bytes raw", var(std::string("/\x7f\xC3\xA9")), "\"/\x7f\xC3\xA9\""},
        {"zero byte cuts string", var(std::string("ab\0cd", 5)), "\"ab\""},
        {"empty list", var_list(), "[]"},
        {"empty dict", var_dict(), "{}"},
        {"bools", var(VAR_LIST, 2, var(true), var(false)), "[true,false]"},
        {"number texts", var(VAR_LIST, 4, var(0.5), var(-3), var(1e10), var(0.1234567)),
         "[0.5,-3,10000000000.0,0.123457]"},
        {"int range edges",
         var(VAR_LIST, 6, var(2147483647.0), var(-2147483648.0), var(2147483648.0), var(-2147483649.0), var(-0.0),
             var(-1e-7)),
         "[2147483647,-2147483648,2147483648.0,-2147483649.0,0,-0.0]"},
        {"non-finite as null", non_finite, "[null,null,null]"},
        {"list holding itself", self_list, "[1,null]"},
        {"dict holding itself", self_dict, "{\"me\":null,\"n\":2}"},
        {"same list twice", twice, "[[3],[3]]"},
        {"escaped key", var_dict(var("a\"b"), var(1)), "{\"a\\\"b\":1}"},
    };
    for (const Row &row : rows)
        EXPECT_EQ(row.text, json_encode(row.value)) << row.name;

    // Two thousand levels are cut at the cap: the text stays balanced and decodes no deeper than its limit.
    size_t opens = std::count(deep_text.begin(), deep_text.end(), '[');
    size_t closes = std::count(deep_text.begin(), deep_text.end(), ']');
    EXPECT_EQ(opens, closes);
    EXPECT_EQ(512u, opens);
    EXPECT_NE(std::string::npos, deep_text.find("[null]"));
    // Break the cycles so the values are released.
    self_list.__set__(var(1), var());
    self_dict.__set__("me", var());
}

// glibc has no comma locale preinstalled here; build one from the Debian locale sources into the build dir.
bool set_comma_locale() {
    return localetest::set_de_locale("json_test_locale", "UTF-8");
}

TEST(JsonLocale, NumbersIgnoreTheCLocale) {
    ASSERT_TRUE(set_comma_locale()) << "could not build or set the de_DE.UTF-8 locale (Debian package locales)";
    char probe[16];
    snprintf(probe, sizeof probe, "%.1f", 0.5);
    ASSERT_STREQ("0,5", probe) << "the locale did not switch the decimal point";
    struct Row {
        const char *name;
        std::string text;
        std::string encoded;
    };
    const Row rows[] = {
        {"fraction", "[0.5]", "[0.5]"},
        {"exponent", "[2.5e1,1E-1]", "[25,0.1]"},
        {"comma stays a separator", "[1,5]", "[1,5]"},
        {"nested", "{\"x\":[-1.75]}", "{\"x\":[-1.75]}"},
    };
    for (const Row &row : rows) {
        var v = json_decode(row.text);
        EXPECT_EQ(row.encoded, json_encode(v)) << row.name;
    }
    setlocale(LC_ALL, "C");
}

// --- Round trips against nlohmann-json over generated documents inside the grammar both accept.

struct Gen {
    std::mt19937 rng;
    bool exact_numbers; // numbers whose "%f" text is exact, so an encode loses nothing
    explicit Gen(unsigned seed, bool exact) : rng(seed), exact_numbers(exact) {}

    int pick(int n) { return (int)(rng() % (unsigned)n); }
    std::string blank() {
        static const char *b[] = {"", "", "", " ", "\n", "\t", " \r\n "};
        return b[pick(7)];
    }
    std::string number() {
        char buf[64];
        if (exact_numbers) {
            if (pick(2))
                snprintf(buf, sizeof buf, "%d", (int)(rng() % 2000001) - 1000000);
            else
                snprintf(buf, sizeof buf, "%.6f", ((int)(rng() % 200001) - 100000) / 64.0);
            return buf;
        }
        switch (pick(6)) {
        case 0:
            snprintf(buf, sizeof buf, "%lld", (long long)rng() - (long long)rng());
            break;
        case 1:
            snprintf(buf, sizeof buf, "%lld", (long long)(((unsigned long long)rng() << 32) | rng()));
            break;
        case 2:
            snprintf(buf, sizeof buf, "%.17g", std::ldexp((double)rng(), pick(200) - 100));
            break;
        case 3:
            snprintf(buf, sizeof buf, "-%u.%ue%c%d", (unsigned)(rng() % 100), (unsigned)(rng() % 1000), "+-"[pick(2)],
                     pick(300));
            break;
        case 4:
            snprintf(buf, sizeof buf, "%uE%d", (unsigned)(rng() % 10), pick(20));
            break;
        default:
            snprintf(buf, sizeof buf, "0.%06u", (unsigned)(rng() % 1000000));
        }
        return buf;
    }
    std::string string() {
        static const char *pieces[] = {"a",
                                       "Z",
                                       " ",
                                       "\\n",
                                       "\\\"",
                                       "\\\\",
                                       "\\/",
                                       "\\t",
                                       "\\u00e9",
                                       "\\u20AC",
                                       "\\ud83d\\ude00",
                                       "\xC3\xA9",
                                       "\xE2\x82\xAC",
                                       "\xF0\x9F\x98\x80",
                                       "\\u001f",
                                       "\\b",
                                       "key",
                                       "0"};
        std::string s = "\"";
        int n = pick(8);
        for (int i = 0; i < n; i++)
            s += pieces[pick(18)];
        return s + "\"";
    }
    std::string value(int depth) {
        int k = pick(depth < 15 ? 9 : 6);
        switch (k) {
        case 0:
            return "null";
        case 1:
            return pick(2) ? "true" : "false";
        case 2:
        case 3:
            return number();
        case 4:
        case 5:
            return string();
        default:
            return container(depth + 1);
        }
    }
    std::string container(int depth) {
        int n = pick(5);
        std::string s;
        if (pick(2)) {
            s = "[" + blank();
            for (int i = 0; i < n; i++)
                s += (i ? "," + blank() : "") + value(depth) + blank();
            return s + "]";
        }
        s = "{" + blank();
        for (int i = 0; i < n; i++) {
            // Keys unique within an object: the two decoders need not agree on duplicates here.
            s += (i ? "," + blank() : "") + "\"k" + std::to_string(i) + "\"" + blank() + ":" + blank() + value(depth) +
                 blank();
        }
        return s + "}";
    }
};

// Compares our tree with nlohmann's; a mismatch is described in `why`.
bool same_value(const var &v, const nlohmann::json &j, std::string &why, const std::string &at = "$") {
    switch (j.type()) {
    case nlohmann::json::value_t::null:
        if (v.__type__() == VAR_NONE)
            return true;
        break;
    case nlohmann::json::value_t::boolean:
        if (v.__type__() == VAR_BOOL && v.__bool__() == j.get<bool>())
            return true;
        break;
    case nlohmann::json::value_t::number_integer:
    case nlohmann::json::value_t::number_unsigned:
    case nlohmann::json::value_t::number_float: {
        double d = j.get<double>();
        if (v.__type__() == VAR_NUMBER && (v.__num__() == d || (std::isnan(d) && std::isnan(v.__num__()))))
            return true;
        break;
    }
    case nlohmann::json::value_t::string:
        if (v.__type__() == VAR_STRING && v.__str__() == j.get<std::string>())
            return true;
        break;
    case nlohmann::json::value_t::array:
        if (v.__type__() == VAR_LIST && v.__len__() == (int)j.size()) {
            for (size_t i = 0; i < j.size(); i++)
                if (!same_value(v[(int)i], j[i], why, at + "[" + std::to_string(i) + "]"))
                    return false;
            return true;
        }
        break;
    case nlohmann::json::value_t::object:
        if (v.__type__() == VAR_DICT && v.__len__() == (int)j.size()) {
            for (auto it = j.begin(); it != j.end(); ++it) {
                if (!v.__has__(var(it.key()))) {
                    why = at + ": missing key " + it.key();
                    return false;
                }
                if (!same_value(v[it.key()], it.value(), why, at + "." + it.key()))
                    return false;
            }
            return true;
        }
        break;
    default:
        break;
    }
    if (why.empty())
        why = at + ": ours " + json_encode(v) + " theirs " + j.dump();
    return false;
}

TEST(JsonRoundTrip, AgreesWithNlohmann) {
    struct Row {
        const char *name;
        unsigned seed;
        bool exact;
        int docs;
    };
    const Row rows[] = {{"any numbers, decode only", 1, false, 1500}, {"exact numbers, encode too", 2, true, 1500}};
    for (const Row &row : rows) {
        Gen g(row.seed, row.exact);
        for (int n = 0; n < row.docs; n++) {
            std::string text = g.blank() + g.container(1) + g.blank();
            var ours;
            testing::internal::CaptureStdout();
            int status = json_decode(ours, text.data(), (int)text.size());
            std::string log = testing::internal::GetCapturedStdout();
            nlohmann::json theirs = nlohmann::json::parse(text, nullptr, false);
            ASSERT_FALSE(theirs.is_discarded()) << row.name << ": generator made invalid JSON " << text;
            ASSERT_EQ(0, status) << row.name << ": rejected " << text << " log " << log;
            std::string why;
            ASSERT_TRUE(same_value(ours, theirs, why)) << row.name << ": " << why << " in " << text;

            // Their text through our decoder, our text through theirs.
            var back = json_decode(theirs.dump());
            why.clear();
            ASSERT_TRUE(same_value(back, theirs, why)) << row.name << ": their dump " << why;
            if (row.exact) {
                std::string enc = json_encode(ours);
                nlohmann::json again = nlohmann::json::parse(enc, nullptr, false);
                ASSERT_FALSE(again.is_discarded()) << row.name << ": they reject our text " << enc;
                why.clear();
                ASSERT_TRUE(same_value(ours, again, why)) << row.name << ": our text " << why << " in " << enc;
            }

            // Structural damage: both must reject, or both accept the same value.
            static const char structural[] = "[]{},:\"";
            std::string bad = text;
            size_t p = g.rng() % bad.size();
            size_t tries = 0;
            while (!strchr(structural, bad[p]) && tries++ < bad.size())
                p = (p + 1) % bad.size();
            if (g.pick(2))
                bad.erase(p, 1);
            else
                bad[p] = structural[g.pick(7)];
            var ours_bad;
            testing::internal::CaptureStdout();
            int bad_status = json_decode(ours_bad, bad.data(), (int)bad.size());
            testing::internal::GetCapturedStdout();
            nlohmann::json theirs_bad = nlohmann::json::parse(bad, nullptr, false);
            bool they_accept = !theirs_bad.is_discarded() && (theirs_bad.is_array() || theirs_bad.is_object());
            ASSERT_EQ(they_accept, bad_status == 0) << row.name << ": acceptance differs on " << bad;
            if (they_accept) {
                why.clear();
                ASSERT_TRUE(same_value(ours_bad, theirs_bad, why)) << row.name << ": " << why << " in " << bad;
            }
        }
    }
}

TEST(JsonRoundTrip, BigDocumentsAgreeWithNlohmann) {
    // Past a few KiB the decoder shares repeated scalars; the values must stay the same, -0 apart from 0.
    for (unsigned seed : {11u, 12u, 13u}) {
        Gen g(seed, false);
        std::string text = "[-0.0,0,-0,0.0,\"a\",\"a\",true,true";
        while (text.size() < 200000)
            text += "," + g.container(2);
        text += ",-0.0,0]";
        var ours;
        ASSERT_EQ(0, json_decode(ours, text.data(), (int)text.size())) << "seed " << seed;
        nlohmann::json theirs = nlohmann::json::parse(text, nullptr, false);
        ASSERT_FALSE(theirs.is_discarded());
        std::string why;
        EXPECT_TRUE(same_value(ours, theirs, why)) << "seed " << seed << ": " << why;
        int n = ours.__len__();
        struct Row {
            const char *name;
            int index;
            bool negative_zero;
        };
        const Row rows[] = {{"-0.0", 0, true},          {"0", 1, false},         {"-0", 2, false}, {"0.0", 3, false},
                            {"last -0.0", n - 2, true}, {"last 0", n - 1, false}};
        for (const Row &row : rows) {
            EXPECT_EQ(0.0, ours[row.index].__num__()) << row.name;
            EXPECT_EQ(row.negative_zero, std::signbit(ours[row.index].__num__())) << row.name;
        }
    }
}

} // namespace
