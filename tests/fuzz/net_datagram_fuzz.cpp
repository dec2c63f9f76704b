// Fuzz target for what a hostile peer may send to a script's host. The network guard's byte entry point judges the
// input's commands for one of four connections from two addresses (its first byte picks which, a new frame and a
// new connection), and its totals must stay the sum of its records; then the input goes as one datagram from a
// loopback address, after the ones before it (the corpus holds a recorded session), to a real host with the range
// coder on, and the events that come out are well formed.
#include <arpa/inet.h>
#include <enet/enet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "ext_net.h"
#include "ext_net_guard.h"
#include "fuzz_check.h"

static int _fuzz_udp = -1;
static sockaddr_in _fuzz_to;
static NetGuard _fuzz_guard;
static enet_uint32 _fuzz_now = 0;

static void _fuzz_guard_step(const uint8_t *data, size_t size) {
    NetGuard &g = _fuzz_guard;
    if (g.conns.empty())
        g.conns.resize(4);
    uint8_t pick = size ? data[0] : 0;
    size_t slot = pick & 3;
    if (pick & 0x80)
        net_guard_frame(g, _fuzz_now += 10);
    if (pick & 0x40)
        net_guard_begin(g, slot, pick);
    NetVerdict v = net_guard_offer(g, g.conns[slot], pick & 4 ? 1 : 2, data + !!size, size - !!size, _fuzz_now);
    if (v == NetVerdict::over)
        net_guard_begin(g, slot, 0);
    size_t commands = 0, bytes = 0;
    for (const NetGuardConn &c : g.conns) {
        commands += c.held_commands;
        bytes += c.held_bytes;
        KIV_FUZZ_CHECK(c.empty_acks <= c.acks && c.acks <= NET_FRAME_ACKS, "acknowledgement budget");
    }
    KIV_FUZZ_CHECK(commands == g.total_commands && bytes == g.total_bytes, "totals the sum of the records");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 4096)
        return 0;
    _fuzz_guard_step(data, size);
    if (_fuzz_udp < 0) {
        net_reset();
        _fuzz_udp = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t n = sizeof(a);
        bind(_fuzz_udp, (sockaddr *)&a, sizeof(a));
        getsockname(_fuzz_udp, (sockaddr *)&a, &n);
        // The host listens on the port next to ours; a clash only makes this input a no-op.
        _fuzz_to = a;
        _fuzz_to.sin_port = htons((uint16_t)(ntohs(a.sin_port) + 1));
        net_host(ntohs(_fuzz_to.sin_port));
    }
    sendto(_fuzz_udp, data, size, 0, (sockaddr *)&_fuzz_to, sizeof(_fuzz_to));
    NetEvent e;
    for (int i = 0; i < 4; i++) {
        while (net_poll(&e)) {
            KIV_FUZZ_CHECK(e.type == "connect" || e.type == "disconnect" || e.type == "message", "event type");
            KIV_FUZZ_CHECK(e.cid >= 0 && e.cid <= 65535, "id range");
        }
    }
    // Drain whatever ENet answered, so replies never fill our socket.
    char buf[2048];
    while (recv(_fuzz_udp, buf, sizeof(buf), MSG_DONTWAIT) > 0) {
    }
    return 0;
}
