#!/usr/bin/env bash
# The embedded game's windowed start-up next to LÖVE opening a window of the same size, on one Xvfb screen:
# time to the first frame of the title colour and the peak resident memory a second later (median of 5 starts).
# Usage: bench/game_start.sh <build dir>
. "$(dirname "$0")/game_window.inc" 800x600x24 "$@"
python3 "$here/game_start.py" 5 "$build" "$build/kivgame" -width 480 -height 320
if command -v love >/dev/null; then
    python3 "$here/game_start.py" 5 "$here/game_love" love "$here/game_love"
else
    echo "love     not installed (tools/install-deps.sh bench)"
fi
