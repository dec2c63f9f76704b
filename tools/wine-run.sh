#!/usr/bin/env bash
# Runs a Windows program of the x86_64 build under 64-bit Wine (this kind of machine runs no 32-bit code):
#   tools/wine-run.sh PROGRAM.exe ARGS...     the CMake emulator of the Windows build and the tests' wrapper
#   tools/wine-run.sh --session COMMAND...    runs COMMAND with private Wine prefixes for the programs it starts
#                                             through this script, then stops their wineservers and removes them
# In a session the programs of one X display share one prefix, made at its first use (Wine's desktop process
# keeps the display it started on, so each display needs its own). Outside a session each run makes its own
# prefix and removes it afterwards. Wine's own messages are off.
set -euo pipefail

export WINEDEBUG=-all
# No Mono or Gecko installer dialogs, no menu entries when the prefix is made.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
wine=/usr/lib/wine/wine64
if [ ! -x "$wine" ]; then
    echo "$0: $wine is missing: run tools/install-deps.sh windows" >&2
    exit 1
fi

# Wine runs without TMPDIR: Debian's Wine 10 aborts at start ("free(): invalid pointer") whenever it is set, and
# the Windows programs take TEMP, which Wine sets from the prefix, not TMPDIR.
run_wine=(env -u TMPDIR "$wine")
# The server of the 64-bit Wine itself: the plain name is an alternative that may lead to the 32-bit one, which
# cannot start here.
server=/usr/lib/wine/wineserver64
[ -x "$server" ] || server=/usr/lib/wine/wineserver

new_prefix() {
    mkdir -p "$1"
    WINEPREFIX="$1"
    export WINEPREFIX
    "${run_wine[@]}" wineboot -i >/dev/null 2>&1 || true
}
end_prefix() {
    WINEPREFIX="$1" "$server" -k 2>/dev/null || true
    WINEPREFIX="$1" "$server" -w 2>/dev/null || true
}

if [ "${1:-}" = --session ]; then
    shift
    KIV_WINE_SESSION="$(mktemp -d "${TMPDIR:-/tmp}/kiv-wine.XXXXXX")"
    export KIV_WINE_SESSION
    end_session() {
        local p
        for p in "$KIV_WINE_SESSION"/*/; do
            [ -d "$p" ] && end_prefix "${p%/}"
        done
        rm -rf "$KIV_WINE_SESSION"
    }
    trap end_session EXIT
    trap 'exit 130' INT TERM HUP
    # The prefix of this display is made before the command starts: its first making takes about 10 s, which would
    # otherwise fall inside the time limits of the tests that start first.
    warm="$KIV_WINE_SESSION/display${DISPLAY:-none}"
    new_prefix "$warm"
    touch "$warm/.ready"
    unset WINEPREFIX
    rc=0
    "$@" || rc=$?
    exit "$rc"
fi

if [ -n "${KIV_WINE_SESSION:-}" ]; then
    p="$KIV_WINE_SESSION/display${DISPLAY:-none}"
    # Two first runs on one display at once: one makes the prefix, the other waits for it.
    exec 9>"$p.lock"
    flock 9
    if [ ! -f "$p/.ready" ]; then
        new_prefix "$p"
        touch "$p/.ready"
    fi
    flock -u 9
    exec 9>&-
    export WINEPREFIX="$p"
    # The program itself, so that a signal or kill from the test reaches it.
    exec "${run_wine[@]}" "$@"
fi
prefix="$(mktemp -d "${TMPDIR:-/tmp}/kiv-wine.XXXXXX")"
new_prefix "$prefix"
trap 'end_prefix "$prefix"; rm -rf "$prefix"' EXIT
rc=0
"${run_wine[@]}" "$@" || rc=$?
exit "$rc"
