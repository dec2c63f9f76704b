// Runs a fuzz target's entry function over every file of its corpus directory, so the normal test run (and
// the sanitizer build) replays what the fuzzer found without libFuzzer.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s corpus-dir...\n", argv[0]);
        return 2;
    }
    int files = 0;
    for (int a = 1; a < argc; a++) {
        std::vector<std::filesystem::path> paths;
        for (const auto &e : std::filesystem::directory_iterator(argv[a]))
            if (e.is_regular_file())
                paths.push_back(e.path());
        std::sort(paths.begin(), paths.end());
        for (const auto &p : paths) {
            std::ifstream f(p, std::ios::binary);
            std::string bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
            fprintf(stderr, "replay %s (%zu bytes)\n", p.c_str(), bytes.size());
            LLVMFuzzerTestOneInput((const uint8_t *)bytes.data(), bytes.size());
            files++;
        }
    }
    printf("replayed %d files\n", files);
    return files > 0 ? 0 : 1;
}
