// What the log call needs from outside its module: the driver's log hook, declared here so the log module
// (which every module includes) includes none of them back.
#pragma once

// Defined by the driver (kiv_driver.h); every log line is handed to it after it is written.
void driver_log_printf(const char *fmt, ...);
