// Script networking over ENet (see the header): the one network state, id allocation, host life cycle and the
// translation of ENet events into script events. Called by the net_* bindings, the script host and shutdown.
#include "ext_net.h"

#include <enet/enet.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <vector>

#include "gprint.h"
#include "kiv_driver.h"
#include "kiv_platform-net.h"
#include "kiv_printf.h"

static const int _NET_ID_COUNT = 65536;
static const size_t _NET_SERVER_PEERS = 256;
static const size_t _NET_CHANNELS = 16;
// What ENet allocates for each queued command besides its bytes, counted against a peer's byte limit.
static const size_t _NET_COMMAND_COST = sizeof(ENetIncomingCommand) + sizeof(ENetPacket);
// How often the half-open connections are looked at, and the refusals logged at most, in ENet's milliseconds.
static const enet_uint32 _NET_SCAN_MS = 100;
static const enet_uint32 _NET_NOTE_MS = 1000;
// The most datagrams one ENet service call reads; how often the socket is read dry at the least.
static const size_t _NET_SERVICE_DATAGRAMS = 256;
static const enet_uint32 _NET_INTAKE_EVERY_MS = 10;
// Events the intake may make ahead of the script before it stops reading.
static const size_t _NET_INTAKE_EVENTS = 64;
// A queue is walked again once a quarter of what the last walk found has been offered since, or after this long:
// walks then cost a few steps per command received, however close to its limit a peer stays.
static const enet_uint32 _NET_WALK_MS = 250;

// What is watched per peer slot of the host (indexed like host->peers), each entry valid for one connection.
struct _NetSlot {
    enet_uint32 over_id = 0; // connectID of a connection found over its queue limit, to be disconnected
    bool over = false;
    size_t commands = 0, bytes = 0; // what was counted when it was found over
    enet_uint32 open_id = 0;        // connectID of a connection seen half-open since `since`
    bool half_open = false;
    enet_uint32 since = 0;
    // What connection `id` holds queued, at most: raised by the commands its datagrams carry, lowered by the
    // messages polled, set exactly by a walk of its queues when it would pass a limit.
    bool counted = false;
    enet_uint32 id = 0;
    size_t held_commands = 0, held_bytes = 0;
    size_t offered = 0, walked = 0; // commands offered since the last walk, and what that walk found
    enet_uint32 walked_at = 0;
    bool fragmenting = false; // the fragmented message last counted, so that its further fragments are not
    enet_uint32 fragment_key = 0;
    enet_uint32 born_id = 0; // connectID of the CONNECT let in as the `born`-th
    uint64_t born = 0;
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
    size_t total_commands = 0, total_bytes = 0; // the sum of the slots' held counts
    uint64_t births = 0;
    // Datagrams seen, and whether a net_poll run (calls until one has no event) is under way.
    size_t intake_read = 0;
    bool intake_on = false;
    enet_uint32 intake_at = 0;
    // CONNECTs refused, unverified connections given up and datagrams held back by the total, not yet logged
    int refused = 0, gave_way = 0, held_back = 0;
    enet_uint32 last_note = 0;
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

// ENet's range coder, keeping what the intercept decompressed of the datagram just received for ENet's own pass
// over the same bytes, so that each datagram is decompressed once.
struct _NetCoder {
    void *range = nullptr;
    bool kept = false;
    const enet_uint8 *in = nullptr;
    size_t in_length = 0, length = 0;
    enet_uint8 plain[ENET_PROTOCOL_MAXIMUM_MTU];
};

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
    enet_range_coder_destroy(coder->range);
    delete coder;
}

static void _net_compress_with_coder(ENetHost *host) {
    _NetCoder *coder = new _NetCoder();
    coder->range = enet_range_coder_create();
    if (!coder->range) {
        delete coder;
        return;
    }
    ENetCompressor compressor = {coder, _net_compress, _net_decompress, _net_coder_destroy};
    enet_host_compress(host, &compressor);
}

// The commands of the datagram just received, after the range coder when it is compressed (what it makes is kept
// for ENet); false when ENet drops the datagram anyway.
static bool _net_commands(ENetHost *host, const enet_uint8 **at, const enet_uint8 **end) {
    static enet_uint8 plain[ENET_PROTOCOL_MAXIMUM_MTU];
    const enet_uint8 *data = host->receivedData;
    *end = data + host->receivedDataLength;
    unsigned flags = ((unsigned)data[0] << 8 | data[1]) & ENET_PROTOCOL_HEADER_FLAG_MASK;
    *at = data + ((flags & ENET_PROTOCOL_HEADER_FLAG_SENT_TIME) ? 4 : 2);
    if (*at > *end)
        return false;
    if (flags & ENET_PROTOCOL_HEADER_FLAG_COMPRESSED) {
        if (!host->compressor.context || !host->compressor.decompress)
            return false;
        if (host->compressor.decompress != _net_decompress) {
            size_t n = host->compressor.decompress(host->compressor.context, *at, *end - *at, plain, sizeof(plain));
            if (n == 0 || n > sizeof(plain))
                return false;
            *at = plain;
            *end = plain + n;
            return true;
        }
        _NetCoder *coder = (_NetCoder *)host->compressor.context;
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

// Adds what the datagram just received may make ENet queue for the peer of `slot`: a command and its bytes per
// message, a fragmented message once with its whole length. False for a datagram carrying an unreliable fragment
// of more fragments than bytes: ENet would make room for a fragment bitmap of up to 128 KB for a message of a byte
// or two, past its own waiting-data count.
static bool _net_tally(ENetHost *host, _NetSlot &slot, size_t *commands, size_t *bytes) {
    const enet_uint8 *at, *end;
    if (!_net_commands(host, &at, &end))
        return true;
    while (at + sizeof(ENetProtocolCommandHeader) <= end) {
        const ENetProtocol *cmd = (const ENetProtocol *)at;
        unsigned number = cmd->header.command & ENET_PROTOCOL_COMMAND_MASK;
        size_t size = enet_protocol_command_size(cmd->header.command);
        if (number >= ENET_PROTOCOL_COMMAND_COUNT || size == 0 || (size_t)(end - at) < size)
            break;
        at += size;
        size_t length = 0;
        switch (number) {
        case ENET_PROTOCOL_COMMAND_SEND_RELIABLE:
            length = ENET_NET_TO_HOST_16(cmd->sendReliable.dataLength);
            break;
        case ENET_PROTOCOL_COMMAND_SEND_UNRELIABLE:
            length = ENET_NET_TO_HOST_16(cmd->sendUnreliable.dataLength);
            break;
        case ENET_PROTOCOL_COMMAND_SEND_UNSEQUENCED:
            length = ENET_NET_TO_HOST_16(cmd->sendUnsequenced.dataLength);
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
            if (slot.fragmenting && slot.fragment_key == key)
                continue;
            slot.fragmenting = true;
            slot.fragment_key = key;
            *commands += 1;
            *bytes += _NET_COMMAND_COST + std::min<size_t>(total, NET_MAX_PACKET) +
                      (std::min<size_t>(count, ENET_PROTOCOL_MAXIMUM_FRAGMENT_COUNT) + 31) / 32 * sizeof(enet_uint32);
            continue;
        }
        default:
            continue;
        }
        at += length;
        *commands += 1;
        *bytes += _NET_COMMAND_COST + length;
    }
    return true;
}

static void _net_hold(_NetSlot &slot, size_t commands, size_t bytes) {
    slot.held_commands += commands;
    slot.held_bytes += bytes;
    _my_net->total_commands += commands;
    _my_net->total_bytes += bytes;
}

static void _net_release(_NetSlot &slot, size_t commands, size_t bytes) {
    commands = std::min(commands, slot.held_commands);
    bytes = std::min(bytes, slot.held_bytes);
    slot.held_commands -= commands;
    slot.held_bytes -= bytes;
    _my_net->total_commands -= std::min(commands, _my_net->total_commands);
    _my_net->total_bytes -= std::min(bytes, _my_net->total_bytes);
}

// Forgets what a slot's connection held: it left, or was found over a limit and is about to.
static void _net_uncount(_NetSlot &slot) {
    _net_release(slot, slot.held_commands, slot.held_bytes);
    slot.counted = false;
}

// The slot of a connected peer, its counts starting afresh with each connection.
static _NetSlot &_net_slot(ENetHost *host, const ENetPeer *peer) {
    _NetSlot &slot = _my_net->slots[peer - host->peers];
    if (!slot.counted || slot.id != peer->connectID) {
        _net_uncount(slot);
        slot.counted = true;
        slot.id = peer->connectID;
        slot.offered = slot.walked = 0;
        slot.walked_at = host->serviceTime;
        slot.fragmenting = false;
    }
    return slot;
}

static bool _net_may_walk(ENetHost *host, size_t offered, size_t walked, enet_uint32 walked_at) {
    return offered * 4 >= walked || (enet_uint32)(host->serviceTime - walked_at) >= _NET_WALK_MS;
}

// Sets a slot's counts to what its peer's queues hold.
static void _net_walk(ENetHost *host, const ENetPeer *peer, _NetSlot &slot) {
    size_t commands, bytes;
    _net_queued(peer, &commands, &bytes);
    _net_release(slot, slot.held_commands, slot.held_bytes);
    _net_hold(slot, commands, bytes);
    slot.walked = commands;
    slot.offered = 0;
    slot.walked_at = host->serviceTime;
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

// Marks a connection to be disconnected after this service call; its datagrams are dropped until then.
static void _net_mark(const ENetPeer *peer, _NetSlot &slot) {
    slot.over = true;
    slot.over_id = peer->connectID;
    slot.commands = slot.held_commands;
    slot.bytes = slot.held_bytes;
    _net_uncount(slot);
    _my_net->any_over = true;
}

static bool _net_total_over() {
    return _my_net->total_commands > NET_TOTAL_MAX_COMMANDS || _my_net->total_bytes > NET_TOTAL_MAX_BYTES;
}

// Which of two unverified connections was let in first (one not seen coming in counts as the oldest).
static uint64_t _net_age(const ENetHost *host, const ENetPeer *peer) {
    const _NetSlot &slot = _my_net->slots[peer - host->peers];
    return slot.born_id == peer->connectID ? slot.born : 0;
}

// A CONNECT on a server. The source address may hold NET_PER_ADDRESS connections: past it the new one takes the
// place of the address's oldest unverified connection, or is refused. In a full table an unverified connection
// gives way: one of the address holding the most of them, the oldest first. ENet then takes the CONNECT into
// its first free slot (a repeated one it ignores). 1 drops the datagram.
static int _net_admit(ENetHost *host) {
    const enet_uint8 *at, *end;
    if (!_net_commands(host, &at, &end) || (size_t)(end - at) < sizeof(ENetProtocolConnect))
        return 0;
    const ENetProtocolConnect *connect = (const ENetProtocolConnect *)at;
    if ((connect->header.command & ENET_PROTOCOL_COMMAND_MASK) != ENET_PROTOCOL_COMMAND_CONNECT)
        return 0;
    const ENetAddress &from = host->receivedAddress;
    size_t n = std::min(_my_net->slots.size(), host->peerCount), same = 0, free_at = n;
    ENetPeer *own_oldest = nullptr;
    std::map<enet_uint32, size_t> unverified; // by address
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
        if (peer->state == ENET_PEER_STATE_ACKNOWLEDGING_CONNECT) {
            unverified[peer->address.host]++;
            if (ours && (!own_oldest || _net_age(host, peer) < _net_age(host, own_oldest)))
                own_oldest = peer;
        }
    }
    ENetPeer *give = nullptr;
    if (same >= NET_PER_ADDRESS) {
        if (!own_oldest) {
            _my_net->refused++;
            return 1;
        }
        give = own_oldest;
    } else if (free_at == n) {
        for (size_t i = 0; i < n; i++) {
            ENetPeer *peer = &host->peers[i];
            if (peer->state != ENET_PEER_STATE_ACKNOWLEDGING_CONNECT)
                continue;
            size_t mine = unverified[peer->address.host], theirs = give ? unverified[give->address.host] : 0;
            if (!give || mine > theirs || (mine == theirs && _net_age(host, peer) < _net_age(host, give)))
                give = peer;
        }
        if (!give)
            return 0; // every slot verified: ENet refuses it
    }
    if (give) {
        size_t index = give - host->peers;
        _net_uncount(_my_net->slots[index]);
        enet_peer_reset(give);
        _my_net->gave_way++;
        free_at = std::min(free_at, index);
    }
    if (free_at < n) {
        _my_net->slots[free_at].born = ++_my_net->births;
        _my_net->slots[free_at].born_id = connect->connectID;
    }
    return 0;
}

// Sees every datagram before ENet handles it. A connected sender is held to its queue limits: its count rises by
// what the datagram may add and is walked exactly only when it would pass one; a sender over a limit is marked and
// its datagrams dropped until _net_enforce disconnects it, so one service call cannot pile up more than one
// datagram past the limit. CONNECTs go through _net_admit.
static int ENET_CALLBACK _net_intercept(ENetHost *host, ENetEvent *) {
    if (!_my_net || host != _my_net->net || host->receivedDataLength < 2)
        return 0;
    _my_net->intake_read++;
    if (host->compressor.decompress == _net_decompress)
        ((_NetCoder *)host->compressor.context)->kept = false;
    size_t index = (((size_t)host->receivedData[0] << 8) | host->receivedData[1]) & ENET_PROTOCOL_MAXIMUM_PEER_ID;
    if (index == ENET_PROTOCOL_MAXIMUM_PEER_ID)
        return _my_net->mode == 1 ? _net_admit(host) : 0;
    if (index >= host->peerCount || index >= _my_net->slots.size())
        return 0;
    ENetPeer *peer = &host->peers[index];
    if (!_net_live(peer) || peer->address.host != host->receivedAddress.host ||
        peer->address.port != host->receivedAddress.port)
        return 0;
    _NetSlot &slot = _net_slot(host, peer);
    if (slot.over && slot.over_id == peer->connectID)
        return 1;
    size_t commands = 0, bytes = 0;
    if (!_net_tally(host, slot, &commands, &bytes))
        return 1;
    if (commands == 0)
        return 0;
    slot.offered += commands;
    if (slot.held_commands + commands > NET_PEER_MAX_COMMANDS || slot.held_bytes + bytes >= NET_PEER_MAX_BYTES) {
        if (!_net_may_walk(host, slot.offered, slot.walked, slot.walked_at))
            return 1; // held back until a walk is due
        _net_walk(host, peer, slot);
        if (slot.held_commands > NET_PEER_MAX_COMMANDS || slot.held_bytes >= NET_PEER_MAX_BYTES) {
            _net_mark(peer, slot);
            return 1;
        }
    }
    _net_hold(slot, commands, bytes);
    // Past the bound for all peers, one holding more than its share waits (its datagrams dropped before ENet
    // spends anything on them); those holding less still get through, so the total stays under twice the bound.
    if (_net_total_over() && (slot.held_commands > NET_TOTAL_MAX_COMMANDS / host->peerCount ||
                              slot.held_bytes > NET_TOTAL_MAX_BYTES / host->peerCount)) {
        _net_release(slot, commands, bytes);
        _my_net->held_back++;
        return 1;
    }
    return 0;
}

static void _net_limit(ENetHost *host) {
    host->maximumPacketSize = NET_MAX_PACKET;
    host->maximumWaitingData = NET_MAX_WAITING;
    host->intercept = _net_intercept;
    _my_net->slots.assign(host->peerCount, _NetSlot());
    _my_net->any_over = false;
    _my_net->last_scan = _my_net->last_note = host->serviceTime;
    _my_net->total_commands = _my_net->total_bytes = 0;
    _my_net->intake_on = false;
    _my_net->refused = _my_net->gave_way = _my_net->held_back = 0;
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
            gprint("net: peer %d disconnected: %zu commands and %zu bytes queued, over the limit of %zu commands "
                   "or %zu bytes\n",
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
            _net_uncount(slot);
            enet_peer_reset(peer);
            dropped++;
        }
    }
    if (dropped)
        gprint("net: gave up %d connection(s) never verified within %u ms\n", dropped, NET_HALF_OPEN_MS);
    if (host->serviceTime - _my_net->last_note < _NET_NOTE_MS ||
        (!_my_net->refused && !_my_net->gave_way && !_my_net->held_back))
        return;
    _my_net->last_note = host->serviceTime;
    if (_my_net->refused)
        gprint("net: refused %d connection(s) from addresses already holding %zu\n", _my_net->refused, NET_PER_ADDRESS);
    if (_my_net->gave_way)
        gprint("net: %d unverified connection(s) gave way to newer ones\n", _my_net->gave_way);
    if (_my_net->held_back)
        gprint("net: held back %d datagram(s) of peers holding more than their share while all together held over "
               "%zu commands or %zu bytes\n",
               _my_net->held_back, NET_TOTAL_MAX_COMMANDS, NET_TOTAL_MAX_BYTES);
    _my_net->refused = _my_net->gave_way = _my_net->held_back = 0;
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
        _net_uncount(_my_net->slots[ev.peer - _my_net->net->peers]);
        NetID id = _net_forget(ev.peer);
        const char *reason = !id ? "timeout" : (ev.data != 0 && ev.data != 1) ? "version" : "";
        _net_event(out, "disconnect", id, reason, strlen(reason));
        return true;
    }
    case ENET_EVENT_TYPE_RECEIVE: {
        _NetSlot &slot = _my_net->slots[ev.peer - _my_net->net->peers];
        if (slot.counted && slot.id == ev.peer->connectID)
            _net_release(slot, 1, _NET_COMMAND_COST + ev.packet->dataLength);
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
    ENetList &queue = host->dispatchQueue;
    ENetList waiting;
    enet_list_clear(&waiting);
    enet_uint32 start = enet_time_get();
    for (;;) {
        if (!enet_list_empty(&queue))
            enet_list_move(enet_list_end(&waiting), enet_list_begin(&queue), enet_list_previous(enet_list_end(&queue)));
        size_t read = _my_net->intake_read;
        ENetEvent ev;
        int serviced = enet_host_service(host, &ev, 0);
        NetEvent e;
        if (serviced > 0 && _net_translate(ev, &e))
            _my_net->pending.push_back(e);
        _net_enforce();
        if (serviced < 0 || (serviced == 0 && _my_net->intake_read - read < _NET_SERVICE_DATAGRAMS) ||
            _my_net->pending.size() >= _NET_INTAKE_EVENTS || (enet_uint32)(enet_time_get() - start) >= NET_INTAKE_MS)
            break;
    }
    if (!enet_list_empty(&waiting))
        enet_list_move(enet_list_begin(&queue), enet_list_begin(&waiting), enet_list_previous(enet_list_end(&waiting)));
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
    NetEvent e;
    _net_event(&e, "disconnect", 0, reason, strlen(reason));
    _my_net->pending.push_back(e);
}

static void _net_connect(in_addr a, enet_uint16 port, const char *host) {
    ENetAddress address;
    address.host = a.s_addr;
    address.port = port;
    if (!enet_host_connect(_my_net->net, &address, _NET_CHANNELS, NET_VERSION))
        _net_give_up(host, port, "timeout", "no peer for the connection");
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
        _net_connect(a, _my_net->lookup_port, host.c_str());
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
    _net_limit(_my_net->net);
    _my_net->net->duplicatePeers = NET_PER_ADDRESS;
    enet_socket_set_option(_my_net->net->socket, ENET_SOCKOPT_RCVBUF, NET_RECEIVE_BUFFER);
    _net_compress_with_coder(_my_net->net);
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
    _net_compress_with_coder(_my_net->net);
    _my_net->mode = 0;
    std::string name = host ? host : "";
    in_addr a;
    if (kiv_net_parse4(name.c_str(), &a)) {
        _net_connect(a, (enet_uint16)port, name.c_str());
        return;
    }
    // A name waits for the resolver on its own thread, so a resolver that does not answer holds up no frame.
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
    if (it != _my_net->peers.end())
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
        _net_enforce();
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
