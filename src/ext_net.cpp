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
// What ENet allocates for each queued command besides its bytes, counted against a peer's byte limit.
static const size_t _NET_COMMAND_COST = sizeof(ENetIncomingCommand) + sizeof(ENetPacket);
// How often the half-open connections are looked at, in ENet's milliseconds.
static const enet_uint32 _NET_SCAN_MS = 100;

// What is watched per peer slot of the host (indexed like host->peers), each entry valid for one connection.
struct _NetSlot {
    enet_uint32 over_id = 0; // connectID of a connection found over its queue limit, to be disconnected
    bool over = false;
    size_t commands = 0, bytes = 0; // what was counted when it was found over
    enet_uint32 open_id = 0;        // connectID of a connection seen half-open since `since`
    bool half_open = false;
    enet_uint32 since = 0;
};

struct MyNetExt {
    int mode = -1; // -1 nothing opened yet, 1 server, 0 client
    ENetHost *net = nullptr;
    std::map<NetID, ENetPeer *> peers;
    NetID ids_v = 0;
    // Events made here rather than by ENet (a name that did not resolve), handed out before ENet's.
    std::deque<NetEvent> pending;
    std::vector<_NetSlot> slots;
    bool any_over = false;
    enet_uint32 last_scan = 0;
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

// Commands and bytes a peer holds queued in ENet: parked or fragmented on its channels and received but not yet
// polled; the count stops just past a limit, so it costs no more than the limit allows.
static void _net_queued(const ENetPeer *peer, size_t *commands, size_t *bytes) {
    size_t c = 0, b = 0;
    auto walk = [&](const ENetList *list) {
        for (const ENetListNode *n = list->sentinel.next;
             n != &list->sentinel && c <= NET_PEER_MAX_COMMANDS && b < NET_PEER_MAX_BYTES; n = n->next) {
            const ENetIncomingCommand *cmd = (const ENetIncomingCommand *)n;
            c++;
            b += _NET_COMMAND_COST;
            if (cmd->packet)
                b += cmd->packet->dataLength;
            if (cmd->fragments)
                b += (cmd->fragmentCount + 31) / 32 * sizeof(enet_uint32);
        }
    };
    for (size_t i = 0; peer->channels && i < peer->channelCount; i++) {
        walk(&peer->channels[i].incomingReliableCommands);
        walk(&peer->channels[i].incomingUnreliableCommands);
    }
    walk(&peer->dispatchedCommands);
    *commands = c;
    *bytes = b;
}

// False for a datagram carrying an unreliable fragment of more fragments than bytes: ENet would make room for a
// fragment bitmap of up to 128 KB for a message of a byte or two, past its own waiting-data count. The commands are
// walked as ENet walks them, after the range coder when the datagram is compressed.
static bool _net_fragments_sane(ENetHost *host) {
    static enet_uint8 plain[ENET_PROTOCOL_MAXIMUM_MTU];
    const enet_uint8 *data = host->receivedData, *end = data + host->receivedDataLength;
    unsigned flags = ((unsigned)data[0] << 8 | data[1]) & ENET_PROTOCOL_HEADER_FLAG_MASK;
    const enet_uint8 *at = data + ((flags & ENET_PROTOCOL_HEADER_FLAG_SENT_TIME) ? 4 : 2);
    if (at > end)
        return true;
    if (flags & ENET_PROTOCOL_HEADER_FLAG_COMPRESSED) {
        if (!host->compressor.context || !host->compressor.decompress)
            return true; // ENet drops it
        size_t n = host->compressor.decompress(host->compressor.context, at, end - at, plain, sizeof(plain));
        if (n == 0 || n > sizeof(plain))
            return true;
        at = plain;
        end = plain + n;
    }
    while (at + sizeof(ENetProtocolCommandHeader) <= end) {
        const ENetProtocol *cmd = (const ENetProtocol *)at;
        unsigned number = cmd->header.command & ENET_PROTOCOL_COMMAND_MASK;
        size_t size = enet_protocol_command_size(cmd->header.command);
        if (number >= ENET_PROTOCOL_COMMAND_COUNT || size == 0 || (size_t)(end - at) < size)
            break;
        at += size;
        switch (number) {
        case ENET_PROTOCOL_COMMAND_SEND_RELIABLE:
            at += ENET_NET_TO_HOST_16(cmd->sendReliable.dataLength);
            break;
        case ENET_PROTOCOL_COMMAND_SEND_UNRELIABLE:
            at += ENET_NET_TO_HOST_16(cmd->sendUnreliable.dataLength);
            break;
        case ENET_PROTOCOL_COMMAND_SEND_UNSEQUENCED:
            at += ENET_NET_TO_HOST_16(cmd->sendUnsequenced.dataLength);
            break;
        case ENET_PROTOCOL_COMMAND_SEND_UNRELIABLE_FRAGMENT:
            if (ENET_NET_TO_HOST_32(cmd->sendFragment.fragmentCount) >
                ENET_NET_TO_HOST_32(cmd->sendFragment.totalLength))
                return false;
            // fall through
        case ENET_PROTOCOL_COMMAND_SEND_FRAGMENT:
            at += ENET_NET_TO_HOST_16(cmd->sendFragment.dataLength);
            break;
        default:
            break;
        }
    }
    return true;
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

static bool _net_live(const ENetPeer *peer) {
    return peer->state == ENET_PEER_STATE_CONNECTED || peer->state == ENET_PEER_STATE_DISCONNECT_LATER;
}

// Sees every datagram before ENet handles it: a connected sender already over its queue limits is marked and its
// datagrams dropped until _net_enforce disconnects it, so one service call cannot pile up more than one datagram
// past the limit.
static int ENET_CALLBACK _net_intercept(ENetHost *host, ENetEvent *) {
    if (!_my_net || host != _my_net->net || host->receivedDataLength < 2)
        return 0;
    size_t index = (((size_t)host->receivedData[0] << 8) | host->receivedData[1]) & ENET_PROTOCOL_MAXIMUM_PEER_ID;
    if (index >= host->peerCount || index >= _my_net->slots.size())
        return 0;
    ENetPeer *peer = &host->peers[index];
    if (!_net_live(peer) || peer->address.host != host->receivedAddress.host ||
        peer->address.port != host->receivedAddress.port)
        return 0;
    _NetSlot &slot = _my_net->slots[index];
    if ((slot.over && slot.over_id == peer->connectID) || !_net_fragments_sane(host))
        return 1;
    size_t commands, bytes;
    _net_queued(peer, &commands, &bytes);
    if (commands <= NET_PEER_MAX_COMMANDS && bytes < NET_PEER_MAX_BYTES)
        return 0;
    slot.over = true;
    slot.over_id = peer->connectID;
    slot.commands = commands;
    slot.bytes = bytes;
    _my_net->any_over = true;
    return 1;
}

static void _net_limit(ENetHost *host) {
    host->maximumPacketSize = NET_MAX_PACKET;
    host->maximumWaitingData = NET_MAX_WAITING;
    host->intercept = _net_intercept;
    _my_net->slots.assign(host->peerCount, _NetSlot());
    _my_net->any_over = false;
    _my_net->last_scan = host->serviceTime;
}

// After each service: disconnects the peers found over their limits (the script sees an ordinary disconnect) and,
// on a server, gives up the connections that were never verified, so forged CONNECTs free their slots.
static void _net_enforce() {
    ENetHost *host = _my_net->net;
    if (_my_net->any_over) {
        _my_net->any_over = false;
        for (size_t i = 0; i < host->peerCount && i < _my_net->slots.size(); i++) {
            _NetSlot &slot = _my_net->slots[i];
            ENetPeer *peer = &host->peers[i];
            if (!slot.over)
                continue;
            slot.over = false;
            if (peer->connectID != slot.over_id || !_net_live(peer))
                continue;
            NetID id = _net_forget(peer);
            gprint("net: peer %d disconnected: %zu commands and %zu bytes queued, over the limit of %zu commands or "
                   "%zu bytes\n",
                   id, slot.commands, slot.bytes, NET_PEER_MAX_COMMANDS, NET_PEER_MAX_BYTES);
            if (id) {
                NetEvent e;
                _net_event(&e, "disconnect", id, "", 0);
                _my_net->pending.push_back(e);
            }
            enet_peer_disconnect_now(peer, 0); // resets the peer: its queues are freed at once
        }
    }
    if (_my_net->mode != 1 || host->serviceTime - _my_net->last_scan < _NET_SCAN_MS)
        return;
    _my_net->last_scan = host->serviceTime;
    int dropped = 0;
    for (size_t i = 0; i < host->peerCount && i < _my_net->slots.size(); i++) {
        _NetSlot &slot = _my_net->slots[i];
        ENetPeer *peer = &host->peers[i];
        if (peer->state != ENET_PEER_STATE_ACKNOWLEDGING_CONNECT) {
            slot.half_open = false;
        } else if (!slot.half_open || slot.open_id != peer->connectID) {
            slot.half_open = true;
            slot.open_id = peer->connectID;
            slot.since = host->serviceTime;
        } else if (host->serviceTime - slot.since >= NET_HALF_OPEN_MS) {
            slot.half_open = false;
            enet_peer_reset(peer);
            dropped++;
        }
    }
    if (dropped)
        gprint("net: gave up %d connection(s) never verified within %u ms\n", dropped, NET_HALF_OPEN_MS);
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
        NetID id = _net_forget(ev.peer);
        const char *reason = !id ? "timeout" : (ev.data != 0 && ev.data != 1) ? "version" : "";
        _net_event(out, "disconnect", id, reason, strlen(reason));
        return true;
    }
    case ENET_EVENT_TYPE_RECEIVE:
        _net_event(out, "message", net_get_id(ev.peer), ev.packet->data, ev.packet->dataLength);
        enet_packet_destroy(ev.packet);
        return true;
    default:
        return false;
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
    _net_limit(_my_net->net);
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
    _net_limit(_my_net->net);
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
    _my_net->slots.clear();
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
        ENetEvent ev;
        int serviced = enet_host_service(_my_net->net, &ev, 0);
        bool got = serviced > 0 && _net_translate(ev, out);
        _net_enforce();
        if (got)
            return true;
        if (serviced <= 0 && _my_net->pending.empty())
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
