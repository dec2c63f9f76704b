// The shell's log call (gprint): time-stamped lines to stdout, flushing left to the stream.
#include "gprint.h"
#include "kiv_platform.h"
#include "kiv_printf.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

// Defined by the game object.
extern const char *game_log_info();

std::string _gprint_compose(const char *info, const char *stamp, const char *file, int line, const char *func,
                            const char *msg) {
    if (!info)
        info = "";
    if (!stamp)
        stamp = "";
    if (!file)
        file = "";
    if (!func)
        func = "";
    if (!msg)
        msg = "";
    std::string out;
    if (strcmp(info, "0") != 0) {
        out += "[";
        out += info;
        out += "][";
        out += stamp;
        out += "]";
    }
    out += kiv_log_where(file, func, line);
    out += msg;
    size_t len = strlen(msg);
    if (len == 0 || msg[len - 1] != '\n')
        out += "\n";
    return out;
}

void _gprint(const char *file, int line, const char *func, int level, const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::string msg = kiv_vformat(fmt, ap);
    va_end(ap);

    char stamp[64];
    time_t now = time(nullptr);
    struct tm lt;
    if (kiv_platform_localtime(now, &lt))
        snprintf(stamp, sizeof(stamp), "%04d-%02d-%02d %02d:%02d:%02d", lt.tm_year + 1900, lt.tm_mon + 1, lt.tm_mday,
                 lt.tm_hour, lt.tm_min, lt.tm_sec);
    else
        stamp[0] = 0;
    std::string out = _gprint_compose(game_log_info(), stamp, file, line, func, msg.c_str());
    fwrite(out.data(), 1, out.size(), stdout);
}
