// HTTP client start and stop: placeholder until the web client lands.
#pragma once

int kiv_web_init();
void kiv_web_deinit();
