// The network guard (see the header): the byte-level judgement of each datagram, then what it needs of the ENet
// host it guards, ENet's own layout kept in the one section below. Called by ext_net.cpp.
#include "ext_net_guard.h"

#include <algorithm>
#include <cstring>

#include "ext_net.h"
#include "gprint.h"

// What ENet allocates for each queued command besides its bytes, counted against a peer's byte limit.
static const size_t _NET_COMMAND_COST = sizeof(ENetIncomingCommand) + sizeof(ENetPacket);
// How often the half-open connections are looked at, and the limit lines logged at most, in ENet's milliseconds.
static const enet_uint32 _NET_SCAN_MS = 100;
static const enet_uint32 _NET_NOTE_MS = 1000;
// A queue is walked again once a quarter of what the last walk found has been offered since, or after this long:
// walks then cost a few steps per command received, however close to its limit a peer stays.
static const enet_uint32 _NET_WALK_MS = 250;
// Frames over the acknowledgement budget at most this far apart count as one stretch of being over.
static const enet_uint32 _NET_OVER_GAP_MS = 250;

// --- the byte-level guard

void net_guard_hold(NetGuard &g, NetGuardConn &conn, size_t commands, size_t bytes) {
    g.total_commands = g.total_commands - conn.held_commands + commands;
    g.total_bytes = g.total_bytes - conn.held_bytes + bytes;
    conn.held_commands = commands;
    conn.held_bytes = bytes;
}

void net_guard_begin(NetGuard &g, size_t slot, enet_uint32 connect_id) {
    if (slot >= g.conns.size())
        return;
    NetGuardConn &conn = g.conns[slot];
    net_guard_hold(g, conn, 0, 0);
    conn = NetGuardConn();
    conn.connect_id = connect_id;
    conn.born = ++g.births;
}

void net_guard_frame(NetGuard &g, enet_uint32 now) {
    g.frame++;
    g.frame_at = now;
    g.by_address.clear();
}

bool net_guard_count(NetGuardConn &conn, const uint8_t *at, size_t length, NetGuardCount *out) {
    const uint8_t *end = at + length;
    while (at + sizeof(ENetProtocolCommandHeader) <= end) {
        const ENetProtocol *cmd = (const ENetProtocol *)at;
        unsigned number = cmd->header.command & ENET_PROTOCOL_COMMAND_MASK;
        size_t size = enet_protocol_command_size(cmd->header.command);
        if (number >= ENET_PROTOCOL_COMMAND_COUNT || size == 0 || (size_t)(end - at) < size)
            break;
        at += size;
        bool message = number == ENET_PROTOCOL_COMMAND_SEND_RELIABLE || number == ENET_PROTOCOL_COMMAND_SEND_FRAGMENT;
        if (cmd->header.command & ENET_PROTOCOL_COMMAND_FLAG_ACKNOWLEDGE) {
            out->acks++;
            out->empty_acks += !message;
        }
        size_t data = 0;
        switch (number) {
        case ENET_PROTOCOL_COMMAND_SEND_RELIABLE:
            data = ENET_NET_TO_HOST_16(cmd->sendReliable.dataLength);
            break;
        case ENET_PROTOCOL_COMMAND_SEND_UNRELIABLE:
            data = ENET_NET_TO_HOST_16(cmd->sendUnreliable.dataLength);
            break;
        case ENET_PROTOCOL_COMMAND_SEND_UNSEQUENCED:
            data = ENET_NET_TO_HOST_16(cmd->sendUnsequenced.dataLength);
            break;
        case ENET_PROTOCOL_COMMAND_SEND_UNRELIABLE_FRAGMENT:
        case ENET_PROTOCOL_COMMAND_SEND_FRAGMENT: {
            enet_uint32 count = ENET_NET_TO_HOST_32(cmd->sendFragment.fragmentCount);
            enet_uint32 total = ENET_NET_TO_HOST_32(cmd->sendFragment.totalLength);
            if (number == ENET_PROTOCOL_COMMAND_SEND_UNRELIABLE_FRAGMENT && count > total)
                return false;
            at += ENET_NET_TO_HOST_16(cmd->sendFragment.dataLength);
            enet_uint32 key = number << 24 | (enet_uint32)cmd->header.channelID << 16 |
                              ENET_NET_TO_HOST_16(cmd->sendFragment.startSequenceNumber);
            if (conn.fragmenting && conn.fragment_key == key)
                continue;
            conn.fragmenting = true;
            conn.fragment_key = key;
            out->commands++;
            out->bytes +=
                _NET_COMMAND_COST + std::min<size_t>(total, NET_MAX_PACKET) +
                (std::min<size_t>(count, ENET_PROTOCOL_MAXIMUM_FRAGMENT_COUNT) + 31) / 32 * sizeof(enet_uint32);
            continue;
        }
        default:
            continue;
        }
        at += data;
        out->commands++;
        out->bytes += _NET_COMMAND_COST + data;
    }
    return true;
}

static bool _net_acks_over(const NetGuardConn &conn, const NetGuardCount &a, const NetGuardCount &c) {
    return conn.acks + c.acks > NET_FRAME_ACKS || conn.empty_acks + c.empty_acks > NET_FRAME_EMPTY_ACKS ||
           a.acks + c.acks > NET_ADDRESS_FRAME_ACKS || a.empty_acks + c.empty_acks > NET_ADDRESS_FRAME_EMPTY_ACKS;
}

// Acknowledged commands past the frame's budget: the datagram is dropped, and a peer over it for
// NET_OVER_LET_GO_MS is to be let go.
static NetVerdict _net_over_acks(NetGuard &g, NetGuardConn &conn, enet_uint32 now) {
    g.ack_dropped++;
    if (!conn.stretch || (enet_uint32)(now - conn.over_last) > _NET_OVER_GAP_MS)
        conn.over_since = now;
    conn.over_acks = conn.stretch = true;
    conn.over_last = now;
    if ((enet_uint32)(now - conn.over_since) < NET_OVER_LET_GO_MS)
        return NetVerdict::drop;
    conn.over = conn.over_budget = true;
    return NetVerdict::over;
}

NetVerdict net_guard_offer(NetGuard &g, NetGuardConn &conn, enet_uint32 address, const uint8_t *commands, size_t length,
                           enet_uint32 now, NetGuardWalk walk, const void *peer) {
    if (conn.over)
        return NetVerdict::drop;
    if (conn.frame != g.frame) {
        conn.frame = g.frame;
        conn.acks = conn.empty_acks = 0;
        conn.over_acks = false;
    } else if (conn.over_acks) {
        g.ack_dropped++;
        return NetVerdict::drop; // unread: the rest of this frame costs nothing
    }
    NetGuardCount c;
    if (!net_guard_count(conn, commands, length, &c))
        return NetVerdict::drop;
    if (c.acks) {
        NetGuardCount &a = g.by_address[address];
        if (_net_acks_over(conn, a, c))
            return _net_over_acks(g, conn, now);
        conn.acks += c.acks;
        conn.empty_acks += c.empty_acks;
        a.acks += c.acks;
        a.empty_acks += c.empty_acks;
    }
    if (c.commands == 0)
        return NetVerdict::pass;
    conn.offered += c.commands;
    if (conn.held_commands + c.commands > NET_PEER_MAX_COMMANDS || conn.held_bytes + c.bytes >= NET_PEER_MAX_BYTES) {
        if (conn.offered * 4 < conn.walked && (enet_uint32)(now - conn.walked_at) < _NET_WALK_MS)
            return NetVerdict::drop; // held back until a walk is due
        if (walk) {
            size_t held_commands, held_bytes;
            walk(peer, &held_commands, &held_bytes);
            net_guard_hold(g, conn, held_commands, held_bytes);
        }
        conn.walked = conn.held_commands;
        conn.offered = 0;
        conn.walked_at = now;
        if (conn.held_commands > NET_PEER_MAX_COMMANDS || conn.held_bytes >= NET_PEER_MAX_BYTES) {
            conn.over = true;
            conn.over_commands = conn.held_commands;
            conn.over_bytes = conn.held_bytes;
            net_guard_hold(g, conn, 0, 0);
            return NetVerdict::over;
        }
    }
    net_guard_hold(g, conn, conn.held_commands + c.commands, conn.held_bytes + c.bytes);
    // Past the bound for all peers, one holding more than its share waits (its datagrams dropped before ENet
    // spends anything on them); those holding less still get through, so the total stays under twice the bound.
    size_t slots = std::max<size_t>(g.conns.size(), 1);
    if ((g.total_commands > NET_TOTAL_MAX_COMMANDS || g.total_bytes > NET_TOTAL_MAX_BYTES) &&
        (conn.held_commands > NET_TOTAL_MAX_COMMANDS / slots || conn.held_bytes > NET_TOTAL_MAX_BYTES / slots)) {
        net_guard_hold(g, conn, conn.held_commands - c.commands, conn.held_bytes - c.bytes);
        g.held_back++;
        return NetVerdict::drop;
    }
    return NetVerdict::pass;
}

// --- over ENet's host. What the guard reads of ENet beyond its calls (the received datagram, the peer table, the
// queues of incoming commands and the compressor) was checked against these versions; another may lay them out
// otherwise.

#if ENET_VERSION < ENET_VERSION_CREATE(1, 3, 17) || ENET_VERSION > ENET_VERSION_CREATE(1, 3, 18)
#error "the network guard reads ENet's host and queue layout as in ENet 1.3.17 and 1.3.18: check it for this version"
#endif
static_assert(sizeof(ENetProtocolCommandHeader) == 4 && sizeof(ENetProtocolConnect) == 48 &&
                  sizeof(ENetProtocolSendFragment) == 24,
              "ENet's wire format as the guard reads it");

// ENet's range coder, keeping what the intercept decompressed of the datagram just received for ENet's own pass
// over the same bytes, so that each datagram is decompressed once.
struct _NetCoder {
    void *range = nullptr;
    bool kept = false;
    const enet_uint8 *in = nullptr;
    size_t in_length = 0, length = 0;
    enet_uint8 plain[ENET_PROTOCOL_MAXIMUM_MTU];
};

struct _NetGuarded {
    NetGuard g;
    ENetHost *host = nullptr;
    bool server = false;
    NetGuardLetGo let_go = nullptr;
    _NetCoder *coder = nullptr;
    size_t datagrams = 0;
    bool any_over = false;
    enet_uint32 last_scan = 0;
    KivNoteLimit<enet_uint32> note{_NET_NOTE_MS}; // the limit lines
    ENetList aside;                               // peers with events, set aside while the socket is read
};

static _NetGuarded *_my_guard = nullptr;

static size_t ENET_CALLBACK _net_compress(void *context, const ENetBuffer *in, size_t count, size_t limit,
                                          enet_uint8 *out, size_t out_limit) {
    return enet_range_coder_compress(((_NetCoder *)context)->range, in, count, limit, out, out_limit);
}

static size_t ENET_CALLBACK _net_decompress(void *context, const enet_uint8 *in, size_t limit, enet_uint8 *out,
                                            size_t out_limit) {
    _NetCoder *coder = (_NetCoder *)context;
    if (coder->kept && in == coder->in && limit == coder->in_length && coder->length <= out_limit) {
        coder->kept = false;
        memcpy(out, coder->plain, coder->length);
        return coder->length;
    }
    return enet_range_coder_decompress(coder->range, in, limit, out, out_limit);
}

static void ENET_CALLBACK _net_coder_destroy(void *context) {
    _NetCoder *coder = (_NetCoder *)context;
    if (_my_guard && _my_guard->coder == coder)
        _my_guard->coder = nullptr;
    enet_range_coder_destroy(coder->range);
    delete coder;
}

// The commands of the datagram just received, after the range coder when it is compressed (what it makes is kept
// for ENet); false when ENet drops the datagram anyway.
static bool _net_commands(ENetHost *host, const enet_uint8 **at, const enet_uint8 **end) {
    const enet_uint8 *data = host->receivedData;
    *end = data + host->receivedDataLength;
    unsigned flags = ((unsigned)data[0] << 8 | data[1]) & ENET_PROTOCOL_HEADER_FLAG_MASK;
    *at = data + ((flags & ENET_PROTOCOL_HEADER_FLAG_SENT_TIME) ? 4 : 2);
    if (*at > *end)
        return false;
    if (flags & ENET_PROTOCOL_HEADER_FLAG_COMPRESSED) {
        _NetCoder *coder = _my_guard->coder;
        if (!coder)
            return false; // no decompressor: ENet drops it
        size_t n = enet_range_coder_decompress(coder->range, *at, *end - *at, coder->plain, sizeof(coder->plain));
        if (n == 0 || n > sizeof(coder->plain))
            return false;
        coder->kept = true;
        coder->in = *at;
        coder->in_length = *end - *at;
        coder->length = n;
        *at = coder->plain;
        *end = coder->plain + n;
    }
    return true;
}

// Commands and bytes a peer holds queued in ENet: parked or fragmented on its channels and received but not yet
// polled; the count stops just past a limit, so it costs no more than the limit allows.
static void _net_queued(const void *from, size_t *commands, size_t *bytes) {
    const ENetPeer *peer = (const ENetPeer *)from;
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

static NetGuardConn &_net_conn(const ENetPeer *peer) {
    return _my_guard->g.conns[peer - _my_guard->host->peers];
}

// A connection that has delivered no message, or that the script let go: it holds no player, so a newcomer may
// take its place.
static bool _net_quiet(const ENetPeer *peer) {
    const NetGuardConn &conn = _net_conn(peer);
    return peer->state == ENET_PEER_STATE_ACKNOWLEDGING_CONNECT || !conn.spoke || conn.kicked;
}

// Which quiet connection gives way first: one let go, then one left unverified past its grace, then a silent one,
// then one just begun (a newcomer verifying and saying hello); of each one of the address holding the most quiet ones
// first (a newcomer's own address holds few), the oldest first.
static bool _net_before(const ENetPeer *a, const ENetPeer *b, size_t a_quiet, size_t b_quiet) {
    auto rank = [](const ENetPeer *p) {
        const NetGuardConn &c = _net_conn(p);
        if (c.kicked)
            return 0;
        if (_my_guard->host->serviceTime - c.begun_at < NET_VERIFY_GRACE_MS)
            return 3;
        return p->state == ENET_PEER_STATE_ACKNOWLEDGING_CONNECT ? 1 : 2;
    };
    if (rank(a) != rank(b))
        return rank(a) < rank(b);
    if (a_quiet != b_quiet)
        return a_quiet > b_quiet;
    return _net_conn(a).born < _net_conn(b).born;
}

// Resets a connection the guard gives up; the script hears of one it knew.
static void _net_give_up(ENetPeer *peer) {
    if (_my_guard->let_go)
        _my_guard->let_go(peer);
    net_guard_hold(_my_guard->g, _net_conn(peer), 0, 0);
    enet_peer_reset(peer);
}

// A CONNECT on a server. An address may hold NET_PER_ADDRESS connections, NET_QUIET_PER_ADDRESS of them quiet:
// past either the new one takes the place of the address's oldest quiet connection, or is refused. In a full table
// or past NET_QUIET_SHARE quiet ones, a quiet connection of any address gives way. ENet then takes the CONNECT into
// its first free slot (a repeated one it ignores). 1 drops the datagram.
static int _net_admit(ENetHost *host) {
    const enet_uint8 *at, *end;
    if (!_net_commands(host, &at, &end) || (size_t)(end - at) < sizeof(ENetProtocolConnect))
        return 0;
    const ENetProtocolConnect *connect = (const ENetProtocolConnect *)at;
    if ((connect->header.command & ENET_PROTOCOL_COMMAND_MASK) != ENET_PROTOCOL_COMMAND_CONNECT)
        return 0;
    NetGuard &g = _my_guard->g;
    const ENetAddress &from = host->receivedAddress;
    size_t n = std::min(g.conns.size(), host->peerCount), same = 0, free_at = n, quiet = 0, own_quiet = 0;
    ENetPeer *own_first = nullptr;
    std::unordered_map<enet_uint32, size_t> quiet_at; // by address
    for (size_t i = 0; i < n; i++) {
        ENetPeer *peer = &host->peers[i];
        if (peer->state == ENET_PEER_STATE_DISCONNECTED) {
            free_at = std::min(free_at, i);
            continue;
        }
        if (peer->state == ENET_PEER_STATE_CONNECTING)
            continue;
        bool ours = peer->address.host == from.host;
        if (ours && peer->address.port == from.port && peer->connectID == connect->connectID)
            return 0;
        same += ours;
        if (_net_quiet(peer))
            quiet_at[peer->address.host]++;
    }
    ENetPeer *first = nullptr;
    for (size_t i = 0; i < n; i++) {
        ENetPeer *peer = &host->peers[i];
        if (peer->state == ENET_PEER_STATE_DISCONNECTED || peer->state == ENET_PEER_STATE_CONNECTING ||
            !_net_quiet(peer))
            continue;
        quiet++;
        if (!first || _net_before(peer, first, quiet_at[peer->address.host], quiet_at[first->address.host]))
            first = peer;
        if (peer->address.host == from.host) {
            own_quiet++;
            if (!own_first || _net_before(peer, own_first, 0, 0))
                own_first = peer;
        }
    }
    ENetPeer *give = nullptr;
    if (same >= NET_PER_ADDRESS || own_quiet >= NET_QUIET_PER_ADDRESS) {
        if (!own_first) {
            g.refused++;
            return 1;
        }
        give = own_first;
    } else if (free_at == n || quiet >= NET_QUIET_SHARE) {
        if (host->serviceTime - g.taken_at >= 1000) {
            g.taken.clear();
            g.taken_at = host->serviceTime;
        }
        give = first && first->address.host == from.host ? first : nullptr;
        if (!give && first && g.taken[from.host] < NET_TAKEN_PER_ADDRESS) {
            g.taken[from.host]++;
            give = first;
        }
        if (!give && own_first)
            give = own_first;
        if (!give && free_at == n) {
            g.crowded++;
            return 1; // every slot holds one that spoke, or this address took its share of places
        }
    }
    if (give) {
        size_t index = give - host->peers;
        _net_give_up(give);
        g.gave_way++;
        free_at = std::min(free_at, index);
    }
    if (free_at < n) {
        net_guard_begin(g, free_at, connect->connectID);
        g.conns[free_at].begun_at = host->serviceTime;
    }
    return 0;
}

// Sees every datagram before ENet handles it: CONNECTs go through _net_admit, a connected sender's through
// net_guard_offer; a sender over a limit has its datagrams dropped until net_guard_enforce lets it go, so one
// service call cannot pile up more than one datagram past the limit.
static int ENET_CALLBACK _net_intercept(ENetHost *host, ENetEvent *) {
    if (!_my_guard || host != _my_guard->host || host->receivedDataLength < 2)
        return 0;
    _my_guard->datagrams++;
    if (_my_guard->coder)
        _my_guard->coder->kept = false;
    size_t index = (((size_t)host->receivedData[0] << 8) | host->receivedData[1]) & ENET_PROTOCOL_MAXIMUM_PEER_ID;
    if (index == ENET_PROTOCOL_MAXIMUM_PEER_ID)
        return _my_guard->server ? _net_admit(host) : 0;
    if (index >= host->peerCount || index >= _my_guard->g.conns.size())
        return 0;
    ENetPeer *peer = &host->peers[index];
    if (peer->state == ENET_PEER_STATE_DISCONNECTED || peer->state == ENET_PEER_STATE_ZOMBIE ||
        peer->address.host != host->receivedAddress.host || peer->address.port != host->receivedAddress.port)
        return 0;
    NetGuardConn &conn = _my_guard->g.conns[index];
    if (conn.connect_id != peer->connectID) { // a connection made before the guard saw it begin
        net_guard_begin(_my_guard->g, index, peer->connectID);
        conn.begun_at = host->serviceTime;
    }
    const enet_uint8 *at, *end;
    if (!_net_commands(host, &at, &end))
        return 0;
    NetVerdict v =
        net_guard_offer(_my_guard->g, conn, peer->address.host, at, end - at, host->serviceTime, _net_queued, peer);
    if (v == NetVerdict::over)
        _my_guard->any_over = true;
    return v == NetVerdict::pass ? 0 : 1;
}

// --- public functions over the host

void net_guard_attach(ENetHost *host, bool server, NetGuardLetGo let_go) {
    net_guard_detach();
    _my_guard = new _NetGuarded();
    _my_guard->host = host;
    _my_guard->server = server;
    _my_guard->let_go = let_go;
    _my_guard->g.conns.assign(host->peerCount, NetGuardConn());
    _my_guard->last_scan = host->serviceTime;
    _my_guard->note.take(host->serviceTime); // the first limit lines a second after the start
    enet_list_clear(&_my_guard->aside);
    host->maximumPacketSize = NET_MAX_PACKET;
    host->maximumWaitingData = NET_MAX_WAITING;
    host->intercept = _net_intercept;
    if (server)
        host->duplicatePeers = NET_PER_ADDRESS;
    _NetCoder *coder = new _NetCoder();
    coder->range = enet_range_coder_create();
    if (!coder->range) {
        delete coder;
        return;
    }
    ENetCompressor compressor = {coder, _net_compress, _net_decompress, _net_coder_destroy};
    enet_host_compress(host, &compressor);
    _my_guard->coder = coder;
}

void net_guard_detach() {
    delete _my_guard;
    _my_guard = nullptr;
}

void net_guard_next_frame(enet_uint32 now) {
    if (_my_guard)
        net_guard_frame(_my_guard->g, now);
}

void net_guard_dialed(ENetPeer *peer) {
    if (_my_guard && peer)
        net_guard_begin(_my_guard->g, peer - _my_guard->host->peers, peer->connectID);
}

void net_guard_received(ENetPeer *peer, size_t length) {
    if (!_my_guard)
        return;
    NetGuardConn &conn = _net_conn(peer);
    if (conn.connect_id != peer->connectID)
        return;
    conn.spoke = true;
    net_guard_hold(_my_guard->g, conn, conn.held_commands - std::min<size_t>(conn.held_commands, 1),
                   conn.held_bytes - std::min(conn.held_bytes, _NET_COMMAND_COST + length));
}

void net_guard_left(ENetPeer *peer) {
    if (_my_guard)
        net_guard_hold(_my_guard->g, _net_conn(peer), 0, 0);
}

bool net_guard_kick(ENetPeer *peer) {
    if (!_my_guard)
        return false;
    NetGuardConn &conn = _net_conn(peer);
    conn.kicked = true;
    if (conn.spoke && conn.connect_id == peer->connectID)
        return false;
    if (_my_guard->let_go)
        _my_guard->let_go(peer);
    net_guard_hold(_my_guard->g, conn, 0, 0);
    enet_peer_disconnect_now(peer, 0); // one datagram, no retries: it holds its slot no longer
    return true;
}

void net_guard_enforce() {
    if (!_my_guard)
        return;
    ENetHost *host = _my_guard->host;
    NetGuard &g = _my_guard->g;
    if (_my_guard->any_over) {
        _my_guard->any_over = false;
        for (size_t i = 0; i < host->peerCount && i < g.conns.size(); i++) {
            NetGuardConn &conn = g.conns[i];
            ENetPeer *peer = &host->peers[i];
            if (!conn.over || peer->connectID != conn.connect_id || peer->state == ENET_PEER_STATE_DISCONNECTED ||
                peer->state == ENET_PEER_STATE_ZOMBIE)
                continue;
            conn.over = false;
            conn.connect_id = 0; // its further datagrams, if any, start nothing
            int id = _my_guard->let_go ? _my_guard->let_go(peer) : 0;
            if (conn.over_budget)
                g.ack_let_go++;
            else
                gprint("net: peer %d disconnected: %zu commands and %zu bytes queued, over the limit of %zu "
                       "commands or %zu bytes\n",
                       id, conn.over_commands, conn.over_bytes, NET_PEER_MAX_COMMANDS, NET_PEER_MAX_BYTES);
            enet_peer_disconnect_now(peer, 0); // resets the peer: its queues are freed at once
        }
    }
    if (!_my_guard->server || host->serviceTime - _my_guard->last_scan < _NET_SCAN_MS)
        return;
    _my_guard->last_scan = host->serviceTime;
    int dropped = 0;
    for (size_t i = 0; i < host->peerCount && i < g.conns.size(); i++) {
        NetGuardConn &conn = g.conns[i];
        ENetPeer *peer = &host->peers[i];
        if (peer->state != ENET_PEER_STATE_ACKNOWLEDGING_CONNECT || conn.connect_id != peer->connectID)
            continue;
        if (host->serviceTime - conn.begun_at >= NET_HALF_OPEN_MS) {
            _net_give_up(peer);
            dropped++;
        }
    }
    if (dropped)
        gprint("net: gave up %d connection(s) never verified within %u ms\n", dropped, NET_HALF_OPEN_MS);
    if (!_my_guard->note.due(host->serviceTime) ||
        (!g.refused && !g.crowded && !g.gave_way && !g.held_back && !g.ack_dropped && !g.ack_let_go))
        return;
    _my_guard->note.take(host->serviceTime);
    if (g.refused)
        gprint("net: refused %d connection(s) from addresses already holding %zu\n", g.refused, NET_PER_ADDRESS);
    if (g.crowded)
        gprint("net: refused %d connection(s) from addresses that took the place of %d others within a second\n",
               g.crowded, NET_TAKEN_PER_ADDRESS);
    if (g.gave_way)
        gprint("net: %d quiet connection(s) gave way to newer ones\n", g.gave_way);
    if (g.held_back)
        gprint("net: held back %d datagram(s) of peers holding more than their share while all together held over "
               "%zu commands or %zu bytes\n",
               g.held_back, NET_TOTAL_MAX_COMMANDS, NET_TOTAL_MAX_BYTES);
    if (g.ack_dropped || g.ack_let_go)
        gprint("net: dropped %d datagram(s) over the budget of %zu acknowledged commands a frame (%zu carrying no "
               "message); let go %d peer(s) over it for %u ms\n",
               g.ack_dropped, NET_FRAME_ACKS, NET_FRAME_EMPTY_ACKS, g.ack_let_go, NET_OVER_LET_GO_MS);
    g.refused = g.crowded = g.gave_way = g.held_back = g.ack_dropped = g.ack_let_go = 0;
}

void net_guard_set_aside() {
    if (!_my_guard)
        return;
    ENetList &queue = _my_guard->host->dispatchQueue;
    if (!enet_list_empty(&queue))
        enet_list_move(enet_list_end(&_my_guard->aside), enet_list_begin(&queue),
                       enet_list_previous(enet_list_end(&queue)));
}

void net_guard_put_back() {
    if (!_my_guard || enet_list_empty(&_my_guard->aside))
        return;
    ENetList &aside = _my_guard->aside;
    enet_list_move(enet_list_begin(&_my_guard->host->dispatchQueue), enet_list_begin(&aside),
                   enet_list_previous(enet_list_end(&aside)));
}

size_t net_guard_datagrams() {
    return _my_guard ? _my_guard->datagrams : 0;
}

const NetGuard *net_guard_state() {
    return _my_guard ? &_my_guard->g : nullptr;
}
