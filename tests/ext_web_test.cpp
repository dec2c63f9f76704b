// The web extension with a real script host and a raw loopback listener: the request a script makes, its
// answer as an event with the body's exact bytes, queue order within one frame, and the other verbs.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "ext_header.h"
#include "mods_testutil.h"

namespace {

std::string read_head(int c) {
    std::string head;
    char ch;
    while (head.find("\n\n") == std::string::npos && recv(c, &ch, 1, 0) == 1)
        head += ch;
    return head;
}

TEST(ExtWeb, AnswersBecomeEventsInQueueOrder) {
    modstest::ModsRig rig;
    int l = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof(a);
    bind(l, (sockaddr *)&a, sizeof(a));
    listen(l, 4);
    getsockname(l, (sockaddr *)&a, &n);
    std::string port = std::to_string(ntohs(a.sin_port));
    ASSERT_EQ("nil", rig.eval("seen = '' function _event(e) seen = seen .. e.type .. '=' .. e.value .. ';' end"));

    const std::string body("x\0y\r\n]=]", 8);
    auto req = [&](const std::string &path, const std::string &cb, const std::string &extra) {
        std::string arg = "{\"host\":\"127.0.0.1\",\"port\":" + port + ".7,\"path\":\"" + path + "\"" + extra +
                          (cb.empty() ? "" : ",\"callback\":\"" + cb + "\"") + "}";
        EXPECT_EQ("null", ext_do_call(rig.game, "web:request", arg)) << path;
    };
    req("/first?a=1", "one", "");
    req("/second", "two", "");
    req("/quiet", "", "");
    std::string heads[3];
    int conns[3];
    for (int i = 0; i < 3; i++) {
        // Nothing is sent before the first frame step connects.
        for (int f = 0; f < 2000 && heads[i].empty(); f++) {
            ext_web_loop(rig.game);
            struct timeval tv = {0, 1000};
            fd_set s;
            FD_ZERO(&s);
            FD_SET(l, &s);
            if (select(l + 1, &s, nullptr, nullptr, &tv) == 1) {
                conns[i] = accept(l, nullptr, nullptr);
                heads[i] = read_head(conns[i]);
            }
        }
    }
    // The answers all finish before one frame step: events in queue order, the second answered first.
    for (int i : {1, 0, 2}) {
        std::string answer = "HTTP/1.0 200 OK\r\n\r\n" + (i == 0 ? body : std::string("2"));
        send(conns[i], answer.data(), answer.size(), MSG_NOSIGNAL);
        close(conns[i]);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ext_web_loop(rig.game);
    EXPECT_EQ("one=" + body + ";two=2;", rig.eval("return seen"));
    EXPECT_EQ("GET /first?a=1 HTTP/1.0\nHost: 127.0.0.1:" + port + "\n\n", heads[0]) << "port 8080.7 is 8080";
    EXPECT_NE(std::string::npos, heads[1].find("GET /second HTTP/1.0\n")) << heads[1];
    close(l);

    struct Row {
        const char *action, *arg, *want;
    } rows[] = {
        {"web:urlencode", "\"a b&c\"", "\"a%20b%26c\""},
        {"web:urlencode", "12.5", "\"12%2e5\""},
        {"web:fetch", "{}", "null"},
    };
    for (const Row &row : rows)
        EXPECT_EQ(row.want, ext_do_call(rig.game, row.action, row.arg)) << row.action << " " << row.arg;
}

} // namespace
