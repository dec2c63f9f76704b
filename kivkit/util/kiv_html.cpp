// Markup scanner over var dicts: one dict per tag, in text order. A codec of the engine library.
#include "kiv_html.h"
#include "kiv_html_int.h"

#include <algorithm>
#include <climits>

#include "kiv_printf.h"

// Explicit ranges: the C library's classification depends on the locale and is undefined for negative chars.
static inline bool _html_is_name(char c) {
    return c == '-' || c == '_' || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

static inline bool _html_is_code(char c) {
    return c == '#' || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The scanning steps are callable on their own: a range outside the text reads nothing.
static inline bool _html_range(const std::string &text, int start, int &end) {
    if (end > (int)std::min(text.size(), (size_t)INT_MAX))
        end = (int)std::min(text.size(), (size_t)INT_MAX);
    return start >= 0 && start < end;
}

var html_parse(std::string text) {
    var result = var_list();
    var cur = var_dict();
    std::string buf;
    bool flag = false;
    int end = (int)text.size();
    if (text.size() > (size_t)INT_MAX) {
        kiv_printf("html_parse: text cut at %d bytes\n", INT_MAX);
        end = INT_MAX;
    }
    int i = 0;
    while (i < end) {
        char c = text[i];
        if (c == '<') {
            if (!cur.__has__("closed") && !cur.__has__("content"))
                cur.__set__("content", var(buf));
            buf.clear();
            var tag = var_dict();
            i = _html_tag(text, i, end, tag);
            list_append(result, tag);
            cur = tag;
            flag = false;
        } else if (c == '&') {
            std::string out;
            i = _html_code(text, i, end, out);
            buf += out;
            flag = true;
        } else {
            if (c == '\t' || c == '\r' || c == '\n')
                c = ' ';
            if (c != ' ' || flag) {
                buf += c;
                flag = c != ' ';
            }
            i++;
        }
    }
    return result;
}

int _html_tag(const std::string &text, int start, int end, var &tag) {
    if (!_html_range(text, start, end))
        return start;
    int mode = 0;
    std::string last;
    int i = start;
    while (i < end) {
        char c = text[i];
        if (c == '/') {
            tag.__set__("closed", var(1));
            i++;
        } else if (_html_is_name(c)) {
            std::string name;
            i = _html_param(text, i, end, name);
            if (mode == 0) {
                tag.__set__("tag", var(name));
                last = name;
                mode = 1;
            } else if (mode == 1) {
                last = name;
            } else {
                tag.__set__(var(last), var(name));
                mode = 1;
            }
        } else if (c == '=') {
            mode = 2;
            i++;
        } else if (c == '"' || c == '\'') {
            std::string value;
            i = _html_value(text, i, end, value);
            if (mode == 2) {
                tag.__set__(var(last), var(value));
                mode = 1;
            }
        } else if (c == '>') {
            i++;
            break;
        } else {
            i++;
        }
    }
    return i;
}

int _html_param(const std::string &text, int start, int end, std::string &out) {
    if (!_html_range(text, start, end))
        return start;
    int i = start;
    while (i < end && _html_is_name(text[i]))
        i++;
    out.assign(text, (size_t)start, (size_t)(i - start));
    return i;
}

int _html_value(const std::string &text, int start, int end, std::string &out) {
    if (!_html_range(text, start, end))
        return start;
    char q = text[start];
    int i = start + 1;
    while (i < end && text[i] != q) {
        if (text[i] == '&') {
            std::string code;
            i = _html_code(text, i, end, code);
            out += code;
        } else {
            out += text[i];
            i++;
        }
    }
    if (i < end)
        i++;
    return i;
}

int _html_code(const std::string &text, int start, int end, std::string &out) {
    if (!_html_range(text, start, end))
        return start;
    int i = start + 1;
    while (i < end && _html_is_code(text[i]))
        i++;
    std::string name(text, (size_t)(start + 1), (size_t)(i - start - 1));
    if (i < end && text[i] == ';')
        i++;
    if (name == "amp")
        out = "&";
    else if (name == "lt")
        out = "<";
    else if (name == "gt")
        out = ">";
    else if (name == "quot")
        out = "\"";
    else if (name == "apos")
        out = "'";
    else if (name == "nbsp")
        out = " ";
    else if (name == "#10")
        out = "\n";
    else
        out = "?";
    return i;
}
