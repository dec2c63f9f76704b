// A private resolver for tests of name lookups that never end: call it in a child process, which it makes root
// of its own user, mount and network namespaces.
#pragma once

#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

// Makes this process root of its own user, mount and network namespaces, whose resolver sends its queries to a
// loopback port that swallows them; false when no namespace can be made here.
inline bool resolver_that_never_answers(int *drop) {
    auto put = [](const char *path, const std::string &text) {
        int fd = open(path, O_WRONLY);
        bool ok = fd >= 0 && write(fd, text.data(), text.size()) == (ssize_t)text.size();
        return close(fd) == 0 && ok;
    };
    std::string uid = std::to_string(getuid());
    if (unshare(CLONE_NEWUSER | CLONE_NEWNS | CLONE_NEWNET) != 0 || !put("/proc/self/setgroups", "deny") ||
        !put("/proc/self/uid_map", "0 " + uid + " 1") ||
        system("printf 'nameserver 127.0.0.1\\noptions timeout:30 attempts:5\\n' >/tmp/kiv_resolv.$$ && "
               "mount --make-rprivate / && mount --bind /tmp/kiv_resolv.$$ /etc/resolv.conf && rm /tmp/kiv_resolv.$$ "
               "&& ip link set lo up") != 0)
        return false;
    sockaddr_in dns{};
    dns.sin_family = AF_INET;
    dns.sin_port = htons(53);
    dns.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    *drop = socket(AF_INET, SOCK_DGRAM, 0);
    return bind(*drop, (sockaddr *)&dns, sizeof(dns)) == 0;
}

// Runs body in a child alone in namespaces whose resolver never answers: 0 when it held, 77 when no namespace can
// be made here, anything else when it failed.
template <class F> int with_silent_resolver(F body) {
    pid_t pid = fork();
    if (pid == 0) {
        int drop;
        if (!resolver_that_never_answers(&drop))
            _exit(77);
        _exit(body() ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
