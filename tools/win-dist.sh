#!/usr/bin/env bash
# Packs a Windows build into <build>/KivGame-win32.zip: the program (its debug information stripped), the data
# folder beside it and a short text on starting it.  tools/win-dist.sh BUILD_DIR TRIPLET
set -euo pipefail

build="$1" triplet="$2"
here="$(cd "$(dirname "$0")" && pwd)"
stage="$build/dist/KivGame"
rm -rf "$build/dist"
mkdir -p "$stage"
"$triplet-strip" -o "$stage/kivgame.exe" "$build/kivgame.exe"
cp -r "$build/data" "$stage/data"
# Windows line ends, for Notepad.
sed 's/$/\r/' "$here/win-readme.txt" >"$stage/README.txt"
rm -f "$build/KivGame-win32.zip"
(cd "$build/dist" && zip -qr9 ../KivGame-win32.zip KivGame)
echo "$build/KivGame-win32.zip: $(du -k "$build/KivGame-win32.zip" | cut -f1) KiB"
