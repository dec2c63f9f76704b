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
//   join       joins as a player like watch and leaves at once
//   json       joins as a player like watch, then sends 4 KB arrays of zeros (valid, slow to decode), 3,000 a second
//              in unreliable fragments, so that no window holds them back
//   datagrams  2-byte datagrams from a socket that never connects, 40,000 a second
//   parkers    100 peers from 127.0.0.50 and up, each parking 8,000 empty commands, then together 15,000
//              header-only datagrams a second
//   forged     300 CONNECTs every 0.25 s from 127.0.0.2 to 127.0.0.31, never followed up
//   rejoin     300 peers from 127.0.0.40 to 127.0.0.44 that connect, stay silent and reconnect when let go
//   pings      16 peers from 127.0.0.60, each sending every millisecond a datagram of 350 acknowledged PINGs
//   silent     512 peers from 127.0.0.100 to 127.0.0.163 that connect, stay silent and dial again every 100 ms
//              when refused or let go
//   vanish     320 peers from 127.0.0.70 to 127.0.0.89 that connect and vanish, 320 new ones every 6 s
// The attacks reconnect whenever the server drops them and print "hostile: datagrams N disconnected D".
#include <enet/enet.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

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
    // `peers` connections from loopback address 127.0.0.`from`.
    Client(int port, int from, size_t peers) {
        enet_address_set_host(&to, "127.0.0.1");
        to.port = (enet_uint16)port;
        ENetAddress a{ENET_HOST_ANY, 0};
        enet_address_set_host(&a, ("127.0.0." + std::to_string(from)).c_str());
        host = enet_host_create(&a, peers, 16, 0, 0);
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

// Joins as a player and times the snapshots; with `flood`, then sends it `per_ms` times a millisecond.
int watch(int port, int seconds, const std::string &flood = std::string(), int per_ms = 0, bool leave = false) {
    Client c(port);
    long flooded = 0;
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
                seconds = leave ? 0 : seconds;
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
        for (int i = 0; joined >= 0 && c.peer && i < per_ms; i++, flooded++)
            enet_peer_send(c.peer, 0,
                           enet_packet_create(flood.data(), flood.size(), ENET_PACKET_FLAG_UNRELIABLE_FRAGMENT));
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    printf("watch: snapshots %ld max_gap %ld ms disconnected %d\n", snapshots, max_gap, c.disconnects);
    if (per_ms)
        printf("hostile: datagrams %ld disconnected %d\n", flooded, c.disconnects);
    if (c.peer) {
        enet_peer_disconnect_now(c.peer, 0);
        c.peer = nullptr;
    }
    return 0;
}

// Many peers on hosts of `per_host` connections from 127.0.0.`from` and up, each redialled whenever it is let go;
// `connected(peer)` on each connection, then `tick(hosts)` every millisecond. The peers' data is theirs to use.
template <class C, class T> void crowd(int port, int seconds, int from, int peers, int per_host, C connected, T tick) {
    std::vector<Client *> hosts;
    for (int n = 0; n < peers; n += per_host) {
        hosts.push_back(new Client(port, from + n / per_host, per_host));
        for (int i = 0; i < per_host && n + i < peers; i++)
            enet_host_connect(hosts.back()->host, &hosts.back()->to, 16, 1);
    }
    auto start = Clock::now();
    long dropped = 0;
    while (ms_since(start) < seconds * 1000L) {
        for (Client *c : hosts) {
            ENetEvent e;
            while (enet_host_service(c->host, &e, 0) > 0) {
                if (e.type == ENET_EVENT_TYPE_CONNECT) {
                    e.peer->data = nullptr;
                    connected(c, e.peer);
                } else if (e.type == ENET_EVENT_TYPE_DISCONNECT) {
                    dropped++;
                    enet_host_connect(c->host, &c->to, 16, 1);
                } else if (e.type == ENET_EVENT_TYPE_RECEIVE) {
                    enet_packet_destroy(e.packet);
                }
            }
        }
        tick(hosts);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    printf("hostile: disconnected %ld\n", dropped);
    for (Client *c : hosts)
        delete c;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 4 || enet_initialize() != 0) {
        fprintf(stderr, "usage: kiv_hostile_peer PORT MODE SECONDS (modes: see the source)\n");
        return 2;
    }
    setvbuf(stdout, nullptr, _IOLBF, 0);
    int port = atoi(argv[1]), seconds = atoi(argv[3]);
    std::string mode = argv[2];
    if (mode == "watch" || mode == "join")
        return watch(port, seconds, std::string(), 0, mode == "join");
    if (mode == "json") {
        std::string zeros = "[0";
        while (zeros.size() + 3 <= 4096)
            zeros += ",0";
        return watch(port, seconds, zeros + "]", 3);
    }
    if (mode == "parkers") {
        long sent = 0;
        size_t turn = 0;
        crowd(
            port, seconds, 50, 100, 15,
            [&](Client *c, ENetPeer *peer) {
                // Channel 5 never carries a reliable message: all 8,000 wait behind sequence number 2. The
                // acknowledgement that completes the connection goes out first.
                enet_host_flush(c->host);
                enet_uint16 seq = 0;
                while (seq < 8000) {
                    std::string dg = enetcraft::header(peer, c->now16());
                    while (seq < 8000 && dg.size() + sizeof(ENetProtocolSendUnreliable) <= ENET_PROTOCOL_MAXIMUM_MTU)
                        enetcraft::unreliable(dg, 5, 2, ++seq, "");
                    enetcraft::send(c->host->socket, c->to, dg);
                    sent++;
                }
            },
            [&](std::vector<Client *> &hosts) {
                for (int i = 0; i < 15; i++, turn++) {
                    Client *c = hosts[turn % hosts.size()];
                    ENetPeer *peer = &c->host->peers[turn / hosts.size() % c->host->peerCount];
                    if (peer->state == ENET_PEER_STATE_CONNECTED)
                        sent += enetcraft::send(c->host->socket, c->to, enetcraft::header(peer, c->now16()));
                }
            });
        printf("hostile: datagrams %ld\n", sent);
        return 0;
    }
    if (mode == "pings") {
        long sent = 0;
        crowd(
            port, seconds, 60, 16, 16, [](Client *, ENetPeer *) {},
            [&](std::vector<Client *> &hosts) {
                for (size_t i = 0; i < hosts[0]->host->peerCount; i++) {
                    ENetPeer *peer = &hosts[0]->host->peers[i];
                    std::string dg = enetcraft::header(peer, hosts[0]->now16());
                    for (enet_uint16 n = 0; n < 350; n++)
                        enetcraft::ping(dg, n);
                    if (peer->state == ENET_PEER_STATE_CONNECTED)
                        sent += enetcraft::send(hosts[0]->host->socket, hosts[0]->to, dg);
                }
            });
        printf("hostile: datagrams %ld\n", sent);
        return 0;
    }
    if (mode == "silent") {
        auto redial = Clock::now();
        crowd(
            port, seconds, 100, 512, 8, [](Client *, ENetPeer *) {},
            [&](std::vector<Client *> &hosts) {
                if (ms_since(redial) < 100)
                    return;
                redial = Clock::now();
                for (Client *c : hosts)
                    for (size_t i = 0; i < c->host->peerCount; i++) {
                        ENetPeer *peer = &c->host->peers[i];
                        if (peer->state == ENET_PEER_STATE_CONNECTING || peer->state == ENET_PEER_STATE_DISCONNECTED) {
                            enet_peer_reset(peer);
                            enet_host_connect(c->host, &c->to, 16, 1);
                        }
                    }
            });
        return 0;
    }
    if (mode == "vanish") {
        long made = 0;
        for (auto start = Clock::now(); ms_since(start) < seconds * 1000L;) {
            std::vector<Client *> hosts;
            for (int a = 0; a < 20; a++) {
                hosts.push_back(new Client(port, 70 + a, 16));
                for (int i = 0; i < 16; i++)
                    enet_host_connect(hosts.back()->host, &hosts.back()->to, 16, 1);
            }
            // Serviced for the handshake only, then never again: gone without a word.
            for (auto cycle = Clock::now(); ms_since(cycle) < 6000 && ms_since(start) < seconds * 1000L;) {
                for (Client *c : hosts)
                    if (ms_since(cycle) < 500) {
                        ENetEvent e;
                        while (enet_host_service(c->host, &e, 0) > 0)
                            made += e.type == ENET_EVENT_TYPE_CONNECT;
                    }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            for (Client *c : hosts) {
                for (size_t i = 0; i < c->host->peerCount; i++)
                    enet_peer_reset(&c->host->peers[i]);
                delete c;
            }
        }
        printf("hostile: connected %ld\n", made);
        return 0;
    }
    if (mode == "rejoin") {
        crowd(
            port, seconds, 40, 300, 60, [](Client *, ENetPeer *) {}, [](std::vector<Client *> &) {});
        return 0;
    }
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
    } else if (mode == "datagrams") {
        ENetSocket s = enet_socket_create(ENET_SOCKET_TYPE_DATAGRAM);
        const std::string dg("\x0f\xff", 2); // to no peer, carrying nothing
        auto start = Clock::now();
        long sent = 0;
        for (long ms = 0; ms < seconds * 1000L; ms++) {
            for (int i = 0; i < 40; i++)
                sent += enetcraft::send(s, c.to, dg);
            std::this_thread::sleep_until(start + std::chrono::milliseconds(ms + 1));
        }
        enet_socket_destroy(s);
        printf("hostile: datagrams %ld disconnected 0\n", sent);
    } else if (mode == "forged") {
        std::vector<ENetSocket> from;
        for (int i = 2; i <= 31; i++) {
            ENetAddress a{ENET_HOST_ANY, 0};
            enet_address_set_host(&a, ("127.0.0." + std::to_string(i)).c_str());
            from.push_back(enet_socket_create(ENET_SOCKET_TYPE_DATAGRAM));
            enet_socket_bind(from.back(), &a);
        }
        auto start = Clock::now();
        enet_uint32 n = 0;
        for (int burst = 0; burst < seconds * 4; burst++) {
            std::this_thread::sleep_until(start + std::chrono::milliseconds(250 * burst));
            for (int i = 0; i < 300; i++, n++)
                enetcraft::send(from[n % from.size()], c.to, enetcraft::connect(0xf0000000u + n, 0));
        }
        for (ENetSocket s : from)
            enet_socket_destroy(s);
        printf("hostile: datagrams %u disconnected 0\n", n);
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
