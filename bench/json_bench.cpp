// json_decode / json_encode against nlohmann-json and RapidJSON, each building (or writing) a full tree,
// over four documents of about 10 MiB: numbers, records of ten keys, escape-heavy strings, an atlas "frames" map.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <string>

#include <nlohmann/json.hpp>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "kiv_json.h"

namespace {

const size_t kTarget = 10u << 20;

std::string make_numbers() {
    std::mt19937 rng(1);
    std::string s = "[";
    char b[64];
    while (s.size() < kTarget) {
        switch (rng() % 3) {
        case 0:
            snprintf(b, sizeof b, "%d,", (int)(rng() % 2000000) - 1000000);
            break;
        case 1:
            snprintf(b, sizeof b, "%.6f,", (double)(rng() % 1000000) / 997.0);
            break;
        default:
            snprintf(b, sizeof b, "%.3e,", (double)rng() * 1e-5);
        }
        s += b;
    }
    s += "0]";
    return s;
}

std::string make_records() {
    std::mt19937 rng(2);
    std::string s = "[";
    char b[512];
    for (int i = 0; s.size() < kTarget; i++) {
        snprintf(b, sizeof b,
                 "{\"id\":%d,\"name\":\"player%u\",\"score\":%u,\"level\":%u,\"alive\":%s,\"x\":%.2f,\"y\":%.2f,"
                 "\"team\":\"%s\",\"tags\":[\"a\",\"b\"],\"extra\":null},",
                 i, (unsigned)(rng() % 100000), (unsigned)(rng() % 1000000), (unsigned)(rng() % 100),
                 rng() % 2 ? "true" : "false", (rng() % 100000) / 100.0, (rng() % 100000) / 100.0,
                 rng() % 2 ? "red" : "blue");
        s += b;
    }
    s += "{}]";
    return s;
}

std::string make_strings() {
    std::mt19937 rng(3);
    static const char *pieces[] = {"plain text ",    "\\n",          "\\t",     "\\\"quoted\\\"",
                                   "\\\\",           "\\/",          "\\u00e9", "\\u20ac",
                                   "\\ud83d\\ude00", "caf\xc3\xa9 ", "\\u0001"};
    std::string s = "[";
    while (s.size() < kTarget) {
        s += '"';
        int n = 4 + (int)(rng() % 12);
        for (int i = 0; i < n; i++)
            s += pieces[rng() % 11];
        s += "\",";
    }
    s += "\"\"]";
    return s;
}

std::string make_atlas() {
    std::mt19937 rng(4);
    std::string s = "{\"frames\":{";
    char b[512];
    for (int i = 0; s.size() < kTarget; i++) {
        unsigned x = rng() % 4096, y = rng() % 4096, w = 1 + rng() % 256, h = 1 + rng() % 256;
        snprintf(b, sizeof b,
                 "%s\"sprite_%06d.png\":{\"frame\":{\"x\":%u,\"y\":%u,\"w\":%u,\"h\":%u},\"rotated\":false,"
                 "\"trimmed\":true,\"spriteSourceSize\":{\"x\":0,\"y\":0,\"w\":%u,\"h\":%u},"
                 "\"sourceSize\":{\"w\":%u,\"h\":%u}}",
                 i ? "," : "", i, x, y, w, h, w, h, w, h);
        s += b;
    }
    s += "},\"meta\":{\"image\":\"atlas.png\",\"size\":{\"w\":4096,\"h\":4096},\"scale\":\"1\"}}";
    return s;
}

const std::string &doc(int which) {
    static const std::string docs[4] = {make_numbers(), make_records(), make_strings(), make_atlas()};
    return docs[which];
}

const char *doc_name(int which) {
    static const char *names[4] = {"numbers", "records", "strings", "atlas"};
    return names[which];
}

void BM_kiv_decode(benchmark::State &state) {
    const std::string &d = doc((int)state.range(0));
    state.SetLabel(doc_name((int)state.range(0)));
    for (auto _ : state) {
        var v;
        int r = json_decode(v, d.data(), (int)d.size());
        if (r != 0)
            state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(v.value);
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)d.size());
}

void BM_nlohmann_decode(benchmark::State &state) {
    const std::string &d = doc((int)state.range(0));
    state.SetLabel(doc_name((int)state.range(0)));
    for (auto _ : state) {
        nlohmann::json j = nlohmann::json::parse(d);
        benchmark::DoNotOptimize(j.size());
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)d.size());
}

void BM_rapidjson_decode(benchmark::State &state) {
    const std::string &d = doc((int)state.range(0));
    state.SetLabel(doc_name((int)state.range(0)));
    for (auto _ : state) {
        rapidjson::Document j;
        j.Parse(d.data(), d.size());
        if (j.HasParseError())
            state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(j.IsArray());
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)d.size());
}

void BM_kiv_encode(benchmark::State &state) {
    const std::string &d = doc((int)state.range(0));
    state.SetLabel(doc_name((int)state.range(0)));
    var v = json_decode(d);
    size_t bytes = 0;
    for (auto _ : state) {
        std::string s = json_encode(v);
        bytes = s.size();
        benchmark::DoNotOptimize(s.data());
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)bytes);
}

void BM_nlohmann_encode(benchmark::State &state) {
    const std::string &d = doc((int)state.range(0));
    state.SetLabel(doc_name((int)state.range(0)));
    nlohmann::json j = nlohmann::json::parse(d);
    size_t bytes = 0;
    for (auto _ : state) {
        std::string s = j.dump();
        bytes = s.size();
        benchmark::DoNotOptimize(s.data());
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)bytes);
}

void BM_rapidjson_encode(benchmark::State &state) {
    const std::string &d = doc((int)state.range(0));
    state.SetLabel(doc_name((int)state.range(0)));
    rapidjson::Document j;
    j.Parse(d.data(), d.size());
    size_t bytes = 0;
    for (auto _ : state) {
        rapidjson::StringBuffer buf;
        rapidjson::Writer<rapidjson::StringBuffer> w(buf);
        j.Accept(w);
        bytes = buf.GetSize();
        benchmark::DoNotOptimize(buf.GetString());
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)bytes);
}

} // namespace

BENCHMARK(BM_kiv_decode)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_nlohmann_decode)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_rapidjson_decode)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_kiv_encode)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_nlohmann_encode)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_rapidjson_encode)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
