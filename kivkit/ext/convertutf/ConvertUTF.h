// Conversion between UTF-8, UTF-16 and UTF-32 over caller-supplied buffers, strict or lenient.
// The driver's poll turns text-input UTF-8 into code points with ConvertUTF8toUTF32.
//
// Every conversion advances *sourceStart and *targetStart past what it converted and returns why it
// stopped; the end pointers point one past the last usable unit.
#pragma once

#include <cstdint>

typedef uint32_t UTF32;
typedef uint16_t UTF16;
typedef uint8_t UTF8;
typedef unsigned char Boolean;

#define UNI_REPLACEMENT_CHAR (UTF32)0x0000FFFD
#define UNI_MAX_BMP (UTF32)0x0000FFFF
#define UNI_MAX_UTF16 (UTF32)0x0010FFFF
#define UNI_MAX_UTF32 (UTF32)0x7FFFFFFF
#define UNI_MAX_LEGAL_UTF32 (UTF32)0x0010FFFF

typedef enum {
    conversionOK = 0,    // conversion successful
    sourceExhausted = 1, // the input ends inside a sequence
    targetExhausted = 2, // no room in the target for the next code point
    sourceIllegal = 3    // an illegal sequence or value in the source
} ConversionResult;

typedef enum { strictConversion = 0, lenientConversion = 1 } ConversionFlags;

ConversionResult ConvertUTF8toUTF16(const UTF8 **sourceStart, const UTF8 *sourceEnd, UTF16 **targetStart,
                                    UTF16 *targetEnd, ConversionFlags flags);
ConversionResult ConvertUTF16toUTF8(const UTF16 **sourceStart, const UTF16 *sourceEnd, UTF8 **targetStart,
                                    UTF8 *targetEnd, ConversionFlags flags);
ConversionResult ConvertUTF8toUTF32(const UTF8 **sourceStart, const UTF8 *sourceEnd, UTF32 **targetStart,
                                    UTF32 *targetEnd, ConversionFlags flags);
ConversionResult ConvertUTF32toUTF8(const UTF32 **sourceStart, const UTF32 *sourceEnd, UTF8 **targetStart,
                                    UTF8 *targetEnd, ConversionFlags flags);
ConversionResult ConvertUTF16toUTF32(const UTF16 **sourceStart, const UTF16 *sourceEnd, UTF32 **targetStart,
                                     UTF32 *targetEnd, ConversionFlags flags);
ConversionResult ConvertUTF32toUTF16(const UTF32 **sourceStart, const UTF32 *sourceEnd, UTF16 **targetStart,
                                     UTF16 *targetEnd, ConversionFlags flags);

// True when the sequence at *source, with the length its lead byte announces, fits before sourceEnd
// and is legal UTF-8.
Boolean isLegalUTF8Sequence(const UTF8 *source, const UTF8 *sourceEnd);
