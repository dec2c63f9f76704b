// Script networking over ENet (see the header): the one network state, id allocation, host life cycle and the
// translation of ENet events into script events. Called by the net_* bindings, the script host and shutdown.
#include "ext_net.h"

#include <enet/enet.h>

#include <cstdint>
#include <cstring>
#include <deque>
#include <map>

#include "ext_net_guard.h"
#include "gprint.h"
#include "kiv_driver.h"
#include "kiv_platform-net.h"
#include "kiv_printf.h"

static const int _NET_ID_COUNT = 65536;
static const size_t _NET_SERVER_PEERS = 256;
static const size_t _NET_CHANNELS = 16;
// The most datagrams one ENet service call reads; how often the socket is read dry at the least.
static const size_t _NET_SERVICE_DATAGRAMS = 256;
static const enet_uint32 _NET_INTAKE_EVERY_MS = 10;
// Events the intake may make ahead of the script before it stops reading.
static const size_t _NET_INTAKE_EVENTS = 64;
struct MyNetExt {
    int mode = -1; // -1 nothing opened yet, 1 server, 0 client
    ENetHost *net = nullptr;
    std::map<NetID, ENetPeer *> peers;
    NetID ids_v = 0;
    // Events made here rather than by ENet (a name that did not resolve), handed out before ENet's.
    std::deque<NetEvent> pending;
    // Whether a net_poll run (calls until one has no event) is under way.
    bool intake_on = false;
    enet_uint32 intake_at = 0;
    // A client's server name being looked up beside the frame loop; it connects once the address is known.
    kiv_net_lookup *lookup = nullptr;
    std::string lookup_host;
    enet_uint16 lookup_port = 0;
    enet_uint32 lookup_since = 0;
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

// Takes a leaving peer out of the id table (only if the id still names it) and clears its id; the id it had.
static NetID _net_forget(ENetPeer *peer) {
    NetID id = net_get_id(peer);
    if (id) {
        auto it = _my_net->peers.find(id);
        if (it != _my_net->peers.end() && it->second == peer)
            _my_net->peers.erase(it);
    }
    peer->data = nullptr;
    return id;
}

// The guard lets a peer go: the script hears a disconnect of one it knew. The id it had.
static int _net_let_go(ENetPeer *peer) {
    NetID id = _net_forget(peer);
    if (id) {
        NetEvent e;
        _net_event(&e, "disconnect", id, "", 0);
        _my_net->pending.push_back(e);
    }
    return id;
}

// One ENet event as a script event; false for those the script never sees (a foreign version, no id left).
static bool _net_translate(ENetEvent &ev, NetEvent *out) {
    switch (ev.type) {
    case ENET_EVENT_TYPE_CONNECT: {
        if (ev.data != 0 && ev.data != 1) {
            enet_peer_disconnect_now(ev.peer, 1);
            return false;
        }
        NetID id = net_next_id();
        if (!id) {
            enet_peer_disconnect_now(ev.peer, 0);
            return false;
        }
        ev.peer->data = (void *)(intptr_t)id;
        _my_net->peers[id] = ev.peer;
        _net_event(out, "connect", id, "", 0);
        return true;
    }
    case ENET_EVENT_TYPE_DISCONNECT: {
        net_guard_left(ev.peer);
        NetID id = _net_forget(ev.peer);
        const char *reason = !id ? "timeout" : (ev.data != 0 && ev.data != 1) ? "version" : "";
        _net_event(out, "disconnect", id, reason, strlen(reason));
        return true;
    }
    case ENET_EVENT_TYPE_RECEIVE: {
        net_guard_received(ev.peer, ev.packet->dataLength);
        _net_event(out, "message", net_get_id(ev.peer), ev.packet->data, ev.packet->dataLength);
        enet_packet_destroy(ev.packet);
        return true;
    }
    default:
        return false;
    }
}

// Reads the socket dry, or for NET_INTAKE_MS, at the start of each net_poll run. ENet reads it only when it has
// no event left to hand out, and then 256 datagrams a call at most, so a flood or a script that stops early would
// leave the rest to overflow the socket's buffer, honest peers' datagrams with it. The peers with events to hand
// out are set aside meanwhile, so that ENet reads instead; the few events it makes as it reads wait in `pending`.
static void _net_intake() {
    ENetHost *host = _my_net->net;
    enet_uint32 start = enet_time_get();
    net_guard_next_frame(start);
    for (;;) {
        net_guard_set_aside();
        size_t read = net_guard_datagrams();
        ENetEvent ev;
        int serviced = enet_host_service(host, &ev, 0);
        NetEvent e;
        if (serviced > 0 && _net_translate(ev, &e))
            _my_net->pending.push_back(e);
        net_guard_enforce();
        if (serviced < 0 || (serviced == 0 && net_guard_datagrams() - read < _NET_SERVICE_DATAGRAMS) ||
            _my_net->pending.size() >= _NET_INTAKE_EVENTS || (enet_uint32)(enet_time_get() - start) >= NET_INTAKE_MS)
            break;
    }
    net_guard_put_back();
}

// A client's connection that cannot be made: the host is closed and the script hears a disconnect with the
// reason, as for a connection that never answers.
static void _net_give_up(const char *host, enet_uint16 port, const char *reason, const char *why) {
    gprint("net_open: cannot connect to %s:%d - %s\n", kiv_log_text(host).c_str(), port, why);
    if (_my_net->lookup)
        kiv_net_lookup_forget(_my_net->lookup);
    _my_net->lookup = nullptr;
    if (_my_net->net)
        enet_host_destroy(_my_net->net);
    _my_net->net = nullptr;
    net_guard_detach();
    NetEvent e;
    _net_event(&e, "disconnect", 0, reason, strlen(reason));
    _my_net->pending.push_back(e);
}

static void _net_connect(ENetAddress address, const char *host) {
    ENetPeer *peer = enet_host_connect(_my_net->net, &address, _NET_CHANNELS, NET_VERSION);
    if (!peer)
        _net_give_up(host, address.port, "timeout", "no peer for the connection");
    net_guard_dialed(peer);
}

// Steps a client's lookup of its server's name: connects once it is known, gives up when the name is not found
// or the resolver has not answered within the time ENet gives a connection.
static void _net_lookup_step() {
    in_addr a;
    int err = 0;
    long r = kiv_net_lookup_poll(_my_net->lookup, &a, &err);
    std::string host = _my_net->lookup_host;
    if (r == 0) {
        kiv_net_lookup_forget(_my_net->lookup);
        _my_net->lookup = nullptr;
        ENetAddress address;
        address.host = a.s_addr;
        address.port = _my_net->lookup_port;
        _net_connect(address, host.c_str());
    } else if (r == KIV_NET_FAIL) {
        _net_give_up(host.c_str(), _my_net->lookup_port, "host not found",
                     kiv_format("cannot find the host (%d)", err).c_str());
    } else if (enet_time_get() - _my_net->lookup_since >= NET_LOOKUP_MS) {
        _net_give_up(host.c_str(), _my_net->lookup_port, "timeout",
                     kiv_format("no answer from the resolver within %u ms", NET_LOOKUP_MS).c_str());
    }
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
    net_guard_attach(_my_net->net, true, _net_let_go);
    enet_socket_set_option(_my_net->net->socket, ENET_SOCKOPT_RCVBUF, NET_RECEIVE_BUFFER);
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
    net_guard_attach(_my_net->net, false, _net_let_go);
    _my_net->mode = 0;
    std::string name = host ? host : "";
    ENetAddress address;
    address.port = (enet_uint16)port;
    if (!name.empty() && enet_address_set_host_ip(&address, name.c_str()) == 0) {
        _net_connect(address, name.c_str());
        return;
    }
    in_addr known;
    if (kiv_net_lookup_cached(name.c_str(), &known)) {
        address.host = known.s_addr;
        _net_connect(address, name.c_str());
        return;
    }
    // Any other name waits for the process's shared lookup beside the frame loop, so a resolver that does not
    // answer holds up no frame.
    _my_net->lookup = name.empty() ? nullptr : kiv_net_lookup_start(name.c_str());
    if (!_my_net->lookup) {
        _net_give_up(name.c_str(), (enet_uint16)port, "host not found", "cannot find the host");
        return;
    }
    _my_net->lookup_host = name;
    _my_net->lookup_port = (enet_uint16)port;
    _my_net->lookup_since = enet_time_get();
}

void net_kick(NetID cid) {
    if (!_my_net || !_my_net->net)
        return;
    auto it = _my_net->peers.find(cid);
    if (it != _my_net->peers.end() && !net_guard_kick(it->second))
        enet_peer_disconnect_later(it->second, 0);
}

void net_close() {
    if (!_my_net)
        return;
    _my_net->pending.clear();
    if (_my_net->lookup)
        kiv_net_lookup_forget(_my_net->lookup); // never waits for a resolver that does not answer
    _my_net->lookup = nullptr;
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
    net_guard_detach();
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
    if (len > NET_MAX_PACKET) {
        gprint("net_send: message of %zu bytes not sent, over the limit of %zu\n", len, NET_MAX_PACKET);
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
    for (;;) {
        if (!_my_net->pending.empty()) {
            *out = _my_net->pending.front();
            _my_net->pending.pop_front();
            return true;
        }
        if (!_my_net->net)
            return false;
        if (_my_net->lookup) {
            _net_lookup_step();
            if (_my_net->lookup)
                return false;
            continue; // connecting now, or the reason it could not
        }
        // A script that stops before the end still has the socket read every frame or so.
        if (!_my_net->intake_on || (enet_uint32)(enet_time_get() - _my_net->intake_at) >= _NET_INTAKE_EVERY_MS) {
            _my_net->intake_on = true;
            _my_net->intake_at = enet_time_get();
            _net_intake();
            continue; // what it made goes first
        }
        ENetEvent ev;
        int serviced = enet_host_service(_my_net->net, &ev, 0);
        bool got = serviced > 0 && _net_translate(ev, out);
        net_guard_enforce();
        if (got)
            return true;
        if (serviced > 0 || !_my_net->pending.empty())
            continue;
        _my_net->intake_on = false;
        return false;
    }
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
