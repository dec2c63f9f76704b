// Fuzz target for base64: decoding any text is safe, and whatever comes out encodes and decodes back to itself.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "kiv_base64.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 1 << 20)
        return 0;
    std::string text((const char *)data, size);
    std::string bytes = base64_decode(text);
    KIV_FUZZ_CHECK(bytes.size() <= size / 4 * 3 + 2, "decoded size bounded by the text");
    std::string again = base64_encode((const unsigned char *)bytes.data(), (unsigned)bytes.size());
    KIV_FUZZ_CHECK(base64_decode(again) == bytes, "decode(encode(decode(x))) == decode(x)");
    std::string raw = base64_encode(data, (unsigned)size);
    KIV_FUZZ_CHECK(raw.size() == (size + 2) / 3 * 4, "encoded size");
    KIV_FUZZ_CHECK(base64_decode(raw) == text, "decode(encode(x)) == x");
    return 0;
}
