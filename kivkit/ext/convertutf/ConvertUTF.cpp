// UTF-8 / UTF-16 / UTF-32 conversion routines; the driver's poll is the one caller (UTF-8 to UTF-32).
#include "ConvertUTF.h"

static const int halfShift = 10;
static const UTF32 halfBase = 0x0010000UL;
static const UTF32 halfMask = 0x3FFUL;

#define UNI_SUR_HIGH_START (UTF32)0xD800
#define UNI_SUR_HIGH_END (UTF32)0xDBFF
#define UNI_SUR_LOW_START (UTF32)0xDC00
#define UNI_SUR_LOW_END (UTF32)0xDFFF

// Added back after summing a sequence's bytes: removes the lead-byte marks and continuation bits.
static const UTF32 offsetsFromUTF8[6] = {0x00000000UL, 0x00003080UL, 0x000E2080UL,
                                         0x03C82080UL, 0xFA082080UL, 0x82082080UL};

// Lead-byte marks of 1..6 byte sequences (index = number of bytes).
static const UTF8 firstByteMark[7] = {0x00, 0x00, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC};

static const UTF32 byteMask = 0xBF;
static const UTF32 byteMark = 0x80;

// Number of trailing bytes a lead byte announces (0 for ASCII and stray continuation bytes).
static int _trailing_bytes(UTF8 lead) {
    if (lead < 0xC0)
        return 0;
    if (lead < 0xE0)
        return 1;
    if (lead < 0xF0)
        return 2;
    if (lead < 0xF8)
        return 3;
    if (lead < 0xFC)
        return 4;
    return 5;
}

static bool _is_surrogate(UTF32 ch) {
    return ch >= UNI_SUR_HIGH_START && ch <= UNI_SUR_LOW_END;
}

static int _utf8_length(UTF32 ch) {
    if (ch < 0x80)
        return 1;
    if (ch < 0x800)
        return 2;
    if (ch < 0x10000)
        return 3;
    return 4;
}

// Writes ch (at most U+10FFFF) as n bytes at target; the caller has checked the room.
static void _utf8_write(UTF8 *target, UTF32 ch, int n) {
    for (int i = n - 1; i > 0; i--) {
        target[i] = (UTF8)((ch | byteMark) & byteMask);
        ch >>= 6;
    }
    target[0] = (UTF8)(ch | firstByteMark[n]);
}

// The legality test: length 1..4, continuation bytes 0x80-0xBF, no overlong forms, no encoded
// surrogates, nothing above U+10FFFF.
static bool isLegalUTF8(const UTF8 *source, int length) {
    if (length < 1 || length > 4)
        return false;
    for (int i = 2; i < length; i++) {
        if (source[i] < 0x80 || source[i] > 0xBF)
            return false;
    }
    if (length >= 2) {
        UTF8 a = source[1];
        if (a > 0xBF)
            return false;
        switch (source[0]) {
        case 0xE0:
            if (a < 0xA0)
                return false;
            break;
        case 0xED:
            if (a > 0x9F)
                return false;
            break;
        case 0xF0:
            if (a < 0x90)
                return false;
            break;
        case 0xF4:
            if (a > 0x8F)
                return false;
            break;
        default:
            if (a < 0x80)
                return false;
        }
    }
    if (source[0] >= 0x80 && source[0] < 0xC2)
        return false;
    if (source[0] > 0xF4)
        return false;
    return true;
}

Boolean isLegalUTF8Sequence(const UTF8 *source, const UTF8 *sourceEnd) {
    if (source >= sourceEnd)
        return false;
    int length = _trailing_bytes(*source) + 1;
    if (length > sourceEnd - source)
        return false;
    return isLegalUTF8(source, length);
}

// Decodes one legal sequence of t+1 bytes.
static UTF32 _utf8_decode(const UTF8 *source, int t) {
    UTF32 ch = 0;
    for (int i = 0; i <= t; i++) {
        if (i)
            ch <<= 6;
        ch += source[i];
    }
    return ch - offsetsFromUTF8[t];
}

ConversionResult ConvertUTF8toUTF32(const UTF8 **sourceStart, const UTF8 *sourceEnd, UTF32 **targetStart,
                                    UTF32 *targetEnd, ConversionFlags flags) {
    ConversionResult result = conversionOK;
    const UTF8 *source = *sourceStart;
    UTF32 *target = *targetStart;
    while (source < sourceEnd) {
        int t = _trailing_bytes(*source);
        if (t >= sourceEnd - source) {
            result = sourceExhausted;
            break;
        }
        if (!isLegalUTF8(source, t + 1)) {
            result = sourceIllegal;
            break;
        }
        UTF32 ch = _utf8_decode(source, t);
        if (target >= targetEnd) {
            result = targetExhausted;
            break;
        }
        if (ch > UNI_MAX_LEGAL_UTF32) {
            result = sourceIllegal;
            *target++ = UNI_REPLACEMENT_CHAR;
        } else if (_is_surrogate(ch)) {
            if (flags == strictConversion) {
                result = sourceIllegal;
                break;
            }
            *target++ = UNI_REPLACEMENT_CHAR;
        } else {
            *target++ = ch;
        }
        source += t + 1;
    }
    *sourceStart = source;
    *targetStart = target;
    return result;
}

ConversionResult ConvertUTF8toUTF16(const UTF8 **sourceStart, const UTF8 *sourceEnd, UTF16 **targetStart,
                                    UTF16 *targetEnd, ConversionFlags flags) {
    ConversionResult result = conversionOK;
    const UTF8 *source = *sourceStart;
    UTF16 *target = *targetStart;
    while (source < sourceEnd) {
        int t = _trailing_bytes(*source);
        if (t >= sourceEnd - source) {
            result = sourceExhausted;
            break;
        }
        if (!isLegalUTF8(source, t + 1)) {
            result = sourceIllegal;
            break;
        }
        UTF32 ch = _utf8_decode(source, t);
        if (target >= targetEnd) {
            result = targetExhausted;
            break;
        }
        if (ch <= UNI_MAX_BMP) {
            if (_is_surrogate(ch)) {
                if (flags == strictConversion) {
                    result = sourceIllegal;
                    break;
                }
                *target++ = (UTF16)UNI_REPLACEMENT_CHAR;
            } else {
                *target++ = (UTF16)ch;
            }
        } else if (ch > UNI_MAX_UTF16) {
            if (flags == strictConversion) {
                result = sourceIllegal;
                break;
            }
            *target++ = (UTF16)UNI_REPLACEMENT_CHAR;
        } else {
            if (targetEnd - target < 2) {
                result = targetExhausted;
                break;
            }
            ch -= halfBase;
            *target++ = (UTF16)((ch >> halfShift) + UNI_SUR_HIGH_START);
            *target++ = (UTF16)((ch & halfMask) + UNI_SUR_LOW_START);
        }
        source += t + 1;
    }
    *sourceStart = source;
    *targetStart = target;
    return result;
}

ConversionResult ConvertUTF32toUTF8(const UTF32 **sourceStart, const UTF32 *sourceEnd, UTF8 **targetStart,
                                    UTF8 *targetEnd, ConversionFlags flags) {
    ConversionResult result = conversionOK;
    const UTF32 *source = *sourceStart;
    UTF8 *target = *targetStart;
    while (source < sourceEnd) {
        UTF32 ch = *source;
        if (flags == strictConversion && _is_surrogate(ch)) {
            result = sourceIllegal;
            break;
        }
        bool illegal = false;
        if (ch > UNI_MAX_LEGAL_UTF32) {
            ch = UNI_REPLACEMENT_CHAR;
            illegal = true;
        }
        int n = _utf8_length(ch);
        if (targetEnd - target < n) {
            result = targetExhausted;
            break;
        }
        if (illegal)
            result = sourceIllegal;
        _utf8_write(target, ch, n);
        target += n;
        source++;
    }
    *sourceStart = source;
    *targetStart = target;
    return result;
}

ConversionResult ConvertUTF32toUTF16(const UTF32 **sourceStart, const UTF32 *sourceEnd, UTF16 **targetStart,
                                     UTF16 *targetEnd, ConversionFlags flags) {
    ConversionResult result = conversionOK;
    const UTF32 *source = *sourceStart;
    UTF16 *target = *targetStart;
    while (source < sourceEnd) {
        if (target >= targetEnd) {
            result = targetExhausted;
            break;
        }
        UTF32 ch = *source;
        if (ch <= UNI_MAX_BMP) {
            if (_is_surrogate(ch)) {
                if (flags == strictConversion) {
                    result = sourceIllegal;
                    break;
                }
                *target++ = (UTF16)UNI_REPLACEMENT_CHAR;
            } else {
                *target++ = (UTF16)ch;
            }
        } else if (ch > UNI_MAX_LEGAL_UTF32) {
            if (flags == strictConversion) {
                result = sourceIllegal;
            } else {
                *target++ = (UTF16)UNI_REPLACEMENT_CHAR;
            }
        } else {
            if (targetEnd - target < 2) {
                result = targetExhausted;
                break;
            }
            ch -= halfBase;
            *target++ = (UTF16)((ch >> halfShift) + UNI_SUR_HIGH_START);
            *target++ = (UTF16)((ch & halfMask) + UNI_SUR_LOW_START);
        }
        source++;
    }
    *sourceStart = source;
    *targetStart = target;
    return result;
}

// Reads one code point from UTF-16, pairing surrogates; advances *src on success.
static ConversionResult _utf16_read(const UTF16 **src, const UTF16 *sourceEnd, ConversionFlags flags, UTF32 *out) {
    const UTF16 *source = *src;
    UTF32 ch = *source++;
    if (ch >= UNI_SUR_HIGH_START && ch <= UNI_SUR_HIGH_END) {
        if (source >= sourceEnd)
            return sourceExhausted;
        UTF32 ch2 = *source;
        if (ch2 >= UNI_SUR_LOW_START && ch2 <= UNI_SUR_LOW_END) {
            ch = ((ch - UNI_SUR_HIGH_START) << halfShift) + (ch2 - UNI_SUR_LOW_START) + halfBase;
            ++source;
        } else if (flags == strictConversion) {
            return sourceIllegal;
        }
    } else if (flags == strictConversion && ch >= UNI_SUR_LOW_START && ch <= UNI_SUR_LOW_END) {
        return sourceIllegal;
    }
    *src = source;
    *out = ch;
    return conversionOK;
}

ConversionResult ConvertUTF16toUTF32(const UTF16 **sourceStart, const UTF16 *sourceEnd, UTF32 **targetStart,
                                     UTF32 *targetEnd, ConversionFlags flags) {
    ConversionResult result = conversionOK;
    const UTF16 *source = *sourceStart;
    UTF32 *target = *targetStart;
    while (source < sourceEnd) {
        const UTF16 *next = source;
        UTF32 ch = 0;
        result = _utf16_read(&next, sourceEnd, flags, &ch);
        if (result != conversionOK)
            break;
        if (target >= targetEnd) {
            result = targetExhausted;
            break;
        }
        *target++ = ch;
        source = next;
    }
    *sourceStart = source;
    *targetStart = target;
    return result;
}

ConversionResult ConvertUTF16toUTF8(const UTF16 **sourceStart, const UTF16 *sourceEnd, UTF8 **targetStart,
                                    UTF8 *targetEnd, ConversionFlags flags) {
    ConversionResult result = conversionOK;
    const UTF16 *source = *sourceStart;
    UTF8 *target = *targetStart;
    while (source < sourceEnd) {
        const UTF16 *next = source;
        UTF32 ch = 0;
        result = _utf16_read(&next, sourceEnd, flags, &ch);
        if (result != conversionOK)
            break;
        int n = _utf8_length(ch);
        if (targetEnd - target < n) {
            result = targetExhausted;
            break;
        }
        _utf8_write(target, ch, n);
        target += n;
        source = next;
    }
    *sourceStart = source;
    *targetStart = target;
    return result;
}
