// Base64 with the standard alphabet and '=' padding (RFC 4648); no line breaks are written or read.
#pragma once

#include <string>

std::string base64_encode(const unsigned char *bytes, unsigned int length);
// Stops at the first '=' or at any character outside the alphabet (a blank or line break included);
// padding is not required.
std::string base64_decode(const std::string &text);
