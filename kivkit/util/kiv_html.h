// Markup scanner: simple HTML-like text to a flat list of tag dicts (name, attributes, "closed", the text that
// follows up to the next tag), with a few character entities decoded and white space collapsed. No tree.
#pragma once

#include <string>

#include "kiv_var.h"

var html_parse(std::string text);
