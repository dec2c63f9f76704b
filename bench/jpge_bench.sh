#!/usr/bin/env bash
# jpge against libjpeg-turbo on one 1920x1080 frame, twice: libjpeg-turbo with its SIMD, then without it (the
# library reads JSIMD_FORCENONE once per process). Each run times both encoders side by side; medians of 5.
# Usage: bench/jpge_bench.sh <build dir configured with -DKIV_BENCH=ON>
set -eu
build=$(cd "${1:?build dir}" && pwd)
cmake --build "$build" --target jpge_bench >/dev/null
args=(--benchmark_repetitions=5 --benchmark_report_aggregates_only=true)
"$build/jpge_bench" "${args[@]}" 2>&1 | grep -E '^BM_.*_median'
JSIMD_FORCENONE=1 "$build/jpge_bench" "${args[@]}" 2>&1 | grep -E '^BM_.*_median'
