#!/usr/bin/env bash
# Frame cost of 10,000 live particles: the engine's particle list, the same particles from Lua with
# kiv_image_draw, and LÖVE's ParticleSystem, on one Xvfb screen with the same window, sprite and emitter.
# Usage: bench/parts_bench.sh <build dir configured with -DKIV_BENCH=ON>
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?build dir}" && pwd)
cmake --build "$build" --target parts_bench kiv_assets_data >/dev/null
if [ -z "${KIV_BENCH_XVFB:-}" ]; then
    exec env KIV_BENCH_XVFB=1 xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$build"
fi
export vblank_mode=0 LIBGL_ALWAYS_SOFTWARE=1 SDL_AUDIODRIVER=dummy
lovedir=$(mktemp -d)
trap 'rm -rf "$lovedir"' EXIT
cp "$here"/parts_love/*.lua "$here/parts_scene.lua" "$build"/data/bench_sprite.png "$lovedir"/
cd "$build"
for kind in parts lua; do
    KIV_BENCH_SCENE=$kind KIV_BENCH_LUA="$here/parts_scene.lua" ./parts_bench | grep '^kivgame ' || true
done
if command -v love >/dev/null; then
    love "$lovedir" 2>/dev/null | grep '^love ' || echo "love    parts: failed"
else
    echo "love    parts: not installed (tools/install-deps.sh bench)"
fi
