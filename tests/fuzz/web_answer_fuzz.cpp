// Fuzz target for HTTP answers: any bytes, split into reads anywhere, give a body that is exactly the tail of the
// answer after its head, a status within its bounds and header look-ups that stay inside their buffers.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_check.h"
#include "kiv_web.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1 || size > 1 << 17)
        return 0;
    size_t step = data[0] % 64 + 1;
    std::string answer((const char *)data + 1, size - 1);
    kiv_web *page = kiv_web_create("127.0.0.1", 1, "/", nullptr, 0, 30);
    for (size_t at = 0; at < answer.size() && !page->error; at += step)
        _kiv_web_take(page, answer.data() + at, (int)std::min(step, answer.size() - at));
    if (!page->error && !answer.empty()) {
        KIV_FUZZ_CHECK(page->header > 0 && page->header <= (int)answer.size(), "head within the answer");
        KIV_FUZZ_CHECK(page->len == (int)answer.size() - page->header, "body is the rest");
        KIV_FUZZ_CHECK(!memcmp(page->data, answer.data() + page->header, (size_t)page->len), "body bytes exact");
        KIV_FUZZ_CHECK(page->data[page->len] == 0, "answer stays zero-terminated");
        int status = kiv_web_get_status(page);
        KIV_FUZZ_CHECK(status >= 0 && status <= 999999999, "status bounded");
        char value[16];
        kiv_web_get_header(page, value, sizeof(value), "A");
        KIV_FUZZ_CHECK(strlen(value) < sizeof(value), "header value bounded");
    }
    kiv_web_destroy(page);
    return 0;
}
