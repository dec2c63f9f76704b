// Stream sockets for the HTTP client over Winsock 1.1: non-blocking through ioctlsocket, readiness through select,
// the resolver call of the lookup service through getaddrinfo (see the header).
#include "kiv_platform-net.h"

#include <ws2tcpip.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "kiv_printf.h"

static bool _kiv_net_no_progress(int e) {
    return e == WSAEWOULDBLOCK || e == WSAEINTR || e == WSAEINPROGRESS;
}

static SOCKET _kiv_net_sock(int fd) {
    return (SOCKET)(uintptr_t)(unsigned)fd;
}

int kiv_net_startup() {
    WSADATA d;
    if (WSAStartup(0x0101, &d) != 0) {
        kiv_printf("WSAStartup: failure\n");
        return -1;
    }
    if (LOBYTE(d.wVersion) != 1 || HIBYTE(d.wVersion) != 1) {
        kiv_printf("WSAStartup: version mismatch (%d,%d)\n", LOBYTE(d.wVersion), HIBYTE(d.wVersion));
        WSACleanup();
        return -1;
    }
    return 0;
}

void kiv_net_cleanup() {
    WSACleanup();
}

int kiv_net_last_error() {
    return WSAGetLastError();
}

std::string kiv_net_error_text(int err) {
    char buf[256] = {0};
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, (DWORD)err, 0, buf,
                             sizeof(buf), nullptr);
    std::string s(buf, n);
    // The system's texts end in CR LF; the log line adds its own layout.
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ' || s.back() == '.'))
        s.pop_back();
    if (s.empty()) {
        snprintf(buf, sizeof(buf), "Winsock error %d", err);
        s = buf;
    }
    return s;
}

// Strict dotted quad, as inet_pton reads it: four decimal parts 0-255, no leading zeros, nothing around them.
bool kiv_net_parse4(const char *text, in_addr *out) {
    if (!text)
        return false;
    unsigned char b[4];
    const char *p = text;
    for (int i = 0; i < 4; i++) {
        if (i > 0 && *p++ != '.')
            return false;
        if (*p < '0' || *p > '9')
            return false;
        int v = 0, digits = 0;
        while (*p >= '0' && *p <= '9') {
            if (digits > 0 && v == 0)
                return false;
            v = v * 10 + (*p++ - '0');
            if (++digits > 3 || v > 255)
                return false;
        }
        b[i] = (unsigned char)v;
    }
    if (*p)
        return false;
    memcpy(out, b, 4);
    return true;
}

bool kiv_net_resolve4(const char *name, in_addr *out, int *err) {
    addrinfo hints;
    memset(&hints, 0, sizeof(hints));
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *res = nullptr;
    int rc = getaddrinfo(name, nullptr, &hints, &res);
    if (err)
        *err = rc;
    if (rc != 0 || !res)
        return false;
    bool ok = false;
    for (addrinfo *a = res; a && !ok; a = a->ai_next) {
        if (a->ai_family == AF_INET && a->ai_addrlen >= sizeof(sockaddr_in)) {
            *out = ((const sockaddr_in *)a->ai_addr)->sin_addr;
            ok = true;
        }
    }
    freeaddrinfo(res);
    return ok;
}

int kiv_net_tcp_socket() {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return -1;
    // Handles are small numbers in practice; one that would not fit the engine's int is given back.
    if ((uintptr_t)s > 0x7fffffff) {
        closesocket(s);
        WSASetLastError(WSAEMFILE);
        return -1;
    }
    // A child process (the URL opener's browser) must not hold the connection open.
    SetHandleInformation((HANDLE)s, HANDLE_FLAG_INHERIT, 0);
    return (int)s;
}

bool kiv_net_set_nonblocking(int fd) {
    u_long on = 1;
    return ioctlsocket(_kiv_net_sock(fd), FIONBIO, &on) == 0;
}

long kiv_net_connect(int fd, const in_addr *addr, int port) {
    sockaddr_in to;
    memset(&to, 0, sizeof(to));
    to.sin_family = AF_INET;
    to.sin_port = htons((u_short)(port & 0xFFFF));
    to.sin_addr = *addr;
    if (connect(_kiv_net_sock(fd), (const sockaddr *)&to, sizeof(to)) == 0)
        return 0;
    int e = WSAGetLastError();
    return _kiv_net_no_progress(e) || e == WSAEALREADY ? KIV_NET_AGAIN : KIV_NET_FAIL;
}

// One select with a zero timeout over up to FD_SETSIZE sockets; a failed connect shows in the except set only,
// so a socket there counts as both readable and writable, and the next send or recv reports the failure.
static long _kiv_net_select(const int *fds, int n, unsigned char *flags) {
    fd_set rd, wr, ex;
    FD_ZERO(&rd);
    FD_ZERO(&wr);
    FD_ZERO(&ex);
    for (int i = 0; i < n; i++) {
        FD_SET(_kiv_net_sock(fds[i]), &rd);
        FD_SET(_kiv_net_sock(fds[i]), &wr);
        FD_SET(_kiv_net_sock(fds[i]), &ex);
    }
    timeval zero = {0, 0};
    int rc = select(0, &rd, &wr, &ex, &zero);
    if (rc == SOCKET_ERROR)
        return WSAGetLastError() == WSAEINTR ? 0 : KIV_NET_FAIL;
    for (int i = 0; i < n; i++) {
        SOCKET s = _kiv_net_sock(fds[i]);
        bool bad = rc > 0 && FD_ISSET(s, &ex);
        bool r = rc > 0 && FD_ISSET(s, &rd), w = rc > 0 && FD_ISSET(s, &wr);
        flags[i] = (unsigned char)((bad || r ? 1 : 0) | (bad || w ? 2 : 0));
    }
    return 0;
}

long kiv_net_ready_many(const int *fds, int n, unsigned char *flags) {
    for (int at = 0; at < n; at += FD_SETSIZE) {
        int k = n - at < FD_SETSIZE ? n - at : FD_SETSIZE;
        if (_kiv_net_select(fds + at, k, flags + at) == KIV_NET_FAIL)
            return KIV_NET_FAIL;
    }
    return 0;
}

long kiv_net_send(int fd, const void *data, size_t len) {
    // Windows raises no signal for a closed peer; send just fails.
    int chunk = len > 0x40000000 ? 0x40000000 : (int)len;
    int n = send(_kiv_net_sock(fd), (const char *)data, chunk, 0);
    if (n != SOCKET_ERROR)
        return (long)n;
    return _kiv_net_no_progress(WSAGetLastError()) ? KIV_NET_AGAIN : KIV_NET_FAIL;
}

long kiv_net_recv(int fd, void *data, size_t len) {
    int chunk = len > 0x40000000 ? 0x40000000 : (int)len;
    int n = recv(_kiv_net_sock(fd), (char *)data, chunk, 0);
    if (n != SOCKET_ERROR)
        return (long)n;
    return _kiv_net_no_progress(WSAGetLastError()) ? KIV_NET_AGAIN : KIV_NET_FAIL;
}

void kiv_net_close(int fd) {
    if (fd >= 0)
        closesocket(_kiv_net_sock(fd));
}
