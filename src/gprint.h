// The game shell's log call: one time-stamped line to standard output.
#pragma once

#include "kiv_printf.h"

// Prints "[info][YYYY-MM-DD hh:mm:ss][file:func:line] message" ("[file:func:line] message" when the
// info text is "0") and adds a missing newline; does not flush.
void _gprint(const char *file, int line, const char *func, int level, const char *fmt, ...) KIV_PRINTF_FORMAT(5, 6);

#define gprint(...) _gprint(__FILE__, __LINE__, __func__, 0, __VA_ARGS__)

#include <string>

// The text of one line as _gprint writes it (newline included): info and time stamp given by the caller.
std::string _gprint_compose(const char *info, const char *stamp, const char *file, int line, const char *func,
                            const char *msg);
