// The markup scanner's steps, which kiv_html.cpp chains and tests call one at a time.
#pragma once

#include <string>

#include "kiv_var.h"

// Scanning steps; each takes the text, a start and an end position and answers the position after what it read.
int _html_tag(const std::string &text, int start, int end, var &tag);
int _html_param(const std::string &text, int start, int end, std::string &out);
int _html_value(const std::string &text, int start, int end, std::string &out);
int _html_code(const std::string &text, int start, int end, std::string &out);
