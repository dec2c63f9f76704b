// Base64 against the RFC 4648 vectors, the decoder's stopping rules, and OpenSSL over every length to 1000.
#include <gtest/gtest.h>

#include <cctype>
#include <clocale>
#include <cstdlib>
#include <random>
#include <string>

#include <openssl/evp.h>
#include <unistd.h>

#include "kiv_base64.h"
#include "locale_testutil.h"

namespace {

using localetest::set_latin1_locale;

std::string enc(const std::string &s) {
    return base64_encode((const unsigned char *)s.data(), (unsigned)s.size());
}

TEST(Base64, Vectors) {
    struct Row {
        const char *name;
        std::string plain;
        std::string text;
    };
    const Row rows[] = {
        {"empty", "", ""},
        {"f", "f", "Zg=="},
        {"fo", "fo", "Zm8="},
        {"foo", "foo", "Zm9v"},
        {"foob", "foob", "Zm9vYg=="},
        {"fooba", "fooba", "Zm9vYmE="},
        {"foobar", "foobar", "Zm9vYmFy"},
        {"Man", "Man", "TWFu"},
        {"M", "M", "TQ=="},
        {"Ma", "Ma", "TWE="},
        {"high bytes use + and /", std::string("\xfb\xff\xbf", 3), "+/+/"},
        {"zero bytes", std::string("\0\0\0\0", 4), "AAAAAA=="},
    };
    for (const Row &row : rows) {
        EXPECT_EQ(row.text, enc(row.plain)) << row.name;
        EXPECT_EQ(row.plain, base64_decode(row.text)) << row.name;
    }
    EXPECT_EQ("", base64_encode(nullptr, 0));
}

TEST(Base64, DecodeStops) {
    struct Row {
        const char *name;
        std::string text;
        std::string plain;
    };
    const Row rows[] = {
        {"padding not required, two bytes", "TWE", "Ma"},
        {"padding not required, one byte", "TQ", "M"},
        {"single leftover character gives nothing", "TWFuT", "Man"},
        {"line break ends input", "TWFu\nTWFu", "Man"},
        {"blank ends input", "TW Fu", "M"},
        {"first = ends input", "TQ==TWFu", "M"},
        {"leading = gives nothing", "=TWFu", ""},
        {"byte above 127 ends input", "TWFu\xc3\xa9TWFu", "Man"},
        {"minus is not in the alphabet", "TWFu-_", "Man"},
        {"only padding", "====", ""},
        {"empty", "", ""},
        {"zero byte ends input", std::string("TWFu\0TWFu", 9), "Man"},
    };
    for (const Row &row : rows)
        EXPECT_EQ(row.plain, base64_decode(row.text)) << row.name;
}

TEST(Base64, AlphabetIgnoresTheCLocale) {
    ASSERT_TRUE(set_latin1_locale("base64_test_locale")) << "could not build or set de_DE.ISO-8859-1";
    ASSERT_TRUE(isalnum(0xE9)) << "the locale did not make byte 0xE9 a letter";
    struct Row {
        const char *name;
        std::string text;
        std::string plain;
    };
    const Row rows[] = {
        {"latin-1 letter ends input", "TWFu\xe9TWFu", "Man"},
        {"latin-1 letters in a group", "TW\xc4\xd6", "M"},
        {"latin-1 digit-like byte", "TWFu\xb2", "Man"},
    };
    for (const Row &row : rows)
        EXPECT_EQ(row.plain, base64_decode(row.text)) << row.name;
    setlocale(LC_ALL, "C");
}

TEST(Base64, AgreesWithOpenSSL) {
    std::mt19937 rng(7);
    std::string data;
    for (int len = 0; len <= 1000; len++) {
        data.resize((size_t)len);
        for (char &c : data)
            c = (char)(rng() & 0xff);
        // Ends of blocks of three are where padding changes; also all-ones bytes reach the top of the alphabet.
        if (len % 7 == 0)
            std::fill(data.begin(), data.end(), '\xff');
        std::string ref(((size_t)len + 2) / 3 * 4 + 1, '\0');
        int n = EVP_EncodeBlock((unsigned char *)&ref[0], (const unsigned char *)data.data(), len);
        ref.resize((size_t)n);
        std::string ours = enc(data);
        ASSERT_EQ(ref, ours) << "encode, length " << len;
        ASSERT_EQ(data, base64_decode(ours)) << "decode, length " << len;
        // OpenSSL keeps the zero bytes that padding stands for; ours drops them.
        std::string back(ref.size() / 4 * 3 + 1, '\0');
        int m = EVP_DecodeBlock((unsigned char *)&back[0], (const unsigned char *)ref.data(), (int)ref.size());
        ASSERT_GE(m, 0) << "OpenSSL rejected our text, length " << len;
        ASSERT_EQ(data, back.substr(0, (size_t)len)) << "OpenSSL decode of ours, length " << len;
    }
}

} // namespace
