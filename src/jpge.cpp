// Baseline JPEG encoder: colour conversion, chroma subsampling, integer DCT, quantisation and Huffman coding,
// with the standard tables or with tables optimised from a statistics pass. The screenshot verb is its caller.
#include "jpge.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "kiv_platform.h"
#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace jpge {

enum { M_SOF0 = 0xC0, M_DHT = 0xC4, M_SOI = 0xD8, M_EOI = 0xD9, M_SOS = 0xDA, M_DQT = 0xDB, M_APP0 = 0xE0 };
enum {
    DC_LUM_CODES = 12,
    AC_LUM_CODES = 256,
    DC_CHROMA_CODES = 12,
    AC_CHROMA_CODES = 256,
    MAX_HUFF_SYMBOLS = 257,
    MAX_HUFF_CODESIZE = 32
};

// The largest width or height the 16-bit fields of the frame header can hold.
static const int MAX_DIMENSION = 65535;
// Symbol counts are halved before any table's total passes this, so neither a count nor the sums of the code
// length computation overflow 32 bits on the largest images.
static const uint32 MAX_COUNT_TOTAL = 1u << 30;

static const uint8 s_zag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
                                41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
                                30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};
// The zig-zag position of each coefficient in natural order.
static const uint8 s_zag_pos[64] = {0,  1,  5,  6,  14, 15, 27, 28, 2,  4,  7,  13, 16, 26, 29, 42,
                                    3,  8,  12, 17, 25, 30, 41, 43, 9,  11, 18, 24, 31, 40, 44, 53,
                                    10, 19, 23, 32, 39, 45, 52, 54, 20, 22, 33, 38, 46, 51, 55, 60,
                                    21, 34, 37, 47, 50, 56, 59, 61, 35, 36, 48, 49, 57, 58, 62, 63};
// Luminance and chrominance quantisation tables of T.81 Annex K (K.1, K.2), in zig-zag order.
static const uint8 s_std_lum_quant[64] = {16, 11, 12,  14,  12,  10, 16, 14,  13,  14,  18,  17,  16, 19,  24,  40,
                                          26, 24, 22,  22,  24,  49, 35, 37,  29,  40,  58,  51,  61, 60,  57,  51,
                                          56, 55, 64,  72,  92,  78, 64, 68,  87,  69,  55,  56,  80, 109, 81,  87,
                                          95, 98, 103, 104, 103, 62, 77, 113, 121, 112, 100, 120, 92, 101, 103, 99};
static const uint8 s_std_croma_quant[64] = {17, 18, 18, 24, 21, 24, 47, 26, 26, 47, 99, 66, 56, 66, 99, 99,
                                            99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
                                            99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
                                            99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};
// Huffman tables of T.81 Annex K.3: counts per code length 1-16 (index 0 unused), then the symbols.
static const uint8 s_dc_lum_bits[17] = {0, 0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
static const uint8 s_dc_lum_val[DC_LUM_CODES] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
static const uint8 s_ac_lum_bits[17] = {0, 0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d};
static const uint8 s_ac_lum_val[AC_LUM_CODES] = {
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61, 0x07, 0x22, 0x71,
    0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52, 0xd1, 0xf0, 0x24, 0x33, 0x62, 0x72,
    0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x34, 0x35, 0x36, 0x37,
    0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59,
    0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x83,
    0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3,
    0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3,
    0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2,
    0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};
static const uint8 s_dc_chroma_bits[17] = {0, 0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0};
static const uint8 s_dc_chroma_val[DC_CHROMA_CODES] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
static const uint8 s_ac_chroma_bits[17] = {0, 0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77};
static const uint8 s_ac_chroma_val[AC_CHROMA_CODES] = {
    0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61, 0x71, 0x13, 0x22,
    0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09, 0x23, 0x33, 0x52, 0xf0, 0x15, 0x62, 0x72, 0xd1,
    0x0a, 0x16, 0x24, 0x34, 0xe1, 0x25, 0xf1, 0x17, 0x18, 0x19, 0x1a, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x35, 0x36,
    0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58,
    0x59, 0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a,
    0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a,
    0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba,
    0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda,
    0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};

// Colour conversion weights in 16-bit fixed point.
static const int YR = 19595, YG = 38470, YB = 7471;
static const int CB_R = -11059, CB_G = -21709, CR_G = -27439, CR_B = -5329;

struct sym_freq {
    uint m_key, m_sym_index;
};

// Chroma reaches 256 for pure blue or red.
static inline uint8 _clamp(int i) {
    return static_cast<uint8>(i < 0 ? 0 : (i > 255 ? 255 : i));
}

// Bits needed for |v|: the JPEG magnitude category.
static inline uint _bit_count(uint v) {
    return v ? 32 - __builtin_clz(v) : 0;
}

// Bit i set when coefficient i is not zero: the coders walk only the non-zero ones, without a branch per zero.
static inline unsigned long long _nonzero_mask(const int16 *c) {
#ifdef __SSE2__
    const __m128i zero = _mm_setzero_si128();
    unsigned long long mask = 0;
    for (int i = 0; i < 64; i += 16) {
        const __m128i a = _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(c + i)), zero);
        const __m128i b = _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(c + i + 8)), zero);
        mask |= static_cast<unsigned long long>(static_cast<uint16>(~_mm_movemask_epi8(_mm_packs_epi16(a, b)))) << i;
    }
    return mask;
#else
    unsigned long long mask = 0;
    for (int i = 0; i < 64; i++)
        mask |= static_cast<unsigned long long>(c[i] != 0) << i;
    return mask;
#endif
}

template <int Bpp> static void _rgb_to_ycc_scalar(uint8 *pY, uint8 *pCb, uint8 *pCr, const uint8 *pSrc, int n) {
    for (int i = 0; i < n; i++, pSrc += Bpp) {
        const int r = pSrc[0], g = pSrc[1], b = pSrc[2];
        pY[i] = static_cast<uint8>((r * YR + g * YG + b * YB + 32768) >> 16);
        pCb[i] = _clamp(128 + ((r * CB_R + g * CB_G + b * 32768 + 32768) >> 16));
        pCr[i] = _clamp(128 + ((r * 32768 + g * CR_G + b * CR_B + 32768) >> 16));
    }
}

#ifdef __SSE2__
static inline __m128i _pair16(int lo, int hi) {
    return _mm_set1_epi32(
        static_cast<int>(static_cast<uint16>(lo) | (static_cast<uint32>(static_cast<uint16>(hi)) << 16)));
}

static inline uint32 _load_u32(const uint8 *p) {
    uint32 w;
    memcpy(&w, p, 4);
    return w;
}

// Four pixels as 32-bit lanes holding R, G, B in their low three bytes.
template <int Bpp> static inline __m128i _load4(const uint8 *p) {
    if constexpr (Bpp == 4)
        return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    else
        return _mm_setr_epi32(static_cast<int>(_load_u32(p)), static_cast<int>(_load_u32(p + 3)),
                              static_cast<int>(_load_u32(p + 6)), static_cast<int>(_load_u32(p + 9)));
}

// Eight pixels at a time with pmaddwd on (R, G) and (B, 2) pairs of 16-bit lanes. Weights above 32767 are split:
// 38470 G = -27066 G + (G << 16) and 32768 B = 32767 B + B; the rounding constant 32768 is 2 x 16384. The sums
// equal the scalar ones exactly, and the final pack to bytes clamps to 0..255.
template <int Bpp> static void _rgb_to_ycc(uint8 *pY, uint8 *pCb, uint8 *pCr, const uint8 *pSrc, int num_pixels) {
    const __m128i ky_rg = _pair16(YR, -27066), ky_b1 = _pair16(YB, 16384);
    const __m128i kcb_rg = _pair16(CB_R, CB_G), kcb_b1 = _pair16(32767, 16384);
    const __m128i kcr_rg = _pair16(32767, CR_G), kcr_b1 = _pair16(CR_B, 16384);
    const __m128i lo8 = _mm_set1_epi32(0xFF), g8 = _mm_set1_epi32(0xFF00), two = _mm_set1_epi32(2 << 16);
    const __m128i lo16 = _mm_set1_epi32(0xFFFF), bias = _mm_set1_epi16(128);
    // Three-byte pixels are read four bytes at a time, so the last pixel of the row is left to the scalar loop.
    const int vec_end = num_pixels - (Bpp == 3);
    int i = 0;
    for (; i + 8 <= vec_end; i += 8) {
        __m128i y[2], cb[2], cr[2];
        for (int h = 0; h < 2; h++) {
            const __m128i w = _load4<Bpp>(pSrc + (i + 4 * h) * Bpp);
            const __m128i r = _mm_and_si128(w, lo8);
            const __m128i RG = _mm_or_si128(r, _mm_slli_epi32(_mm_and_si128(w, g8), 8));
            const __m128i B1 = _mm_or_si128(_mm_and_si128(_mm_srli_epi32(w, 16), lo8), two);
            __m128i v = _mm_add_epi32(_mm_madd_epi16(RG, ky_rg), _mm_madd_epi16(B1, ky_b1));
            y[h] = _mm_srli_epi32(_mm_add_epi32(v, _mm_andnot_si128(lo16, RG)), 16);
            v = _mm_add_epi32(_mm_madd_epi16(RG, kcb_rg), _mm_madd_epi16(B1, kcb_b1));
            cb[h] = _mm_srai_epi32(_mm_add_epi32(v, _mm_and_si128(B1, lo16)), 16);
            v = _mm_add_epi32(_mm_madd_epi16(RG, kcr_rg), _mm_madd_epi16(B1, kcr_b1));
            cr[h] = _mm_srai_epi32(_mm_add_epi32(v, r), 16);
        }
        const __m128i y16 = _mm_packs_epi32(y[0], y[1]);
        const __m128i cb16 = _mm_add_epi16(_mm_packs_epi32(cb[0], cb[1]), bias);
        const __m128i cr16 = _mm_add_epi16(_mm_packs_epi32(cr[0], cr[1]), bias);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(pY + i), _mm_packus_epi16(y16, y16));
        _mm_storel_epi64(reinterpret_cast<__m128i *>(pCb + i), _mm_packus_epi16(cb16, cb16));
        _mm_storel_epi64(reinterpret_cast<__m128i *>(pCr + i), _mm_packus_epi16(cr16, cr16));
    }
    _rgb_to_ycc_scalar<Bpp>(pY + i, pCb + i, pCr + i, pSrc + i * Bpp, num_pixels - i);
}
#else
template <int Bpp> static void _rgb_to_ycc(uint8 *pY, uint8 *pCb, uint8 *pCr, const uint8 *pSrc, int num_pixels) {
    _rgb_to_ycc_scalar<Bpp>(pY, pCb, pCr, pSrc, num_pixels);
}
#endif

template <int Bpp> static void _rgb_to_y(uint8 *pY, const uint8 *pSrc, int num_pixels) {
    for (int i = 0; i < num_pixels; i++)
        pY[i] =
            static_cast<uint8>((pSrc[i * Bpp] * YR + pSrc[i * Bpp + 1] * YG + pSrc[i * Bpp + 2] * YB + 32768) >> 16);
}

// Radix sort by count, least significant byte first; stable, so equal counts keep their listed order.
static sym_freq *_radix_sort_syms(uint num_syms, sym_freq *pSyms0, sym_freq *pSyms1) {
    const uint cMaxPasses = 4;
    uint32 hist[256 * cMaxPasses];
    memset(hist, 0, sizeof(hist));
    for (uint i = 0; i < num_syms; i++) {
        const uint freq = pSyms0[i].m_key;
        hist[freq & 0xFF]++;
        hist[256 + ((freq >> 8) & 0xFF)]++;
        hist[256 * 2 + ((freq >> 16) & 0xFF)]++;
        hist[256 * 3 + ((freq >> 24) & 0xFF)]++;
    }
    sym_freq *pCur_syms = pSyms0, *pNew_syms = pSyms1;
    uint total_passes = cMaxPasses;
    while (total_passes > 1 && num_syms == hist[(total_passes - 1) * 256])
        total_passes--;
    for (uint pass_shift = 0, pass = 0; pass < total_passes; pass++, pass_shift += 8) {
        const uint32 *pHist = &hist[pass << 8];
        uint offsets[256], cur_ofs = 0;
        for (uint i = 0; i < 256; i++) {
            offsets[i] = cur_ofs;
            cur_ofs += pHist[i];
        }
        for (uint i = 0; i < num_syms; i++)
            pNew_syms[offsets[(pCur_syms[i].m_key >> pass_shift) & 0xFF]++] = pCur_syms[i];
        sym_freq *t = pCur_syms;
        pCur_syms = pNew_syms;
        pNew_syms = t;
    }
    return pCur_syms;
}

// Code lengths in place from counts sorted ascending (Moffat and Katajainen, "In-place calculation of
// minimum-redundancy codes", 1995).
static void _calculate_minimum_redundancy(sym_freq *A, int n) {
    int root, leaf, next, avbl, used, dpth;
    if (n == 0)
        return;
    if (n == 1) {
        A[0].m_key = 1;
        return;
    }
    A[0].m_key += A[1].m_key;
    root = 0;
    leaf = 2;
    for (next = 1; next < n - 1; next++) {
        if (leaf >= n || A[root].m_key < A[leaf].m_key) {
            A[next].m_key = A[root].m_key;
            A[root++].m_key = next;
        } else
            A[next].m_key = A[leaf++].m_key;
        if (leaf >= n || (root < next && A[root].m_key < A[leaf].m_key)) {
            A[next].m_key += A[root].m_key;
            A[root++].m_key = next;
        } else
            A[next].m_key += A[leaf++].m_key;
    }
    A[n - 2].m_key = 0;
    for (next = n - 3; next >= 0; next--)
        A[next].m_key = A[A[next].m_key].m_key + 1;
    avbl = 1;
    used = dpth = 0;
    root = n - 2;
    next = n - 1;
    while (avbl > 0) {
        while (root >= 0 && static_cast<int>(A[root].m_key) == dpth) {
            used++;
            root--;
        }
        while (avbl > used) {
            A[next--].m_key = dpth;
            avbl--;
        }
        avbl = 2 * used;
        dpth++;
        used = 0;
    }
}

// Limits code lengths to max_code_size while keeping the code complete (Kraft sum exactly 1).
static void _huffman_enforce_max_code_size(int *pNum_codes, int code_list_len, int max_code_size) {
    if (code_list_len <= 1)
        return;
    for (int i = max_code_size + 1; i <= MAX_HUFF_CODESIZE; i++)
        pNum_codes[max_code_size] += pNum_codes[i];
    uint32 total = 0;
    for (int i = max_code_size; i > 0; i--)
        total += static_cast<uint32>(pNum_codes[i]) << (max_code_size - i);
    while (total != (1UL << max_code_size)) {
        pNum_codes[max_code_size]--;
        for (int i = max_code_size - 1; i > 0; i--) {
            if (pNum_codes[i]) {
                pNum_codes[i]--;
                pNum_codes[i + 1] += 2;
                break;
            }
        }
        total--;
    }
}

static inline int32 _mul(int32 var, int32 c) {
    return static_cast<int32>(static_cast<int16>(var)) * c;
}

// One 8-point pass over a row (stride 1) or a column (stride 8). EvShift 0 keeps two extra bits on outputs 0
// and 4; otherwise every output is descaled with rounding.
template <int Stride, int EvShift, int OdShift> static inline void _dct_pass(int32 *q) {
    const int32 t0 = q[0] + q[7 * Stride], t7 = q[0] - q[7 * Stride];
    const int32 t1 = q[Stride] + q[6 * Stride], t6 = q[Stride] - q[6 * Stride];
    const int32 t2 = q[2 * Stride] + q[5 * Stride], t5 = q[2 * Stride] - q[5 * Stride];
    const int32 t3 = q[3 * Stride] + q[4 * Stride], t4 = q[3 * Stride] - q[4 * Stride];
    const int32 t10 = t0 + t3, t13 = t0 - t3, t11 = t1 + t2, t12 = t1 - t2;
    const int32 od_round = 1 << (OdShift - 1);
    if constexpr (EvShift > 0) {
        const int32 ev_round = 1 << (EvShift - 1);
        q[0] = (t10 + t11 + ev_round) >> EvShift;
        q[4 * Stride] = (t10 - t11 + ev_round) >> EvShift;
    } else {
        q[0] = (t10 + t11) * 4;
        q[4 * Stride] = (t10 - t11) * 4;
    }
    const int32 u1 = _mul(t12 + t13, 4433);
    q[2 * Stride] = (u1 + _mul(t13, 6270) + od_round) >> OdShift;
    q[6 * Stride] = (u1 + _mul(t12, -15137) + od_round) >> OdShift;
    const int32 z5 = _mul(t4 + t5 + t6 + t7, 9633);
    const int32 z1 = _mul(t4 + t7, -7373), z2 = _mul(t5 + t6, -20995);
    const int32 z3 = _mul(t4 + t6, -16069) + z5, z4 = _mul(t5 + t7, -3196) + z5;
    q[7 * Stride] = (_mul(t4, 2446) + z1 + z3 + od_round) >> OdShift;
    q[5 * Stride] = (_mul(t5, 16819) + z2 + z4 + od_round) >> OdShift;
    q[3 * Stride] = (_mul(t6, 25172) + z2 + z3 + od_round) >> OdShift;
    q[Stride] = (_mul(t7, 12299) + z1 + z4 + od_round) >> OdShift;
}

// Forward DCT by the Loeffler-Ligtenberg-Moschytz factorisation in 13-bit fixed point: rows keep two extra bits,
// columns remove them and the factor 8, so the results are true DCT coefficients.
[[maybe_unused]] static void _dct2d(int32 *p) {
    for (int r = 0; r < 8; r++)
        _dct_pass<1, 0, 11>(p + r * 8);
    for (int c = 0; c < 8; c++)
        _dct_pass<8, 5, 18>(p + c);
}

#ifdef __SSE2__
// The same DCT on eight 16-bit lanes at once, with pmaddwd for the products. Each product of the scalar version
// whose factor is a sum is split into products of the summands (for example (t12 + t13) c = t12 c + t13 c, merged
// with the neighbouring products into one pmaddwd per output); every sum and summand fits in 16 bits for 8-bit
// samples, so the results are exactly those of _dct2d.
static inline void _transpose8x8(__m128i *r) {
    const __m128i a0 = _mm_unpacklo_epi16(r[0], r[1]), a1 = _mm_unpackhi_epi16(r[0], r[1]);
    const __m128i a2 = _mm_unpacklo_epi16(r[2], r[3]), a3 = _mm_unpackhi_epi16(r[2], r[3]);
    const __m128i a4 = _mm_unpacklo_epi16(r[4], r[5]), a5 = _mm_unpackhi_epi16(r[4], r[5]);
    const __m128i a6 = _mm_unpacklo_epi16(r[6], r[7]), a7 = _mm_unpackhi_epi16(r[6], r[7]);
    const __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
    const __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
    const __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
    const __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
    r[0] = _mm_unpacklo_epi64(b0, b4), r[1] = _mm_unpackhi_epi64(b0, b4);
    r[2] = _mm_unpacklo_epi64(b1, b5), r[3] = _mm_unpackhi_epi64(b1, b5);
    r[4] = _mm_unpacklo_epi64(b2, b6), r[5] = _mm_unpackhi_epi64(b2, b6);
    r[6] = _mm_unpacklo_epi64(b3, b7), r[7] = _mm_unpackhi_epi64(b3, b7);
}

// pmaddwd of the interleaved pair (a, b) with the weights k, descaled by Shift bits and packed back to 16 bits.
template <int Shift> static inline __m128i _madd_descale(__m128i a, __m128i b, __m128i k, __m128i add) {
    const __m128i lo = _mm_madd_epi16(_mm_unpacklo_epi16(a, b), k);
    const __m128i hi = _mm_madd_epi16(_mm_unpackhi_epi16(a, b), k);
    return _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(lo, add), Shift),
                           _mm_srai_epi32(_mm_add_epi32(hi, add), Shift));
}

// Like _madd_descale, for two pairs: (a, b) with ka plus (c, d) with kc.
template <int Shift>
static inline __m128i _madd2_descale(__m128i a, __m128i b, __m128i ka, __m128i c, __m128i d, __m128i kc, __m128i add) {
    const __m128i lo =
        _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(a, b), ka), _mm_madd_epi16(_mm_unpacklo_epi16(c, d), kc));
    const __m128i hi =
        _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(a, b), ka), _mm_madd_epi16(_mm_unpackhi_epi16(c, d), kc));
    return _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(lo, add), Shift),
                           _mm_srai_epi32(_mm_add_epi32(hi, add), Shift));
}

// One 8-point pass down the lanes of d[0..7]. EvShift 0: outputs 0 and 4 keep two extra bits.
template <int EvShift, int OdShift> static inline void _dct_pass_sse2(__m128i *d) {
    const __m128i t0 = _mm_add_epi16(d[0], d[7]), t7 = _mm_sub_epi16(d[0], d[7]);
    const __m128i t1 = _mm_add_epi16(d[1], d[6]), t6 = _mm_sub_epi16(d[1], d[6]);
    const __m128i t2 = _mm_add_epi16(d[2], d[5]), t5 = _mm_sub_epi16(d[2], d[5]);
    const __m128i t3 = _mm_add_epi16(d[3], d[4]), t4 = _mm_sub_epi16(d[3], d[4]);
    const __m128i t10 = _mm_add_epi16(t0, t3), t13 = _mm_sub_epi16(t0, t3);
    const __m128i t11 = _mm_add_epi16(t1, t2), t12 = _mm_sub_epi16(t1, t2);
    const __m128i od_add = _mm_set1_epi32(1 << (OdShift - 1));
    if constexpr (EvShift == 0) {
        d[0] = _mm_slli_epi16(_mm_add_epi16(t10, t11), 2);
        d[4] = _mm_slli_epi16(_mm_sub_epi16(t10, t11), 2);
    } else {
        const __m128i ev_add = _mm_set1_epi32(1 << (EvShift - 1));
        d[0] = _madd_descale<EvShift>(t10, t11, _pair16(1, 1), ev_add);
        d[4] = _madd_descale<EvShift>(t10, t11, _pair16(1, -1), ev_add);
    }
    d[2] = _madd_descale<OdShift>(t13, t12, _pair16(4433 + 6270, 4433), od_add);
    d[6] = _madd_descale<OdShift>(t13, t12, _pair16(4433, 4433 - 15137), od_add);
    const __m128i z3p = _mm_add_epi16(t4, t6), z4p = _mm_add_epi16(t5, t7);
    d[7] = _madd2_descale<OdShift>(t4, t7, _pair16(2446 - 7373, -7373), z3p, z4p, _pair16(9633 - 16069, 9633), od_add);
    d[1] = _madd2_descale<OdShift>(t4, t7, _pair16(-7373, 12299 - 7373), z3p, z4p, _pair16(9633, 9633 - 3196), od_add);
    d[5] =
        _madd2_descale<OdShift>(t5, t6, _pair16(16819 - 20995, -20995), z3p, z4p, _pair16(9633, 9633 - 3196), od_add);
    d[3] =
        _madd2_descale<OdShift>(t5, t6, _pair16(-20995, 25172 - 20995), z3p, z4p, _pair16(9633 - 16069, 9633), od_add);
}
#endif

bool params::check() const {
    if (m_quality < 1 || m_quality > 100)
        return false;
    if (static_cast<uint>(m_subsampling) > static_cast<uint>(H2V2))
        return false;
    return true;
}

// --- output streams

bool cfile_stream::open(const char *pFilename) {
    close();
    m_pFile = pFilename ? kiv_platform_fopen(pFilename, "wb") : nullptr;
    m_bStatus = m_pFile != nullptr;
    return m_bStatus;
}

bool cfile_stream::open(FILE *f) {
    close();
    m_pFile = f;
    m_bStatus = m_pFile != nullptr;
    return m_bStatus;
}

bool cfile_stream::close() {
    if (m_pFile) {
        if (fclose(m_pFile) == EOF)
            m_bStatus = false;
        m_pFile = nullptr;
    }
    return m_bStatus;
}

bool cfile_stream::put_buf(const void *pBuf, int len) {
    if (!m_pFile || len < 0) {
        m_bStatus = false;
        return false;
    }
    m_bStatus = m_bStatus && fwrite(pBuf, 1, len, m_pFile) == static_cast<size_t>(len);
    return m_bStatus;
}

bool memory_stream::put_buf(const void *pBuf, int len) {
    if (len < 0 || static_cast<uint>(len) > m_buf_size - m_buf_ofs)
        return false;
    if (len == 0)
        return true;
    memcpy(m_pBuf + m_buf_ofs, pBuf, len);
    m_buf_ofs += static_cast<uint>(len);
    return true;
}

// --- encoder: header

void jpeg_encoder::_emit_bytes(const void *buf, int len) {
    if (m_all_stream_writes_succeeded)
        m_all_stream_writes_succeeded = m_pStream->put_buf(buf, len);
}

void jpeg_encoder::_emit_byte(uint8 c) {
    _emit_bytes(&c, 1);
}

void jpeg_encoder::_emit_word(uint w) {
    const uint8 b[2] = {static_cast<uint8>(w >> 8), static_cast<uint8>(w)};
    _emit_bytes(b, 2);
}

void jpeg_encoder::_emit_marker(int marker) {
    const uint8 b[2] = {0xFF, static_cast<uint8>(marker)};
    _emit_bytes(b, 2);
}

void jpeg_encoder::_emit_jfif_app0() {
    static const uint8 app0[] = {0xFF, M_APP0, 0, 16, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0};
    _emit_bytes(app0, sizeof(app0));
}

void jpeg_encoder::_emit_dqt() {
    for (int i = 0; i < ((m_num_components == 3) ? 2 : 1); i++) {
        uint8 seg[69] = {0xFF, M_DQT, 0, 67, static_cast<uint8>(i)};
        for (int j = 0; j < 64; j++)
            seg[5 + j] = static_cast<uint8>(m_quantization_tables[i][j]);
        _emit_bytes(seg, sizeof(seg));
    }
}

void jpeg_encoder::_emit_sof() {
    _emit_marker(M_SOF0);
    _emit_word(3 * m_num_components + 2 + 5 + 1);
    _emit_byte(8);
    _emit_word(m_image_y);
    _emit_word(m_image_x);
    _emit_byte(m_num_components);
    for (int i = 0; i < m_num_components; i++) {
        _emit_byte(static_cast<uint8>(i + 1));
        _emit_byte(static_cast<uint8>((m_comp_h_samp[i] << 4) + m_comp_v_samp[i]));
        _emit_byte(i > 0);
    }
}

void jpeg_encoder::_emit_dht(const uint8 *bits, const uint8 *val, int index, bool ac_flag) {
    int length = 0;
    for (int i = 1; i <= 16; i++)
        length += bits[i];
    _emit_marker(M_DHT);
    _emit_word(length + 2 + 1 + 16);
    _emit_byte(static_cast<uint8>(index + (ac_flag << 4)));
    _emit_bytes(bits + 1, 16);
    _emit_bytes(val, length);
}

void jpeg_encoder::_emit_dhts() {
    _emit_dht(m_huff_bits[0 + 0], m_huff_val[0 + 0], 0, false);
    _emit_dht(m_huff_bits[2 + 0], m_huff_val[2 + 0], 0, true);
    if (m_num_components == 3) {
        _emit_dht(m_huff_bits[0 + 1], m_huff_val[0 + 1], 1, false);
        _emit_dht(m_huff_bits[2 + 1], m_huff_val[2 + 1], 1, true);
    }
}

void jpeg_encoder::_emit_sos() {
    _emit_marker(M_SOS);
    _emit_word(2 * m_num_components + 2 + 1 + 3);
    _emit_byte(m_num_components);
    for (int i = 0; i < m_num_components; i++) {
        _emit_byte(static_cast<uint8>(i + 1));
        _emit_byte(i == 0 ? 0x00 : 0x11);
    }
    const uint8 tail[3] = {0, 63, 0};
    _emit_bytes(tail, 3);
}

void jpeg_encoder::_emit_markers() {
    _emit_marker(M_SOI);
    _emit_jfif_app0();
    _emit_dqt();
    _emit_sof();
    _emit_dhts();
    _emit_sos();
}

// --- encoder: tables

// Code tables from counts per length and symbols (T.81 Annex C).
void jpeg_encoder::_compute_huffman_table(int table_num) {
    const uint8 *pBits = m_huff_bits[table_num];
    const uint8 *pVal = m_huff_val[table_num];
    uint *codes = m_huff_codes[table_num];
    uint8 *code_sizes = m_huff_code_sizes[table_num];
    uint8 huff_size[257];
    uint huff_code[257];
    int p = 0;
    for (int l = 1; l <= 16; l++)
        for (int i = 1; i <= pBits[l]; i++)
            huff_size[p++] = static_cast<uint8>(l);
    huff_size[p] = 0;
    const int last_p = p;
    uint code = 0;
    int si = huff_size[0];
    p = 0;
    while (huff_size[p]) {
        while (huff_size[p] == si)
            huff_code[p++] = code++;
        code <<= 1;
        si++;
    }
    memset(codes, 0, sizeof(m_huff_codes[0]));
    memset(code_sizes, 0, sizeof(m_huff_code_sizes[0]));
    for (p = 0; p < last_p; p++) {
        codes[pVal[p]] = huff_code[p];
        code_sizes[pVal[p]] = huff_size[p];
    }
}

void jpeg_encoder::_compute_quant_table(int table_num, const uint8 *pSrc) {
    const int q = m_params.m_quality;
    const int scale = q < 50 ? 5000 / q : 200 - q * 2;
    int32 *pDst = m_quantization_tables[table_num];
    for (int i = 0; i < 64; i++) {
        int32 j = (pSrc[i] * scale + 50) / 100;
        j = j < 1 ? 1 : (j > 255 ? 255 : j);
        pDst[i] = j;
        // Rounded-up reciprocal: (n * recip) >> 19 equals n / j for every n below 2^19 / j, and the rounded
        // coefficient magnitudes stay below 1,200.
        const uint32 recip = ((1u << 19) + j - 1) / j;
        m_quant_recip_hi[table_num][s_zag[i]] = static_cast<uint16>(recip >> 16);
        m_quant_recip_lo[table_num][s_zag[i]] = static_cast<uint16>(recip);
        m_quant_half[table_num][s_zag[i]] = static_cast<uint16>(j >> 1);
    }
}

void jpeg_encoder::_optimize_huffman_table(int table_num, int table_len) {
    sym_freq syms0[MAX_HUFF_SYMBOLS], syms1[MAX_HUFF_SYMBOLS];
    // The reserved entry gets the longest code, which is dropped so that no code is all ones.
    syms0[0].m_key = 1;
    syms0[0].m_sym_index = 0;
    int num_used_syms = 1;
    const uint32 *pSym_count = &m_huff_count[table_num][0];
    for (int i = 0; i < table_len; i++)
        if (pSym_count[i]) {
            syms0[num_used_syms].m_key = pSym_count[i];
            syms0[num_used_syms++].m_sym_index = i + 1;
        }
    sym_freq *pSyms = _radix_sort_syms(num_used_syms, syms0, syms1);
    _calculate_minimum_redundancy(pSyms, num_used_syms);

    int num_codes[1 + MAX_HUFF_CODESIZE];
    memset(num_codes, 0, sizeof(num_codes));
    for (int i = 0; i < num_used_syms; i++) {
        const uint len = pSyms[i].m_key;
        num_codes[len > static_cast<uint>(MAX_HUFF_CODESIZE) ? static_cast<uint>(MAX_HUFF_CODESIZE) : len]++;
    }
    const int JPGE_CODE_SIZE_LIMIT = 16;
    _huffman_enforce_max_code_size(num_codes, num_used_syms, JPGE_CODE_SIZE_LIMIT);

    memset(m_huff_bits[table_num], 0, sizeof(m_huff_bits[table_num]));
    for (int i = 1; i <= JPGE_CODE_SIZE_LIMIT; i++)
        m_huff_bits[table_num][i] = static_cast<uint8>(num_codes[i]);
    for (int i = JPGE_CODE_SIZE_LIMIT; i >= 1; i--) {
        if (m_huff_bits[table_num][i]) {
            m_huff_bits[table_num][i]--;
            break;
        }
    }
    for (int i = num_used_syms - 1; i >= 1; i--)
        m_huff_val[table_num][num_used_syms - 1 - i] = static_cast<uint8>(pSyms[i].m_sym_index - 1);
}

void jpeg_encoder::_rescale_huffman_counts() {
    for (int t = 0; t < 4; t++) {
        uint32 total = 0;
        for (int i = 0; i < 256; i++)
            total += m_huff_count[t][i] >> 8;
        if (total < (MAX_COUNT_TOTAL >> 8))
            continue;
        // Halving rounds up, so a symbol that occurred keeps a code.
        for (int i = 0; i < 256; i++)
            m_huff_count[t][i] = (m_huff_count[t][i] + 1) >> 1;
    }
}

// --- encoder: bits and blocks

void jpeg_encoder::_flush_output_buffer() {
    if (m_out_buf_left != JPGE_OUT_BUF_SIZE)
        _emit_bytes(m_out_buf, JPGE_OUT_BUF_SIZE - m_out_buf_left);
    m_pOut_buf = m_out_buf;
    m_out_buf_left = JPGE_OUT_BUF_SIZE;
}

void jpeg_encoder::_put_bits(uint bits, uint len) {
    m_bit_buffer |= static_cast<uint32>(bits) << (24 - (m_bits_in += len));
    while (m_bits_in >= 8) {
        const uint8 c = static_cast<uint8>((m_bit_buffer >> 16) & 0xFF);
        *m_pOut_buf++ = c;
        if (--m_out_buf_left == 0)
            _flush_output_buffer();
        if (c == 0xFF) {
            *m_pOut_buf++ = 0;
            if (--m_out_buf_left == 0)
                _flush_output_buffer();
        }
        m_bit_buffer <<= 8;
        m_bits_in -= 8;
    }
}

// Block loaders: level-shifted samples of one 8x8 block, from full-resolution or subsampled chroma rows. Restrict
// pointers tell the compiler that the samples do not overlap the rows, so each row becomes a few vector operations.
static inline void _load_8x8(int32 *__restrict pDst, uint8 *const *lines, int x) {
    for (int i = 0; i < 8; i++, pDst += 8) {
        const uint8 *__restrict pSrc = lines[i] + x;
        for (int j = 0; j < 8; j++)
            pDst[j] = pSrc[j] - 128;
    }
}

void jpeg_encoder::_load_block_8_8_grey(int x) {
    _load_8x8(m_sample_array, m_mcu_lines, x << 3);
}

void jpeg_encoder::_load_block_8_8(int x, int y, int c) {
    _load_8x8(m_sample_array, m_mcu_lines + (y << 3), (x << 3) + c * m_image_x_mcu);
}

void jpeg_encoder::_load_block_16_8(int x, int c) {
    int32 *__restrict pDst = m_sample_array;
    x = (x << 4) + c * m_image_x_mcu;
    for (int i = 0; i < 8; i++, pDst += 8) {
        const uint8 *__restrict pSrc = m_mcu_lines[i] + x;
        for (int j = 0; j < 8; j++)
            pDst[j] = ((pSrc[2 * j] + pSrc[2 * j + 1]) >> 1) - 128;
    }
}

void jpeg_encoder::_load_block_16_8_8(int x, int c) {
    // Alternating rounding bias, shifted by one on every other row, so no direction of rounding dominates.
    static const int32 bias[2][8] = {{0, 2, 0, 2, 0, 2, 0, 2}, {2, 0, 2, 0, 2, 0, 2, 0}};
    int32 *__restrict pDst = m_sample_array;
    x = (x << 4) + c * m_image_x_mcu;
    for (int i = 0; i < 8; i++, pDst += 8) {
        const uint8 *__restrict pSrc1 = m_mcu_lines[i * 2] + x;
        const uint8 *__restrict pSrc2 = m_mcu_lines[i * 2 + 1] + x;
        const int32 *b = bias[i & 1];
        for (int j = 0; j < 8; j++)
            pDst[j] = ((pSrc1[2 * j] + pSrc1[2 * j + 1] + pSrc2[2 * j] + pSrc2[2 * j + 1] + b[j]) >> 2) - 128;
    }
}

// DCT of the samples, then quantisation in natural order in 16-bit lanes; the coders read the non-zero
// coefficients in zig-zag order. The reciprocal is split in 16-bit halves: (a * hi + ((a * lo) >> 16)) >> 3 equals
// (a * recip) >> 19.
void jpeg_encoder::_load_quantized_coefficients(int component_num) {
    const int t = component_num > 0;
    const uint16 *half = m_quant_half[t], *rhi = m_quant_recip_hi[t], *rlo = m_quant_recip_lo[t];
    int16 *pDst = m_coefficient_array;
#ifdef __SSE2__
    __m128i d[8];
    for (int i = 0; i < 8; i++)
        d[i] = _mm_packs_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(m_sample_array + i * 8)),
                               _mm_loadu_si128(reinterpret_cast<const __m128i *>(m_sample_array + i * 8 + 4)));
    _transpose8x8(d);
    _dct_pass_sse2<0, 11>(d);
    _transpose8x8(d);
    _dct_pass_sse2<5, 18>(d);
    for (int i = 0; i < 8; i++) {
        const __m128i v = d[i], sign = _mm_srai_epi16(v, 15);
        const __m128i a = _mm_add_epi16(_mm_sub_epi16(_mm_xor_si128(v, sign), sign),
                                        _mm_loadu_si128(reinterpret_cast<const __m128i *>(half + i * 8)));
        const __m128i q = _mm_srli_epi16(
            _mm_add_epi16(_mm_mullo_epi16(a, _mm_loadu_si128(reinterpret_cast<const __m128i *>(rhi + i * 8))),
                          _mm_mulhi_epu16(a, _mm_loadu_si128(reinterpret_cast<const __m128i *>(rlo + i * 8)))),
            3);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(pDst + i * 8), _mm_sub_epi16(_mm_xor_si128(q, sign), sign));
    }
#else
    _dct2d(m_sample_array);
    for (int i = 0; i < 64; i++) {
        const int32 v = m_sample_array[i];
        const uint16 a = static_cast<uint16>((v < 0 ? -v : v) + half[i]);
        const uint16 q =
            static_cast<uint16>(static_cast<uint16>(a * rhi[i]) + ((static_cast<uint32>(a) * rlo[i]) >> 16)) >> 3;
        pDst[i] = static_cast<int16>(v < 0 ? -q : q);
    }
#endif
    // Zig-zag positions of the non-zero AC coefficients.
    unsigned long long zz = 0;
    for (unsigned long long mask = _nonzero_mask(pDst) & ~1ULL; mask; mask &= mask - 1)
        zz |= 1ULL << s_zag_pos[__builtin_ctzll(mask)];
    m_ac_mask = zz;
}

void jpeg_encoder::_code_coefficients_pass_one(int component_num) {
    const int t = component_num > 0;
    uint32 *dc_count = m_huff_count[t];
    uint32 *ac_count = m_huff_count[2 + t];
    const int16 *src = m_coefficient_array;
    const int dc_delta = src[0] - m_last_dc_val[component_num];
    m_last_dc_val[component_num] = src[0];
    dc_count[_bit_count(static_cast<uint>(dc_delta < 0 ? -dc_delta : dc_delta))]++;
    int last = 0;
    for (unsigned long long mask = m_ac_mask; mask; mask &= mask - 1) {
        const int i = __builtin_ctzll(mask);
        int run_len = i - last - 1;
        for (; run_len >= 16; run_len -= 16)
            ac_count[0xF0]++;
        const int ac_val = src[s_zag[i]];
        ac_count[(run_len << 4) + _bit_count(static_cast<uint>(ac_val < 0 ? -ac_val : ac_val))]++;
        last = i;
    }
    if (last != 63)
        ac_count[0]++;
}

// A symbol the statistics pass never saw (the rows of the two passes differ) has no code: writing on would give a
// corrupt file, so the encoding stops as after a failed write.
void jpeg_encoder::_no_code() {
    m_all_stream_writes_succeeded = false;
}

void jpeg_encoder::_code_coefficients_pass_two(int component_num) {
    const int t = component_num > 0;
    const uint *dc_codes = m_huff_codes[t], *ac_codes = m_huff_codes[2 + t];
    const uint8 *dc_sizes = m_huff_code_sizes[t], *ac_sizes = m_huff_code_sizes[2 + t];
    const int16 *src = m_coefficient_array;
    int temp1 = src[0] - m_last_dc_val[component_num], temp2 = temp1;
    m_last_dc_val[component_num] = src[0];
    if (temp1 < 0) {
        temp1 = -temp1;
        temp2--;
    }
    uint nbits = _bit_count(static_cast<uint>(temp1));
    if (!dc_sizes[nbits])
        return _no_code();
    _put_bits(dc_codes[nbits], dc_sizes[nbits]);
    if (nbits)
        _put_bits(static_cast<uint>(temp2) & ((1u << nbits) - 1), nbits);
    int last = 0;
    for (unsigned long long mask = m_ac_mask; mask; mask &= mask - 1) {
        const int i = __builtin_ctzll(mask);
        int run_len = i - last - 1;
        for (; run_len >= 16; run_len -= 16) {
            if (!ac_sizes[0xF0])
                return _no_code();
            _put_bits(ac_codes[0xF0], ac_sizes[0xF0]);
        }
        temp1 = temp2 = src[s_zag[i]];
        if (temp1 < 0) {
            temp1 = -temp1;
            temp2--;
        }
        nbits = _bit_count(static_cast<uint>(temp1));
        const int sym = (run_len << 4) + static_cast<int>(nbits);
        if (!ac_sizes[sym])
            return _no_code();
        _put_bits(ac_codes[sym], ac_sizes[sym]);
        _put_bits(static_cast<uint>(temp2) & ((1u << nbits) - 1), nbits);
        last = i;
    }
    if (last != 63) {
        if (!ac_sizes[0])
            return _no_code();
        _put_bits(ac_codes[0], ac_sizes[0]);
    }
}

void jpeg_encoder::_code_block(int component_num) {
    _load_quantized_coefficients(component_num);
    if (m_pass_num == 1)
        _code_coefficients_pass_one(component_num);
    else
        _code_coefficients_pass_two(component_num);
}

void jpeg_encoder::_process_mcu_row() {
    if (m_num_components == 1) {
        for (int i = 0; i < m_mcus_per_row; i++) {
            _load_block_8_8_grey(i);
            _code_block(0);
        }
    } else if (m_comp_h_samp[0] == 1 && m_comp_v_samp[0] == 1) {
        for (int i = 0; i < m_mcus_per_row; i++) {
            _load_block_8_8(i, 0, 0);
            _code_block(0);
            _load_block_8_8(i, 0, 1);
            _code_block(1);
            _load_block_8_8(i, 0, 2);
            _code_block(2);
        }
    } else if (m_comp_h_samp[0] == 2 && m_comp_v_samp[0] == 1) {
        for (int i = 0; i < m_mcus_per_row; i++) {
            _load_block_8_8(i * 2 + 0, 0, 0);
            _code_block(0);
            _load_block_8_8(i * 2 + 1, 0, 0);
            _code_block(0);
            _load_block_16_8(i, 1);
            _code_block(1);
            _load_block_16_8(i, 2);
            _code_block(2);
        }
    } else {
        for (int i = 0; i < m_mcus_per_row; i++) {
            _load_block_8_8(i * 2 + 0, 0, 0);
            _code_block(0);
            _load_block_8_8(i * 2 + 1, 0, 0);
            _code_block(0);
            _load_block_8_8(i * 2 + 0, 1, 0);
            _code_block(0);
            _load_block_8_8(i * 2 + 1, 1, 0);
            _code_block(0);
            _load_block_16_8_8(i, 1);
            _code_block(1);
            _load_block_16_8_8(i, 2);
            _code_block(2);
        }
    }
    if (m_pass_num == 1)
        _rescale_huffman_counts();
}

// --- encoder: passes

void jpeg_encoder::_reset_pass() {
    m_bit_buffer = 0;
    m_bits_in = 0;
    memset(m_last_dc_val, 0, sizeof(m_last_dc_val));
    m_mcu_y_ofs = 0;
    m_rows_in_pass = 0;
}

bool jpeg_encoder::_second_pass_init() {
    _compute_huffman_table(0 + 0);
    _compute_huffman_table(2 + 0);
    if (m_num_components > 1) {
        _compute_huffman_table(0 + 1);
        _compute_huffman_table(2 + 1);
    }
    _reset_pass();
    _emit_markers();
    m_pass_num = 2;
    return m_all_stream_writes_succeeded;
}

bool jpeg_encoder::_terminate_pass_one() {
    _optimize_huffman_table(0 + 0, DC_LUM_CODES);
    _optimize_huffman_table(2 + 0, AC_LUM_CODES);
    if (m_num_components > 1) {
        _optimize_huffman_table(0 + 1, DC_CHROMA_CODES);
        _optimize_huffman_table(2 + 1, AC_CHROMA_CODES);
    }
    return _second_pass_init();
}

bool jpeg_encoder::_terminate_pass_two() {
    _put_bits(0x7F, 7);
    _flush_output_buffer();
    _emit_marker(M_EOI);
    m_pass_num++;
    return m_all_stream_writes_succeeded;
}

bool jpeg_encoder::_process_end_of_image() {
    if (m_mcu_y_ofs) {
        // Pad the last MCU row by repeating the last row of the image.
        for (int i = m_mcu_y_ofs; i < m_mcu_y; i++)
            memcpy(m_mcu_lines[i], m_mcu_lines[m_mcu_y_ofs - 1], m_image_bpl_mcu);
        _process_mcu_row();
    }
    if (m_pass_num == 1)
        return _terminate_pass_one();
    return _terminate_pass_two();
}

void jpeg_encoder::_load_mcu(const void *pSrc) {
    const uint8 *Psrc = static_cast<const uint8 *>(pSrc);
    uint8 *pY = m_mcu_lines[m_mcu_y_ofs];
    uint8 *pCb = pY + m_image_x_mcu;
    uint8 *pCr = pCb + m_image_x_mcu;
    if (m_num_components == 1) {
        if (m_image_bpp == 1)
            memcpy(pY, Psrc, m_image_x);
        else if (m_image_bpp == 3)
            _rgb_to_y<3>(pY, Psrc, m_image_x);
        else
            _rgb_to_y<4>(pY, Psrc, m_image_x);
    } else if (m_image_bpp == 1) {
        memcpy(pY, Psrc, m_image_x);
        memset(pCb, 128, m_image_x);
        memset(pCr, 128, m_image_x);
    } else if (m_image_bpp == 3) {
        _rgb_to_ycc<3>(pY, pCb, pCr, Psrc, m_image_x);
    } else {
        _rgb_to_ycc<4>(pY, pCb, pCr, Psrc, m_image_x);
    }
    // Pad to whole MCUs by repeating the last pixel of each plane.
    for (int c = 0; c < m_num_components; c++) {
        uint8 *p = pY + c * m_image_x_mcu;
        memset(p + m_image_x, p[m_image_x - 1], m_image_x_mcu - m_image_x);
    }
    if (++m_mcu_y_ofs == m_mcu_y) {
        _process_mcu_row();
        m_mcu_y_ofs = 0;
    }
}

bool jpeg_encoder::_fail() {
    m_pass_num = 0;
    return false;
}

bool jpeg_encoder::_jpg_open(int p_x_res, int p_y_res, int src_channels) {
    // Per mode (Y_ONLY, H1V1, H2V1, H2V2): luma sampling factors; the MCU is 8 pixels per factor.
    static const int samp[4][2] = {{1, 1}, {1, 1}, {2, 1}, {2, 2}};
    const int *f = samp[m_params.m_subsampling];
    m_num_components = m_params.m_subsampling == Y_ONLY ? 1 : 3;
    m_comp_h_samp[0] = f[0];
    m_comp_v_samp[0] = f[1];
    m_mcu_x = 8 * f[0];
    m_mcu_y = 8 * f[1];
    m_comp_h_samp[1] = m_comp_v_samp[1] = 1;
    m_comp_h_samp[2] = m_comp_v_samp[2] = 1;

    m_image_x = p_x_res;
    m_image_y = p_y_res;
    m_image_bpp = src_channels;
    m_image_bpl = m_image_x * src_channels;
    m_image_x_mcu = (m_image_x + m_mcu_x - 1) & (~(m_mcu_x - 1));
    m_image_y_mcu = (m_image_y + m_mcu_y - 1) & (~(m_mcu_y - 1));
    m_image_bpl_xlt = m_image_x * m_num_components;
    m_image_bpl_mcu = m_image_x_mcu * m_num_components;
    m_mcus_per_row = m_image_x_mcu / m_mcu_x;

    m_pMCU_block = static_cast<uint8 *>(malloc(static_cast<size_t>(m_image_bpl_mcu) * m_mcu_y));
    if (!m_pMCU_block)
        return false;
    for (int i = 0; i < m_mcu_y; i++)
        m_mcu_lines[i] = m_pMCU_block + static_cast<size_t>(i) * m_image_bpl_mcu;

    _compute_quant_table(0, s_std_lum_quant);
    _compute_quant_table(1, m_params.m_no_chroma_discrim_flag ? s_std_lum_quant : s_std_croma_quant);

    m_out_buf_left = JPGE_OUT_BUF_SIZE;
    m_pOut_buf = m_out_buf;

    if (m_params.m_two_pass_flag) {
        memset(m_huff_count, 0, sizeof(m_huff_count));
        _reset_pass();
        m_pass_num = 1;
    } else {
        memcpy(m_huff_bits[0 + 0], s_dc_lum_bits, 17);
        memcpy(m_huff_val[0 + 0], s_dc_lum_val, DC_LUM_CODES);
        memcpy(m_huff_bits[2 + 0], s_ac_lum_bits, 17);
        memcpy(m_huff_val[2 + 0], s_ac_lum_val, AC_LUM_CODES);
        memcpy(m_huff_bits[0 + 1], s_dc_chroma_bits, 17);
        memcpy(m_huff_val[0 + 1], s_dc_chroma_val, DC_CHROMA_CODES);
        memcpy(m_huff_bits[2 + 1], s_ac_chroma_bits, 17);
        memcpy(m_huff_val[2 + 1], s_ac_chroma_val, AC_CHROMA_CODES);
        if (!_second_pass_init())
            return false;
    }
    return m_all_stream_writes_succeeded;
}

// --- encoder: public

jpeg_encoder::jpeg_encoder() : m_pMCU_block(nullptr) {
    _clear();
}

jpeg_encoder::~jpeg_encoder() {
    deinit();
}

void jpeg_encoder::_clear() {
    m_pStream = nullptr;
    m_params = params();
    m_num_components = 0;
    m_image_x = m_image_y = m_image_bpp = m_image_bpl = 0;
    m_image_x_mcu = m_image_y_mcu = m_image_bpl_xlt = m_image_bpl_mcu = 0;
    m_mcus_per_row = m_mcu_x = m_mcu_y = 0;
    memset(m_mcu_lines, 0, sizeof(m_mcu_lines));
    m_mcu_y_ofs = 0;
    m_rows_in_pass = 0;
    m_pOut_buf = m_out_buf;
    m_out_buf_left = JPGE_OUT_BUF_SIZE;
    m_bit_buffer = 0;
    m_bits_in = 0;
    m_pass_num = 0;
    m_all_stream_writes_succeeded = true;
}

bool jpeg_encoder::init(output_stream *pStream, int width, int height, int src_channels, const params &comp_params) {
    deinit();
    if (!pStream || width < 1 || height < 1 || width > MAX_DIMENSION || height > MAX_DIMENSION)
        return false;
    if (src_channels != 1 && src_channels != 3 && src_channels != 4)
        return false;
    if (!comp_params.check())
        return false;
    m_pStream = pStream;
    m_params = comp_params;
    if (!_jpg_open(width, height, src_channels)) {
        deinit();
        return false;
    }
    return true;
}

void jpeg_encoder::deinit() {
    free(m_pMCU_block);
    m_pMCU_block = nullptr;
    _clear();
}

bool jpeg_encoder::process_scanline(const void *pScanline) {
    if (m_pass_num < 1 || m_pass_num > 2)
        return false;
    if (m_all_stream_writes_succeeded) {
        if (!pScanline) {
            // A pass that got fewer rows than the height would code padding as image: refuse it.
            if (m_rows_in_pass != m_image_y)
                return _fail();
            if (!_process_end_of_image())
                return false;
        } else {
            if (m_rows_in_pass >= m_image_y)
                return _fail();
            m_rows_in_pass++;
            _load_mcu(pScanline);
        }
    }
    return m_all_stream_writes_succeeded;
}

// --- whole images

static bool _encode_image(output_stream &dst, int width, int height, int num_channels, const uint8 *pImage_data,
                          const params &comp_params) {
    jpeg_encoder dst_image;
    if (!dst_image.init(&dst, width, height, num_channels, comp_params))
        return false;
    const size_t bpl = static_cast<size_t>(width) * static_cast<size_t>(num_channels);
    for (uint pass_index = 0; pass_index < dst_image.get_total_passes(); pass_index++) {
        for (int i = 0; i < height; i++)
            if (!dst_image.process_scanline(pImage_data + static_cast<size_t>(i) * bpl))
                return false;
        if (!dst_image.process_scanline(nullptr))
            return false;
    }
    dst_image.deinit();
    return true;
}

static bool _valid_image_args(int width, int height, int num_channels, const uint8 *pImage_data,
                              const params &comp_params) {
    return pImage_data && width >= 1 && height >= 1 && width <= MAX_DIMENSION && height <= MAX_DIMENSION &&
           (num_channels == 1 || num_channels == 3 || num_channels == 4) && comp_params.check();
}

bool compress_image_to_jpeg_file(const char *pFilename, int width, int height, int num_channels,
                                 const uint8 *pImage_data, const params &comp_params) {
    // Checked before the file is touched, so a bad call never truncates an existing file.
    if (!pFilename || !*pFilename || !_valid_image_args(width, height, num_channels, pImage_data, comp_params))
        return false;
    // A partial file never appears under the final name, and a good old file survives a failed write. The
    // temporary file has a short name of its own, so any name the file system takes can be the target.
    std::string tmp_name;
    errno = 0;
    FILE *f = kiv_platform_tmp_create(pFilename, &tmp_name);
    if (!f)
        return false;
    // Written through the file that created it, never reopened by name.
    cfile_stream dst_stream;
    bool ok = dst_stream.open(f);
    ok = ok && _encode_image(dst_stream, width, height, num_channels, pImage_data, comp_params);
    ok = dst_stream.close() && ok;
    ok = ok && kiv_platform_file_replace(tmp_name.c_str(), pFilename);
    if (!ok) {
        const int err = errno;
        kiv_platform_file_remove(tmp_name.c_str());
        errno = err;
    }
    return ok;
}

bool compress_image_to_jpeg_file_in_memory(void *pDstBuf, int &buf_size, int width, int height, int num_channels,
                                           const uint8 *pImage_data, const params &comp_params) {
    if (!pDstBuf || buf_size <= 0)
        return false;
    memory_stream dst_stream(pDstBuf, static_cast<uint>(buf_size));
    if (!_encode_image(dst_stream, width, height, num_channels, pImage_data, comp_params))
        return false;
    buf_size = static_cast<int>(dst_stream.get_size());
    return true;
}

} // namespace jpge
