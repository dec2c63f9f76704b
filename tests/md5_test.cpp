// MD5 digests: RFC 1321 vectors, padding boundaries, piecewise appends, and agreement with OpenSSL.
#include <gtest/gtest.h>

#include <openssl/evp.h>
#include <string>
#include <sys/mman.h>
#include <vector>

#include "kiv_md5.h"

namespace {

std::string openssl_md5_hex(const void *data, size_t len) {
    unsigned char d[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    EVP_Digest(data, len, d, &n, EVP_md5(), nullptr);
    static const char hex[] = "0123456789abcdef";
    std::string s;
    for (unsigned i = 0; i < n; i++) {
        s += hex[d[i] >> 4];
        s += hex[d[i] & 15];
    }
    return s;
}

std::string pattern(size_t n) {
    std::string s(n, 0);
    for (size_t i = 0; i < n; i++)
        s[i] = (char)((i * 131 + 7) & 0xff);
    return s;
}

TEST(Md5Test, Rfc1321Vectors) {
    struct Row {
        std::string in, want;
    } rows[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
        {std::string("a\0b", 3), "70350f6027bce3713f6b76473084309b"},
    };
    for (auto &r : rows) {
        EXPECT_EQ(md5_digest(r.in), r.want) << "input \"" << r.in << "\" (" << r.in.size() << " bytes)";
        char out[33];
        md5_digest(out, r.in.data(), r.in.size());
        EXPECT_EQ(std::string(out), r.want) << "buffer form, " << r.in.size() << " bytes";
    }
}

TEST(Md5Test, MatchesOpenSslForEveryLengthUpTo1000) {
    const std::string data = pattern(1000);
    for (size_t len = 0; len <= 1000; len++) {
        std::string in = data.substr(0, len);
        ASSERT_EQ(md5_digest(in), openssl_md5_hex(in.data(), in.size())) << "length " << len;
    }
}

TEST(Md5Test, PiecewiseAppendsGiveSameDigest) {
    const std::string data = pattern(777);
    const std::string want = openssl_md5_hex(data.data(), data.size());
    struct Row {
        const char *name;
        std::vector<int> pieces; // sizes, repeated until the data is used up
    } rows[] = {
        {"one byte at a time", {1}}, {"55/56/63/64/65 boundaries", {55, 56, 63, 64, 65}},
        {"block then odd", {64, 3}}, {"with zero and negative lengths", {0, 10, -5, 7}},
        {"all at once", {777}},
    };
    for (auto &r : rows) {
        md5_state_s st;
        md5_init(&st);
        size_t pos = 0, k = 0;
        int guard = 0;
        while (pos < data.size() && guard++ < 100000) {
            int n = r.pieces[k++ % r.pieces.size()];
            int take = n > 0 ? (int)std::min((size_t)n, data.size() - pos) : n;
            md5_append(&st, (const unsigned char *)data.data() + pos, take);
            if (take > 0)
                pos += (size_t)take;
        }
        unsigned char d[16];
        md5_finish(&st, d);
        char hex[33];
        for (int i = 0; i < 16; i++)
            snprintf(hex + i * 2, 3, "%02x", d[i]);
        EXPECT_EQ(std::string(hex), want) << r.name;
    }
}

// Inputs past 2 GiB must neither narrow the length nor wrap the bit count.
TEST(Md5Test, InputsOfTwoGibAndMore) {
    const size_t len = (size_t(1) << 31) + 77;
    // Untouched anonymous pages read as zeros and cost no memory.
    void *p = mmap(nullptr, len, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(p, MAP_FAILED);
    char out[33];
    md5_digest(out, p, len);
    EXPECT_EQ(std::string(out), openssl_md5_hex(p, len)) << "2 GiB + 77 zero bytes";
    munmap(p, len);
}

} // namespace
