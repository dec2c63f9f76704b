// MD5 (RFC 1321) over a state record; md5_digest gives the hex text used by the "md5_digest" service.
#include "kiv_md5.h"

#include <climits>
#include <cstdio>
#include <cstring>

// --- internal helpers

static inline uint32_t _md5_rol(uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

// Message words are little-endian whatever the host's byte order.
static inline void _md5_load(uint32_t X[16], const unsigned char *p) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    memcpy(X, p, 64);
#else
    for (int i = 0; i < 16; i++, p += 4)
        X[i] = (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
#endif
}

#define MD5_STEP(f, a, b, c, d, x, t, s)                                                                               \
    a += f(b, c, d) + (x) + (t);                                                                                       \
    a = _md5_rol(a, s) + b;

// Boolean functions in the forms with the shortest dependency chains.
#define MD5_F(x, y, z) ((((y) ^ (z)) & (x)) ^ (z))
#define MD5_G(x, y, z) ((((x) ^ (y)) & (z)) ^ (y))
#define MD5_H(x, y, z) ((x) ^ (y) ^ (z))
#define MD5_I(x, y, z) ((y) ^ ((x) | ~(z)))

static void _md5_blocks(uint32_t abcd[4], const unsigned char *data, size_t nblocks) {
    uint32_t a = abcd[0], b = abcd[1], c = abcd[2], d = abcd[3];
    uint32_t X[16];
    for (; nblocks > 0; nblocks--, data += 64) {
        _md5_load(X, data);
        uint32_t sa = a, sb = b, sc = c, sd = d;

        MD5_STEP(MD5_F, a, b, c, d, X[0], 0xd76aa478, 7)
        MD5_STEP(MD5_F, d, a, b, c, X[1], 0xe8c7b756, 12)
        MD5_STEP(MD5_F, c, d, a, b, X[2], 0x242070db, 17)
        MD5_STEP(MD5_F, b, c, d, a, X[3], 0xc1bdceee, 22)
        MD5_STEP(MD5_F, a, b, c, d, X[4], 0xf57c0faf, 7)
        MD5_STEP(MD5_F, d, a, b, c, X[5], 0x4787c62a, 12)
        MD5_STEP(MD5_F, c, d, a, b, X[6], 0xa8304613, 17)
        MD5_STEP(MD5_F, b, c, d, a, X[7], 0xfd469501, 22)
        MD5_STEP(MD5_F, a, b, c, d, X[8], 0x698098d8, 7)
        MD5_STEP(MD5_F, d, a, b, c, X[9], 0x8b44f7af, 12)
        MD5_STEP(MD5_F, c, d, a, b, X[10], 0xffff5bb1, 17)
        MD5_STEP(MD5_F, b, c, d, a, X[11], 0x895cd7be, 22)
        MD5_STEP(MD5_F, a, b, c, d, X[12], 0x6b901122, 7)
        MD5_STEP(MD5_F, d, a, b, c, X[13], 0xfd987193, 12)
        MD5_STEP(MD5_F, c, d, a, b, X[14], 0xa679438e, 17)
        MD5_STEP(MD5_F, b, c, d, a, X[15], 0x49b40821, 22)

        MD5_STEP(MD5_G, a, b, c, d, X[1], 0xf61e2562, 5)
        MD5_STEP(MD5_G, d, a, b, c, X[6], 0xc040b340, 9)
        MD5_STEP(MD5_G, c, d, a, b, X[11], 0x265e5a51, 14)
        MD5_STEP(MD5_G, b, c, d, a, X[0], 0xe9b6c7aa, 20)
        MD5_STEP(MD5_G, a, b, c, d, X[5], 0xd62f105d, 5)
        MD5_STEP(MD5_G, d, a, b, c, X[10], 0x02441453, 9)
        MD5_STEP(MD5_G, c, d, a, b, X[15], 0xd8a1e681, 14)
        MD5_STEP(MD5_G, b, c, d, a, X[4], 0xe7d3fbc8, 20)
        MD5_STEP(MD5_G, a, b, c, d, X[9], 0x21e1cde6, 5)
        MD5_STEP(MD5_G, d, a, b, c, X[14], 0xc33707d6, 9)
        MD5_STEP(MD5_G, c, d, a, b, X[3], 0xf4d50d87, 14)
        MD5_STEP(MD5_G, b, c, d, a, X[8], 0x455a14ed, 20)
        MD5_STEP(MD5_G, a, b, c, d, X[13], 0xa9e3e905, 5)
        MD5_STEP(MD5_G, d, a, b, c, X[2], 0xfcefa3f8, 9)
        MD5_STEP(MD5_G, c, d, a, b, X[7], 0x676f02d9, 14)
        MD5_STEP(MD5_G, b, c, d, a, X[12], 0x8d2a4c8a, 20)

        MD5_STEP(MD5_H, a, b, c, d, X[5], 0xfffa3942, 4)
        MD5_STEP(MD5_H, d, a, b, c, X[8], 0x8771f681, 11)
        MD5_STEP(MD5_H, c, d, a, b, X[11], 0x6d9d6122, 16)
        MD5_STEP(MD5_H, b, c, d, a, X[14], 0xfde5380c, 23)
        MD5_STEP(MD5_H, a, b, c, d, X[1], 0xa4beea44, 4)
        MD5_STEP(MD5_H, d, a, b, c, X[4], 0x4bdecfa9, 11)
        MD5_STEP(MD5_H, c, d, a, b, X[7], 0xf6bb4b60, 16)
        MD5_STEP(MD5_H, b, c, d, a, X[10], 0xbebfbc70, 23)
        MD5_STEP(MD5_H, a, b, c, d, X[13], 0x289b7ec6, 4)
        MD5_STEP(MD5_H, d, a, b, c, X[0], 0xeaa127fa, 11)
        MD5_STEP(MD5_H, c, d, a, b, X[3], 0xd4ef3085, 16)
        MD5_STEP(MD5_H, b, c, d, a, X[6], 0x04881d05, 23)
        MD5_STEP(MD5_H, a, b, c, d, X[9], 0xd9d4d039, 4)
        MD5_STEP(MD5_H, d, a, b, c, X[12], 0xe6db99e5, 11)
        MD5_STEP(MD5_H, c, d, a, b, X[15], 0x1fa27cf8, 16)
        MD5_STEP(MD5_H, b, c, d, a, X[2], 0xc4ac5665, 23)

        MD5_STEP(MD5_I, a, b, c, d, X[0], 0xf4292244, 6)
        MD5_STEP(MD5_I, d, a, b, c, X[7], 0x432aff97, 10)
        MD5_STEP(MD5_I, c, d, a, b, X[14], 0xab9423a7, 15)
        MD5_STEP(MD5_I, b, c, d, a, X[5], 0xfc93a039, 21)
        MD5_STEP(MD5_I, a, b, c, d, X[12], 0x655b59c3, 6)
        MD5_STEP(MD5_I, d, a, b, c, X[3], 0x8f0ccc92, 10)
        MD5_STEP(MD5_I, c, d, a, b, X[10], 0xffeff47d, 15)
        MD5_STEP(MD5_I, b, c, d, a, X[1], 0x85845dd1, 21)
        MD5_STEP(MD5_I, a, b, c, d, X[8], 0x6fa87e4f, 6)
        MD5_STEP(MD5_I, d, a, b, c, X[15], 0xfe2ce6e0, 10)
        MD5_STEP(MD5_I, c, d, a, b, X[6], 0xa3014314, 15)
        MD5_STEP(MD5_I, b, c, d, a, X[13], 0x4e0811a1, 21)
        MD5_STEP(MD5_I, a, b, c, d, X[4], 0xf7537e82, 6)
        MD5_STEP(MD5_I, d, a, b, c, X[11], 0xbd3af235, 10)
        MD5_STEP(MD5_I, c, d, a, b, X[2], 0x2ad7d2bb, 15)
        MD5_STEP(MD5_I, b, c, d, a, X[9], 0xeb86d391, 21)

        a += sa;
        b += sb;
        c += sc;
        d += sd;
    }
    abcd[0] = a;
    abcd[1] = b;
    abcd[2] = c;
    abcd[3] = d;
}

// --- public functions

void md5_init(md5_state_s *pms) {
    pms->count[0] = pms->count[1] = 0;
    pms->abcd[0] = 0x67452301;
    pms->abcd[1] = 0xefcdab89;
    pms->abcd[2] = 0x98badcfe;
    pms->abcd[3] = 0x10325476;
    memset(pms->buf, 0, sizeof(pms->buf));
}

// Same as md5_append without the int limit on the length.
static void _md5_append(md5_state_s *pms, const unsigned char *data, size_t nbytes) {
    if (nbytes == 0)
        return;
    size_t offset = (pms->count[0] >> 3) & 63;
    uint64_t bits = ((uint64_t)pms->count[1] << 32) | pms->count[0];
    bits += (uint64_t)nbytes << 3;
    pms->count[0] = (uint32_t)bits;
    pms->count[1] = (uint32_t)(bits >> 32);

    if (offset) {
        size_t copy = offset + nbytes > 64 ? 64 - offset : nbytes;
        memcpy(pms->buf + offset, data, copy);
        if (offset + copy < 64)
            return;
        data += copy;
        nbytes -= copy;
        _md5_blocks(pms->abcd, pms->buf, 1);
    }
    size_t full = nbytes / 64;
    if (full)
        _md5_blocks(pms->abcd, data, full);
    size_t rest = nbytes & 63;
    if (rest)
        memcpy(pms->buf, data + full * 64, rest);
}

void md5_append(md5_state_s *pms, const unsigned char *data, int nbytes) {
    if (!pms || !data || nbytes <= 0)
        return;
    _md5_append(pms, data, (size_t)nbytes);
}

void md5_finish(md5_state_s *pms, unsigned char digest[16]) {
    static const unsigned char pad[64] = {0x80};
    unsigned char len[8];
    for (int i = 0; i < 8; i++)
        len[i] = (unsigned char)(pms->count[i >> 2] >> ((i & 3) << 3));
    size_t used = (pms->count[0] >> 3) & 63;
    _md5_append(pms, pad, ((55 - used) & 63) + 1);
    _md5_append(pms, len, 8);
    for (int i = 0; i < 16; i++)
        digest[i] = (unsigned char)(pms->abcd[i >> 2] >> ((i & 3) << 3));
}

void md5_digest(char *out, const void *data, size_t len) {
    md5_state_s st;
    md5_init(&st);
    if (data)
        _md5_append(&st, (const unsigned char *)data, len);
    unsigned char digest[16];
    md5_finish(&st, digest);
    static const char hex[] = "0123456789abcdef";
    for (int i = 0; i < 16; i++) {
        out[i * 2] = hex[digest[i] >> 4];
        out[i * 2 + 1] = hex[digest[i] & 15];
    }
    out[32] = 0;
}

std::string md5_digest(const std::string &data) {
    char out[33];
    md5_digest(out, data.data(), data.size());
    return std::string(out, 32);
}
