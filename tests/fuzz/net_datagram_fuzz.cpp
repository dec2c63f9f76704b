// Fuzz target for what a hostile peer may send to a script's host: any datagram, sent from one loopback address
// after the ones before it (the corpus holds a recorded session), reaches ENet with the range coder on, and the
// events that come out are well formed.
#include <arpa/inet.h>
#include <enet/enet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "ext_net.h"
#include "fuzz_check.h"

static int _fuzz_udp = -1;
static sockaddr_in _fuzz_to;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 4096)
        return 0;
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
