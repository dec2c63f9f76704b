#!/usr/bin/env bash
# Installs the Debian packages a make target needs: "run" (build and start the game), "test" (also the test
# suites, the default) or "bench" (also the benchmarks and their comparison programs).
# Idempotent: only what is missing is installed.
set -euo pipefail

what="${1:-test}"
run_pkgs=(
    make build-essential cmake pkg-config
    libsdl2-dev liblua5.2-dev libstb-dev zlib1g-dev libenet-dev libgl-dev libgl1-mesa-dri
    libvorbis-dev libpng-dev libjpeg62-turbo-dev
)
# Tests and benchmarks: references (OpenSSL, nlohmann-json, RapidJSON, djpeg, PIL), the virtual display with a
# window manager (openbox), the fuzzers' compiler and the locales of the number-format tests.
check_pkgs=(
    python3 googletest libgtest-dev libbenchmark-dev nlohmann-json3-dev libssl-dev rapidjson-dev
    xvfb xauth xdotool x11-utils xclip libx11-dev clang libclang-rt-14-dev locales
    libjpeg-turbo-progs python3-pil openbox
)
bench_pkgs=(love libsdl2-mixer-dev time libjpeg-dev)
case "$what" in
run) pkgs=("${run_pkgs[@]}") ;;
test) pkgs=("${run_pkgs[@]}" "${check_pkgs[@]}") ;;
bench) pkgs=("${run_pkgs[@]}" "${check_pkgs[@]}" "${bench_pkgs[@]}") ;;
*)
    echo "usage: $0 [run|test|bench]" >&2
    exit 2
    ;;
esac

missing=()
for p in "${pkgs[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null; then
        echo "missing packages and no sudo: as root run  apt-get install -y ${missing[*]}  then run make again" >&2
        exit 1
    fi
    sudo="sudo"
fi
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
