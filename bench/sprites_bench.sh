#!/usr/bin/env bash
# Sprite and text frame cost of this engine next to LÖVE 11 on one Xvfb screen, same window, assets and scene,
# Mesa's software GL on one thread. Rounds are interleaved (every scene on both engines, then the next round) so
# that load from other work on the machine falls on both alike; the summary gives medians and ranges.
# Usage: bench/sprites_bench.sh <build dir configured with -DKIV_BENCH=ON> [rounds, default 3]
# KIV_BENCH_LINEAR=1 also runs the engine with LÖVE's bilinear sampling on the scaled sprite scenes.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?build dir}" && pwd)
rounds=${2:-3}
cmake --build "$build" --target sprites_bench kiv_assets_data >/dev/null
if [ -z "${KIV_BENCH_XVFB:-}" ] && command -v xvfb-run >/dev/null; then
    exec env KIV_BENCH_XVFB=1 xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$build" "$rounds"
fi
export vblank_mode=0 LIBGL_ALWAYS_SOFTWARE=1 SDL_AUDIODRIVER=dummy LP_NUM_THREADS=0
lovedir=$(mktemp -d)
out=$(mktemp)
trap 'rm -rf "$lovedir" "$out"' EXIT
cp "$here"/sprites_love/*.lua "$here/sprites_scene.lua" "$build"/data/bench_*.png "$build"/data/small.* "$lovedir"/
cd "$build"
# scene | window | warm-up frames | measured frames
scenes=("opaque 10000|640x480|60|300" "sprites 1000 8|800x600|60|300" "sprites 1000 32|800x600|60|300"
    "sprites 10000 8|800x600|30|100" "sprites 10000 32|800x600|10|40" "sprites 50000 8|800x600|10|40"
    "sprites 50000 32|800x600|5|15" "text|800x600|60|300")
kiv() {
    KIV_BENCH_SCENE="$1" KIV_BENCH_WINDOW="$2" KIV_BENCH_WARM="$3" KIV_BENCH_FRAMES="$4" \
        KIV_BENCH_LUA="$here/sprites_scene.lua" ./sprites_bench 2>/dev/null | grep '^kivgame ' || echo "kivgame $1: failed"
}
love_() {
    if command -v love >/dev/null; then
        KIV_BENCH_SCENE="$1" KIV_BENCH_WINDOW="$2" KIV_BENCH_WARM="$3" KIV_BENCH_FRAMES="$4" love "$lovedir" \
            2>/dev/null | grep '^love ' || echo "love    $1: failed"
    else
        echo "love    $1: not installed (tools/install-deps.sh bench)"
    fi
}
for r in $(seq 1 "$rounds"); do
    echo "--- round $r"
    for s in "${scenes[@]}"; do
        IFS='|' read -r scene win warm frames <<<"$s"
        # Alternate which engine goes first, so a warming machine favours neither.
        if [ $((r % 2)) -eq 1 ]; then
            kiv "$scene" "$win" "$warm" "$frames" | tee -a "$out"
            love_ "$scene" "$win" "$warm" "$frames" | tee -a "$out"
        else
            love_ "$scene" "$win" "$warm" "$frames" | tee -a "$out"
            kiv "$scene" "$win" "$warm" "$frames" | tee -a "$out"
        fi
        if [ -n "${KIV_BENCH_LINEAR:-}" ] && [ "${scene%% *}" = sprites ]; then
            KIV_BENCH_FILTER=linear kiv "$scene" "$win" "$warm" "$frames" | sed 's/^kivgame /kivlin  /' | tee -a "$out"
        fi
    done
done
# Median and range of the CPU per frame of each engine, and of the per-round ratio engine / LÖVE.
echo "--- summary over $rounds rounds: cpu ms/frame median [min..max], ratio kivgame/love median [min..max]"
awk '
function med(list,   n, a, i, j, t) {
    n = split(list, a, " ")
    for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (a[j] + 0 < a[i] + 0) { t = a[i]; a[i] = a[j]; a[j] = t }
    lo = a[1]; hi = a[n]
    return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
}
/ cpu / {
    eng = $1; cpu = ""
    for (i = 2; i <= NF; i++) if ($i == "cpu") { cpu = $(i + 1); scene = $2; for (k = 3; k < i; k++) scene = scene " " $k }
    if (cpu == "") next
    if (!(scene in seen)) { seen[scene] = 1; order[++ns] = scene }
    v[eng, scene] = v[eng, scene] " " cpu
    if (eng == "kivgame") last[scene] = cpu
    if (eng == "love") lastl[scene] = cpu
    if ((scene in last) && (scene in lastl)) { ratio[scene] = ratio[scene] " " last[scene] / lastl[scene]; delete last[scene]; delete lastl[scene] }
}
END {
    for (s = 1; s <= ns; s++) {
        sc = order[s]
        k = med(v["kivgame", sc]); kl = lo; kh = hi
        l = med(v["love", sc]); ll = lo; lh = hi
        r = med(ratio[sc]); rl = lo; rh = hi
        printf "%-18s kivgame %8.3f [%.3f..%.3f]  love %8.3f [%.3f..%.3f]  ratio %.2f [%.2f..%.2f]\n", sc, k, kl, kh, l, ll, lh, r, rl, rh
    }
}' "$out"
# A scene of ours that failed fails the run; LÖVE missing is only reported.
! grep -q '^kivgame .*: failed' "$out"
