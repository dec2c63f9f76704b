#!/usr/bin/env bash
# Runs every benchmark: each bench/*.sh with the build folder, then each built benchmark executable that has no
# driver script of its own (name.sh next to name.cpp runs that one). Works from any working directory. The
# benchmarks that need a GL context run on the display, else under xvfb-run, else are skipped with a line.
# Exits non-zero when a benchmark failed or was not built.
# Usage: bash bench/run.sh [BUILD_DIR, default build-bench next to this folder]
set -u
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-$here/../build-bench}"
if ! build="$(cd "$build" 2>/dev/null && pwd)"; then
    echo "bench: no build folder ${1:-$here/../build-bench} (configure with -DKIV_BENCH=ON)"
    exit 1
fi
# Benchmarks that open a window or a GL context.
display_benches=" screenshot_bench sprites_bench tex_upload_bench "
wrap=()
display=yes
if [ -z "${DISPLAY:-}" ]; then
    if command -v xvfb-run >/dev/null; then
        wrap=(xvfb-run -a -s "-screen 0 1280x1024x24")
    else
        display=""
    fi
fi
failed=()

run() {
    local name="$1"
    shift
    echo "### $name"
    if [[ "$display_benches" == *" $name "* && -z "$display" ]]; then
        echo "### $name skipped: no display and no xvfb-run (tools/install-deps.sh bench)"
        return
    fi
    (cd "$build" && KIV_BUILD_DIR="$build" SDL_AUDIODRIVER=dummy "$@") || {
        echo "### $name failed"
        failed+=("$name")
    }
}

for s in "$here"/*.sh; do
    [ "$(basename "$s")" = "run.sh" ] && continue
    # It needs the Windows build too: make bench-windows.
    [ "$(basename "$s")" = "win_bench.sh" ] && continue
    run "$(basename "$s" .sh)" bash "$s" "$build"
done
for src in "$here"/*.cpp; do
    [ -e "$src" ] || continue
    name="$(basename "$src" .cpp)"
    [ -e "$here/$name.sh" ] && continue
    if [ -x "$build/$name" ]; then
        if [[ "$display_benches" == *" $name "* ]]; then
            run "$name" "${wrap[@]}" "$build/$name"
        else
            run "$name" "$build/$name"
        fi
    else
        echo "### $name not built"
        failed+=("$name")
    fi
done
if [ ${#failed[@]} -gt 0 ]; then
    echo "bench: failed: ${failed[*]}"
    exit 1
fi
echo "bench: all ran"
