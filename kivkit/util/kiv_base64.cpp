// Base64 encoding and decoding over byte strings; a codec of the engine library.
#include "kiv_base64.h"

static const std::string base64_chars = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

struct _base64_table {
    signed char v[256];
};

// Alphabet position of every byte, -1 outside the alphabet; a table rather than isalnum, which depends on the
// locale and is undefined for negative char values.
static constexpr _base64_table _base64_build_table() {
    _base64_table t{};
    const char *a = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (int i = 0; i < 256; i++)
        t.v[i] = -1;
    for (int i = 0; i < 64; i++)
        t.v[(unsigned char)a[i]] = (signed char)i;
    return t;
}

static constexpr _base64_table _base64_values = _base64_build_table();

static inline bool is_base64(unsigned char c) {
    return _base64_values.v[c] >= 0;
}

std::string base64_encode(const unsigned char *bytes, unsigned int length) {
    std::string out;
    if (!bytes || !length)
        return out;
    out.resize(((size_t)length + 2) / 3 * 4);
    const char *a = base64_chars.data();
    char *o = &out[0];
    size_t i = 0, n = length;
    for (; i + 3 <= n; i += 3) {
        unsigned b0 = bytes[i], b1 = bytes[i + 1], b2 = bytes[i + 2];
        o[0] = a[b0 >> 2];
        o[1] = a[((b0 & 3) << 4) | (b1 >> 4)];
        o[2] = a[((b1 & 15) << 2) | (b2 >> 6)];
        o[3] = a[b2 & 63];
        o += 4;
    }
    if (i < n) {
        unsigned b0 = bytes[i], b1 = i + 1 < n ? bytes[i + 1] : 0;
        o[0] = a[b0 >> 2];
        o[1] = a[((b0 & 3) << 4) | (b1 >> 4)];
        o[2] = i + 1 < n ? a[(b1 & 15) << 2] : '=';
        o[3] = '=';
    }
    return out;
}

std::string base64_decode(const std::string &text) {
    size_t n = 0;
    while (n < text.size() && is_base64((unsigned char)text[n]))
        n++;
    std::string out;
    out.resize(n / 4 * 3 + (n % 4 ? n % 4 - 1 : 0));
    const unsigned char *s = (const unsigned char *)text.data();
    char *o = out.empty() ? nullptr : &out[0];
    size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        unsigned c0 = (unsigned)_base64_values.v[s[i]], c1 = (unsigned)_base64_values.v[s[i + 1]];
        unsigned c2 = (unsigned)_base64_values.v[s[i + 2]], c3 = (unsigned)_base64_values.v[s[i + 3]];
        o[0] = (char)((c0 << 2) | (c1 >> 4));
        o[1] = (char)(((c1 & 15) << 4) | (c2 >> 2));
        o[2] = (char)(((c2 & 3) << 6) | c3);
        o += 3;
    }
    size_t rest = n - i;
    if (rest >= 2) {
        unsigned c0 = (unsigned)_base64_values.v[s[i]], c1 = (unsigned)_base64_values.v[s[i + 1]];
        unsigned c2 = rest == 3 ? (unsigned)_base64_values.v[s[i + 2]] : 0;
        o[0] = (char)((c0 << 2) | (c1 >> 4));
        if (rest == 3)
            o[1] = (char)(((c1 & 15) << 4) | (c2 >> 2));
    }
    return out;
}
