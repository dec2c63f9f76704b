#!/usr/bin/env bash
# jpge against libjpeg-turbo on one 1920x1080 frame: libjpeg-turbo with its SIMD, then again without it (the
# library reads JSIMD_FORCENONE once per process, hence the second process).
# Usage: bench/jpge_bench.sh <build dir configured with -DKIV_BENCH=ON>
set -eu
build=$(cd "${1:?build dir}" && pwd)
cmake --build "$build" --target jpge_bench >/dev/null
"$build/jpge_bench"
JSIMD_FORCENONE=1 "$build/jpge_bench" --benchmark_filter=LibjpegTurbo
