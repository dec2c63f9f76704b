// Stream sockets for the HTTP client: non-blocking TCP with "no progress yet" kept apart from real
// failures, so a caller can step an exchange from its frame loop, and the process's name lookups (a cache of found
// names, lookups beside the frame loop shared per name) for the HTTP client and the network extension. The sockets
// and the resolver call have one source per system (kiv_platform-net-posix.cpp, kiv_platform-net-win32.cpp), the
// lookup service one for all (kiv_platform-net.cpp); this header gives the rest of the engine in_addr and nothing
// else of the system's socket headers.
#pragma once

#ifdef _WIN32
// What includes this header keeps std::min and std::max and is spared the rest of windows.h.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#else
#include <netinet/in.h>
#endif

#include <cstddef>
#include <string>

// Results of the stepping calls besides a byte count.
constexpr long KIV_NET_AGAIN = -2; // nothing happened this step (would block, interrupted, connect under way)
constexpr long KIV_NET_FAIL = -1;  // a real failure; kiv_net_last_error tells which

// Socket layer start and stop (Winsock 1.1 on Windows; nothing on POSIX): 0, or -1 with the cause logged.
int kiv_net_startup();
void kiv_net_cleanup();

// The code of the last failed socket call on this thread (errno, WSAGetLastError) and its text.
int kiv_net_last_error();
std::string kiv_net_error_text(int err);

// A numeric IPv4 address in dotted-quad form (four decimal parts 0-255); false for anything else.
bool kiv_net_parse4(const char *text, in_addr *out);

// The first IPv4 address of a name (getaddrinfo); false with the resolver's code in *err when there is none.
bool kiv_net_resolve4(const char *name, in_addr *out, int *err);

// --- name lookups, one service for the whole process (kiv_platform-net.cpp, the same on every system)

// One entry of the cache of found names: ok 1 when value holds an address.
struct HostAddr {
    int ok = 0;
    in_addr value{};
    HostAddr() {}
    explicit HostAddr(in_addr a) : ok(1), value(a) {}
};

// The address of a name from the cache of found names, else from the resolver now, waiting for it; a found address
// is cached for the life of the process (the pointer stays valid as long). Null when none. Logs as the threaded
// lookup does.
in_addr *kiv_net_lookup_now(const char *name);
// True with *out set when name is in the cache; never asks the resolver and logs nothing.
bool kiv_net_lookup_cached(const char *name, in_addr *out);

// A name lookup on a thread of its own, asked once per frame: a resolver that does not answer holds up no frame,
// and forgetting a lookup never waits for it. Every caller waiting on the same name shares one lookup. Calling
// order: kiv_net_lookup_start, kiv_net_lookup_poll until it answers other than KIV_NET_AGAIN,
// kiv_net_lookup_forget (also while still under way). The caller keeps its own deadline.
struct kiv_net_lookup;
// Joins the lookup of name under way, or starts one (as kiv_net_resolve4); null (logged) when no thread can be had.
kiv_net_lookup *kiv_net_lookup_start(const char *name);
// 0 found (*out set), KIV_NET_AGAIN under way, KIV_NET_FAIL none (*err the resolver's code); never blocks. The
// first poll to see the end logs it and caches a found address, so a later start asks again only for a name not
// found.
long kiv_net_lookup_poll(kiv_net_lookup *lookup, in_addr *out, int *err);
// Lets go of the lookup: one under way goes on on its thread, which frees it when the resolver returns.
void kiv_net_lookup_forget(kiv_net_lookup *lookup);

// --- stream sockets

// A TCP socket, -1 on failure (kiv_net_last_error set).
int kiv_net_tcp_socket();
bool kiv_net_set_nonblocking(int fd);
// 0 connected, KIV_NET_AGAIN under way, KIV_NET_FAIL refused at once.
long kiv_net_connect(int fd, const in_addr *addr, int port);
// Asks with a zero timeout whether each of n sockets may be read or written: bit 1 readable, bit 2 writable in
// flags[i] (a socket with an error or hang-up counts as both, so the next call reports it); KIV_NET_FAIL when the
// poll itself fails, else 0. One socket is n = 1.
long kiv_net_ready_many(const int *fds, int n, unsigned char *flags);
// Bytes sent, KIV_NET_AGAIN or KIV_NET_FAIL; a closed peer never raises SIGPIPE.
long kiv_net_send(int fd, const void *data, size_t len);
// Bytes received, 0 when the peer closed, KIV_NET_AGAIN or KIV_NET_FAIL.
long kiv_net_recv(int fd, void *data, size_t len);
void kiv_net_close(int fd);
