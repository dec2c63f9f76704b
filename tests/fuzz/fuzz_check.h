// Shared by the fuzz targets and their corpus replay: a failed check aborts with its reason, which both
// libFuzzer and the replay test report.
#pragma once

#include <cstdio>
#include <cstdlib>

#define KIV_FUZZ_CHECK(cond, what)                                                                                     \
    do {                                                                                                               \
        if (!(cond)) {                                                                                                 \
            fprintf(stderr, "fuzz check failed: %s (%s)\n", what, #cond);                                              \
            abort();                                                                                                   \
        }                                                                                                              \
    } while (0)
