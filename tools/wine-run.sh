#!/usr/bin/env bash
# Runs a Windows program of the x86_64 build under 64-bit Wine (this kind of machine runs no 32-bit code):
#   tools/wine-run.sh PROGRAM.exe ARGS...     the CMake emulator of the Windows build and the tests' wrapper
#   tools/wine-run.sh --session COMMAND...    runs COMMAND with one private Wine prefix for every program it
#                                             starts through this script, then stops its wineserver and removes it
# Outside a session each run makes its own prefix and removes it afterwards. Wine's own messages are off.
set -euo pipefail

export WINEDEBUG=-all
# No Mono or Gecko installer dialogs, no menu entries when the prefix is made.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
wine=/usr/lib/wine/wine64
if [ ! -x "$wine" ]; then
    echo "$0: $wine is missing: run tools/install-deps.sh windows" >&2
    exit 1
fi

new_prefix() {
    WINEPREFIX="$(mktemp -d "${TMPDIR:-/tmp}/kiv-wine.XXXXXX")"
    export WINEPREFIX
    "$wine" wineboot -i >/dev/null 2>&1 || true
}
end_prefix() {
    /usr/lib/wine/wineserver -k 2>/dev/null || true
    /usr/lib/wine/wineserver -w 2>/dev/null || true
    rm -rf "$WINEPREFIX"
}

if [ "${1:-}" = --session ]; then
    shift
    new_prefix
    export KIV_WINE_SESSION="$WINEPREFIX"
    trap end_prefix EXIT
    trap 'exit 130' INT TERM HUP
    rc=0
    "$@" || rc=$?
    exit "$rc"
fi

if [ -n "${KIV_WINE_SESSION:-}" ]; then
    export WINEPREFIX="$KIV_WINE_SESSION"
    # The program itself, so that a signal or kill from the test reaches it.
    exec "$wine" "$@"
fi
new_prefix
trap end_prefix EXIT
rc=0
"$wine" "$@" || rc=$?
exit "$rc"
