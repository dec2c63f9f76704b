// The network guard: what one peer may cost a host, judged from the bytes of each datagram before ENet parses
// them, and which connections give way to newcomers. Called by ext_net.cpp; a table test and the fuzzer drive
// its byte entry point, net_guard_offer, without sockets.
#pragma once

#include <enet/enet.h>

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

// Commands asking for an acknowledgement that one peer, and one address, may send a frame (a net_poll run, or
// 10 ms of one). Those carrying a message are counted by the queue limits too; those carrying none (PING,
// BANDWIDTH_LIMIT, THROTTLE_CONFIGURE ...) cost an acknowledgement for nothing and have a budget of their own.
// ENet sends what it queued at every service call, so the acknowledgements queued for a peer stay within these.
constexpr size_t NET_FRAME_ACKS = 8192;
constexpr size_t NET_ADDRESS_FRAME_ACKS = 16384;
constexpr size_t NET_FRAME_EMPTY_ACKS = 64;
constexpr size_t NET_ADDRESS_FRAME_EMPTY_ACKS = 256;
// A peer over its budget in every frame for this long is let go.
constexpr unsigned NET_OVER_LET_GO_MS = 1000;
// Connections that have delivered no message yet (quiet: unverified or silent) one address may hold, and all
// together; past either a new CONNECT takes the place of the oldest quiet one.
constexpr size_t NET_QUIET_PER_ADDRESS = 8;
constexpr size_t NET_QUIET_SHARE = 128;
// Connections of other addresses whose place one address's CONNECTs may take a second, so that dialling fast
// cannot churn a newcomer out before it speaks; and how long a new connection is left to verify and speak (an
// honest client does both within a frame or two) before it may give way.
constexpr int NET_TAKEN_PER_ADDRESS = 16;
constexpr unsigned NET_VERIFY_GRACE_MS = 250;

// One connection's record, reset once when the connection begins.
struct NetGuardConn {
    enet_uint32 connect_id = 0;
    uint64_t born = 0;   // order of the connections let in, the oldest lowest
    bool spoke = false;  // has delivered a message to the script
    bool kicked = false; // the script let it go
    // What it holds queued, at most: raised by what its datagrams carry, lowered by the messages polled, set
    // exactly by a walk of its queues when it would pass a limit.
    size_t held_commands = 0, held_bytes = 0;
    size_t offered = 0, walked = 0; // commands offered since the last walk, and what that walk found
    enet_uint32 walked_at = 0;
    bool fragmenting = false; // the fragmented message last counted, so that its further fragments are not
    enet_uint32 fragment_key = 0;
    // Found over its queue limit (what it held then), to be disconnected after this service call.
    bool over = false;
    size_t over_commands = 0, over_bytes = 0;
    bool over_budget = false; // ... or over its acknowledgement budget for too long
    // Acknowledged commands in frame `frame`; whether it went over the budget in it, and the stretch of frames
    // over it (from `over_since` to `over_last`).
    uint32_t frame = 0;
    size_t acks = 0, empty_acks = 0;
    bool over_acks = false, stretch = false;
    enet_uint32 over_since = 0, over_last = 0;
    enet_uint32 begun_at = 0;
};

// What a datagram's commands ask of the receiver.
struct NetGuardCount {
    size_t commands = 0, bytes = 0; // messages it may queue, with ENet's bookkeeping
    size_t acks = 0, empty_acks = 0;
};

enum class NetVerdict { pass, drop, over };

// Walks what a connection holds queued in ENet; null where nothing is queued outside the counts (a test).
typedef void (*NetGuardWalk)(const void *peer, size_t *commands, size_t *bytes);

// The state of the guarded host: one record per peer slot, and totals kept as the sum of the records.
struct NetGuard {
    std::vector<NetGuardConn> conns;
    size_t total_commands = 0, total_bytes = 0;
    uint32_t frame = 1;
    enet_uint32 frame_at = 0;
    std::unordered_map<enet_uint32, NetGuardCount> by_address; // this frame's acknowledged commands
    uint64_t births = 0;
    std::unordered_map<enet_uint32, int> taken; // places taken by address this second
    enet_uint32 taken_at = 0;
    // Not yet logged: CONNECTs refused (an address's share, its places taken), quiet connections given way, datagrams
    // held back by the total and by the acknowledgement budget, peers let go over it.
    int refused = 0, crowded = 0, gave_way = 0, held_back = 0, ack_dropped = 0, ack_let_go = 0;
};

// Starts record `slot` afresh for a new connection.
void net_guard_begin(NetGuard &g, size_t slot, enet_uint32 connect_id);
// Sets what a record holds; the totals follow.
void net_guard_hold(NetGuard &g, NetGuardConn &conn, size_t commands, size_t bytes);
// A new frame: the acknowledgement budgets start again.
void net_guard_frame(NetGuard &g, enet_uint32 now);
// Counts the plain commands of a datagram (after its header); false for one ENet must never see (an unreliable
// fragment of more fragments than bytes: a bitmap of up to 128 KB for a message of a byte or two).
bool net_guard_count(NetGuardConn &conn, const uint8_t *at, size_t length, NetGuardCount *out);
// The byte entry point: the plain commands of a datagram from a connected peer at `address`, judged against its
// record, its address and the host's totals. `over`: the peer is past its queue limit and to be let go.
NetVerdict net_guard_offer(NetGuard &g, NetGuardConn &conn, enet_uint32 address, const uint8_t *commands, size_t length,
                           enet_uint32 now, NetGuardWalk walk = nullptr, const void *peer = nullptr);

// --- over an ENet host (the one of the process)

// Called before the guard lets go a connection it gives up; answers the script id it had (0 none).
typedef int (*NetGuardLetGo)(ENetPeer *peer);

// Guards `host` (a server when `server`): limits, the datagram intercept and the range coder.
void net_guard_attach(ENetHost *host, bool server, NetGuardLetGo let_go);
void net_guard_detach();
// A new frame of the guarded host (a net_poll run begins).
void net_guard_next_frame(enet_uint32 now);
// A client's connection being made in `peer`.
void net_guard_dialed(ENetPeer *peer);
// A message of `length` bytes handed to the script, and a peer that left.
void net_guard_received(ENetPeer *peer, size_t length);
void net_guard_left(ENetPeer *peer);
// The script lets `peer` go; true when the guard did so at once (it never spoke: no disconnect retries), false
// when ENet is to disconnect it after its queued messages.
bool net_guard_kick(ENetPeer *peer);
// After each service call: lets go the peers over their limits, gives up unverified connections, logs.
void net_guard_enforce();
// Sets aside the peers with events to hand out, so that a service call reads the socket instead; put back, they
// come before those queued since.
void net_guard_set_aside();
void net_guard_put_back();
// Datagrams the intercept has seen.
size_t net_guard_datagrams();
// The guard's state, for tests.
const NetGuard *net_guard_state();
