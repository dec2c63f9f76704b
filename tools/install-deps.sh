#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and (with "bench") the benchmarks need.
# Idempotent: only what is missing is installed.
set -euo pipefail

pkgs=(
    build-essential cmake pkg-config python3
    libsdl2-dev liblua5.2-dev libstb-dev zlib1g-dev libenet-dev
    libgl-dev libgl1-mesa-dri xvfb xauth xdotool x11-utils xclip libx11-dev
    googletest libgtest-dev libbenchmark-dev
    nlohmann-json3-dev libssl-dev rapidjson-dev libvorbis-dev
    clang libclang-rt-14-dev locales libjpeg-turbo-progs python3-pil xclip
)
if [ "${1:-}" = "bench" ]; then
    pkgs+=(love libsdl2-mixer-dev time libjpeg-dev)
fi

missing=()
for p in "${pkgs[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
