// A hostile peer of the game's server on the system's libenet (range coder on), for the hostile-peer tests, and
// the honest observer they measure with.
// Usage: kiv_hostile_peer PORT MODE SECONDS
//   parked     zero-byte unreliable commands behind a reliable message that never comes
//   fragments  first fragments of messages that never complete
//   big        one 8 MB reliable message
//   flood      valid small game messages as fast as the loop goes
//   connects   one burst of 300 CONNECT datagrams that are never followed up, then exits
//   watch      joins as a player (hello, welcome) and times the snapshots: "watch: joined in N ms", at the end
//              "watch: snapshots N max_gap M ms disconnected D"
// The attacks reconnect whenever the server drops them and print "hostile: MODE datagrams N disconnected D".
#include <enet/enet.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "enet_craft.h"

namespace {

using Clock = std::chrono::steady_clock;

long ms_since(Clock::time_point t) {
    return (long)std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

struct Client {
    ENetHost *host = nullptr;
    ENetPeer *peer = nullptr;
    ENetAddress to;
    bool connected = false;
    int disconnects = 0;
    int generation = 0; // counts connections, so that an attack starts its numbering afresh on each

    explicit Client(int port) {
        enet_address_set_host(&to, "127.0.0.1");
        to.port = (enet_uint16)port;
        host = enet_host_create(nullptr, 1, 16, 0, 0);
        if (!host) {
            fprintf(stderr, "hostile: no ENet host\n");
            exit(2);
        }
        enet_host_compress_with_range_coder(host);
    }
    ~Client() { enet_host_destroy(host); }
    void dial() {
        connected = false;
        peer = enet_host_connect(host, &to, 16, 1);
        if (peer)
            peer->data = nullptr;
    }
    // Services without waiting; calls on_message for each message, returns false once the server dropped us.
    template <class F> bool service(F on_message) {
        ENetEvent e;
        while (enet_host_service(host, &e, 0) > 0) {
            if (e.type == ENET_EVENT_TYPE_CONNECT) {
                connected = true;
                generation++;
            } else if (e.type == ENET_EVENT_TYPE_DISCONNECT) {
                connected = false;
                disconnects++;
                peer = nullptr;
                return false;
            } else if (e.type == ENET_EVENT_TYPE_RECEIVE) {
                on_message(e.packet);
                enet_packet_destroy(e.packet);
            }
        }
        return true;
    }
    bool service() {
        return service([](ENetPacket *) {});
    }
    enet_uint16 now16() const { return (enet_uint16)(host->serviceTime & 0xFFFF); }
};

// Runs `attack` (one burst of datagrams for a connected peer) until the time is up, reconnecting when dropped;
// the sequence number it is given starts at 0 on each connection.
template <class F> void attack_loop(Client &c, int seconds, F attack) {
    auto start = Clock::now();
    long sent = 0;
    int gen = 0;
    enet_uint16 seq = 0;
    c.dial();
    while (ms_since(start) < seconds * 1000L) {
        if (!c.service() || !c.peer) {
            c.dial();
            continue;
        }
        if (c.connected && gen != c.generation)
            gen = c.generation, seq = 0;
        if (c.connected)
            sent += attack(c, seq);
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    printf("hostile: datagrams %ld disconnected %d\n", sent, c.disconnects);
}

int watch(int port, int seconds) {
    Client c(port);
    auto start = Clock::now();
    c.dial();
    long joined = -1, max_gap = 0, snapshots = 0;
    Clock::time_point last;
    while (ms_since(start) < seconds * 1000L) {
        bool alive = c.service([&](ENetPacket *p) {
            std::string m((const char *)p->data, p->dataLength);
            if (joined < 0 && m.find("\"welcome\"") != std::string::npos) {
                joined = ms_since(start);
                printf("watch: joined in %ld ms\n", joined);
                fflush(stdout);
            } else if (joined >= 0 && m.find("\"state\"") != std::string::npos) {
                if (snapshots++ > 0 && ms_since(last) > max_gap)
                    max_gap = ms_since(last);
                last = Clock::now();
            }
        });
        if (!alive)
            break;
        if (c.connected && joined < 0 && c.peer && c.peer->state == ENET_PEER_STATE_CONNECTED && !c.peer->data) {
            const char hello[] = "{\"t\":\"hello\"}";
            enet_peer_send(c.peer, 0, enet_packet_create(hello, sizeof(hello) - 1, ENET_PACKET_FLAG_RELIABLE));
            c.peer->data = (void *)1; // hello sent
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    printf("watch: snapshots %ld max_gap %ld ms disconnected %d\n", snapshots, max_gap, c.disconnects);
    if (c.peer) {
        enet_peer_disconnect_now(c.peer, 0);
        c.peer = nullptr;
    }
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 4 || enet_initialize() != 0) {
        fprintf(stderr, "usage: kiv_hostile_peer PORT parked|fragments|big|flood|connects|watch SECONDS\n");
        return 2;
    }
    setvbuf(stdout, nullptr, _IOLBF, 0);
    int port = atoi(argv[1]), seconds = atoi(argv[3]);
    std::string mode = argv[2];
    if (mode == "watch")
        return watch(port, seconds);
    Client c(port);
    if (mode == "parked") {
        // Channel 5 never carries a reliable message, so sequence number 2 never becomes due.
        attack_loop(c, seconds, [&](Client &cl, enet_uint16 &seq) {
            for (int d = 0; d < 4; d++) {
                std::string dg = enetcraft::header(cl.peer, cl.now16());
                while (dg.size() + sizeof(ENetProtocolSendUnreliable) <= ENET_PROTOCOL_MAXIMUM_MTU)
                    enetcraft::unreliable(dg, 5, 2, ++seq, "");
                enetcraft::send(cl.host->socket, cl.to, dg);
            }
            return 4;
        });
    } else if (mode == "fragments") {
        // Fragment 0 of ever new messages just under 1 MB: the receiver makes room for the whole message.
        attack_loop(c, seconds, [&](Client &cl, enet_uint16 &seq) {
            std::string dg = enetcraft::header(cl.peer, cl.now16());
            for (int i = 0; i < 32; i++)
                enetcraft::fragment(dg, 6, ++seq, 1000, 0, 1000 * 1000, 0, std::string(64, 'f'));
            if (seq >= 4096 * 6)
                seq = 0;
            enetcraft::send(cl.host->socket, cl.to, dg);
            return 1;
        });
    } else if (mode == "big") {
        std::string big = "[";
        while (big.size() < 8 * 1024 * 1024)
            big += "1,";
        big += "1]";
        attack_loop(c, seconds, [&](Client &cl, enet_uint16 &) {
            if (cl.peer->data)
                return 0;
            cl.peer->data = (void *)1;
            enet_peer_send(cl.peer, 0, enet_packet_create(big.data(), big.size(), ENET_PACKET_FLAG_RELIABLE));
            return 1;
        });
    } else if (mode == "flood") {
        const std::string msg = "{\"t\":\"input\",\"dx\":1,\"dy\":0}";
        attack_loop(c, seconds, [&](Client &cl, enet_uint16 &group) {
            for (int d = 0; d < 4; d++) {
                std::string dg = enetcraft::header(cl.peer, cl.now16());
                while (dg.size() + sizeof(ENetProtocolSendUnsequenced) + msg.size() <= ENET_PROTOCOL_MAXIMUM_MTU)
                    enetcraft::unsequenced(dg, 0, ++group, msg);
                enetcraft::send(cl.host->socket, cl.to, dg);
            }
            return 4;
        });
    } else if (mode == "connects") {
        for (enet_uint32 i = 0; i < 300; i++)
            enetcraft::send(c.host->socket, c.to, enetcraft::connect(0x5eed0000u + i, 0));
        printf("hostile: datagrams 300 disconnected 0\n");
    } else {
        fprintf(stderr, "kiv_hostile_peer: unknown mode %s\n", mode.c_str());
        return 2;
    }
    return 0;
}
