// Markup scanner: simple HTML-like text to a flat list of tag dicts (name, attributes, "closed", the text that
// follows up to the next tag), with a few character entities decoded and white space collapsed. No tree.
#pragma once

#include <string>

#include "kiv_var.h"

var html_parse(std::string text);

// Scanning steps; each takes the text, a start and an end position and answers the position after what it read.
int _html_tag(const std::string &text, int start, int end, var &tag);
int _html_param(const std::string &text, int start, int end, std::string &out);
int _html_value(const std::string &text, int start, int end, std::string &out);
int _html_code(const std::string &text, int start, int end, std::string &out);
