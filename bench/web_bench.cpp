// Frame cost of the web extension with many requests made against a slow server: each frame steps every open
// exchange once (ext_web_loop); at most KIV_WEB_OPEN_MAX are open, the others wait their turn.
// Usage: web_bench PORT [REQUESTS]; the server (bench/web_bench.sh starts one) answers a head and then one byte a
// second, so every open request stays in flight for the whole run.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "ext_header.h"
#include "game.h"

using Clock = std::chrono::steady_clock;

static void measure(Game &game, const char *label, int frames) {
    std::vector<double> us;
    for (int f = 0; f < frames; f++) {
        auto t0 = Clock::now();
        ext_web_loop(game);
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::sort(us.begin(), us.end());
    printf("%-34s median %8.1f us  p99 %8.1f us  max %8.1f us per frame\n", label, us[us.size() / 2],
           us[us.size() * 99 / 100], us.back());
}

int main(int argc, char **argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: web_bench PORT [REQUESTS]\n");
        return 2;
    }
    int n = argc > 2 ? atoi(argv[2]) : 1000;
    Game game;
    measure(game, "no request in flight", 100);
    std::string arg = std::string("{\"host\":\"127.0.0.1\",\"port\":") + argv[1] + ",\"path\":\"/slow\"}";
    for (int i = 0; i < n; i++)
        ext_do_call(game, "web:request", arg);
    // Let every connection be accepted and its request sent before measuring.
    for (int f = 0; f < 200; f++) {
        ext_web_loop(game);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    measure(game, (std::to_string(n) + " requests made").c_str(), 400);
    ext_web_deinit(game);
    return 0;
}
