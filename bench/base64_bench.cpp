// base64_encode / base64_decode of 64 MiB against OpenSSL's EVP_EncodeBlock / EVP_DecodeBlock.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include <openssl/evp.h>

#include "kiv_base64.h"

namespace {

const size_t kSize = 64u << 20;

const std::string &bytes() {
    static const std::string b = [] {
        std::mt19937 rng(5);
        std::string s(kSize, '\0');
        for (char &c : s)
            c = (char)(rng() & 0xff);
        return s;
    }();
    return b;
}

const std::string &text() {
    static const std::string t = base64_encode((const unsigned char *)bytes().data(), (unsigned)bytes().size());
    return t;
}

void BM_kiv_encode(benchmark::State &state) {
    const std::string &b = bytes();
    for (auto _ : state) {
        std::string t = base64_encode((const unsigned char *)b.data(), (unsigned)b.size());
        benchmark::DoNotOptimize(t.data());
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)b.size());
}

void BM_openssl_encode(benchmark::State &state) {
    const std::string &b = bytes();
    for (auto _ : state) {
        std::string t(b.size() / 3 * 4 + 5, '\0');
        int n = EVP_EncodeBlock((unsigned char *)&t[0], (const unsigned char *)b.data(), (int)b.size());
        benchmark::DoNotOptimize(n);
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)b.size());
}

void BM_kiv_decode(benchmark::State &state) {
    const std::string &t = text();
    for (auto _ : state) {
        std::string b = base64_decode(t);
        benchmark::DoNotOptimize(b.data());
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)t.size());
}

void BM_openssl_decode(benchmark::State &state) {
    const std::string &t = text();
    for (auto _ : state) {
        std::string b(t.size() / 4 * 3 + 3, '\0');
        int n = EVP_DecodeBlock((unsigned char *)&b[0], (const unsigned char *)t.data(), (int)t.size());
        benchmark::DoNotOptimize(n);
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)t.size());
}

} // namespace

BENCHMARK(BM_kiv_encode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_openssl_encode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_kiv_decode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_openssl_decode)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
