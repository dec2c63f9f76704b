// JSON text to and from var trees: the decoder drives the push parser and builds the tree from its events;
// the encoder writes compact text. Used by the extension registry, the atlas loader and the extensions.
#pragma once

#include <string>
#include <vector>

#include "kiv_var.h"

// Decode builder: the open containers, innermost last; the caller's value is replaced at the first '{' or '['.
struct json_ctx {
    std::vector<var *> stack;
    var *cur;
    var &top;
    std::string key;

    explicit json_ctx(var &out) : cur(nullptr), top(out) {}
    void begin(var v);
    void end();
    var *push(var v);
    void set_key(const char *name);
};

// 0 on success, 1 on a syntax error (logged); out holds what was built before the error.
int json_decode(var &out, const char *text, int length);
// The decoded tree; none when nothing was decoded.
var json_decode(std::string text);
std::string json_encode(const var &value);
