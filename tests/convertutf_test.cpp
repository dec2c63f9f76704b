// UTF-8 / UTF-16 / UTF-32 conversion: results, how far each pointer moved, what was written.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "convertutf/ConvertUTF.h"

namespace {

struct Utf8To32Row {
    const char *name;
    std::string in;
    size_t room; // target capacity in code points
    ConversionFlags flags;
    ConversionResult result;
    size_t consumed; // source bytes the pointer moved past
    std::vector<UTF32> out;
};

TEST(ConvertUTF, Utf8ToUtf32) {
    const Utf8To32Row rows[] = {
        {"empty source", "", 4, lenientConversion, conversionOK, 0, {}},
        {"ascii", "Ab1", 4, lenientConversion, conversionOK, 3, {'A', 'b', '1'}},
        {"two-byte e acute", "\xC3\xA9", 4, lenientConversion, conversionOK, 2, {0xE9}},
        {"euro sign", "\xE2\x82\xAC", 4, strictConversion, conversionOK, 3, {0x20AC}},
        {"four-byte emoji", "\xF0\x9F\x98\x80", 4, strictConversion, conversionOK, 4, {0x1F600}},
        {"largest legal", "\xF4\x8F\xBF\xBF", 4, strictConversion, conversionOK, 4, {0x10FFFF}},
        {"overlong C0 80 lenient", "a\xC0\x80", 4, lenientConversion, sourceIllegal, 1, {'a'}},
        {"overlong C0 80 strict", "\xC0\x80", 4, strictConversion, sourceIllegal, 0, {}},
        {"encoded surrogate lenient", "\xED\xA0\x80", 4, lenientConversion, sourceIllegal, 0, {}},
        {"encoded surrogate strict", "\xED\xA0\x80", 4, strictConversion, sourceIllegal, 0, {}},
        {"above U+10FFFF", "\xF4\x90\x80\x80", 4, lenientConversion, sourceIllegal, 0, {}},
        {"five-byte lead", "\xF8\x88\x80\x80\x80", 4, lenientConversion, sourceIllegal, 0, {}},
        {"stray continuation byte", "x\x80y", 4, lenientConversion, sourceIllegal, 1, {'x'}},
        {"bad continuation", "\xC3\x41", 4, lenientConversion, sourceIllegal, 0, {}},
        {"truncated euro", "\xE2\x82", 4, lenientConversion, sourceExhausted, 0, {}},
        {"truncated after text", "ab\xF0\x9F\x98", 4, lenientConversion, sourceExhausted, 2, {'a', 'b'}},
        {"target for one of two", "\xC3\xA9Z", 1, lenientConversion, targetExhausted, 2, {0xE9}},
        {"no target room", "Z", 0, lenientConversion, targetExhausted, 0, {}},
    };
    for (const auto &row : rows) {
        std::vector<UTF32> buf(row.room + 1, 0xDEADBEEF);
        const UTF8 *src = reinterpret_cast<const UTF8 *>(row.in.data());
        const UTF8 *src0 = src;
        UTF32 *dst = buf.data();
        ConversionResult res = ConvertUTF8toUTF32(&src, src + row.in.size(), &dst, buf.data() + row.room, row.flags);
        EXPECT_EQ(res, row.result) << row.name;
        EXPECT_EQ((size_t)(src - src0), row.consumed) << row.name;
        std::vector<UTF32> got(buf.data(), dst);
        EXPECT_EQ(got, row.out) << row.name;
        EXPECT_EQ(buf[row.room], 0xDEADBEEFu) << row.name << ": wrote past the target end";
    }
}

struct Utf32To8Row {
    const char *name;
    std::vector<UTF32> in;
    size_t room; // target capacity in bytes
    ConversionFlags flags;
    ConversionResult result;
    size_t consumed;
    std::string out;
};

TEST(ConvertUTF, Utf32ToUtf8) {
    const Utf32To8Row rows[] = {
        {"mixed widths",
         {'a', 0xE9, 0x20AC, 0x1F600},
         16,
         strictConversion,
         conversionOK,
         4,
         "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
        {"surrogate strict", {'a', 0xD800}, 16, strictConversion, sourceIllegal, 1, "a"},
        {"surrogate lenient passes", {0xD800}, 16, lenientConversion, conversionOK, 1, "\xED\xA0\x80"},
        {"above U+10FFFF gives FFFD",
         {0x110000, 'b'},
         16,
         lenientConversion,
         sourceIllegal,
         2,
         "\xEF\xBF\xBD"
         "b"},
        {"target too small for euro", {'a', 0x20AC}, 3, strictConversion, targetExhausted, 1, "a"},
    };
    for (const auto &row : rows) {
        std::vector<UTF8> buf(row.room + 1, 0xEE);
        const UTF32 *src = row.in.data();
        UTF8 *dst = buf.data();
        ConversionResult res =
            ConvertUTF32toUTF8(&src, row.in.data() + row.in.size(), &dst, buf.data() + row.room, row.flags);
        EXPECT_EQ(res, row.result) << row.name;
        EXPECT_EQ((size_t)(src - row.in.data()), row.consumed) << row.name;
        EXPECT_EQ(std::string(buf.data(), dst), row.out) << row.name;
        EXPECT_EQ(buf[row.room], 0xEE) << row.name << ": wrote past the target end";
    }
}

struct Utf16Row {
    const char *name;
    std::vector<UTF16> in;
    ConversionFlags flags;
    ConversionResult result;
    size_t consumed;
    std::vector<UTF32> out;
};

TEST(ConvertUTF, Utf16ToUtf32AndBack) {
    const Utf16Row rows[] = {
        {"bmp", {'h', 0xE9}, strictConversion, conversionOK, 2, {'h', 0xE9}},
        {"pair", {0xD83D, 0xDE00}, strictConversion, conversionOK, 2, {0x1F600}},
        {"high surrogate at end", {'a', 0xD83D}, strictConversion, sourceExhausted, 1, {'a'}},
        {"unpaired high strict", {0xD83D, 'a'}, strictConversion, sourceIllegal, 0, {}},
        {"unpaired high lenient", {0xD83D, 'a'}, lenientConversion, conversionOK, 2, {0xD83D, 'a'}},
        {"lone low strict", {0xDE00}, strictConversion, sourceIllegal, 0, {}},
    };
    for (const auto &row : rows) {
        std::vector<UTF32> buf(8);
        const UTF16 *src = row.in.data();
        UTF32 *dst = buf.data();
        ConversionResult res =
            ConvertUTF16toUTF32(&src, row.in.data() + row.in.size(), &dst, buf.data() + buf.size(), row.flags);
        EXPECT_EQ(res, row.result) << row.name;
        EXPECT_EQ((size_t)(src - row.in.data()), row.consumed) << row.name;
        EXPECT_EQ(std::vector<UTF32>(buf.data(), dst), row.out) << row.name;
        if (row.result != conversionOK || row.flags != strictConversion)
            continue;
        // Whatever converted cleanly in strict mode comes back unchanged.
        std::vector<UTF16> back(8);
        const UTF32 *s32 = row.out.data();
        UTF16 *d16 = back.data();
        EXPECT_EQ(ConvertUTF32toUTF16(&s32, row.out.data() + row.out.size(), &d16, back.data() + back.size(),
                                      strictConversion),
                  conversionOK)
            << row.name;
        EXPECT_EQ(std::vector<UTF16>(back.data(), d16), row.in) << row.name;
    }
}

TEST(ConvertUTF, Utf8ToUtf16Boundaries) {
    struct Row {
        const char *name;
        std::string in;
        size_t room;
        ConversionFlags flags;
        ConversionResult result;
        size_t consumed;
        std::vector<UTF16> out;
    };
    const Row rows[] = {
        {"pair fits", "\xF0\x9F\x98\x80", 2, strictConversion, conversionOK, 4, {0xD83D, 0xDE00}},
        {"pair needs two units", "a\xF0\x9F\x98\x80", 2, strictConversion, targetExhausted, 1, {'a'}},
        {"euro", "\xE2\x82\xAC", 1, strictConversion, conversionOK, 3, {0x20AC}},
    };
    for (const auto &row : rows) {
        std::vector<UTF16> buf(row.room + 1, 0xBEEF);
        const UTF8 *src = reinterpret_cast<const UTF8 *>(row.in.data());
        const UTF8 *src0 = src;
        UTF16 *dst = buf.data();
        ConversionResult res = ConvertUTF8toUTF16(&src, src + row.in.size(), &dst, buf.data() + row.room, row.flags);
        EXPECT_EQ(res, row.result) << row.name;
        EXPECT_EQ((size_t)(src - src0), row.consumed) << row.name;
        EXPECT_EQ(std::vector<UTF16>(buf.data(), dst), row.out) << row.name;
        EXPECT_EQ(buf[row.room], 0xBEEF) << row.name << ": wrote past the target end";
    }
}

TEST(ConvertUTF, Utf16ToUtf8) {
    const std::vector<UTF16> in = {'a', 0xE9, 0xD83D, 0xDE00};
    std::vector<UTF8> buf(5);
    const UTF16 *src = in.data();
    UTF8 *dst = buf.data();
    // Room for 'a' and the e acute only: the pair must not be half written.
    EXPECT_EQ(ConvertUTF16toUTF8(&src, in.data() + in.size(), &dst, buf.data() + 5, strictConversion), targetExhausted);
    EXPECT_EQ(src - in.data(), 2);
    EXPECT_EQ(std::string(buf.data(), dst), "a\xC3\xA9");
}

TEST(ConvertUTF, LegalSequence) {
    struct Row {
        const char *name;
        std::string in;
        bool legal;
    };
    const Row rows[] = {
        {"ascii", "A", true},
        {"two bytes", "\xC3\xA9", true},
        {"three bytes", "\xE2\x82\xAC", true},
        {"four bytes", "\xF0\x9F\x98\x80", true},
        {"E0 needs A0 or more", "\xE0\x9F\xBF", false},
        {"E0 A0 80 is the smallest", "\xE0\xA0\x80", true},
        {"ED above 9F is a surrogate", "\xED\xA0\x80", false},
        {"F0 needs 90 or more", "\xF0\x8F\xBF\xBF", false},
        {"F4 above 8F too large", "\xF4\x90\x80\x80", false},
        {"C1 overlong lead", "\xC1\xBF", false},
        {"F5 lead", "\xF5\x80\x80\x80", false},
        {"cut short", "\xE2\x82", false},
        {"lone continuation", "\x80", false},
        {"empty", "", false},
    };
    for (const auto &row : rows) {
        const UTF8 *s = reinterpret_cast<const UTF8 *>(row.in.data());
        EXPECT_EQ(isLegalUTF8Sequence(s, s + row.in.size()) != 0, row.legal) << row.name;
    }
}

} // namespace
