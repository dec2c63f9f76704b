// Raw libenet side of the network benchmark: two hosts on loopback with the range coder on, 64-byte reliable
// messages. "paced K": both hosts are serviced once per 1/60 s frame, one after the other in one thread, and the
// sender queues K messages a frame, as two engine processes do; "free": both are serviced as fast as the loop
// runs, the sender kept ahead.
// Prints messages per second received over the measured seconds. Usage: net_bench paced K | free [SECONDS]
#include <enet/enet.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

using Clock = std::chrono::steady_clock;

static ENetHost *make(ENetAddress *a, size_t peers) {
    ENetHost *h = enet_host_create(a, peers, 16, 0, 0);
    if (h)
        enet_host_compress_with_range_coder(h);
    return h;
}

// Services a host until it has no event; answers the messages received.
static long drain(ENetHost *h) {
    long n = 0;
    ENetEvent e;
    while (enet_host_service(h, &e, 0) > 0) {
        if (e.type == ENET_EVENT_TYPE_RECEIVE) {
            n++;
            enet_packet_destroy(e.packet);
        }
    }
    return n;
}

int main(int argc, char **argv) {
    bool paced = argc > 1 && !strcmp(argv[1], "paced");
    int per_frame = paced && argc > 2 ? atoi(argv[2]) : 0;
    double seconds = argc > (paced ? 3 : 2) ? atof(argv[paced ? 3 : 2]) : 4.0;
    ENetAddress any{ENET_HOST_ANY, 0};
    ENetHost *server = make(&any, 4);
    ENetHost *client = make(nullptr, 1);
    if (!server || !client) {
        fprintf(stderr, "net_bench: no ENet host\n");
        return 1;
    }
    ENetAddress to;
    enet_address_set_host(&to, "127.0.0.1");
    to.port = server->address.port;
    ENetPeer *peer = enet_host_connect(client, &to, 16, 1);
    while (peer->state != ENET_PEER_STATE_CONNECTED) {
        drain(server);
        drain(client);
    }
    char msg[64];
    memset(msg, 'm', sizeof(msg));
    const auto frame = std::chrono::microseconds(16667);
    auto warm = Clock::now() + std::chrono::seconds(1);
    auto end = warm + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    long counted = 0;
    auto next = Clock::now();
    while (Clock::now() < end) {
        if (paced) {
            for (int i = 0; i < per_frame; i++)
                enet_peer_send(peer, 0, enet_packet_create(msg, sizeof(msg), ENET_PACKET_FLAG_RELIABLE));
        } else {
            // Keep the sender a little ahead of what the window lets out.
            while (enet_list_size(&peer->outgoingCommands) < 256)
                enet_peer_send(peer, 0, enet_packet_create(msg, sizeof(msg), ENET_PACKET_FLAG_RELIABLE));
        }
        drain(client);
        long got = drain(server);
        if (Clock::now() >= warm)
            counted += got;
        if (paced) {
            next += frame;
            std::this_thread::sleep_until(next);
        }
    }
    printf("raw libenet %-22s %10.0f msg/s\n", paced ? (std::string("paced ") + argv[2] + "/frame").c_str() : "free",
           counted / seconds);
    enet_host_destroy(client);
    enet_host_destroy(server);
    return 0;
}
