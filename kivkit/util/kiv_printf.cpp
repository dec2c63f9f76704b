// Engine-wide log call (kiv_printf): formats without a length limit and writes one flushed line to stdout.
#include "kiv_printf.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "kiv_driver.h"

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

std::string kiv_log_text(const char *s, size_t n) {
    static const char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(n);
    for (size_t i = 0; s && i < n; i++) {
        unsigned char c = (unsigned char)s[i];
        switch (c) {
        case '\r':
            out += "\\r";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case 0:
            out += "\\0";
            break;
        case '\\':
            out += "\\\\";
            break;
        default:
            if (c < 0x20 || c == 0x7f) {
                out += "\\x";
                out += hex[c >> 4];
                out += hex[c & 15];
            } else {
                out += (char)c;
            }
        }
    }
    return out;
}

std::string kiv_log_text(const std::string &s) {
    return kiv_log_text(s.data(), s.size());
}
