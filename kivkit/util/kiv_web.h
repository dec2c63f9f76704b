// A small HTTP/1.0 client stepped from the frame loop: one record carries one exchange from name lookup to the
// server's close; nothing blocks: a name neither cached nor numeric is looked up beside the frame loop (the
// process's lookup service, kiv_platform-net.h). Also percent-encoding.
// The answer's framing is checked when the server closes: a status line other than HTTP/1.x NNN gives status 0,
// a body shorter than its Content-Length fails; a chunked body is decoded as it arrives and fails when malformed
// or cut short.
// Calling order: kiv_web_init once; per request kiv_web_create, kiv_web_poll once per frame until it answers 1,
// then error, kiv_web_get_status, data and len, then kiv_web_destroy; kiv_web_deinit once at shutdown.
#pragma once

#include <string>

struct in_addr;

// Script text longer than the fields, or holding CR, LF or NUL, is refused at creation.
constexpr int KIV_WEB_HOST_MAX = 255;
constexpr int KIV_WEB_PATH_MAX = 1023;
// An answer (head and body, a chunked body counted decoded) larger than this fails the exchange.
constexpr int KIV_WEB_ANSWER_MAX = 32 << 20;
// A chunk's size line (size, spaces and extensions) longer than this makes a chunked body malformed.
constexpr int KIV_WEB_CHUNK_LINE_MAX = 4096;
// Bytes the answers of all live exchanges may hold together (a chunked body decoded); the exchange whose bytes would
// pass it fails. Two answers at the single cap fit. The spare room of a doubled buffer is never written, so it takes
// no memory: what the answers cost stays near this however many bodies never end.
constexpr int KIV_WEB_ANSWERS_MAX = 64 << 20;
// Seconds an exchange may take from its start (name lookup, connect, head and body) however steadily it trickles.
constexpr int KIV_WEB_DEADLINE = 60;
// Exchanges the web extension keeps open at once; later requests wait in order and open as earlier ones end,
// so a script's burst of requests cannot use up the process's file descriptors.
constexpr int KIV_WEB_OPEN_MAX = 32;
// A head that has not ended within this many bytes fails the exchange.
constexpr int KIV_WEB_HEAD_MAX = 64 << 10;
// Bytes one kiv_web_poll reads at most (framing included), so a fast server cannot hold up a frame.
constexpr int KIV_WEB_POLL_READ_MAX = 256 << 10;

struct kiv_web_buffer {
    int len;
    int alloc;
    int pos; // bytes already sent (request only)
    unsigned char *data;
};

struct kiv_net_lookup;

// Where an exchange stands; the numbers are those the log lines print. A failure (error 1) leaves it where it was.
enum kiv_web_state {
    KIV_WEB_NOT_STARTED = 0, // creation failed
    KIV_WEB_CONNECTING = 1,  // socket made, connect not yet asked (or the name still being looked up)
    KIV_WEB_SENDING = 2,
    KIV_WEB_RECEIVING = 3,
    KIV_WEB_DONE = 4,
};

struct kiv_web {
    unsigned char *data; // first body byte inside the response; null before the first read
    int len;             // body length
    int error;
    int retry; // the last step read something
    char host[KIV_WEB_HOST_MAX + 1];
    int port;
    char path[KIV_WEB_PATH_MAX + 1];
    kiv_web_buffer _request;
    kiv_web_buffer _response;
    int header; // offset of the first body byte; 0 before the first read
    kiv_web_state state;
    long timeout;
    long _timeout;
    int sockfd;
    int numbytes;
    unsigned char their_addr[4]; // the server's IPv4 address, network byte order (an in_addr's bytes)
    // Where the search for the end of the head goes on, and the last byte before it that was not CR.
    int _scan;
    int _scan_prev;
    int _head_done;
    // Readiness asked for many exchanges at once by kiv_web_ready_all, used by the next step instead of its own
    // query: kiv_net_ready_many's flags (1 readable, 2 writable) and 4 once known.
    int _ready;
    long _deadline; // the overall deadline (KIV_WEB_DEADLINE after creation) on the same clock as timeout
    int _held;      // the bytes this exchange adds to kiv_web_answers_held
    // The name lookup still under way (state 1, no socket yet); shared by every client waiting on the same name.
    kiv_net_lookup *_lookup;
    long long _wire; // bytes received, chunk framing included
    // Set once the head is in and its one transfer coding is chunked: the body is decoded as it arrives. Where the
    // decoder stands, the chunk size read or the data bytes still to come, and the length of the size line so far.
    int _chunked;
    int _chunk_at;
    long long _chunk_left;
    int _chunk_line;
};

// 0, or -1 when the socket layer cannot start (the cause logged).
int kiv_web_init();
void kiv_web_deinit();
// Looks the name up at once, waiting for the resolver; the exchanges use it only for cached, numeric and empty
// names.
in_addr *kiv_gethostbyname(const char *name);
kiv_web *kiv_web_create(const char *host, int port, const char *path, const void *post, int postlen, int timeout);
// The same with explicit text lengths, so a NUL inside script text is seen and refused.
kiv_web *kiv_web_create_n(const char *host, size_t hostlen, int port, const char *path, size_t pathlen,
                          const void *post, int postlen, int timeout);
// One readiness query for every exchange that waits on its socket, so that stepping many costs one system call
// instead of one each; the next kiv_web_poll of each uses the answer.
void kiv_web_ready_all(kiv_web *const *pages, int n);
// 1 when the exchange is over (done or failed), 0 while it goes on.
int kiv_web_poll(kiv_web *page);
// The code of a status line HTTP/1.x NNN; 0 before the head has begun or when the first line is not one.
int kiv_web_get_status(kiv_web *page);
void kiv_web_get_header(kiv_web *page, char *dest, int dlen, const char *name);
void kiv_web_destroy(kiv_web *page);
int kiv_web_urlencode_len(const char *in, int l);
void kiv_web_urlencode(char *out, int len, const char *in, int l);
// Bytes the answers of all live exchanges hold now.
long long kiv_web_answers_held();
// Replaces the seconds clock of the inactivity allowance and the overall deadline (null restores the monotonic clock);
// for tests.
void kiv_web_set_clock(long (*source)());

// One exchange with string fields; exec starts it, poll steps it, close ends it.
class WebRequest {
public:
    std::string host;
    int port = 80;
    std::string request = "/";
    std::string post;
    float timeout = 30;
    kiv_web *page = nullptr;

    virtual ~WebRequest() { close(); }
    void exec() {
        if (page)
            return;
        int secs = timeout >= 0 && timeout < 2147483647.0f ? (int)timeout : 0;
        page = kiv_web_create_n(host.c_str(), host.size(), port, request.c_str(), request.size(), post.data(),
                                post.size() > (size_t)KIV_WEB_ANSWER_MAX ? -1 : (int)post.size(), secs);
    }
    // A request whose record could not be made is over at once, so it leaves its queue.
    bool poll() { return !page || kiv_web_poll(page) != 0; }
    bool has_error() const { return !page || page->error != 0; }
    int get_status() const { return page ? kiv_web_get_status(page) : 0; }
    std::string get_response() const {
        std::string body;
        get_response(body);
        return body;
    }
    // The body into out, copied once from the answer's buffer; a large body then need not be copied again.
    void get_response(std::string &out) const {
        if (page && page->data && page->len > 0)
            out.assign((const char *)page->data, (size_t)page->len);
        else
            out.clear();
    }
    void close() {
        if (page) {
            kiv_web_destroy(page);
            page = nullptr;
        }
    }
};

class WebRequestExt : public WebRequest {
public:
    std::string _callback;
};

std::string web_urlencode(const char *v, int len);
std::string web_urlencode(const std::string &v);
