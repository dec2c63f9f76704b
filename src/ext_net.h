// Script networking over ENet: one host per process, as server (net_host) or client (net_open); peers named by
// small ids; events pulled one at a time. Core logic here, the net_* Lua globals in mods_lua.cpp.
#pragma once

#include <cstddef>
#include <string>

typedef int NetID;

// The protocol version a client sends as its connect data; a server accepts 0 and 1.
constexpr unsigned NET_VERSION = 1;
// How long net_close waits for its peers to acknowledge their disconnects.
constexpr int NET_CLOSE_BUDGET_MS = 500;
// Limits of every host, far below ENet's 32 MB defaults (the game's messages are under 1 KB): the largest message
// sent or received, and the bytes one peer may have waiting (ENet refuses more until the script has polled them).
constexpr size_t NET_MAX_PACKET = 1024 * 1024;
constexpr size_t NET_MAX_WAITING = 4 * 1024 * 1024;
// What one peer may hold queued (parked behind a missing reliable message, fragments of an incomplete one, or
// received and not yet polled), counted with ENet's bookkeeping; past either the peer is disconnected.
constexpr size_t NET_PEER_MAX_COMMANDS = 8192;
constexpr size_t NET_PEER_MAX_BYTES = NET_MAX_WAITING;
// What all peers of a host together may hold queued; past it the datagrams of a peer holding more than its share
// (the bound over the peer slots) are dropped, so that together they stay under twice the bound.
constexpr size_t NET_TOTAL_MAX_COMMANDS = 65536;
constexpr size_t NET_TOTAL_MAX_BYTES = 64 * 1024 * 1024;
// A connection begun but never verified (a forged CONNECT) gives its slot back after this long.
constexpr unsigned NET_HALF_OPEN_MS = 3000;
// Connections a server holds from one address; a CONNECT past it takes the place of that address's oldest
// unverified connection, or is refused when all of them are verified.
constexpr size_t NET_PER_ADDRESS = 16;
// What one net_poll run (calls until it has no event) spends reading datagrams past ENet's 256 per service call,
// so that a flood is read and dropped rather than left to crowd honest peers out of the socket's buffer.
constexpr unsigned NET_INTAKE_MS = 4;
// The server socket's receive buffer (the kernel may grant less).
constexpr int NET_RECEIVE_BUFFER = 2 * 1024 * 1024;

// How long a client waits for the resolver to name its server's address, as ENet waits for a connection.
constexpr unsigned NET_LOOKUP_MS = 10000;

// One event for the script: type "connect", "disconnect" or "message"; value the reason or the bytes.
struct NetEvent {
    std::string type;
    NetID cid = 0;
    std::string value;
};

// Drops any open host and starts a fresh state (no host, no peers, ids from 1).
void net_reset();
void net_host(int port);
void net_open(const char *host, int port);
void net_kick(NetID cid);
void net_close();
// mode 1 reliable, -1 unsequenced, anything else unreliable; only the low 8 bits of channel count.
void net_send(NetID cid, const char *data, size_t len, int mode, int channel);
void net_flush();
// True with one event in *out; false when there is none (or no open host).
bool net_poll(NetEvent *out);
void net_deinit();
// Whether a host is open, and the last id handed out set by hand; for tests.
bool net_is_open();
void net_set_last_id(NetID id);
