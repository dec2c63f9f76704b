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
    std::string out;
    size_t len = text.size();
    if (!len)
        return out;
    out.resize(len / 4 * 3 + 3);
    const unsigned char *s = (const unsigned char *)text.data();
    const signed char *v = _base64_values.v;
    char *o = &out[0];
    size_t i = 0;
    for (; i + 4 <= len; i += 4) {
        int c0 = v[s[i]], c1 = v[s[i + 1]], c2 = v[s[i + 2]], c3 = v[s[i + 3]];
        // The first '=' or other character outside the alphabet ends the input.
        if ((c0 | c1 | c2 | c3) < 0)
            break;
        o[0] = (char)((c0 << 2) | (c1 >> 4));
        o[1] = (char)(((c1 & 15) << 4) | (c2 >> 2));
        o[2] = (char)(((c2 & 3) << 6) | c3);
        o += 3;
    }
    size_t rest = 0;
    while (rest < 4 && i + rest < len && is_base64(s[i + rest]))
        rest++;
    // An unfinished group gives one byte fewer than its characters; the missing ones count as 0.
    if (rest >= 2) {
        int c0 = v[s[i]], c1 = v[s[i + 1]], c2 = rest == 3 ? v[s[i + 2]] : 0;
        *o++ = (char)((c0 << 2) | (c1 >> 4));
        if (rest == 3)
            *o++ = (char)(((c1 & 15) << 4) | (c2 >> 2));
    }
    out.resize((size_t)(o - out.data()));
    return out;
}
