// MD5 digests (RFC 1321), incremental over a state record; the "md5_digest" service hashes script text with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct md5_state_s {
    uint32_t count[2]; // message length in bits, low word first
    uint32_t abcd[4];
    unsigned char buf[64];
};

void md5_init(md5_state_s *pms);
// A length of 0 or less does nothing.
void md5_append(md5_state_s *pms, const unsigned char *data, int nbytes);
void md5_finish(md5_state_s *pms, unsigned char digest[16]);

// 32 lower-case hex digits and a terminating zero into out (33 bytes).
void md5_digest(char *out, const void *data, size_t len);
std::string md5_digest(const std::string &data);
