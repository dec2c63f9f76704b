#!/usr/bin/env bash
# Headless start-to-exit and idle cost of the runtime, side by side with love running an equivalent script.
# Usage: bash bench/headless_run.sh BUILD_DIR
set -eu
build="$(cd "${1:-build-bench}" && pwd)"
bin="$build/kivgame"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# A mod that ends in its first pass, and one that idles with an empty _loop.
cat > "$work/exit.lua" <<'LUA'
function _init() end
function _loop(t) kiv_ext_call("exit") end
LUA
cat > "$work/idle.lua" <<'LUA'
function _init() end
function _loop(t) end
LUA
mkdir -p "$work/love_exit"
cat > "$work/love_exit/conf.lua" <<'LUA'
function love.conf(t)
    t.window = false
    t.modules.graphics = false
    t.modules.window = false
    t.modules.audio = false
    t.modules.sound = false
    t.modules.joystick = false
    t.modules.physics = false
    t.modules.video = false
    t.modules.font = false
    t.modules.image = false
    t.modules.mouse = false
    t.modules.keyboard = false
    t.modules.touch = false
end
LUA
cat > "$work/love_exit/main.lua" <<'LUA'
function love.update(dt) love.event.quit() end
LUA

# Runs a command N times; prints mean wall seconds and the largest peak resident set (kB).
measure() {
    local label="$1" n="$2"
    shift 2
    local total=0 peak=0 bad=0
    for _ in $(seq "$n"); do
        /usr/bin/time -f "%e %M" -o "$work/t" "$@" >/dev/null 2>&1 || bad=1
        read -r wall rss < <(tail -n 1 "$work/t")
        total=$(python3 -c "print($total + $wall)")
        [ "$rss" -gt "$peak" ] && peak=$rss
    done
    printf "%-34s wall %.3f s (mean of %d)   peak RSS %d kB\n" "$label" "$(python3 -c "print($total / $n)")" "$n" "$peak"
    [ "$bad" -eq 0 ] || { echo "$label: a run failed"; return 1; }
}

cd "$build"
status=0
echo "== headless start to exit"
measure "kivgame -headless (exit in _loop)" 10 env SDL_AUDIODRIVER=dummy "$bin" -headless -mod "$work/exit.lua" || status=1
if command -v love >/dev/null; then
    # With the window and graphics modules off love needs no display.
    measure "love 11.4 (quit in love.update)" 10 env -u DISPLAY SDL_AUDIODRIVER=dummy love "$work/love_exit" || true
else
    echo "love not installed (tools/install-deps.sh bench)"
fi

echo "== idle headless, empty _loop, 10 s at 60 passes a second"
/usr/bin/time -f "%e %U %S" -o "$work/idle" env SDL_AUDIODRIVER=dummy timeout -s INT 10 "$bin" -headless \
    -mod "$work/idle.lua" >/dev/null 2>&1 || true
read -r wall user sys < <(tail -n 1 "$work/idle")
python3 -c "w,u,s=$wall,$user,$sys; print('wall %.2f s  cpu %.3f s  = %.2f%% of one core' % (w, u+s, 100*(u+s)/w))"
exit $status
