#!/usr/bin/env bash
# The Windows build next to the Linux one in one run, Wine's own cost included: the sprite and text frame cost of
# sprites_bench (the scenes of sprites_bench.sh) and the embedded game's start-up to its first frame (game_start.py),
# the x86_64 programs under 64-bit Wine through tools/wine-run.sh, on the same Xvfb screens with Mesa's software GL
# on one thread. Sprite rounds are interleaved and alternate which build goes first, so that load from other work
# falls on both alike. The Wine prefix is made before the first measured start (a user's first run makes it once);
# start-up is measured with Wine's server already running (a second start) and with it stopped before each start.
# Wine's process CPU clock moves in coarse steps, so its CPU figures are only good over long runs; wall time is
# given beside them.
# Usage: bench/win_bench.sh LINUX_BUILD WINDOWS_BUILD [rounds, default 3]
#   LINUX_BUILD configured with -DKIV_BENCH=ON, WINDOWS_BUILD the x86_64 cross build with -DKIV_BENCH=ON
#   (make bench-windows builds both: build-bench and build-win64-bench).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
wine_run="$here/../tools/wine-run.sh"

# One part inside its Xvfb screen and Wine session: sprites or start.
if [ "${1:-}" = --part ]; then
    part=$2 lin=$3 win=$4 rounds=$5
    export vblank_mode=0 LIBGL_ALWAYS_SOFTWARE=1 SDL_AUDIODRIVER=dummy LP_NUM_THREADS=0
    # The session's prefix of this display, for stopping its server between starts.
    prefix="$KIV_WINE_SESSION/display$DISPLAY"
    server=/usr/lib/wine/wineserver64
    [ -x "$server" ] || server=/usr/lib/wine/wineserver
    if [ "$part" = start ]; then
        home=$(mktemp -d)
        trap 'rm -rf "$home"' EXIT
        export XDG_DATA_HOME="$home"
        out=$(mktemp)
        trap 'rm -rf "$home" "$out"' EXIT
        # The Windows SDL has no x11 driver: Wine is its X11 client.
        KIV_BENCH_LABEL=linux SDL_VIDEODRIVER=x11 python3 "$here/game_start.py" 5 "$lin" "$lin/kivgame" -width 480 -height 320 |
            tee -a "$out"
        KIV_BENCH_LABEL=wine python3 "$here/game_start.py" 5 "$win" "$wine_run" "$win/kivgame.exe" -width 480 -height 320 |
            tee -a "$out"
        KIV_BENCH_LABEL=wine-cold KIV_BENCH_BEFORE="WINEPREFIX=$prefix $server -k; WINEPREFIX=$prefix $server -w" \
            python3 "$here/game_start.py" 5 "$win" "$wine_run" "$win/kivgame.exe" -width 480 -height 320 | tee -a "$out"
        awk '$2 == "first" && $3 == "frame" { t[$1] = $5 }
            END { if (t["linux"] > 0) printf "ratio to linux: wine %.2f, wine-cold %.2f\n", t["wine"] / t["linux"], t["wine-cold"] / t["linux"] }' "$out"
        exit
    fi
    out=$(mktemp)
    trap 'rm -rf "$out"' EXIT
    # scene | window | warm-up frames | measured frames, as in sprites_bench.sh
    scenes=("opaque 10000|640x480|60|300" "sprites 1000 8|800x600|60|300" "sprites 1000 32|800x600|60|300"
        "sprites 10000 8|800x600|30|100" "sprites 10000 32|800x600|10|40" "sprites 50000 8|800x600|10|40"
        "sprites 50000 32|800x600|5|15" "text|800x600|60|300")
    # build label program...: one scene on one build, its line renamed after the build.
    one() {
        local dir="$1" label="$2"
        shift 2
        (cd "$dir" && KIV_BENCH_SCENE="$scene" KIV_BENCH_WINDOW="$win_size" KIV_BENCH_WARM="$warm" \
            KIV_BENCH_FRAMES="$frames" "$@" 2>/dev/null | tr -d '\r' | grep '^kivgame ' |
            sed "s/^kivgame /$label /") || echo "$label $scene: failed"
    }
    linux() { one "$lin" linux ./sprites_bench; }
    # The scene's path as the Windows program sees it: the root of the Unix file system is drive Z:.
    windows() { KIV_BENCH_LUA="Z:$here/sprites_scene.lua" one "$win" wine "$wine_run" ./sprites_bench.exe; }
    export KIV_BENCH_LUA="$here/sprites_scene.lua"
    for r in $(seq 1 "$rounds"); do
        echo "--- round $r"
        for s in "${scenes[@]}"; do
            IFS='|' read -r scene win_size warm frames <<<"$s"
            if [ $((r % 2)) -eq 1 ]; then
                linux | tee -a "$out"
                windows | tee -a "$out"
            else
                windows | tee -a "$out"
                linux | tee -a "$out"
            fi
        done
    done
    echo "--- summary over $rounds rounds: ms/frame median [min..max] of CPU and wall time, ratio wine/linux of the medians"
    awk '
    function med(list,   n, a, i, j, t) {
        n = split(list, a, " ")
        for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (a[j] + 0 < a[i] + 0) { t = a[i]; a[i] = a[j]; a[j] = t }
        lo = a[1]; hi = a[n]
        return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
    }
    / cpu / {
        eng = $1; cpu = wall = ""
        for (i = 2; i <= NF; i++) {
            if ($i == "cpu") { cpu = $(i + 1); scene = $2; for (k = 3; k < i; k++) scene = scene " " $k }
            if ($i == "wall") wall = $(i + 1)
        }
        if (cpu == "") next
        if (!(scene in seen)) { seen[scene] = 1; order[++ns] = scene }
        c[eng, scene] = c[eng, scene] " " cpu
        w[eng, scene] = w[eng, scene] " " wall
    }
    END {
        printf "%-16s %26s %26s %26s %26s %6s %6s\n", "scene", "linux cpu", "wine cpu", "linux wall", "wine wall", "cpu x", "wall x"
        for (s = 1; s <= ns; s++) {
            sc = order[s]
            lc = med(c["linux", sc]); lcr = sprintf("%.3f [%.3f..%.3f]", lc, lo, hi)
            wc = med(c["wine", sc]); wcr = sprintf("%.3f [%.3f..%.3f]", wc, lo, hi)
            lw = med(w["linux", sc]); lwr = sprintf("%.3f [%.3f..%.3f]", lw, lo, hi)
            ww = med(w["wine", sc]); wwr = sprintf("%.3f [%.3f..%.3f]", ww, lo, hi)
            printf "%-16s %26s %26s %26s %26s %6.2f %6.2f\n", sc, lcr, wcr, lwr, wwr, (lc > 0 ? wc / lc : 0), (lw > 0 ? ww / lw : 0)
        }
    }' "$out"
    if grep -q ": failed" "$out"; then exit 1; fi
    exit
fi

lin=$(cd "${1:?Linux build dir}" && pwd)
win=$(cd "${2:?Windows build dir}" && pwd)
rounds=${3:-3}
for b in "$lin" "$win"; do
    cmake --build "$b" -j"${JOBS:-$(nproc)}" --target sprites_bench kivgame kiv_assets_data kiv_game_sounds >/dev/null
done
echo "load before: $(uptime)"
echo "### sprites: Linux and Windows (wine64) builds, Xvfb 1280x1024"
xvfb-run -a -s "-screen 0 1280x1024x24" bash "$wine_run" --session bash "$0" --part sprites "$lin" "$win" "$rounds"
echo "### start-up: time to the first frame, Xvfb 800x600 (wine: server running; wine-cold: server stopped first)"
xvfb-run -a -s "-screen 0 800x600x24" bash "$wine_run" --session bash "$0" --part start "$lin" "$win" "$rounds"
echo "load after: $(uptime)"
