#!/usr/bin/env bash
# Installs the Debian packages a make target needs: "run" (build and start the game), "test" (also the test
# suites, the default), "bench" (also the benchmarks and their comparison programs) or "windows" (the Windows
# cross builds and their tests under Wine, with the i386 architecture added for wine32).
# Idempotent: only what is missing is installed.
set -euo pipefail

what="${1:-test}"
run_pkgs=(
    make build-essential cmake pkg-config
    libsdl2-dev liblua5.2-dev libstb-dev zlib1g-dev libenet-dev libgl-dev libgl1-mesa-dri
    libvorbis-dev libpng-dev libjpeg62-turbo-dev
)
# Tests and benchmarks: references (OpenSSL, nlohmann-json, RapidJSON, djpeg, PIL), the virtual display with a
# window manager (openbox), the fuzzers' compiler and the locales of the number-format tests. The fuzzers' runtime
# is named after clang's major version (14 on Debian 12, 19 on Debian 13) and is added below.
check_pkgs=(
    python3 googletest libgtest-dev libbenchmark-dev nlohmann-json3-dev libssl-dev rapidjson-dev
    xvfb xauth xdotool x11-utils xclip libx11-dev clang locales
    libjpeg-turbo-progs python3-pil openbox
)
bench_pkgs=(love libsdl2-mixer-dev time libjpeg-dev)
# The cross compilers (posix thread model), Wine, what tools/win-deps.sh fetches and unpacks the sources with,
# GoogleTest's sources (/usr/src/googletest), the stb and JSON headers and what the suites run under Wine use.
win_pkgs=(
    g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
    mingw-w64-tools wine wine32:i386 wine64 dpkg-dev zip xz-utils bzip2 patch
    python3 googletest nlohmann-json3-dev xvfb xauth xdotool x11-utils openbox
)
case "$what" in
run) pkgs=("${run_pkgs[@]}") ;;
test) pkgs=("${run_pkgs[@]}" "${check_pkgs[@]}") ;;
bench) pkgs=("${run_pkgs[@]}" "${check_pkgs[@]}" "${bench_pkgs[@]}") ;;
windows) pkgs=("${run_pkgs[@]}" "${win_pkgs[@]}") ;;
*)
    echo "usage: $0 [run|test|bench|windows]" >&2
    exit 2
    ;;
esac

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
# The libFuzzer runtime of the clang that is installed, or else of the one apt offers as "clang"; empty when
# neither is known (no package lists yet).
clang_rt() {
    local major=""
    if command -v clang >/dev/null; then
        major=$(clang --version 2>/dev/null | sed -n 's/.*clang version \([0-9][0-9]*\).*/\1/p' | head -n1)
    else
        major=$(apt-cache depends clang 2>/dev/null | sed -n 's/^ *Depends: clang-\([0-9][0-9]*\)$/\1/p' | head -n1)
    fi
    if [ -n "$major" ]; then echo "libclang-rt-$major-dev"; fi
}
rt=""
if [ "$what" != run ] && [ "$what" != windows ]; then
    rt="$(clang_rt)"
    if [ -n "$rt" ]; then pkgs+=("$rt"); fi
fi

# wine32 is a package of the i386 architecture, added once.
need_i386=""
if [ "$what" = windows ] && ! dpkg --print-foreign-architectures | grep -qx i386; then need_i386=1; fi

missing=()
for p in "${pkgs[@]}"; do
    installed "$p" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && [ -z "$need_i386" ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null; then
        echo "missing packages and no sudo: as root run  apt-get install -y ${missing[*]}  then run make again" >&2
        exit 1
    fi
    sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
if [ -n "$need_i386" ]; then $sudo dpkg --add-architecture i386; fi
$sudo apt-get update -qq
# Without package lists before the update the runtime's name was not known yet.
if [ "$what" != run ] && [ "$what" != windows ] && [ -z "$rt" ]; then
    rt="$(clang_rt)"
    if [ -n "$rt" ] && ! installed "$rt"; then missing+=("$rt"); fi
fi
[ ${#missing[@]} -eq 0 ] && exit 0
echo "installing: ${missing[*]}"
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
