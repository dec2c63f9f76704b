// Raw libenet side of the network benchmark: two hosts on loopback with the range coder on, 64-byte reliable
// messages. "paced K": both hosts are serviced once per 1/60 s frame, one after the other in one thread, and the
// sender queues K messages a frame, as two engine processes do; "threads K": the same, but each host in a thread
// of its own with its own frame clock, half a frame apart, as two processes are; "free": both are serviced as
// fast as the loop runs, the sender kept ahead.
// Prints messages per second received over the measured seconds.
// Usage: net_bench paced K | threads K | free [SECONDS]
#include <enet/enet.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
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

const auto FRAME = std::chrono::microseconds(16667);

// One host's frames in its own thread: `work`, then a sleep to the next 1/60 s mark, until `end`.
static void frames(Clock::time_point start, Clock::time_point end, const std::function<void()> &work) {
    std::this_thread::sleep_until(start);
    for (auto next = start; Clock::now() < end; std::this_thread::sleep_until(next += FRAME))
        work();
}

int main(int argc, char **argv) {
    bool threads = argc > 1 && !strcmp(argv[1], "threads");
    bool paced = argc > 1 && (!strcmp(argv[1], "paced") || threads);
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
    auto send = [&](int n) {
        for (int i = 0; i < n; i++)
            enet_peer_send(peer, 0, enet_packet_create(msg, sizeof(msg), ENET_PACKET_FLAG_RELIABLE));
    };
    auto warm = Clock::now() + std::chrono::seconds(1);
    auto end = warm + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    long counted = 0;
    auto receive = [&] {
        long got = drain(server);
        if (Clock::now() >= warm)
            counted += got;
    };
    if (threads) {
        std::thread sender(frames, Clock::now(), end, [&] {
            send(per_frame);
            drain(client);
        });
        frames(Clock::now() + FRAME / 2, end, receive);
        sender.join();
    }
    auto next = Clock::now();
    while (!threads && Clock::now() < end) {
        // Unpaced, the sender is kept a little ahead of what the window lets out.
        send(paced ? per_frame : 256 - (int)enet_list_size(&peer->outgoingCommands));
        drain(client);
        receive();
        if (paced)
            std::this_thread::sleep_until(next += FRAME);
    }
    printf("raw libenet %-22s %10.0f msg/s\n", paced ? (std::string(argv[1]) + " " + argv[2] + "/frame").c_str() : "free",
           counted / seconds);
    enet_host_destroy(client);
    enet_host_destroy(server);
    return 0;
}
