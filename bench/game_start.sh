#!/usr/bin/env bash
# The embedded game's windowed start-up next to LÖVE opening a window of the same size, on one Xvfb screen:
# time to the first frame of the title colour and the peak resident memory a second later (median of 5 starts).
# Usage: bench/game_start.sh <build dir>
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?build dir}" && pwd)
cmake --build "$build" --target kivgame kiv_assets_data kiv_game_sounds >/dev/null
if [ -z "${KIV_BENCH_XVFB:-}" ]; then
    exec env KIV_BENCH_XVFB=1 xvfb-run -a -s "-screen 0 800x600x24" "$0" "$build"
fi
export vblank_mode=0 LIBGL_ALWAYS_SOFTWARE=1 SDL_AUDIODRIVER=dummy SDL_VIDEODRIVER=x11
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export XDG_DATA_HOME="$home"
python3 "$here/game_start.py" 5 "$build" "$build/kivgame" -width 480 -height 320
if command -v love >/dev/null; then
    python3 "$here/game_start.py" 5 "$here/game_love" love "$here/game_love"
else
    echo "love     not installed (tools/install-deps.sh bench)"
fi
