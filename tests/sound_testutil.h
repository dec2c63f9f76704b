// Helpers shared by the sound suites: WAV files synthesised in code, the build's Ogg test files, and a
// reference decode of an Ogg file straight through libvorbisfile.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <vorbis/vorbisfile.h>

namespace soundtest {

inline std::string testdata(const std::string &name) {
    const char *b = getenv("KIV_BUILD_DIR");
    return std::string(b ? b : ".") + "/testdata/" + name;
}

inline std::string make_tmpdir() {
    char tmpl[] = "/tmp/kivsound.XXXXXX";
    const char *d = mkdtemp(tmpl);
    return d ? d : "/tmp";
}

inline void put16(std::string &s, int v) {
    s += (char)(v & 0xff);
    s += (char)((v >> 8) & 0xff);
}
inline void put32(std::string &s, uint32_t v) {
    put16(s, v & 0xffff);
    put16(s, v >> 16);
}

// A 16-bit PCM WAV file holding the given interleaved values.
inline void write_wav(const std::string &path, int rate, int channels, const std::vector<int16_t> &v) {
    std::string s = "RIFF";
    put32(s, 36 + 2 * (uint32_t)v.size());
    s += "WAVEfmt ";
    put32(s, 16);
    put16(s, 1);
    put16(s, channels);
    put32(s, rate);
    put32(s, rate * channels * 2);
    put16(s, channels * 2);
    put16(s, 16);
    s += "data";
    put32(s, 2 * (uint32_t)v.size());
    for (int16_t x : v)
        put16(s, x);
    FILE *f = fopen(path.c_str(), "wb");
    if (!f)
        return;
    fwrite(s.data(), 1, s.size(), f);
    fclose(f);
}

inline void write_text(const std::string &path, const std::string &text) {
    FILE *f = fopen(path.c_str(), "wb");
    if (!f)
        return;
    fwrite(text.data(), 1, text.size(), f);
    fclose(f);
}

// The whole file; false when it cannot be opened.
inline bool read_file(const std::string &path, std::string &out) {
    out.clear();
    FILE *f = fopen(path.c_str(), "rb");
    if (!f)
        return false;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        out.append(buf, n);
    fclose(f);
    return true;
}

inline std::string read_file(const std::string &path) {
    std::string s;
    read_file(path, s);
    return s;
}

// What a disk audio device wrote, as its 16-bit values, and the index of the first that is not silence.
inline std::vector<int16_t> pcm16_of(const std::string &raw) {
    std::vector<int16_t> pcm(raw.size() / 2);
    memcpy(pcm.data(), raw.data(), pcm.size() * 2);
    return pcm;
}

inline size_t first_sound(const std::vector<int16_t> &pcm) {
    size_t start = 0;
    while (start < pcm.size() && pcm[start] == 0)
        start++;
    return start;
}

// The whole file decoded as float stereo at its own rate (mono copied to both sides); rate and channels returned.
inline std::vector<float> decode_ogg(const std::string &path, int *rate, int *channels) {
    std::vector<float> out;
    OggVorbis_File vf;
    if (ov_fopen(path.c_str(), &vf) != 0)
        return out;
    vorbis_info *info = ov_info(&vf, -1);
    *rate = (int)info->rate;
    *channels = info->channels;
    float **pcm;
    int link = 0;
    long n;
    while ((n = ov_read_float(&vf, &pcm, 1024, &link)) > 0)
        for (long i = 0; i < n; i++) {
            out.push_back(pcm[0][i]);
            out.push_back(pcm[info->channels == 1 ? 0 : 1][i]);
        }
    ov_clear(&vf);
    return out;
}

// The decoded file at 44100 Hz by linear interpolation between neighbouring frames (the last frame held).
inline std::vector<float> resample_ref(const std::vector<float> &in, int rate) {
    std::vector<float> out;
    long long frames = (long long)in.size() / 2;
    for (long long k = 0;; k++) {
        long long num = k * rate;
        long long i = num / 44100;
        if (i >= frames)
            break;
        float t = (float)(num % 44100) / 44100.0f;
        long long j = i + 1 < frames ? i + 1 : i;
        for (int c = 0; c < 2; c++)
            out.push_back(in[2 * i + c] + (in[2 * j + c] - in[2 * i + c]) * t);
    }
    return out;
}

} // namespace soundtest
