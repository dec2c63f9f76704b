#!/usr/bin/env bash
# Runs every benchmark: each bench/*.sh with the build folder, then each built benchmark executable that has no
# driver script of its own (name.sh next to name.cpp runs that one). Executables get a virtual display when
# there is none, since some need a GL context.
set -u
build="${1:-build-bench}"
here="$(cd "$(dirname "$0")" && pwd)"
for s in "$here"/*.sh; do
    [ "$(basename "$s")" = "run.sh" ] && continue
    echo "### $(basename "$s")"
    bash "$s" "$build" || echo "### $(basename "$s") failed"
done
wrap=()
if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null; then
    wrap=(xvfb-run -a -s "-screen 0 1280x1024x24")
fi
for src in "$here"/*.cpp; do
    [ -e "$src" ] || continue
    name="$(basename "$src" .cpp)"
    [ -e "$here/$name.sh" ] && continue
    exe="$build/$name"
    if [ -x "$exe" ]; then
        echo "### $name"
        (cd "$build" && SDL_AUDIODRIVER=dummy "${wrap[@]}" "$exe") || echo "### $name failed"
    fi
done
