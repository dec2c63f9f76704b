// The HTTP client on loopback: the exact request bytes a raw listener receives, refused script text, answers
// split anywhere, the status parse, the inactivity allowance on an injected clock and the web extension's events
// and percent-encoding. The answer limits are checked through the binary against the hostile server
// (headless/test_web.py).
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "ext_header.h"
#include "kiv_web.h"
#include "kiv_web_int.h"
#include "mods_testutil.h"
#include "resolver_testutil.h"
#include "stdout_testutil.h"

namespace {

struct Listener {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    int port = 0;
    Listener() {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t n = sizeof(a);
        bind(fd, (sockaddr *)&a, sizeof(a));
        listen(fd, 64);
        getsockname(fd, (sockaddr *)&a, &n);
        port = ntohs(a.sin_port);
    }
    ~Listener() { close(fd); }
    // The request head of the next connection, read up to its empty line.
    std::string head(int *conn) {
        *conn = accept(fd, nullptr, nullptr);
        std::string h;
        char ch;
        while (h.find("\n\n") == std::string::npos && recv(*conn, &ch, 1, 0) == 1)
            h += ch;
        return h;
    }
};

// Steps the exchange like a frame loop until it ends; false when it does not end in time.
bool run(kiv_web *page, int ms = 3000) {
    for (int i = 0; i < ms; i++) {
        if (kiv_web_poll(page))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

TEST(Web, RequestBytesOnTheWire) {
    Listener l;
    std::string p = std::to_string(l.port);
    struct Row {
        const char *name;
        const char *path;
        const char *post;
        int postlen;
        std::string want;
    } rows[] = {
        {"GET with query", "/a?b=1", nullptr, 0, "GET /a?b=1 HTTP/1.0\nHost: 127.0.0.1:" + p + "\n\n"},
        {"POST with a body", "/p", "x=1", 3,
         "POST /p HTTP/1.0\nHost: 127.0.0.1:" + p +
             "\nContent-Type: application/x-www-form-urlencoded\nContent-Length: 3\n\nx=1"},
        {"zero body length is a GET", "/g", "ignored", 0, "GET /g HTTP/1.0\nHost: 127.0.0.1:" + p + "\n\n"},
        {"empty path", "", nullptr, 0, "GET  HTTP/1.0\nHost: 127.0.0.1:" + p + "\n\n"},
    };
    for (const Row &row : rows) {
        kiv_web *page = kiv_web_create("127.0.0.1", l.port, row.path, row.post, row.postlen, 5);
        std::string seen;
        std::thread server([&] {
            int c;
            seen = l.head(&c);
            char body[3];
            if (row.postlen)
                seen.append(body, (size_t)recv(c, body, (size_t)row.postlen, MSG_WAITALL));
            const char answer[] = "HTTP/1.0 200 OK\r\n\r\nhello";
            send(c, answer, sizeof(answer) - 1, MSG_NOSIGNAL);
            close(c);
        });
        bool ended = run(page);
        server.join();
        ASSERT_TRUE(ended) << row.name;
        EXPECT_EQ(row.want, seen) << row.name;
        EXPECT_EQ(0, page->error) << row.name;
        EXPECT_EQ(200, kiv_web_get_status(page)) << row.name;
        EXPECT_EQ("hello", std::string((const char *)page->data, (size_t)page->len)) << row.name;
        kiv_web_destroy(page);
    }
}

TEST(Web, RefusedAtCreation) {
    std::string long_host(KIV_WEB_HOST_MAX + 1, 'h'), long_path(KIV_WEB_PATH_MAX + 1, 'p');
    struct Row {
        const char *name;
        std::string host, path;
    } rows[] = {
        {"host too long", long_host, "/"},
        {"path too long", "127.0.0.1", long_path},
        {"LF in the path", "127.0.0.1", "/x HTTP/1.0\nX-Evil: 1"},
        {"CR in the host", "a\rb", "/"},
        {"NUL in the path", "127.0.0.1", std::string("/a\0b", 4)},
    };
    for (const Row &row : rows) {
        stdouttest::StdoutCapture cap;
        kiv_web *page =
            kiv_web_create_n(row.host.data(), row.host.size(), 80, row.path.data(), row.path.size(), nullptr, 0, 30);
        EXPECT_EQ(1, page->error) << row.name;
        EXPECT_EQ(0, page->state) << row.name;
        EXPECT_EQ(1, kiv_web_poll(page)) << row.name;
        EXPECT_NE(std::string::npos, cap.text().find("request refused")) << row.name;
        kiv_web_destroy(page);
    }
    // Exactly at the limits is fine.
    kiv_web *page = kiv_web_create(std::string(KIV_WEB_HOST_MAX, 'h').c_str(), 80,
                                   std::string(KIV_WEB_PATH_MAX, 'p').c_str(), nullptr, 0, 30);
    EXPECT_NE(std::string::npos, std::string((char *)page->_request.data).find(std::string(KIV_WEB_PATH_MAX, 'p')));
    kiv_web_destroy(page);
}

TEST(Web, AnswersSplitAnywhere) {
    struct Row {
        const char *name;
        std::string answer;
        int status;
        std::string body;
    } rows[] = {
        {"CR LF head", "HTTP/1.0 200 OK\r\nA: b\r\n\r\nhello", 200, "hello"},
        {"bare LF", "HTTP/1.1 404 Not Found\n\nx", 404, "x"},
        {"CR LF LF", "HTTP/1.0 301 M\r\n\nz", 301, "z"},
        {"no empty line: empty body", "HTTP/1.0 200 OK\r\nA: b\r\n", 200, ""},
        {"begins with an empty line", "\r\nbody", 0, "body"},
        {"no space", "garbage\n\nx", 0, "x"},
        {"status absurdly long", "HTTP/1.0 2000000000000 X\n\n", 0, ""},
        {"status with a sign", "HTTP/1.0 -200 X\n\n", 0, ""},
        {"body with NUL, CR LF and ]=", std::string("HTTP/1.0 200\n\na\0b\r\n]=]", 22), 200,
         std::string("a\0b\r\n]=]", 8)},
        {"junk before the status line", "\x1b[31mJUNK 200 OK\r\n\r\nx", 0, "x"},
        {"no protocol version", "HTTP/ 200 OK\n\n", 0, ""},
        {"two-digit status", "HTTP/1.0 20 OK\n\n", 0, ""},
        {"a run of spaces around the code", "HTTP/1.0    200    OK\r\n\r\nx", 200, "x"},
        {"spaces and no code", "HTTP/1.1     \r\n\r\nx", 0, "x"},
        {"a tab before the code", "HTTP/1.0\t200 OK\n\n", 0, ""},
        {"spaces, then four digits", "HTTP/1.1   2000 OK\n\n", 0, ""},
    };
    for (const Row &row : rows) {
        for (size_t cut = 0; cut <= row.answer.size(); cut++) {
            kiv_web *page = kiv_web_create("", 80, "/", nullptr, 0, 30);
            page->error = 0;
            EXPECT_EQ(0, kiv_web_get_status(page)) << row.name << ": nothing read yet";
            _kiv_web_take(page, row.answer.data(), (int)cut);
            _kiv_web_take(page, row.answer.data() + cut, (int)(row.answer.size() - cut));
            EXPECT_EQ(row.status, kiv_web_get_status(page)) << row.name << " cut at " << cut;
            EXPECT_EQ(row.body, std::string((const char *)page->data, (size_t)page->len))
                << row.name << " cut at " << cut;
            kiv_web_destroy(page);
        }
    }
}

// With no descriptor left the exchange fails at creation with the cause in one line and is over at the first
// step; the next one, with descriptors back, goes on.
TEST(Web, NoDescriptorLeft) {
    rlimit saved;
    getrlimit(RLIMIT_NOFILE, &saved);
    int lowest = dup(0); // every descriptor below it is in use
    close(lowest);
    rlimit tight = saved;
    tight.rlim_cur = (rlim_t)lowest;
    stdouttest::StdoutCapture cap;
    setrlimit(RLIMIT_NOFILE, &tight);
    kiv_web *page = kiv_web_create("127.0.0.1", 9, "/", nullptr, 0, 30);
    setrlimit(RLIMIT_NOFILE, &saved);
    int over = kiv_web_poll(page);
    std::string log = cap.text();
    EXPECT_EQ(1, page->error);
    EXPECT_EQ(0, page->state);
    EXPECT_EQ(-1, page->sockfd);
    EXPECT_EQ(1, over);
    EXPECT_NE(std::string::npos, log.find("perror - socket [24]: Too many open files")) << log;
    kiv_web_destroy(page);
    page = kiv_web_create("127.0.0.1", 9, "/", nullptr, 0, 30);
    EXPECT_EQ(1, page->state);
    kiv_web_destroy(page);
}

long fake_now = 1000;
long fake_clock() {
    return fake_now;
}

TEST(Web, SilentServerTimesOut) {
    Listener l;
    kiv_web_set_clock(fake_clock);
    kiv_web *page = kiv_web_create("127.0.0.1", l.port, "/", nullptr, 0, 30);
    int c = -1;
    for (int i = 0; i < 2000 && page->state != 3; i++) {
        kiv_web_poll(page);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    c = accept(l.fd, nullptr, nullptr);
    fake_now += 30;
    EXPECT_EQ(0, kiv_web_poll(page)) << "30 seconds is still within the allowance";
    fake_now += 1;
    stdouttest::StdoutCapture cap;
    EXPECT_EQ(1, kiv_web_poll(page));
    EXPECT_NE(std::string::npos, cap.text().find("timeout :: state = 3")) << cap.text();
    EXPECT_EQ(1, page->error);
    kiv_web_set_clock(nullptr);
    kiv_web_destroy(page);
    close(c);
}

// Rows of one sequence on pages without sockets: the bytes received count against the cap on all answers together,
// whatever the buffers hold as slack, so two large answers that trickle on leave room for ordinary ones; the
// exchange whose bytes would pass the cap fails and a destroyed exchange gives its bytes back.
TEST(Web, AnswersTogetherCapped) {
    const int MiB = 1 << 20, KiB = 1 << 10;
    kiv_web *pages[8] = {};
    for (kiv_web *&p : pages) {
        p = kiv_web_create("", 80, "/", nullptr, 0, 30);
        p->error = 0;
    }
    long long base = kiv_web_answers_held();
    std::string bytes((size_t)KIV_WEB_ANSWER_MAX, 'z');
    memcpy(&bytes[0], "HTTP/1.0 200 OK\r\n\r\n", 19);
    struct Row {
        const char *name;
        int page;
        int n;      // bytes taken; -1 destroys the page
        bool fails; // with the cap's log line
        long long held;
    } rows[] = {
        {"a 17 MiB answer", 0, 17 * MiB, false, 17 * MiB},
        {"a second one", 1, 17 * MiB, false, 34 * MiB},
        {"ordinary answer 1", 2, 4 * KiB, false, 34 * MiB + 4 * KiB},
        {"ordinary answer 2", 3, 4 * KiB, false, 34 * MiB + 8 * KiB},
        {"ordinary answer 3", 4, 4 * KiB, false, 34 * MiB + 12 * KiB},
        {"ordinary answer 4", 5, 4 * KiB, false, 34 * MiB + 16 * KiB},
        {"ordinary answer 5", 6, 4 * KiB, false, 34 * MiB + 20 * KiB},
        {"the first up to the single cap", 0, 15 * MiB, false, 49 * MiB + 20 * KiB},
        {"the second up to the shared cap", 1, 15 * MiB - 20 * KiB, false, 64 * MiB},
        {"one byte more would pass it", 7, 1, true, 64 * MiB},
        {"a destroyed exchange gives its bytes back", 1, -1, false, 32 * MiB + 20 * KiB},
        {"room again", 2, 1, false, 32 * MiB + 20 * KiB + 1},
        {"past the single cap", 0, 1, true, 32 * MiB + 20 * KiB + 1},
    };
    for (const Row &row : rows) {
        stdouttest::StdoutCapture cap;
        kiv_web *&p = pages[row.page];
        int took = 0;
        if (row.n < 0) {
            kiv_web_destroy(p);
            p = nullptr;
        } else {
            took = _kiv_web_take(p, bytes.data() + p->_response.len, row.n);
        }
        std::string log = cap.text();
        if (p) {
            EXPECT_EQ(row.fails ? -1 : 0, took) << row.name;
            EXPECT_EQ(row.fails ? 1 : 0, p->error) << row.name;
        }
        EXPECT_EQ(base + row.held, kiv_web_answers_held()) << row.name;
        bool logged = log.find("answers together larger than 67108864 bytes") != std::string::npos ||
                      log.find("answer larger than 33554432 bytes") != std::string::npos;
        EXPECT_EQ(row.fails, logged) << row.name << ": log was " << log;
        for (kiv_web *q : pages)
            if (q) {
                EXPECT_LE(q->_response.alloc - q->_response.len, q->_response.len + 2) << row.name;
            }
    }
    EXPECT_EQ(KIV_WEB_ANSWER_MAX, pages[0]->_response.len);
    EXPECT_EQ(KIV_WEB_ANSWER_MAX + 1, pages[0]->_response.alloc) << "the last growth stops at the single cap";
    for (kiv_web *p : pages)
        kiv_web_destroy(p);
    EXPECT_EQ(base, kiv_web_answers_held());
}

// The caps count a chunked body decoded: 8 MiB in 1-byte chunks (48 MiB on the wire) stands and holds no framing.
TEST(Web, ChunkedBodyCountedDecoded) {
    kiv_web *page = kiv_web_create("", 80, "/", nullptr, 0, 30);
    page->error = 0;
    long long base = kiv_web_answers_held();
    const std::string head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", chunks = [] {
        std::string c;
        for (int i = 0; i < 1 << 14; i++)
            c += "1\r\nz\r\n";
        return c;
    }();
    int took = _kiv_web_take(page, head.data(), (int)head.size());
    for (int sent = 0; sent < 8 << 20 && took == 0; sent += 1 << 14)
        took = _kiv_web_take(page, chunks.data(), (int)chunks.size());
    EXPECT_TRUE(took == 0 && _kiv_web_take(page, "0\r\n\r\n", 5) == 0 && _kiv_web_end(page) == 0);
    EXPECT_EQ(8 << 20, page->len);
    EXPECT_EQ(std::string::npos, std::string((const char *)page->data, (size_t)page->len).find_first_not_of('z'));
    EXPECT_EQ(base + (long long)head.size() + (8 << 20), kiv_web_answers_held());
    kiv_web_destroy(page);
}

// A field of the head by name: the name in its exact case at the start of a line, the
// spaces after the colon skipped, the value cut to the room given; nothing when no line matches.
TEST(Web, HeaderByName) {
    const std::string head =
        "HTTP/1.0 200 OK\r\nX-Tag:   some value \r\nx-low: a\r\nLong: 0123456789\r\n\r\nIn-Body: x";
    struct Row {
        const char *name, *field, *want;
        int room;
    } rows[] = {
        {"exact case, spaces skipped, trailing space kept", "X-Tag", "some value ", 32},
        {"another case does not match", "x-tag", "", 32},
        {"a lower-case name as sent", "x-low", "a", 32},
        {"the body is not searched", "In-Body", "", 32},
        {"cut to the room less one", "Long", "01234", 6},
        {"no such field", "Missing", "", 32},
    };
    kiv_web *page = kiv_web_create("127.0.0.1", 1, "/", nullptr, 0, 5);
    ASSERT_EQ(0, _kiv_web_take(page, head.data(), (int)head.size()));
    for (const Row &row : rows) {
        char dest[32];
        kiv_web_get_header(page, dest, row.room, row.field);
        EXPECT_EQ(std::string(row.want), dest) << row.name;
    }
    kiv_web_destroy(page);
}

// Answers that lie about themselves, sent in parts so that they arrive in several reads: a body shorter than its
// length, a junk status line and chunked framing. None may pass as a 200 with a wrong body.
TEST(Web, AnswerFraming) {
    Listener l;
    const std::string ok = "HTTP/1.1 200 OK\r\n", te = ok + "Transfer-Encoding: chunked\r\n\r\n";
    struct Row {
        const char *name;
        std::vector<std::string> parts;
        int error, status;
        std::string body, log;
    } rows[] = {
        {"short Content-Length",
         {ok + "Content-Length: 100\r\n\r\n", "hello"},
         1,
         200,
         "",
         "answer ended after 5 of its 100 body bytes"},
        {"exact Content-Length", {ok + "content-length:  5 \r\n\r\nhel", "lo"}, 0, 200, "hello", ""},
        {"bytes past the length dropped", {ok + "Content-Length: 2\r\n\r\nhello"}, 0, 200, "he", ""},
        {"two lengths",
         {ok + "Content-Length: 2\r\nContent-Length: 3\r\n\r\nhel"},
         1,
         200,
         "",
         "Content-Length '3' is not one number"},
        {"junk status line",
         {"\x1b[31mJUNK 200\r\n\r\nbody"},
         0,
         0,
         "body",
         "status line is not HTTP/1.x NNN: '\\x1b[31mJUNK 200'"},
        {"chunks split across reads",
         {te + "5\r\nhel", "lo\r\n1", "0;x=1\r\n0123456789abcdef\r", "\n0\r\n\r\n"},
         0,
         200,
         "hello0123456789abcdef",
         ""},
        {"chunked with bare LF and a trailer", {te + "3\nabc\n0\nX: 1\n\n"}, 0, 200, "abc", ""},
        {"chunked cut short", {te + "5\r\nhel"}, 1, 200, "", "chunked body cut short"},
        {"chunked without its last chunk", {te + "2\r\nab\r\n"}, 1, 200, "", "chunked body cut short"},
        {"chunk size not hex", {te + "zz\r\nab\r\n0\r\n\r\n"}, 1, 200, "", "chunked body malformed"},
        {"chunk longer than said", {te + "2\r\nabc\r\n0\r\n\r\n"}, 1, 200, "", "chunked body malformed"},
        {"another coding",
         {ok + "Transfer-Encoding: gzip, chunked\r\n\r\n0\r\n\r\n"},
         1,
         200,
         "",
         "transfer coding 'gzip, chunked' not supported"},
        {"head never ends", {ok + "A: b\r\n"}, 1, 200, "", "answer ended inside its head"},
        {"size line at its limit",
         {te + "1;" + std::string(KIV_WEB_CHUNK_LINE_MAX - 2, 'x') + "\na\n0\n"},
         0,
         200,
         "a",
         ""},
        {"size line past its limit",
         {te + "1;" + std::string(KIV_WEB_CHUNK_LINE_MAX - 1, 'x') + "\na\n0\n"},
         1,
         200,
         "",
         "chunked body malformed"},
        {"size past the int range", {te + "80000000\r\n"}, 1, 200, "", "chunked body malformed"},
    };
    for (const Row &row : rows) {
        stdouttest::StdoutCapture cap;
        kiv_web *page = kiv_web_create("127.0.0.1", l.port, "/", nullptr, 0, 5);
        std::thread server([&] {
            int c;
            l.head(&c);
            for (const std::string &part : row.parts) {
                send(c, part.data(), part.size(), MSG_NOSIGNAL);
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            close(c);
        });
        bool ended = run(page);
        server.join();
        std::string log = cap.text();
        ASSERT_TRUE(ended) << row.name;
        EXPECT_EQ(row.error, page->error) << row.name << ": log was " << log;
        EXPECT_EQ(row.status, kiv_web_get_status(page)) << row.name;
        if (!row.error) {
            EXPECT_EQ(row.body, std::string((const char *)page->data, (size_t)page->len)) << row.name;
        }
        EXPECT_NE(std::string::npos, log.find(row.log)) << row.name << ": log was " << log;
        kiv_web_destroy(page);
    }
}

// Script requests: the port truncated, answers that end in one frame raise their events in queue order with the
// body's exact bytes, a request without a callback raises none; and the other verbs.
TEST(WebExt, EventsInQueueOrder) {
    modstest::ModsRig rig;
    Listener l;
    std::string port = std::to_string(l.port);
    rig.eval("seen = '' function _event(e) seen = seen .. e.type .. '=' .. e.value .. ';' end");
    for (const char *cb : {"one", "two", ""}) {
        std::string arg = "{\"host\":\"127.0.0.1\",\"port\":" + port + ".7,\"path\":\"/" + cb + "?a=1\"" +
                          (*cb ? std::string(",\"callback\":\"") + cb + "\"}" : "}");
        EXPECT_EQ("null", ext_do_call(rig.game, "web:request", arg));
    }
    int conns[3];
    std::string heads[3];
    std::thread server([&] {
        for (int i = 0; i < 3; i++)
            heads[i] = l.head(&conns[i]);
    });
    for (int f = 0; f < 3000 && heads[2].empty(); f++) {
        ext_web_loop(rig.game);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    server.join();
    const std::string body("x\0y\r\n]=]", 8);
    for (int i : {1, 0, 2}) {
        std::string answer = "HTTP/1.0 200 OK\r\n\r\n" + (i == 0 ? body : std::string("2"));
        send(conns[i], answer.data(), answer.size(), MSG_NOSIGNAL);
        close(conns[i]);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ext_web_loop(rig.game);
    EXPECT_EQ("one=" + body + ";two=2;", rig.eval("return seen"));
    EXPECT_EQ("GET /one?a=1 HTTP/1.0\nHost: 127.0.0.1:" + port + "\n\n", heads[0]);
    EXPECT_EQ("\"a%20b%26c\"", ext_do_call(rig.game, "web:urlencode", "\"a b&c\""));
    EXPECT_EQ("\"12%2e5\"", ext_do_call(rig.game, "web:urlencode", "12.5"));
    EXPECT_EQ("\"%2d%5f%2e%7e%c3%a9\"", ext_do_call(rig.game, "web:urlencode", "\"-_.~\\u00e9\""));
    char out[4];
    kiv_web_urlencode(out, sizeof(out), "a b", 3);
    EXPECT_STREQ("a", out) << "an escape that does not fit ends the text";
    EXPECT_EQ("null", ext_do_call(rig.game, "web:fetch", "{}"));
}

// More requests than may be open: the first KIV_WEB_OPEN_MAX connect, each later one opens in the order made as
// an earlier one ends, and its inactivity allowance counts from its opening, not from its "web:request".
TEST(WebExt, OpenAtMostInOrder) {
    modstest::ModsRig rig;
    Listener l;
    fcntl(l.fd, F_SETFL, fcntl(l.fd, F_GETFL) | O_NONBLOCK);
    kiv_web_set_clock(fake_clock);
    const int n = KIV_WEB_OPEN_MAX + 3;
    rig.eval("seen = '' function _event(e) seen = seen .. e.type .. ';' end");
    stdouttest::StdoutCapture cap;
    for (int i = 0; i < n; i++)
        ext_do_call(rig.game, "web:request",
                    "{\"host\":\"127.0.0.1\",\"port\":" + std::to_string(l.port) + ",\"path\":\"/" + std::to_string(i) +
                        "\",\"callback\":\"r" + std::to_string(i) + "\"}");
    std::map<int, int> conn;                        // request number -> accepted connection
    std::vector<int> opened;                        // request numbers in the order their heads arrived
    std::vector<std::pair<int, std::string>> heads; // connections whose head is still coming
    // Frames until the requests seen reach want, and a few more to show that no other comes.
    auto frames = [&](size_t want) {
        for (int f = 0, extra = 0; f < 3000 && extra < 20; f++) {
            ext_web_loop(rig.game);
            for (int c; (c = accept(l.fd, nullptr, nullptr)) >= 0;)
                heads.push_back({c, ""});
            for (size_t k = 0; k < heads.size();) {
                char buf[256];
                long got = recv(heads[k].first, buf, sizeof(buf), MSG_DONTWAIT);
                if (got > 0)
                    heads[k].second.append(buf, (size_t)got);
                if (heads[k].second.find("\n\n") == std::string::npos) {
                    k++;
                    continue;
                }
                int i = atoi(heads[k].second.c_str() + 5);
                conn[i] = heads[k].first;
                opened.push_back(i);
                heads.erase(heads.begin() + (long)k);
            }
            if (opened.size() >= want)
                extra++;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    };
    auto answer = [&](int i) {
        const char a[] = "HTTP/1.0 200 OK\r\n\r\nx";
        send(conn[i], a, sizeof(a) - 1, MSG_NOSIGNAL);
        close(conn[i]);
    };
    frames(KIV_WEB_OPEN_MAX);
    ASSERT_EQ((size_t)KIV_WEB_OPEN_MAX, opened.size()) << "open at once";
    EXPECT_EQ(KIV_WEB_OPEN_MAX - 1, *std::max_element(opened.begin(), opened.end())) << "the first made";
    fake_now += 20;
    // As each of the first three ends, the oldest waiting one opens, and only it.
    for (int ends = 0; ends < 3; ends++) {
        answer(ends);
        frames(opened.size() + 1);
        EXPECT_EQ(KIV_WEB_OPEN_MAX + ends, opened.back()) << "after request " << ends << " ended";
        EXPECT_EQ((size_t)(KIV_WEB_OPEN_MAX + ends + 1), opened.size()) << "after request " << ends << " ended";
    }
    // The first ones have waited 31 s since their start; those that waited before opening, 11 s.
    fake_now += 11;
    ext_web_loop(rig.game);
    for (int i = KIV_WEB_OPEN_MAX; i < n; i++)
        answer(i);
    for (int f = 0; f < 3000 && rig.eval("return seen") != "r0;r1;r2;r32;r33;r34;"; f++) {
        ext_web_loop(rig.game);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::string log = cap.text();
    EXPECT_EQ("r0;r1;r2;r32;r33;r34;", rig.eval("return seen"));
    size_t timeouts = 0;
    for (size_t p = 0; (p = log.find("timeout :: state = 3", p)) != std::string::npos; p++)
        timeouts++;
    EXPECT_EQ((size_t)KIV_WEB_OPEN_MAX - 3, timeouts) << "only those open since the start";
    size_t first = log.find("later requests wait their turn");
    EXPECT_NE(std::string::npos, first);
    EXPECT_EQ(std::string::npos, log.find("later requests wait their turn", first + 1)) << "one line per burst";
    kiv_web_set_clock(nullptr);
    for (int i = 3; i < KIV_WEB_OPEN_MAX; i++)
        close(conn[i]);
}

// Every open exchange dripping a byte before the inactivity allowance runs out, half of them in the head: all end at
// the overall deadline, none earlier, and the request that waited behind them gets its answer.
TEST(WebExt, DripsEndAtTheDeadline) {
    modstest::ModsRig rig;
    Listener l;
    fcntl(l.fd, F_SETFL, fcntl(l.fd, F_GETFL) | O_NONBLOCK);
    kiv_web_set_clock(fake_clock);
    rig.eval("seen = '' function _event(e) seen = seen .. e.type .. '=' .. e.value .. ';' end");
    stdouttest::StdoutCapture cap;
    for (int i = 0; i <= KIV_WEB_OPEN_MAX; i++)
        ext_do_call(rig.game, "web:request",
                    "{\"host\":\"127.0.0.1\",\"port\":" + std::to_string(l.port) + ",\"callback\":\"r" +
                        std::to_string(i) + "\"}");
    std::vector<int> conns;
    auto frames = [&](int n) {
        for (int f = 0; f < n; f++) {
            ext_web_loop(rig.game);
            for (int c; (c = accept(l.fd, nullptr, nullptr)) >= 0;)
                conns.push_back(c);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    };
    for (int f = 0; f < 3000 && conns.size() < (size_t)KIV_WEB_OPEN_MAX; f += 10)
        frames(10);
    ASSERT_EQ((size_t)KIV_WEB_OPEN_MAX, conns.size());
    for (int i = 0; i < KIV_WEB_OPEN_MAX; i++) {
        std::string start = i % 2 ? "HTTP/1.0 200 OK\r\nX: " : "HTTP/1.0 200 OK\r\n\r\n";
        send(conns[(size_t)i], start.data(), start.size(), MSG_NOSIGNAL);
    }
    for (int step = 0; step < 3; step++) {
        fake_now += 20;
        for (int c : conns)
            send(c, "y", 1, MSG_NOSIGNAL);
        frames(30);
        EXPECT_EQ(KIV_WEB_OPEN_MAX, (int)conns.size()) << "none ended within the deadline, step " << step;
    }
    fake_now += 1;
    for (int f = 0; f < 3000 && conns.size() <= (size_t)KIV_WEB_OPEN_MAX; f += 10)
        frames(10);
    ASSERT_EQ((size_t)KIV_WEB_OPEN_MAX + 1, conns.size()) << "the waiting request opened";
    std::string head;
    for (char ch; head.find("\n\n") == std::string::npos && recv(conns.back(), &ch, 1, 0) == 1;)
        head += ch;
    const char answer[] = "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok";
    send(conns.back(), answer, sizeof(answer) - 1, MSG_NOSIGNAL);
    close(conns.back());
    for (int f = 0; f < 3000 && rig.eval("return seen").empty(); f += 10)
        frames(10);
    std::string log = cap.text();
    EXPECT_EQ("r32=ok;", rig.eval("return seen"));
    size_t ended = 0;
    for (size_t p = 0; (p = log.find("deadline :: state = 3, not over within 60 s", p)) != std::string::npos; p++)
        ended++;
    EXPECT_EQ((size_t)KIV_WEB_OPEN_MAX, ended) << log;
    EXPECT_EQ(std::string::npos, log.find("timeout ::")) << "each drip renewed the allowance";
    kiv_web_set_clock(nullptr);
    for (int c : conns)
        close(c);
}

// A lookup that never ends holds up no step: two exchanges share it, fail by the clock with the cause, and are
// destroyed without waiting for it. Runs in a child, alone in its namespaces.
TEST(Web, LookupThatNeverEnds) {
    int r = with_silent_resolver([] {
        kiv_web_set_clock(fake_clock);
        stdouttest::StdoutCapture cap;
        auto t0 = std::chrono::steady_clock::now();
        kiv_web *pages[2] = {kiv_web_create("hang.example.test", 80, "/", nullptr, 0, 30),
                             kiv_web_create("hang.example.test", 80, "/", nullptr, 0, 30)};
        int over = 0;
        for (int i = 0; i < 50; i++)
            over += kiv_web_poll(pages[0]) + kiv_web_poll(pages[1]);
        fake_now += 31;
        over = over * 10 + kiv_web_poll(pages[0]) + kiv_web_poll(pages[1]);
        for (kiv_web *p : pages)
            kiv_web_destroy(p);
        long ms =
            (long)std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
        std::string log = cap.text(), want = "gethostbyname ...\n";
        size_t first = log.find(want), timeout = log.find("timeout :: state = 1");
        bool once = first != std::string::npos && log.find(want, first + 1) == std::string::npos;
        fprintf(stderr, "over %d after 50 steps and the clock, %ld ms in all, log:\n%s\n", over, ms, log.c_str());
        return over == 2 && ms < 200 && once && timeout != std::string::npos;
    });
    if (r == 77)
        GTEST_SKIP() << "no private namespace can be made here";
    EXPECT_EQ(0, r) << "expected one lookup, both exchanges over by the clock only, all within 200 ms (see above)";
}

} // namespace
