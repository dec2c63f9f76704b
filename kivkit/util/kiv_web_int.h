// What the HTTP client's step and the tests and fuzzer that drive it without a server share: the receive step's two
// halves and the single step under kiv_web_poll.
#pragma once

#include "kiv_web.h"

// Appends received bytes to the answer and finds the end of its head: the receive step and the fuzzer share it.
// 0 on success, -1 (error set) when the answer outgrows its limits.
int _kiv_web_take(kiv_web *page, const void *bytes, int n);
// Judges the answer once the server has closed: the status line, the Content-Length and the chunked framing; a
// chunked body is decoded in place. The receive step and the fuzzer share it. 0 when the answer stands, -1 (error
// set, one log line) when not.
int _kiv_web_end(kiv_web *page);
// One step; 1 when the exchange is over.
int _kiv_web_poll(kiv_web *page);
