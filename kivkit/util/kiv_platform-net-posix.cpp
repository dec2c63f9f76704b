// Stream sockets for the HTTP client over POSIX sockets, and the resolver call of the lookup service through
// getaddrinfo (see the header).
#include "kiv_platform-net.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

static bool _kiv_net_no_progress(int e) {
    return e == EAGAIN || e == EWOULDBLOCK || e == EINTR;
}

int kiv_net_startup() {
    return 0;
}

void kiv_net_cleanup() {}

int kiv_net_last_error() {
    return errno;
}

std::string kiv_net_error_text(int err) {
    return strerror(err);
}

bool kiv_net_parse4(const char *text, in_addr *out) {
    return text && inet_pton(AF_INET, text, out) == 1;
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
    return socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
}

bool kiv_net_set_nonblocking(int fd) {
    int flags = fcntl(fd, F_GETFL, 0);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

long kiv_net_connect(int fd, const in_addr *addr, int port) {
    sockaddr_in to;
    memset(&to, 0, sizeof(to));
    to.sin_family = AF_INET;
    to.sin_port = htons((uint16_t)(port & 0xFFFF));
    to.sin_addr = *addr;
    if (connect(fd, (const sockaddr *)&to, sizeof(to)) == 0)
        return 0;
    // An interrupted connect goes on in the background, like one in progress.
    if (errno == EINPROGRESS || errno == EINTR || errno == EAGAIN)
        return KIV_NET_AGAIN;
    return KIV_NET_FAIL;
}

long kiv_net_ready_many(const int *fds, int n, unsigned char *flags) {
    static std::vector<pollfd> set;
    set.resize((size_t)n);
    for (int i = 0; i < n; i++)
        set[(size_t)i] = pollfd{fds[i], POLLIN | POLLOUT, 0};
    int rc = poll(set.data(), (nfds_t)n, 0);
    if (rc < 0 && errno != EINTR)
        return KIV_NET_FAIL;
    for (int i = 0; i < n; i++) {
        short r = rc > 0 ? set[(size_t)i].revents : 0;
        bool bad = (r & (POLLERR | POLLHUP | POLLNVAL)) != 0;
        flags[i] = (unsigned char)((bad || (r & POLLIN) ? 1 : 0) | (bad || (r & POLLOUT) ? 2 : 0));
    }
    return 0;
}

long kiv_net_send(int fd, const void *data, size_t len) {
    ssize_t n = send(fd, data, len, MSG_NOSIGNAL);
    if (n >= 0)
        return (long)n;
    return _kiv_net_no_progress(errno) ? KIV_NET_AGAIN : KIV_NET_FAIL;
}

long kiv_net_recv(int fd, void *data, size_t len) {
    ssize_t n = recv(fd, data, len, 0);
    if (n >= 0)
        return (long)n;
    return _kiv_net_no_progress(errno) ? KIV_NET_AGAIN : KIV_NET_FAIL;
}

void kiv_net_close(int fd) {
    if (fd >= 0)
        close(fd);
}
