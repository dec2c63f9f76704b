// The HTTP/1.0 client: non-blocking exchanges stepped by the web extension (and anyone else) once per frame,
// and percent-encoding; names are looked up through the process's lookup service (kiv_platform-net.cpp).
#include "kiv_web.h"
#include "kiv_web_int.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "kiv_platform-net.h"
#include "kiv_printf.h"

// --- constants

static const int _KIV_WEB_READ = 4096;

// --- state

struct _KivWebData {
    int _kiv_web_is_init = 0;  // 1 after kiv_web_init started the socket layer
    long (*clock)() = nullptr; // null: the monotonic clock
    // The bytes received by every live exchange.
    long long held = 0;
    // kiv_web_ready_all's sets, kept so that a frame's query allocates nothing.
    std::vector<int> ready_fds;
    std::vector<kiv_web *> ready_pages;
    std::vector<unsigned char> ready_flags;
};

static _KivWebData _kiv_web;

// --- internal helpers

// Seconds of a clock that never jumps with the wall clock, so an adjusted date neither fails nor prolongs an
// exchange.
static long kiv_web_get_ticks() {
    if (_kiv_web.clock)
        return _kiv_web.clock();
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long)ts.tv_sec;
}

static void kiv_web_reset_timeout(kiv_web *page) {
    page->timeout = kiv_web_get_ticks() + page->_timeout;
}

// The size kiv_web_extend gives the buffer so that ext more bytes fit: doubled, so a large answer moves a few
// times only, but never past cap when the bytes fit below it. -1 when the size would pass the int range.
static long long kiv_web_grown(const kiv_web_buffer *buf, int ext, int cap) {
    if (ext < 0 || buf->len > INT_MAX - ext)
        return -1;
    int target = buf->len + ext;
    long long n = buf->alloc ? buf->alloc : 1;
    while (n < target)
        n *= 2;
    if (n > cap)
        n = target > cap ? target : cap;
    return n < buf->alloc ? buf->alloc : n;
}

// Grows the buffer so that ext more bytes fit. False when the size would pass the int
// range or memory runs out.
static bool kiv_web_extend(kiv_web_buffer *buf, int ext, int cap = INT_MAX) {
    long long n = kiv_web_grown(buf, ext, cap);
    if (n < 0)
        return false;
    if (n <= buf->alloc)
        return true;
    unsigned char *p = (unsigned char *)realloc(buf->data, (size_t)n);
    if (!p)
        return false;
    // Only the byte after the data is zeroed: writers append at len and keep that byte zero, and the rest stays
    // untouched, so a large answer's spare room costs no memory and no time until bytes arrive.
    p[buf->len] = 0;
    buf->data = p;
    buf->alloc = (int)n;
    return true;
}

static void _kiv_web_perror(const char *what) {
    int e = kiv_net_last_error();
    kiv_printf("perror - %s [%d]: %s", what, e, kiv_net_error_text(e).c_str());
}

// Header names and codings compare in any case, ASCII only.
static bool _kiv_web_caseeq(const char *a, const char *b, size_t n) {
    for (size_t i = 0; i < n; i++) {
        if (tolower((unsigned char)a[i]) != tolower((unsigned char)b[i]))
            return false;
        if (!a[i])
            return true;
    }
    return true;
}

static void _kiv_web_fail(kiv_web *page) {
    page->error = 1;
}

// Script text that would not fit its field or would end a line of the head early.
static bool _kiv_web_text_ok(const char *s, size_t n, size_t max) {
    if (!s || n > max)
        return false;
    for (size_t i = 0; i < n; i++)
        if (s[i] == '\r' || s[i] == '\n' || s[i] == 0)
            return false;
    return true;
}

// Goes on from where the last search stopped: a CR is skipped, an LF right after an LF ends the head.
static void kiv_find_header(kiv_web *page) {
    const unsigned char *d = page->_response.data;
    int n = page->_response.len;
    int i = page->_scan;
    int prev = page->_scan_prev;
    for (; i < n; i++) {
        unsigned char c = d[i];
        if (c == '\r')
            continue;
        if (c == '\n' && prev == '\n') {
            page->header = i + 1;
            page->_head_done = 1;
            page->_scan = i + 1;
            return;
        }
        prev = c;
    }
    page->_scan = n;
    page->_scan_prev = prev;
    page->header = n;
}

// The code of a status line HTTP/1.x NNN: after the version a run of spaces, then three digits and a space or the
// line's end; 0 for any other.
static int _kiv_web_status(const char *s, int n) {
    if (n < 9 || memcmp(s, "HTTP/1.", 7) != 0 || s[7] < '0' || s[7] > '9' || s[8] != ' ')
        return 0;
    int i = 9;
    while (i < n && s[i] == ' ')
        i++;
    if (n - i < 3)
        return 0;
    int v = 0;
    for (int end = i + 3; i < end; i++) {
        if (s[i] < '0' || s[i] > '9')
            return 0;
        v = v * 10 + (s[i] - '0');
    }
    if (i < n && s[i] != ' ' && s[i] != '\r' && s[i] != '\n')
        return 0;
    return v < 100 ? 0 : v;
}

// Walks the lines of the head, the status line first: visit(line, end) gets the offsets of a line's first byte
// and of its LF (or of the head's end) and ends the walk by answering true.
template <class Visit> static void _kiv_web_head_lines(const kiv_web *page, Visit visit) {
    const char *d = (const char *)page->_response.data;
    int h = page->header;
    for (int line = 0; d && line < h;) {
        const char *nl = (const char *)memchr(d + line, '\n', (size_t)(h - line));
        int end = nl ? (int)(nl - d) : h;
        if (visit(line, end))
            return;
        line = end + 1;
    }
}

// The values of every field of the head named name (any case), without the spaces and tabs around them.
static std::vector<std::string> _kiv_web_fields(const kiv_web *page, const char *name) {
    std::vector<std::string> out;
    const char *d = (const char *)page->_response.data;
    size_t k = strlen(name);
    _kiv_web_head_lines(page, [&](int line, int end) {
        if (line > 0 && end - line > (int)k && d[line + k] == ':' && _kiv_web_caseeq(d + line, name, k)) {
            int a = line + (int)k + 1, b = end;
            while (a < b && (d[a] == ' ' || d[a] == '\t'))
                a++;
            while (b > a && (d[b - 1] == ' ' || d[b - 1] == '\t' || d[b - 1] == '\r'))
                b--;
            out.emplace_back(d + a, (size_t)(b - a));
        }
        return false;
    });
    return out;
}

// data and len mirror the response past its head; set here only, after every change of either.
static void _kiv_web_body(kiv_web *page) {
    page->data = page->_response.data + page->header;
    page->len = page->_response.len - page->header;
}

// Keeps the first n body bytes: the rest of the buffer is zero again.
static void _kiv_web_cut(kiv_web *page, int n) {
    kiv_web_buffer &rs = page->_response;
    memset(rs.data + page->header + n, 0, (size_t)(rs.len - page->header - n));
    rs.len = page->header + n;
    _kiv_web_body(page);
}

// Appends bytes to the answer within its own cap and the cap on all answers together; -1 (error set, logged) past
// either.
static int _kiv_web_append(kiv_web *page, const void *bytes, int n) {
    if (page->_response.len > KIV_WEB_ANSWER_MAX - n) {
        kiv_printf("answer larger than %d bytes\n", KIV_WEB_ANSWER_MAX);
        _kiv_web_fail(page);
        return -1;
    }
    if (_kiv_web.held + n > KIV_WEB_ANSWERS_MAX) {
        kiv_printf("answers together larger than %d bytes\n", KIV_WEB_ANSWERS_MAX);
        _kiv_web_fail(page);
        return -1;
    }
    // One byte more than the answer keeps it zero-terminated.
    if (!kiv_web_extend(&page->_response, n + 1, KIV_WEB_ANSWER_MAX + 1)) {
        kiv_printf("answer: out of memory\n");
        _kiv_web_fail(page);
        return -1;
    }
    _kiv_web.held += n;
    page->_held += n;
    memcpy(page->_response.data + page->_response.len, bytes, (size_t)n);
    page->_response.len += n;
    page->_response.data[page->_response.len] = 0;
    return 0;
}

enum {
    _KIV_CHUNK_SIZE,
    _KIV_CHUNK_PAD,
    _KIV_CHUNK_EXT,
    _KIV_CHUNK_LF,
    _KIV_CHUNK_DATA,
    _KIV_CHUNK_END,
    _KIV_CHUNK_END_LF,
    _KIV_CHUNK_DONE
};

// Decodes the next bytes of a chunked body onto the answer, so only the data is held and counted; the trailer after
// the last chunk is dropped. A size line ends in LF or CR LF, as does a chunk's data. -1 (error set, logged) when
// the framing is malformed or the body passes a cap.
static int _kiv_web_unchunk(kiv_web *page, const unsigned char *d, int n) {
    for (int i = 0; i < n && page->_chunk_at != _KIV_CHUNK_DONE;) {
        int at = page->_chunk_at;
        if (at == _KIV_CHUNK_DATA) {
            int k = page->_chunk_left < n - i ? (int)page->_chunk_left : n - i;
            if (_kiv_web_append(page, d + i, k))
                return -1;
            i += k;
            if ((page->_chunk_left -= k) == 0)
                page->_chunk_at = _KIV_CHUNK_END;
            continue;
        }
        unsigned char c = d[i++];
        bool ok = true, line_end = false;
        if (at == _KIV_CHUNK_SIZE && isxdigit(c)) {
            ok = page->_chunk_line < 8;
            page->_chunk_left = page->_chunk_left * 16 + (isdigit(c) ? c - '0' : (c | 0x20) - 'a' + 10);
        } else if (at == _KIV_CHUNK_SIZE || at == _KIV_CHUNK_PAD) {
            ok = page->_chunk_line > 0 && page->_chunk_left <= INT_MAX;
            page->_chunk_at = c == ';' ? _KIV_CHUNK_EXT : c == '\r' ? _KIV_CHUNK_LF : _KIV_CHUNK_PAD;
            line_end = c == '\n';
            ok = ok && (c == ' ' || c == '\t' || c == ';' || c == '\r' || line_end);
        } else if (at == _KIV_CHUNK_EXT) {
            line_end = c == '\n';
        } else if (at == _KIV_CHUNK_LF) {
            ok = line_end = c == '\n';
        } else if (at == _KIV_CHUNK_END) {
            ok = c == '\r' || c == '\n';
            page->_chunk_at = c == '\r' ? _KIV_CHUNK_END_LF : _KIV_CHUNK_SIZE;
        } else if (at == _KIV_CHUNK_END_LF) {
            ok = c == '\n';
            page->_chunk_at = _KIV_CHUNK_SIZE;
        }
        if (!line_end && page->_chunk_at <= _KIV_CHUNK_EXT && ++page->_chunk_line > KIV_WEB_CHUNK_LINE_MAX)
            ok = false;
        if (!ok) {
            kiv_printf("answer: chunked body malformed\n");
            _kiv_web_fail(page);
            return -1;
        }
        if (line_end) {
            page->_chunk_at = page->_chunk_left ? _KIV_CHUNK_DATA : _KIV_CHUNK_DONE;
            page->_chunk_line = 0;
        } else if (at >= _KIV_CHUNK_END && page->_chunk_at == _KIV_CHUNK_SIZE) {
            page->_chunk_left = 0;
            page->_chunk_line = 0;
        }
    }
    return 0;
}

// Starts the exchange's socket towards addr (null: the lookup found nothing); false with the cause logged and the
// exchange failed.
static bool _kiv_web_open(kiv_web *page, const in_addr *addr) {
    if (!addr) {
        kiv_printf("kiv_gethostbyname == null\n");
        _kiv_web_fail(page);
        return false;
    }
    static_assert(sizeof(page->their_addr) == sizeof(in_addr), "an IPv4 address");
    memcpy(page->their_addr, addr, sizeof(page->their_addr));
    page->sockfd = kiv_net_tcp_socket();
    if (page->sockfd < 0) {
        _kiv_web_perror("socket");
        _kiv_web_fail(page);
        return false;
    }
    if (!kiv_net_set_nonblocking(page->sockfd)) {
        kiv_printf("ioctlsocket failed with error: %ld\n", (long)kiv_net_last_error());
        _kiv_web_fail(page);
        return false;
    }
    return true;
}

// What a part of one step leaves: the exchange over (done or failed), going on with nothing more to do now, going on
// with bytes read (so the drain loop steps again), or through, so the step goes on with the next part.
enum _kiv_web_step_result { _KIV_STEP_OVER, _KIV_STEP_WAIT, _KIV_STEP_READ, _KIV_STEP_NEXT };

static _kiv_web_step_result _kiv_web_fail_step(kiv_web *page) {
    _kiv_web_fail(page);
    return _KIV_STEP_OVER;
}

// Over (logged) once the inactivity allowance or the overall deadline has passed; asked before any socket call.
static bool _kiv_web_expired(kiv_web *page) {
    if (kiv_web_get_ticks() > page->timeout) {
        kiv_printf("timeout :: state = %d\n", (int)page->state);
        _kiv_web_fail(page);
        return true;
    }
    if (kiv_web_get_ticks() > page->_deadline) {
        kiv_printf("deadline :: state = %d, not over within %d s\n", (int)page->state, KIV_WEB_DEADLINE);
        _kiv_web_fail(page);
        return true;
    }
    return false;
}

// The name being looked up beside the frame loop: the socket is made once the address is known.
static _kiv_web_step_result _kiv_web_step_lookup(kiv_web *page) {
    in_addr a;
    long found = kiv_net_lookup_poll(page->_lookup, &a, nullptr);
    if (found == KIV_NET_AGAIN)
        return _KIV_STEP_WAIT;
    kiv_net_lookup_forget(page->_lookup);
    page->_lookup = nullptr;
    return _kiv_web_open(page, found == 0 ? &a : nullptr) ? _KIV_STEP_NEXT : _KIV_STEP_OVER;
}

// Asks for the connection once; it completes in the background and shows as a writable socket.
static _kiv_web_step_result _kiv_web_step_connect(kiv_web *page) {
    in_addr to;
    memcpy(&to, page->their_addr, sizeof(to));
    if (kiv_net_connect(page->sockfd, &to, page->port) == KIV_NET_FAIL) {
        kiv_printf("connect: %d\n", kiv_net_last_error());
        return _kiv_web_fail_step(page);
    }
    page->state = KIV_WEB_SENDING;
    kiv_web_reset_timeout(page);
    return _KIV_STEP_NEXT;
}

// The socket's readiness flags (as kiv_net_ready_many's): kiv_web_ready_all's answer when it asked for this
// frame, else asked now; false (failed, logged) when the poll itself fails.
static bool _kiv_web_readiness(kiv_web *page, unsigned char *ready) {
    if (page->_ready & 4) {
        *ready = (unsigned char)(page->_ready & 3);
        page->_ready = 0;
        return true;
    }
    if (kiv_net_ready_many(&page->sockfd, 1, ready) != KIV_NET_FAIL)
        return true;
    _kiv_web_perror("select");
    _kiv_web_fail(page);
    return false;
}

static _kiv_web_step_result _kiv_web_step_send(kiv_web *page, bool writable) {
    if (!writable)
        return _KIV_STEP_WAIT;
    kiv_web_buffer &rq = page->_request;
    long n = kiv_net_send(page->sockfd, rq.data + rq.pos, (size_t)(rq.len - rq.pos));
    if (n == KIV_NET_FAIL) {
        _kiv_web_perror("send");
        return _kiv_web_fail_step(page);
    }
    if (n > 0) {
        rq.pos += (int)n;
        kiv_web_reset_timeout(page);
    }
    if (rq.pos >= rq.len)
        page->state = KIV_WEB_RECEIVING;
    return _KIV_STEP_WAIT;
}

// One read; the server's close ends the exchange, judged by _kiv_web_end.
static _kiv_web_step_result _kiv_web_step_receive(kiv_web *page, bool readable) {
    if (!readable)
        return _KIV_STEP_WAIT;
    unsigned char buf[_KIV_WEB_READ];
    long n = kiv_net_recv(page->sockfd, buf, sizeof(buf));
    if (n == KIV_NET_AGAIN)
        return _KIV_STEP_WAIT;
    if (n == KIV_NET_FAIL) {
        _kiv_web_perror("recv");
        return _kiv_web_fail_step(page);
    }
    if (n == 0) {
        if (_kiv_web_end(page) == 0)
            page->state = KIV_WEB_DONE;
        return _KIV_STEP_OVER;
    }
    kiv_web_reset_timeout(page);
    return _kiv_web_take(page, buf, (int)n) == 0 ? _KIV_STEP_READ : _KIV_STEP_OVER;
}

// One step from where the exchange stands; retry tells whether it read something, as the result does.
static _kiv_web_step_result _kiv_web_step(kiv_web *page) {
    page->retry = 0;
    if (page->state == KIV_WEB_DONE || page->error || _kiv_web_expired(page))
        return _KIV_STEP_OVER;
    _kiv_web_step_result r = _KIV_STEP_NEXT;
    if (page->state == KIV_WEB_CONNECTING && page->_lookup)
        r = _kiv_web_step_lookup(page);
    if (r == _KIV_STEP_NEXT && page->state == KIV_WEB_CONNECTING)
        r = _kiv_web_step_connect(page);
    if (r != _KIV_STEP_NEXT)
        return r;
    unsigned char ready = 0;
    if (!_kiv_web_readiness(page, &ready))
        return _KIV_STEP_OVER;
    if (page->state == KIV_WEB_SENDING)
        r = _kiv_web_step_send(page, (ready & 2) != 0);
    else if (page->state == KIV_WEB_RECEIVING)
        r = _kiv_web_step_receive(page, (ready & 1) != 0);
    else
        r = _KIV_STEP_OVER;
    page->retry = r == _KIV_STEP_READ;
    return r;
}

// --- public functions

int kiv_web_init() {
    if (kiv_net_startup() != 0)
        return -1;
    _kiv_web._kiv_web_is_init = 1;
    return 0;
}

void kiv_web_deinit() {
    if (_kiv_web._kiv_web_is_init)
        kiv_net_cleanup();
    _kiv_web._kiv_web_is_init = 0;
}

in_addr *kiv_gethostbyname(const char *name) {
    return kiv_net_lookup_now(name);
}

kiv_web *kiv_web_create(const char *host, int port, const char *path, const void *post, int postlen, int timeout) {
    return kiv_web_create_n(host, host ? strlen(host) : 0, port, path, path ? strlen(path) : 0, post, postlen, timeout);
}

kiv_web *kiv_web_create_n(const char *host, size_t hostlen, int port, const char *path, size_t pathlen,
                          const void *post, int postlen, int timeout) {
    kiv_web *page = (kiv_web *)calloc(1, sizeof(kiv_web));
    if (!page) {
        kiv_printf("kiv_web_create: out of memory\n");
        return nullptr;
    }
    page->sockfd = -1;
    // The answer starts as if after a line end, so an empty first line ends an empty head.
    page->_scan_prev = '\n';
    page->port = port;
    page->_timeout = timeout;
    kiv_web_reset_timeout(page);
    page->_deadline = kiv_web_get_ticks() + KIV_WEB_DEADLINE;
    if (!post)
        postlen = 0;
    if (!_kiv_web_text_ok(host, hostlen, KIV_WEB_HOST_MAX) || !_kiv_web_text_ok(path, pathlen, KIV_WEB_PATH_MAX) ||
        postlen < 0) {
        kiv_printf("kiv_web_create: host or path too long or holding CR, LF or NUL; request refused\n");
        _kiv_web_fail(page);
        return page;
    }
    memcpy(page->host, host, hostlen);
    memcpy(page->path, path, pathlen);

    std::string head;
    if (postlen == 0)
        head = kiv_format("GET %s HTTP/1.0\nHost: %s:%d\n\n", page->path, page->host, port);
    else
        head = kiv_format("POST %s HTTP/1.0\nHost: %s:%d\nContent-Type: application/x-www-form-urlencoded\n"
                          "Content-Length: %d\n\n",
                          page->path, page->host, port, postlen);
    if (postlen > INT_MAX - 1 - (int)head.size() || !kiv_web_extend(&page->_request, (int)head.size() + postlen + 1)) {
        kiv_printf("kiv_web_create: out of memory\n");
        _kiv_web_fail(page);
        return page;
    }
    memcpy(page->_request.data, head.data(), head.size());
    if (postlen)
        memcpy(page->_request.data + head.size(), post, (size_t)postlen);
    page->_request.len = (int)head.size() + postlen;
    page->_request.data[page->_request.len] = 0; // the head reads as text

    // Cached, numeric and empty names are answered at once; any other is looked up beside the frame loop.
    in_addr known;
    if (!page->host[0] || kiv_net_lookup_cached(page->host, &known) || kiv_net_parse4(page->host, &known)) {
        if (!_kiv_web_open(page, kiv_gethostbyname(page->host)))
            return page;
    } else if (!(page->_lookup = kiv_net_lookup_start(page->host))) {
        _kiv_web_fail(page);
        return page;
    }
    page->state = KIV_WEB_CONNECTING;
    return page;
}

int _kiv_web_take(kiv_web *page, const void *bytes, int n) {
    if (n <= 0)
        return 0;
    page->_wire += n;
    const unsigned char *in = (const unsigned char *)bytes;
    int r = 0;
    if (page->_chunked) {
        r = _kiv_web_unchunk(page, in, n);
    } else if (_kiv_web_append(page, in, n)) {
        return -1;
    } else if (!page->_head_done) {
        kiv_find_header(page);
        if (!page->_head_done && page->_response.len > KIV_WEB_HEAD_MAX) {
            kiv_printf("header longer than %d bytes\n", KIV_WEB_HEAD_MAX);
            _kiv_web_fail(page);
            return -1;
        }
        std::vector<std::string> coding;
        if (page->_head_done)
            coding = _kiv_web_fields(page, "Transfer-Encoding");
        if (coding.size() == 1 && _kiv_web_caseeq(coding[0].c_str(), "chunked", sizeof("chunked"))) {
            // What came after the head is the start of the chunked body: taken back and decoded.
            int tail = page->_response.len - page->header;
            _kiv_web_cut(page, 0);
            page->_held -= tail;
            _kiv_web.held -= tail;
            page->_chunked = 1;
            r = _kiv_web_unchunk(page, in + n - tail, tail);
        }
    }
    _kiv_web_body(page);
    return r;
}

int _kiv_web_end(kiv_web *page) {
    if (page->error)
        return -1;
    if (!page->_head_done) {
        kiv_printf("answer ended inside its head after %d bytes\n", page->_response.len);
        _kiv_web_fail(page);
        return -1;
    }
    const char *d = (const char *)page->_response.data;
    if (!kiv_web_get_status(page)) {
        const char *nl = (const char *)memchr(d, '\n', (size_t)page->header);
        size_t n = nl ? (size_t)(nl - d) : (size_t)page->header;
        if (n && d[n - 1] == '\r')
            n--;
        kiv_printf("status line is not HTTP/1.x NNN: '%s'\n", kiv_log_text(d, n < 80 ? n : 80).c_str());
    }
    std::vector<std::string> coding = _kiv_web_fields(page, "Transfer-Encoding");
    if (!coding.empty()) {
        if (coding.size() != 1 || !_kiv_web_caseeq(coding[0].c_str(), "chunked", sizeof("chunked"))) {
            kiv_printf("answer: transfer coding '%s' not supported\n", kiv_log_text(coding.back()).c_str());
            _kiv_web_fail(page);
            return -1;
        }
        if (page->_chunk_at != _KIV_CHUNK_DONE) {
            kiv_printf("answer: chunked body cut short\n");
            _kiv_web_fail(page);
            return -1;
        }
        return 0;
    }
    std::vector<std::string> lengths = _kiv_web_fields(page, "Content-Length");
    if (lengths.empty())
        return 0;
    long long want = -1;
    for (const std::string &v : lengths) {
        bool digits = !v.empty() && v.size() <= 10 && v.find_first_not_of("0123456789") == std::string::npos;
        long long n = digits ? atoll(v.c_str()) : -1;
        if (n < 0 || (want >= 0 && n != want)) {
            kiv_printf("answer: Content-Length '%s' is not one number\n", kiv_log_text(v).c_str());
            _kiv_web_fail(page);
            return -1;
        }
        want = n;
    }
    if (page->len < want) {
        kiv_printf("answer ended after %d of its %lld body bytes\n", page->len, want);
        _kiv_web_fail(page);
        return -1;
    }
    // Bytes past the length are not the body's.
    _kiv_web_cut(page, (int)want);
    return 0;
}

int _kiv_web_poll(kiv_web *page) {
    if (!page)
        return 1;
    return _kiv_web_step(page) == _KIV_STEP_OVER;
}

void kiv_web_ready_all(kiv_web *const *pages, int n) {
    std::vector<int> &fds = _kiv_web.ready_fds;
    std::vector<kiv_web *> &waiting = _kiv_web.ready_pages;
    std::vector<unsigned char> &flags = _kiv_web.ready_flags;
    fds.clear();
    waiting.clear();
    for (int i = 0; i < n; i++) {
        kiv_web *p = pages[i];
        if (p && !p->error && (p->state == KIV_WEB_SENDING || p->state == KIV_WEB_RECEIVING) && p->sockfd >= 0) {
            fds.push_back(p->sockfd);
            waiting.push_back(p);
        }
    }
    flags.resize(fds.size());
    if (fds.empty() || kiv_net_ready_many(fds.data(), (int)fds.size(), flags.data()) == KIV_NET_FAIL)
        return; // each step asks on its own and reports the failure
    for (size_t i = 0; i < waiting.size(); i++)
        waiting[i]->_ready = 4 | flags[i];
}

int kiv_web_poll(kiv_web *page) {
    if (!page)
        return 1;
    long long start = page->_wire;
    for (;;) {
        _kiv_web_step_result r = _kiv_web_step(page);
        if (r == _KIV_STEP_OVER)
            return 1;
        if (r != _KIV_STEP_READ || page->_wire - start >= KIV_WEB_POLL_READ_MAX)
            return 0;
    }
}

int kiv_web_get_status(kiv_web *page) {
    if (!page || !page->header || !page->_response.data)
        return 0;
    return _kiv_web_status((const char *)page->_response.data, page->_response.len);
}

void kiv_web_get_header(kiv_web *page, char *dest, int dlen, const char *name) {
    if (!dest || dlen <= 0)
        return;
    memset(dest, 0, (size_t)dlen);
    if (!page || !name || !page->_response.data || strlen(name) > 254)
        return;
    // Matched in this case only, from the start of a line, the status line included.
    std::string key = std::string(name) + ":";
    const char *d = (const char *)page->_response.data;
    int h = page->header, k = (int)key.size();
    _kiv_web_head_lines(page, [&](int line, int) {
        if (line + k > h || memcmp(d + line, key.data(), (size_t)k) != 0)
            return false;
        int i = line + k, o = 0;
        while (i < h && d[i] == ' ')
            i++;
        while (i < h && d[i] != '\r' && d[i] != '\n' && o < dlen - 1)
            dest[o++] = d[i++];
        return true;
    });
}

void kiv_web_destroy(kiv_web *page) {
    if (!page)
        return;
    kiv_net_lookup_forget(page->_lookup);
    if (page->sockfd != -1)
        kiv_net_close(page->sockfd);
    _kiv_web.held -= page->_held;
    free(page->_request.data);
    free(page->_response.data);
    free(page);
}

static bool _kiv_web_alnum(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

int kiv_web_urlencode_len(const char *in, int l) {
    long long n = 1;
    for (int i = 0; in && i < l; i++)
        n += _kiv_web_alnum((unsigned char)in[i]) ? 1 : 3;
    return n > INT_MAX ? INT_MAX : (int)n;
}

void kiv_web_urlencode(char *out, int len, const char *in, int l) {
    static const char hex[] = "0123456789abcdef";
    if (!out || len <= 0)
        return;
    memset(out, 0, (size_t)len);
    int o = 0;
    for (int i = 0; in && i < l; i++) {
        unsigned char c = (unsigned char)in[i];
        if (_kiv_web_alnum(c)) {
            if (len - o < 2)
                break;
            out[o++] = (char)c;
        } else {
            if (len - o < 4)
                break;
            out[o++] = '%';
            out[o++] = hex[c >> 4];
            out[o++] = hex[c & 15];
        }
    }
}

long long kiv_web_answers_held() {
    return _kiv_web.held;
}

void kiv_web_set_clock(long (*source)()) {
    _kiv_web.clock = source;
}

std::string web_urlencode(const char *v, int len) {
    int n = kiv_web_urlencode_len(v, len);
    std::string out((size_t)n, '\0');
    kiv_web_urlencode(&out[0], n, v, len);
    out.resize(strlen(out.c_str()));
    return out;
}

std::string web_urlencode(const std::string &v) {
    int l = v.size() > (size_t)INT_MAX / 3 ? INT_MAX / 3 : (int)v.size();
    return web_urlencode(v.data(), l);
}
