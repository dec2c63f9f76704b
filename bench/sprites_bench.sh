#!/usr/bin/env bash
# Sprite and text frame cost of this engine next to LÖVE 11 on one Xvfb screen, same window, assets and scene.
# Usage: bench/sprites_bench.sh <build dir configured with -DKIV_BENCH=ON>
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?build dir}" && pwd)
cmake --build "$build" --target sprites_bench kiv_assets_data >/dev/null
if [ -z "${KIV_BENCH_XVFB:-}" ] && command -v xvfb-run >/dev/null; then
    exec env KIV_BENCH_XVFB=1 xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$build"
fi
export vblank_mode=0 LIBGL_ALWAYS_SOFTWARE=1 SDL_AUDIODRIVER=dummy
lovedir=$(mktemp -d)
trap 'rm -rf "$lovedir"' EXIT
cp "$here"/sprites_love/*.lua "$here/sprites_scene.lua" "$build"/data/bench_sprite.png "$build"/data/small.* "$lovedir"/
cd "$build"
status=0
for scene in "sprites 1000 4" "sprites 1000 32" "sprites 10000 4" "sprites 10000 32" "sprites 50000 4" \
    "sprites 50000 32" "text"; do
    if ! out=$(KIV_BENCH_SCENE="$scene" KIV_BENCH_LUA="$here/sprites_scene.lua" ./sprites_bench); then
        echo "kivgame $scene: failed"
        status=1
    fi
    grep '^kivgame ' <<<"$out" || true
    # The same sprites sampled as LÖVE samples them by default (bilinear, no mip chain).
    if [ "$scene" != "text" ]; then
        KIV_BENCH_FILTER=linear KIV_BENCH_SCENE="$scene" KIV_BENCH_LUA="$here/sprites_scene.lua" ./sprites_bench |
            grep '^kivgame ' | sed 's/^kivgame /kivlin  /' || true
    fi
    if command -v love >/dev/null; then
        KIV_BENCH_SCENE="$scene" love "$lovedir" 2>/dev/null | grep '^love ' || echo "love    $scene: failed"
    else
        echo "love    $scene: not installed (tools/install-deps.sh bench)"
    fi
done
exit $status
