// Fuzz target for json_decode: any bytes decode without a sanitizer report, feeding byte by byte and in bulk
// give the same events, our own text decodes again, and one decode/encode round reaches a fixed point.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_check.h"
#include "json/JSON_parser.h"
#include "kiv_json.h"

namespace {

int trace(void *ctx, int type, const JSON_value *v) {
    std::string &t = *static_cast<std::string *>(ctx);
    t += (char)('A' + type);
    if (type == JSON_T_INTEGER)
        t.append((const char *)&v->vu.integer_value, sizeof v->vu.integer_value);
    else if (type == JSON_T_FLOAT)
        t.append((const char *)&v->vu.float_value, sizeof v->vu.float_value);
    else if (type == JSON_T_STRING || type == JSON_T_KEY)
        t.append(v->vu.str.value, v->vu.str.length + 1);
    return 1;
}

std::string feed(const uint8_t *data, size_t size, bool bulk) {
    std::string t;
    JSON_config config;
    init_JSON_config(&config);
    config.depth = 16;
    config.allow_comments = 1;
    config.callback = trace;
    config.callback_ctx = &t;
    JSON_parser jc = new_JSON_parser(&config);
    size_t taken = size;
    if (bulk) {
        taken = JSON_parser_chars(jc, (const char *)data, size);
    } else {
        for (size_t i = 0; i < size; i++) {
            if (!JSON_parser_char(jc, data[i])) {
                taken = i;
                break;
            }
        }
    }
    int done = taken == size && JSON_parser_done(jc);
    t +=
        "|" + std::to_string(taken) + "|" + std::to_string(done) + "|" + std::to_string(JSON_parser_get_last_error(jc));
    delete_JSON_parser(jc);
    return t;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 1 << 20)
        return 0;
    KIV_FUZZ_CHECK(feed(data, size, false) == feed(data, size, true), "bulk feeding matches byte by byte");

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
