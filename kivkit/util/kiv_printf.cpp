// Engine-wide log call (kiv_printf): formats without a length limit and writes one flushed line to stdout.
#include "kiv_printf.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "kiv_driver.h"

// The message has no length limit: measure on a copy of the argument list, then format into a buffer of
// exactly that size (a va_list may be walked only once).
static char *_kiv_vformat(const char *fmt, va_list ap) {
    va_list measure;
    va_copy(measure, ap);
    int n = vsnprintf(nullptr, 0, fmt, measure);
    va_end(measure);
    if (n < 0)
        n = 0;
    char *msg = (char *)malloc((size_t)n + 1);
    if (!msg)
        return nullptr;
    if (n > 0)
        vsnprintf(msg, (size_t)n + 1, fmt, ap);
    msg[n] = 0;
    return msg;
}

static const char *_kiv_basename(const char *file) {
    const char *slash = strrchr(file, '/');
    return slash ? slash + 1 : file;
}

void _kiv_iprintf(const char *file, int line, const char *func, int level, const char *fmt, ...) {
    if (!fmt)
        fmt = "";
    va_list ap;
    va_start(ap, fmt);
    char *msg = _kiv_vformat(fmt, ap);
    va_end(ap);
    if (!msg)
        return;

    std::string prefix;
    if (file && func && line) {
        prefix = "[";
        prefix += _kiv_basename(file);
        prefix += ":";
        prefix += func;
        prefix += ":";
        prefix += std::to_string(line);
        prefix += "] ";
    }
    size_t len = strlen(msg);
    const char *nl = (len > 0 && msg[len - 1] == '\n') ? "" : "\n";
    printf("%s%s%s%s", "", prefix.c_str(), msg, nl);
    fflush(stdout);
    driver_log_printf("%s%s%s%s", "", prefix.c_str(), msg, nl);
    free(msg);
}
