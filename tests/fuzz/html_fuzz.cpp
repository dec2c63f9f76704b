// Fuzz target for the markup scanner: any text scans safely into a list of tag dicts that all carry a name.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "kiv_html.h"
#include "kiv_json.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 1 << 16)
        return 0;
    std::string text((const char *)data, size);
    var tags = html_parse(text);
    KIV_FUZZ_CHECK(tags.__type__() == VAR_LIST, "result is a list");
    int lt = 0;
    for (char c : text)
        lt += c == '<';
    KIV_FUZZ_CHECK(tags.__len__() <= lt, "at most one dict per '<'");
    for (int i = 0; i < tags.__len__(); i++)
        KIV_FUZZ_CHECK(tags[i].__type__() == VAR_DICT, "each tag is a dict");
    std::string e1 = json_encode(tags);
    KIV_FUZZ_CHECK(json_encode(json_decode(e1)) == e1, "the tag list survives a JSON round trip");
    return 0;
}
