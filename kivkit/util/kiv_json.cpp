// JSON text over var trees: json_decode feeds the push parser and builds the tree from its events through
// json_ctx; json_encode walks a tree by kind into compact text.
#include "kiv_json.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "json/JSON_parser.h"
#include "kiv_printf.h"
#include "kiv_var.h"
#include "kiv_var_int.h"

// --- constants

// The decoder nests at most 16 levels; the encoder walks deeper trees that scripts built, up to this cap.
static const int JSON_DECODE_DEPTH = 16;
static const int JSON_ENCODE_DEPTH = 512;
// Value sharing pays off only in big documents; small ones (extension arguments) skip the caches.
static const int JSON_SHARE_MIN_LENGTH = 4096;
static const size_t JSON_SHARE_SLOTS = 1024;
static const size_t JSON_SHARE_TEXT_MAX = 32;
static const int JSON_SHARE_INTS = 4096;

void json_ctx::begin(var v) {
    if (!cur) {
        // Only the outermost container replaces the caller's value.
        top = v;
        cur = &top;
    } else {
        // Never null while cur is a list or dict; if it were, the level still counts so every end matches.
        var *slot = push(v);
        if (slot)
            cur = slot;
    }
    stack.push_back(cur);
}

void json_ctx::end() {
    if (stack.empty())
        return;
    stack.pop_back();
    cur = stack.empty() ? nullptr : stack.back();
}

var *json_ctx::push(var v) {
    if (!cur || !cur->value)
        return nullptr;
    int t = cur->value->__type__();
    if (t == VAR_LIST) {
        std::vector<var> &l = static_cast<_var_list *>(cur->value)->value;
        l.push_back(std::move(v));
        return &l.back();
    }
    if (t == VAR_DICT) {
        std::map<std::string, var> &d = static_cast<_var_dict *>(cur->value)->value;
        auto it = d.insert_or_assign(key, std::move(v)).first;
        return &it->second;
    }
    return nullptr;
}

void json_ctx::set_key(const char *name) {
    key = name;
}

// The decoder's own state around the builder. Numbers, texts and bools are immutable, so in a big document
// one object can serve every repeat of a value: small direct-mapped caches save most of the allocations.
struct _json_decoder {
    json_ctx ctx;
    var bools[2];
    bool share;
    std::vector<var> numbers;
    std::vector<var> texts;

    _json_decoder(var &out, bool big) : ctx(out), share(big) {
        if (share) {
            numbers.resize(JSON_SHARE_INTS);
            texts.resize(JSON_SHARE_SLOTS);
        }
    }
};

// Length up to the first zero byte, as a C text would read (a \u0000 escape can put one inside).
static inline size_t _json_cut(const char *s, size_t n) {
    size_t k = 0;
    while (k < n && s[k])
        k++;
    return k;
}

static var _json_number(_json_decoder *d, double v) {
    // Whole numbers from 0 up are the ones that repeat (sizes, positions, counts); -0 is not among them.
    if (d->share && v >= 0 && v < (double)JSON_SHARE_INTS && !std::signbit(v)) {
        int k = (int)v;
        if ((double)k == v) {
            var &slot = d->numbers[(size_t)k];
            if (!slot.value) {
                _var_number *o = new _var_number();
                o->value = v;
                slot.__init__(o);
            }
            return slot;
        }
    }
    _var_number *o = new _var_number();
    o->value = v;
    return var(o);
}

static var _json_text(_json_decoder *d, const char *s, size_t n) {
    n = _json_cut(s, n);
    _var_string *o;
    if (d->share && n <= JSON_SHARE_TEXT_MAX) {
        uint32_t h = 2166136261u;
        for (size_t i = 0; i < n; i++)
            h = (h ^ (unsigned char)s[i]) * 16777619u;
        var &slot = d->texts[h % JSON_SHARE_SLOTS];
        o = static_cast<_var_string *>(slot.value);
        if (o && o->value.size() == n && memcmp(o->value.data(), s, n) == 0)
            return slot;
        o = new _var_string();
        o->value.assign(s, n);
        slot.__init__(o);
        return slot;
    }
    o = new _var_string();
    o->value.assign(s, n);
    return var(o);
}

static int _json_callback(void *ctx, int type, const JSON_value *value) {
    _json_decoder *d = static_cast<_json_decoder *>(ctx);
    json_ctx *c = &d->ctx;
    switch (type) {
    case JSON_T_ARRAY_BEGIN:
        c->begin(var(new _var_list()));
        break;
    case JSON_T_OBJECT_BEGIN:
        c->begin(var(new _var_dict()));
        break;
    case JSON_T_ARRAY_END:
    case JSON_T_OBJECT_END:
        c->end();
        break;
    case JSON_T_INTEGER:
        c->push(_json_number(d, (double)value->vu.integer_value));
        break;
    case JSON_T_FLOAT:
        c->push(_json_number(d, value->vu.float_value));
        break;
    case JSON_T_NULL:
        c->push(var());
        break;
    case JSON_T_TRUE:
    case JSON_T_FALSE: {
        var &b = d->bools[type == JSON_T_TRUE];
        if (!b.value)
            b = var(type == JSON_T_TRUE);
        c->push(b);
        break;
    }
    case JSON_T_STRING:
        c->push(_json_text(d, value->vu.str.value, value->vu.str.length));
        break;
    case JSON_T_KEY:
        c->key.assign(value->vu.str.value, _json_cut(value->vu.str.value, value->vu.str.length));
        break;
    default:
        break;
    }
    return 1;
}

int json_decode(var &out, const char *text, int length) {
    JSON_config config;
    init_JSON_config(&config);
    _json_decoder ctx(out, length >= JSON_SHARE_MIN_LENGTH);
    config.depth = JSON_DECODE_DEPTH;
    config.allow_comments = 1;
    config.handle_floats_manually = 0;
    config.callback = _json_callback;
    config.callback_ctx = &ctx;
    JSON_parser jc = new_JSON_parser(&config);
    if (!jc) {
        kiv_printf("JSON_parser_char: syntax error, byte %d\n", 0);
        return 1;
    }
    int r = 0;
    size_t n = 0;
    if (text && length > 0) {
        // A zero byte ends the input early, as if the text ended there.
        const void *zero = memchr(text, 0, (size_t)length);
        n = zero ? (size_t)((const char *)zero - text) : (size_t)length;
    }
    size_t taken = JSON_parser_chars(jc, text, n);
    if (taken < n) {
        kiv_printf("JSON_parser_char: syntax error, byte %d\n", (int)taken);
        r = 1;
    }
    if (r == 0 && !JSON_parser_done(jc)) {
        kiv_printf("JSON_parser_end: syntax error\n");
        r = 1;
    }
    delete_JSON_parser(jc);
    return r;
}

var json_decode(std::string text) {
    var out;
    // A text longer than an int can count is cut at that length; the parser sees it as ended there.
    int n = text.size() > 0x7fffffff ? 0x7fffffff : (int)text.size();
    json_decode(out, text.data(), n);
    return out;
}

static void _json_encode(std::string &out, const var &value, std::vector<const var_object *> &path);

static void _json_encode_number(std::string &out, double d) {
    // Non-finite numbers have no JSON form; null keeps the text readable by any decoder, ours included.
    if (!std::isfinite(d)) {
        out += "null";
        return;
    }
    // The number's own text; whole numbers in the int range (most of a document) written in place.
    int t = kiv_d2i(d);
    if ((double)t == d) {
        char buf[16];
        auto r = std::to_chars(buf, buf + sizeof(buf), t);
        out.append(buf, (size_t)(r.ptr - buf));
        return;
    }
    out += _var_number_to_str(d);
}

static void _json_encode_string(std::string &out, const std::string &s) {
    static const char hex[] = "0123456789abcdef";
    out += '"';
    const char *p = s.c_str();
    const char *run = p;
    for (;; p++) {
        unsigned char c = (unsigned char)*p;
        if (c >= 32 && c != '"' && c != '\\')
            continue;
        out.append(run, (size_t)(p - run));
        run = p + 1;
        if (c == 0)
            break;
        switch (c) {
        case '\b':
            out += "\\b";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\r':
            out += "\\r";
            break;
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        default: {
            char u[6] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 15]};
            out.append(u, 6);
        }
        }
    }
    out += '"';
}

static void _json_encode_bool(std::string &out, const var &value) {
    out += value.__bool__() ? "true" : "false";
}

// A container already on the path (a cycle) or nested past the cap is written as null.
static bool _json_enter(std::string &out, const var &value, std::vector<const var_object *> &path) {
    for (const var_object *o : path) {
        if (o == value.value) {
            out += "null";
            return false;
        }
    }
    if ((int)path.size() >= JSON_ENCODE_DEPTH) {
        out += "null";
        return false;
    }
    path.push_back(value.value);
    return true;
}

static void _json_encode_list(std::string &out, const var &value, std::vector<const var_object *> &path) {
    if (!_json_enter(out, value, path))
        return;
    const std::vector<var> &l = static_cast<const _var_list *>(value.value)->value;
    out += '[';
    for (size_t i = 0; i < l.size(); i++) {
        if (i)
            out += ',';
        _json_encode(out, l[i], path);
    }
    out += ']';
    path.pop_back();
}

static void _json_encode_dict(std::string &out, const var &value, std::vector<const var_object *> &path) {
    if (!_json_enter(out, value, path))
        return;
    const std::map<std::string, var> &d = static_cast<const _var_dict *>(value.value)->value;
    out += '{';
    bool first = true;
    for (const auto &kv : d) {
        if (!first)
            out += ',';
        first = false;
        _json_encode_string(out, kv.first);
        out += ':';
        _json_encode(out, kv.second, path);
    }
    out += '}';
    path.pop_back();
}

static void _json_encode(std::string &out, const var &value, std::vector<const var_object *> &path) {
    switch (value.__type__()) {
    case VAR_NUMBER:
        _json_encode_number(out, static_cast<const _var_number *>(value.value)->value);
        break;
    case VAR_STRING:
        _json_encode_string(out, static_cast<const _var_string *>(value.value)->value);
        break;
    case VAR_LIST:
        _json_encode_list(out, value, path);
        break;
    case VAR_DICT:
        _json_encode_dict(out, value, path);
        break;
    case VAR_BOOL:
        _json_encode_bool(out, value);
        break;
    default:
        out += "null";
        break;
    }
}

std::string json_encode(const var &value) {
    std::string out;
    std::vector<const var_object *> path;
    _json_encode(out, value, path);
    return out;
}
