// HTTP client start and stop: placeholder; sockets need no start-up on this platform.
#include "kiv_web.h"

int kiv_web_init() {
    return 0;
}

void kiv_web_deinit() {}
