#!/usr/bin/env bash
# Starts the embedded game from the build folder; without a display it runs headless.
set -eu
build="${1:-build}"
cd "$build"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "no display found: running headless (Ctrl+C to stop)"
    exec ./kivgame -headless
fi
exec ./kivgame
