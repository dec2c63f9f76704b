// Fuzz target for HTTP answers: any bytes, split into reads anywhere, give a body that is exactly the tail of the
// answer after its head (a chunked one decoded as it comes, no longer than that tail), a status within its bounds and
// header look-ups that stay inside their buffers. Once the server closes, an answer that stands has a body inside what
// arrived, still zero-terminated, and that body sent again in chunks of any size or with its exact length comes back
// unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "fuzz_check.h"
#include "kiv_web.h"
#include "kiv_web_int.h"

static kiv_web *feed(const std::string &answer, size_t step) {
    kiv_web *page = kiv_web_create("127.0.0.1", 1, "/", nullptr, 0, 30);
    for (size_t at = 0; at < answer.size() && !page->error; at += step)
        _kiv_web_take(page, answer.data() + at, (int)std::min(step, answer.size() - at));
    return page;
}

// The body framed again with chunks of step bytes or with its length, read back through the same path.
static void round_trip(const std::string &body, size_t step, bool chunked) {
    std::string answer = "HTTP/1.1 200 OK\r\n";
    if (chunked) {
        answer += "Transfer-Encoding: chunked\r\n\r\n";
        for (size_t at = 0; at < body.size(); at += step) {
            char size[16];
            snprintf(size, sizeof(size), "%zx\r\n", std::min(step, body.size() - at));
            answer += size + body.substr(at, step) + "\r\n";
        }
        answer += "0\r\n\r\n";
    } else {
        answer += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    }
    kiv_web *page = feed(answer, step);
    KIV_FUZZ_CHECK(_kiv_web_end(page) == 0 && kiv_web_get_status(page) == 200, "framed again, it stands");
    KIV_FUZZ_CHECK(page->len == (int)body.size() && !memcmp(page->data, body.data(), body.size()),
                   "framed again, the same body");
    kiv_web_destroy(page);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1 || size > 1 << 17)
        return 0;
    size_t step = data[0] % 64 + 1;
    std::string answer((const char *)data + 1, size - 1);
    kiv_web *page = feed(answer, step);
    if (!page->error && !answer.empty()) {
        KIV_FUZZ_CHECK(page->header > 0 && page->header <= (int)answer.size(), "head within the answer");
        if (page->_chunked) {
            KIV_FUZZ_CHECK(page->len <= (int)answer.size() - page->header, "decoded body within the rest");
        } else {
            KIV_FUZZ_CHECK(page->len == (int)answer.size() - page->header, "body is the rest");
            KIV_FUZZ_CHECK(!memcmp(page->data, answer.data() + page->header, (size_t)page->len), "body bytes exact");
        }
        KIV_FUZZ_CHECK(page->data[page->len] == 0, "answer stays zero-terminated");
        int status = kiv_web_get_status(page);
        KIV_FUZZ_CHECK(status == 0 || (status >= 100 && status <= 999), "status bounded");
        char value[16];
        kiv_web_get_header(page, value, sizeof(value), "A");
        KIV_FUZZ_CHECK(strlen(value) < sizeof(value), "header value bounded");
        int rest = page->len;
        if (_kiv_web_end(page) == 0) {
            KIV_FUZZ_CHECK(page->len >= 0 && page->len <= rest, "body within what arrived");
            KIV_FUZZ_CHECK(page->data[page->len] == 0, "body stays zero-terminated");
            std::string body((const char *)page->data, (size_t)page->len);
            round_trip(body, step, true);
            round_trip(body, step, false);
        }
    }
    kiv_web_destroy(page);
    return 0;
}
