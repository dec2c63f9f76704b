// Script networking over ENet (see the header): the one network state, id allocation, host life cycle and the
// translation of ENet events into script events. Called by the net_* bindings, the script host and shutdown.
#include "ext_net.h"

#include <enet/enet.h>

#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <vector>

#include "gprint.h"
#include "kiv_driver.h"

static const int _NET_ID_COUNT = 65536;
static const size_t _NET_SERVER_PEERS = 256;
static const size_t _NET_CHANNELS = 16;

struct MyNetExt {
    int mode = -1; // -1 nothing opened yet, 1 server, 0 client
    ENetHost *net = nullptr;
    std::map<NetID, ENetPeer *> peers;
    NetID ids_v = 0;
    // Events made here rather than by ENet (a name that did not resolve), handed out before ENet's.
    std::deque<NetEvent> pending;
};

static MyNetExt *_my_net = nullptr;

// --- internal helpers

// The id lives in the peer's user-data pointer itself, so there is no block to lose at close.
static NetID net_get_id(const ENetPeer *peer) {
    return (NetID)(intptr_t)peer->data;
}

// The next id after the last one that no connected peer holds; after 65535 connections the count wraps, and an
// id still in use is skipped so that two peers never share one.
static NetID net_next_id() {
    for (int tries = 0; tries < _NET_ID_COUNT; tries++) {
        _my_net->ids_v = (_my_net->ids_v + 1) % _NET_ID_COUNT;
        if (_my_net->ids_v == 0)
            _my_net->ids_v = 1;
        if (!_my_net->peers.count(_my_net->ids_v))
            return _my_net->ids_v;
    }
    return 0;
}

static bool _net_port_ok(const char *who, int port) {
    if (port >= 0 && port <= 65535)
        return true;
    gprint("%s: port %d out of range\n", who, port);
    return false;
}

static void _net_event(NetEvent *out, const char *type, NetID cid, const void *value, size_t len) {
    out->type = type;
    out->cid = cid;
    out->value.assign(len ? (const char *)value : "", len);
}

// --- public functions

void net_reset() {
    net_deinit();
    delete _my_net;
    _my_net = new MyNetExt();
}

void net_host(int port) {
    if (!_my_net)
        return;
    if (_my_net->net)
        net_close();
    _my_net->pending.clear();
    if (!_net_port_ok("net_host", port))
        return;
    ENetAddress address;
    address.host = ENET_HOST_ANY;
    address.port = (enet_uint16)port;
    _my_net->net = enet_host_create(&address, _NET_SERVER_PEERS, _NET_CHANNELS, 0, 0);
    if (!_my_net->net) {
        gprint("An error occurred while trying to create an ENet server host. (1)\n");
        return;
    }
    enet_host_compress_with_range_coder(_my_net->net);
    _my_net->mode = 1;
}

void net_open(const char *host, int port) {
    if (!_my_net)
        return;
    if (_my_net->net)
        net_close();
    _my_net->pending.clear();
    if (!_net_port_ok("net_open", port))
        return;
    _my_net->net = enet_host_create(nullptr, 1, _NET_CHANNELS, 0, 0);
    if (!_my_net->net) {
        gprint("An error occurred while trying to create an ENet client host. (2)\n");
        return;
    }
    enet_host_compress_with_range_coder(_my_net->net);
    _my_net->mode = 0;
    ENetAddress address;
    address.port = (enet_uint16)port;
    // A name that does not resolve fails like a connection that never answers, instead of going to an
    // address left over from nothing.
    if (!host || enet_address_set_host(&address, host) != 0 ||
        !enet_host_connect(_my_net->net, &address, _NET_CHANNELS, NET_VERSION)) {
        gprint("net_open: cannot connect to %s:%d\n", host ? host : "", port);
        enet_host_destroy(_my_net->net);
        _my_net->net = nullptr;
        NetEvent e;
        _net_event(&e, "disconnect", 0, "timeout", 7);
        _my_net->pending.push_back(e);
    }
}

void net_kick(NetID cid) {
    if (!_my_net || !_my_net->net)
        return;
    auto it = _my_net->peers.find(cid);
    if (it != _my_net->peers.end())
        enet_peer_disconnect_later(it->second, 0);
}

void net_close() {
    if (!_my_net)
        return;
    _my_net->pending.clear();
    ENetHost *net = _my_net->net;
    if (!net)
        return;
    int outstanding = 0;
    for (auto &p : _my_net->peers) {
        enet_peer_disconnect_later(p.second, 0);
        outstanding++;
    }
    _my_net->peers.clear();
    enet_host_flush(net);
    long start = driver_timer_get_ticks();
    while (outstanding > 0) {
        long spent = driver_timer_get_ticks() - start;
        if (spent < 0 || spent >= NET_CLOSE_BUDGET_MS)
            break;
        // Each wait takes only what is left of the budget, so the whole close stays within it.
        ENetEvent ev;
        if (enet_host_service(net, &ev, (enet_uint32)(NET_CLOSE_BUDGET_MS - spent)) <= 0)
            break;
        if (ev.type == ENET_EVENT_TYPE_DISCONNECT && net_get_id(ev.peer) != 0) {
            ev.peer->data = nullptr;
            outstanding--;
        } else if (ev.type == ENET_EVENT_TYPE_RECEIVE) {
            enet_packet_destroy(ev.packet);
        }
    }
    enet_host_destroy(net);
    _my_net->net = nullptr;
}

void net_send(NetID cid, const char *data, size_t len, int mode, int channel) {
    if (!_my_net || !_my_net->net)
        return;
    // ENet's range coder reads past a zero-length packet (the process crashes), and a peer cannot tell an empty
    // message from none anyway: it is not sent.
    if (len == 0) {
        gprint("net_send: empty message not sent\n");
        return;
    }
    enet_uint32 flags = 0;
    if (mode == 1)
        flags = ENET_PACKET_FLAG_RELIABLE;
    else if (mode == -1)
        flags = ENET_PACKET_FLAG_UNSEQUENCED;
    enet_uint8 ch = (enet_uint8)(channel & 0xFF);
    ENetPeer *peer = nullptr;
    if (cid != 0) {
        auto it = _my_net->peers.find(cid);
        if (it == _my_net->peers.end())
            return;
        peer = it->second;
    }
    ENetPacket *packet = enet_packet_create(data, len, flags);
    if (!packet) {
        gprint("net_send: no packet for %zu bytes\n", len);
        return;
    }
    if (!peer)
        enet_host_broadcast(_my_net->net, ch, packet); // frees a packet no peer took
    else if (enet_peer_send(peer, ch, packet) < 0)
        enet_packet_destroy(packet);
}

void net_flush() {
    if (_my_net && _my_net->net)
        enet_host_flush(_my_net->net);
}

bool net_poll(NetEvent *out) {
    if (!_my_net)
        return false;
    if (!_my_net->pending.empty()) {
        *out = _my_net->pending.front();
        _my_net->pending.pop_front();
        return true;
    }
    if (!_my_net->net)
        return false;
    ENetEvent ev;
    while (enet_host_service(_my_net->net, &ev, 0) > 0) {
        switch (ev.type) {
        case ENET_EVENT_TYPE_CONNECT: {
            if (ev.data != 0 && ev.data != 1) {
                enet_peer_disconnect_now(ev.peer, 1);
                continue;
            }
            NetID id = net_next_id();
            if (!id) {
                enet_peer_disconnect_now(ev.peer, 0);
                continue;
            }
            ev.peer->data = (void *)(intptr_t)id;
            _my_net->peers[id] = ev.peer;
            _net_event(out, "connect", id, "", 0);
            return true;
        }
        case ENET_EVENT_TYPE_DISCONNECT: {
            NetID id = net_get_id(ev.peer);
            const char *reason = !id ? "timeout" : (ev.data != 0 && ev.data != 1) ? "version" : "";
            if (id) {
                auto it = _my_net->peers.find(id);
                if (it != _my_net->peers.end() && it->second == ev.peer)
                    _my_net->peers.erase(it);
                ev.peer->data = nullptr;
            }
            _net_event(out, "disconnect", id, reason, strlen(reason));
            return true;
        }
        case ENET_EVENT_TYPE_RECEIVE: {
            _net_event(out, "message", net_get_id(ev.peer), ev.packet->data, ev.packet->dataLength);
            enet_packet_destroy(ev.packet);
            return true;
        }
        default:
            break;
        }
    }
    return false;
}

void net_deinit() {
    if (_my_net)
        net_close();
}

bool net_is_open() {
    return _my_net && _my_net->net;
}

void net_set_last_id(NetID id) {
    if (_my_net)
        _my_net->ids_v = id;
}
