// Fuzz target for json_decode: any bytes decode without a sanitizer report, our own text decodes again,
// and one decode/encode round reaches a text that further rounds keep unchanged.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "kiv_json.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 1 << 20)
        return 0;
    var tree;
    json_decode(tree, (const char *)data, (int)size);
    std::string e1 = json_encode(tree);

    var t1;
    int status = json_decode(t1, e1.data(), (int)e1.size());
    // "null" is the text of a failed decode that built nothing: not a document, so its decode fails.
    KIV_FUZZ_CHECK(e1 == "null" || status == 0, "our own text decodes");
    std::string e2 = json_encode(t1);
    // A number may change its text once ("-0.0" reads back as 0), never twice.
    std::string e3 = json_encode(json_decode(e2));
    KIV_FUZZ_CHECK(e2 == e3, "encode(decode(x)) is stable after one round");
    return 0;
}
