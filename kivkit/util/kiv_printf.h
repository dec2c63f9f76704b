// Engine-wide log call: one line to standard output, prefixed with the call site.
// Every kivkit module logs through the kiv_printf macro.
#pragma once

#if defined(__GNUC__)
#define KIV_PRINTF_FORMAT(a, b) __attribute__((format(printf, a, b)))
#else
#define KIV_PRINTF_FORMAT(a, b)
#endif

// Prints "[file:func:line] message" (prefix only when file, func and line are all given),
// adds a missing newline and flushes. The level is accepted and ignored.
void _kiv_iprintf(const char *file, int line, const char *func, int level, const char *fmt, ...)
    KIV_PRINTF_FORMAT(5, 6);

#include <cstdarg>
#include <string>

// printf-style formatting with no length limit; the argument list is left unused (it is copied).
std::string kiv_vformat(const char *fmt, va_list ap);
std::string kiv_format(const char *fmt, ...) KIV_PRINTF_FORMAT(1, 2);

// "[file:func:line] " with the directories of file cut: the call-site prefix of every log line.
std::string kiv_log_where(const char *file, const char *func, int line);

#define kiv_printf(...) _kiv_iprintf(__FILE__, __LINE__, __func__, 0, __VA_ARGS__)

// Outside text made safe for one log line: CR, LF, tab and NUL become \r \n \t \0, a backslash is doubled, the
// other bytes below 0x20, 0x7f, the C1 controls (C2 80 to C2 9F) and bytes that are no part of valid UTF-8 become
// \xNN; the rest of valid UTF-8 stays. So no received or script text can start a line or steer a terminal.
std::string kiv_log_text(const char *s, size_t n);
std::string kiv_log_text(const std::string &s);

// A log line allowed at most once per `every` ticks of the caller's clock (SDL's or ENet's milliseconds, a steady
// clock's seconds), so that a flood of one event costs a line a second and a test can drive the clock. The events in
// between are held and counted; the next line says how many. The first line is due at once, unless the caller takes
// one at its start. Unsigned ticks may wrap: the distance is taken in the tick type.
template <class Tick> struct KivNoteLimit {
    Tick every;
    Tick last = Tick();
    bool taken = false;
    unsigned held = 0;

    bool due(Tick now) const { return !taken || Tick(now - last) >= every; }
    // Counts one event; true when its line is due now, and the caller then logs what take() answers.
    bool note(Tick now) {
        held++;
        return due(now);
    }
    // Marks a line logged at now and answers the events held for it (the noted one among them).
    unsigned take(Tick now) {
        unsigned n = held;
        last = now;
        taken = true;
        held = 0;
        return n;
    }
};
