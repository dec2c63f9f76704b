#!/usr/bin/env bash
# The embedded game's frame cost on level 1 in a 819 by 614 window (a fractional view scale) next to an idle LÖVE
# window of the same size held at the same 60 frames a second, and the same LÖVE window drawing the game's level
# picture alone, in one run on one Xvfb screen with Mesa's software GL: CPU time per frame of each process, median
# of 3 runs of 8 s.
# Usage: bench/game_frame.sh <build dir>
. "$(dirname "$0")/game_window.inc" 1024x768x24 "$@"
xdotool mousemove 0 0 # off the window: over the title menu it would focus an entry
# Return on the title starts level 1 with one player, who stands still.
python3 "$here/game_frame.py" 3 8 "$build" Return "$build/kivgame" -width 819 -height 614
if command -v love >/dev/null; then
    KIV_LOVE_W=819 KIV_LOVE_H=614 KIV_LOVE_FPS=60 python3 "$here/game_frame.py" 3 8 "$here/game_love" - love \
        "$here/game_love"
    # The same window drawing only the game's level 1 picture at the play screen's size: the one full-window
    # textured quad that most of the game's frame is.
    KIV_LOVE_LEVEL="$build/data/game_level1.png" KIV_LOVE_W=819 KIV_LOVE_H=614 KIV_LOVE_FPS=60 \
        python3 "$here/game_frame.py" 3 8 "$here/game_love" - love "$here/game_love" | sed 's/^love    /love+map/'
else
    echo "love     not installed (tools/install-deps.sh bench)"
fi
