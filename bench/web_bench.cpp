// Frame cost of the web extension with many requests made against a slow server: each frame steps every open
// exchange once (ext_web_loop); at most KIV_WEB_OPEN_MAX are open, the others wait their turn. Then the cost of
// handing a large answer to the script: the frame that raises its event, and the bytes the C++ side copies on the
// way (every allocation of 1 MiB or more counted while an answer is under way; Lua's own copy of the string is
// made through its allocator and is not among them).
// Usage: web_bench PORT [REQUESTS]; the server (bench/web_bench.sh starts one) answers a head and then one byte a
// second, so every open request stays in flight for the whole run. The large answers come from a loopback server
// of the benchmark's own.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "ext_header.h"
#include "game.h"
#include "kiv_web.h"
#include "../tests/mods_testutil.h"

using Clock = std::chrono::steady_clock;

static const size_t _LARGE = 1 << 20;
static std::atomic<bool> _counting{false};
static std::atomic<long long> _large_bytes{0};

void *operator new(size_t n) {
    if (n >= _LARGE && _counting.load(std::memory_order_relaxed))
        _large_bytes += (long long)n;
    if (void *p = malloc(n ? n : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void *p) noexcept {
    free(p);
}
void operator delete(void *p, size_t) noexcept {
    free(p);
}

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

// A loopback server that answers each of count connections with a body of size bytes and closes.
struct LargeServer {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    int port = 0;
    std::thread t;
    LargeServer(size_t size, int count) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t n = sizeof(a);
        bind(fd, (sockaddr *)&a, sizeof(a));
        listen(fd, 4);
        getsockname(fd, (sockaddr *)&a, &n);
        port = ntohs(a.sin_port);
        // Made before any answer is counted: the server's bytes are not the client's copies.
        std::string answer = "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(size) + "\r\n\r\n";
        answer.append(size, 'b');
        t = std::thread([this, count, answer = std::move(answer)] {
            for (int i = 0; i < count; i++) {
                int c = accept(fd, nullptr, nullptr);
                if (c < 0)
                    return;
                char buf[2048];
                (void)!recv(c, buf, sizeof(buf), 0);
                for (size_t at = 0; at < answer.size();) {
                    ssize_t k = send(c, answer.data() + at, answer.size() - at, MSG_NOSIGNAL);
                    if (k <= 0)
                        break;
                    at += (size_t)k;
                }
                close(c);
            }
        });
    }
    ~LargeServer() {
        t.join();
        close(fd);
    }
};

// Requests answers of size bytes one after the other; the script's handler keeps the last value's length.
static void measure_large(size_t size, int count) {
    modstest::ModsRig rig;
    rig.eval("got = 0 function _event(e) got = #e.value end");
    LargeServer server(size, count);
    std::vector<double> ms;
    std::vector<long long> copied;
    std::string arg = "{\"host\":\"127.0.0.1\",\"port\":" + std::to_string(server.port) +
                      ",\"path\":\"/large\",\"callback\":\"large\"}";
    for (int i = 0; i < count; i++) {
        rig.eval("got = 0");
        _large_bytes = 0;
        _counting = true;
        ext_do_call(rig.game, "web:request", arg);
        double last = 0;
        for (int f = 0; f < 100000 && rig.eval("return got") == "0"; f++) {
            auto t0 = Clock::now();
            ext_web_loop(rig.game);
            last = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
        }
        _counting = false;
        if (rig.eval("return got") != std::to_string(size)) {
            printf("large answer %d: the script saw %s bytes\n", i, rig.eval("return got").c_str());
            return;
        }
        ms.push_back(last);
        // The receive buffer is grown with realloc, the script's string by Lua: neither is counted.
        copied.push_back(_large_bytes.load());
    }
    ext_web_deinit(rig.game);
    std::sort(ms.begin(), ms.end());
    printf("%-34s median %8.2f ms  max %8.2f ms for the frame that raises the event\n", "32 MiB answer",
           ms[ms.size() / 2], ms.back());
    printf("%-34s %lld bytes copied by C++ per answer (%.1f times the body)\n", "", copied.back(),
           (double)copied.back() / (double)size);
}

int main(int argc, char **argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: web_bench PORT [REQUESTS]\n");
        return 2;
    }
    int n = argc > 2 ? atoi(argv[2]) : 1000;
    {
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
    }
    measure_large((size_t)KIV_WEB_ANSWER_MAX - 64, 5);
    return 0;
}
