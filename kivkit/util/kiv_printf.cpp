// Engine-wide log call (kiv_printf): formats without a length limit and writes one flushed line to stdout.
#include "kiv_printf.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "kiv_printf_int.h"

// No length limit: measure on one copy of the argument list, then format into a buffer of exactly that size
// with another (a va_list may be walked only once).
std::string kiv_vformat(const char *fmt, va_list ap) {
    if (!fmt)
        return std::string();
    va_list measure;
    va_copy(measure, ap);
    int n = vsnprintf(nullptr, 0, fmt, measure);
    va_end(measure);
    if (n <= 0)
        return std::string();
    std::string out((size_t)n + 1, '\0');
    va_list fill;
    va_copy(fill, ap);
    vsnprintf(&out[0], out.size(), fmt, fill);
    va_end(fill);
    out.resize((size_t)n);
    return out;
}

std::string kiv_format(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::string out = kiv_vformat(fmt, ap);
    va_end(ap);
    return out;
}

std::string kiv_log_where(const char *file, const char *func, int line) {
    const char *slash = strrchr(file, '/');
    std::string out = "[";
    out += slash ? slash + 1 : file;
    out += ":";
    out += func;
    out += ":";
    out += std::to_string(line);
    out += "] ";
    return out;
}

void _kiv_iprintf(const char *file, int line, const char *func, int level, const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::string msg = kiv_vformat(fmt, ap);
    va_end(ap);

    std::string prefix = (file && func && line) ? kiv_log_where(file, func, line) : std::string();
    const char *nl = (!msg.empty() && msg.back() == '\n') ? "" : "\n";
    printf("%s%s%s", prefix.c_str(), msg.c_str(), nl);
    fflush(stdout);
    driver_log_printf("%s%s%s", prefix.c_str(), msg.c_str(), nl);
}

// The length of the valid UTF-8 sequence at s[i] (lead byte c), or 0: no overlong forms, no surrogates, nothing
// past U+10FFFF.
static size_t _utf8_length(const unsigned char *s, size_t i, size_t n, unsigned char c) {
    size_t more;
    unsigned char lo = 0x80, hi = 0xbf;
    if (c >= 0xc2 && c <= 0xdf) {
        more = 1;
    } else if (c >= 0xe0 && c <= 0xef) {
        more = 2;
        lo = c == 0xe0 ? 0xa0 : 0x80;
        hi = c == 0xed ? 0x9f : 0xbf;
    } else if (c >= 0xf0 && c <= 0xf4) {
        more = 3;
        lo = c == 0xf0 ? 0x90 : 0x80;
        hi = c == 0xf4 ? 0x8f : 0xbf;
    } else {
        return 0;
    }
    for (size_t k = 1; k <= more; k++) {
        if (i + k >= n || s[i + k] < lo || s[i + k] > hi)
            return 0;
        lo = 0x80;
        hi = 0xbf;
    }
    return more + 1;
}

std::string kiv_log_text(const char *text, size_t n) {
    static const char hex[] = "0123456789abcdef";
    const unsigned char *s = (const unsigned char *)text;
    std::string out;
    out.reserve(n);
    for (size_t i = 0; s && i < n; i++) {
        unsigned char c = s[i];
        switch (c) {
        case '\r':
            out += "\\r";
            continue;
        case '\n':
            out += "\\n";
            continue;
        case '\t':
            out += "\\t";
            continue;
        case 0:
            out += "\\0";
            continue;
        case '\\':
            out += "\\\\";
            continue;
        }
        // A terminal obeys the C1 controls (C2 80 to C2 9F) as it obeys ESC, and may read a stray byte together
        // with the bytes after it.
        size_t len = c < 0x80 ? 1 : _utf8_length(s, i, n, c);
        if (c == 0xc2 && len == 2 && s[i + 1] < 0xa0)
            len = 0;
        if (len == 0 || c < 0x20 || c == 0x7f) {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out.append(text + i, len);
            i += len - 1;
        }
    }
    return out;
}

std::string kiv_log_text(const std::string &s) {
    return kiv_log_text(s.data(), s.size());
}
