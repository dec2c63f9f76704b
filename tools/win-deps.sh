#!/usr/bin/env bash
# Builds the game's libraries for Windows from Debian's source packages with the mingw-w64 cross compiler:
#   tools/win-deps.sh TRIPLET [tests]    (i686-w64-mingw32 or x86_64-w64-mingw32; tests: GoogleTest too)
# Sources come from the mirror this machine's apt names, through a private source list and package lists (the
# machine's apt set-up is not touched); a file the mirror does not serve is fetched in the other release's
# version (bookworm <-> trixie). Each library is built static into
#   ${XDG_CACHE_HOME:-~/.cache}/kivgame-deps/<triplet>-gcc<version>/<package>-<version>-<recipe hash>/
# and reused while that folder is complete; deleting the cache rebuilds it. The set of folders of the current
# versions is written to kivgame-deps/<triplet>.cmake for cmake/mingw-*.cmake. One line per library.
set -euo pipefail

triplet="${1:-}"
with_tests="${2:-}"
case "$triplet" in
i686-w64-mingw32 | x86_64-w64-mingw32) ;;
*)
    echo "usage: $0 i686-w64-mingw32|x86_64-w64-mingw32 [tests]" >&2
    exit 2
    ;;
esac
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/apt-uri.sh"

cc="$triplet-gcc-posix"
cxx="$triplet-g++-posix"
command -v "$cxx" >/dev/null || {
    echo "$0: $cxx is missing: run tools/install-deps.sh windows" >&2
    exit 1
}
cache="${KIV_DEPS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/kivgame-deps}"
key="$cache/$triplet-gcc$("$cc" -dumpfullversion)"
jobs="${JOBS:-$(nproc)}"
mkdir -p "$key/resolved" "$cache/src"

host="$(. /etc/os-release && echo "${VERSION_CODENAME:-}")"
case "$host" in
bookworm) other=trixie ;;
trixie) other=bookworm ;;
*)
    echo "$0: this machine's release ${host:-(unknown)} is neither bookworm nor trixie" >&2
    exit 1
    ;;
esac
mirror="$(apt_uri "$host")"
if [ -z "$mirror" ]; then
    echo "$0: this machine's apt sources name no mirror for $host" >&2
    exit 1
fi

# A private apt state per release: its source list and package lists live in the cache.
apt_opts() {
    local d="$cache/apt/$1"
    echo "-o Dir::Etc::SourceList=$d/sources.list -o Dir::Etc::SourceParts=/dev/null -o Dir::State::Lists=$d/lists" \
        "-o Dir::Cache=$d/cache -o Dir::State::status=/dev/null -o APT::Sandbox::User=$(id -un)" \
        "-o Debug::NoLocking=1"
}
# The release's source lists, fetched when missing or a day old; old lists serve when the mirror cannot be reached,
# and the release is then marked stale. One try per release and run: without the network each try costs seconds.
declare -A lists_tried=() lists_stale=()
apt_lists() {
    local rel="$1" d="$cache/apt/$1"
    [ -z "${lists_tried[$rel]:-}" ] || return 0
    lists_tried[$rel]=1
    mkdir -p "$d/lists/partial" "$d/cache/archives/partial"
    echo "deb-src $mirror $rel main" >"$d/sources.list"
    if [ -z "$(find "$d/lists" -maxdepth 1 -name '*Sources*' -mmin -1440 2>/dev/null)" ]; then
        # apt only warns when an index cannot be fetched.
        # shellcheck disable=SC2046
        if ! apt-get -qq $(apt_opts "$rel") update >"$d/update.log" 2>&1 ||
            grep -q '^[WE]: Failed to fetch' "$d/update.log"; then
            if [ -z "$(find "$d/lists" -maxdepth 1 -name '*Sources*')" ]; then
                echo "$0: no source lists of $rel from $mirror (see $d/update.log)" >&2
                exit 1
            fi
            lists_stale[$rel]=1
        fi
    fi
}
# "url name size SHA256:hash" lines of a source package in a release.
src_uris() {
    # shellcheck disable=SC2046
    apt-get -qq $(apt_opts "$1") source --print-uris "$2" 2>/dev/null | sed "s/^'\([^']*\)' /\1 /"
}
fetch() {
    local url="$1" name="$2" hash="$3"
    [ -s "$cache/src/$name" ] && return 0
    /usr/lib/apt/apt-helper -qq download-file "$url" "$cache/src/$name.part" "$hash" >/dev/null 2>&1 || return 1
    mv "$cache/src/$name.part" "$cache/src/$name"
}

# Fetches a source package: its upstream tarball and Debian's patches of the host release, else of the other
# one. Sets ver (the Debian version, or the upstream one plus "-orig" when only the tarball was served), orig
# and debtar.
get_source() {
    local pkg="$1" rel tried=() url name size hash line o d
    for rel in "$host" "$other"; do
        apt_lists "$rel"
        o=""
        d=""
        local lines
        lines="$(src_uris "$rel" "$pkg")"
        [ -n "$lines" ] || continue
        while read -r url name size hash; do
            case "$name" in
            *.orig.tar.*) o="$url $name $hash" ;;
            *.debian.tar.*) d="$url $name $hash" ;;
            esac
        done <<<"$lines"
        read -r url name hash <<<"$o"
        if ! fetch "$url" "$name" "$hash"; then
            tried+=("$name ($rel)")
            continue
        fi
        orig="$cache/src/$name"
        ver="$(sed -n 's/.*\/[^_]*_\([^ ]*\)\.dsc .*/\1/p' <<<"$lines" | sed 's/%2[bB]/+/g')"
        debtar=""
        read -r url name hash <<<"$d"
        if [ -n "$d" ] && fetch "$url" "$name" "$hash"; then
            debtar="$cache/src/$name"
        else
            ver="$(sed 's/\.orig\.tar\..*//; s/^[^_]*_//' <<<"$(basename "$orig")" | sed 's/%2[bB]/+/g')-orig"
        fi
        return 0
    done
    echo "$0: $pkg: the mirror serves none of: ${tried[*]:-its source package in $host or $other}" >&2
    exit 1
}
# Unpacks the upstream tarball and applies Debian's patches into $1.
unpack() {
    local dir="$1" p
    rm -rf "$dir"
    mkdir -p "$dir"
    tar -xf "$orig" -C "$dir" --strip-components=1
    if [ -n "$debtar" ]; then
        tar -xf "$debtar" -C "$dir"
        if [ -f "$dir/debian/patches/series" ]; then
            while read -r p _; do
                case "$p" in '' | \#*) continue ;; esac
                patch -s -p1 -d "$dir" <"$dir/debian/patches/$p"
            done <"$dir/debian/patches/series"
        fi
    fi
}

toolchain="$here/../cmake/mingw-${triplet%%-*}.cmake"
prefixes=()
# The current folders as pkg-config and cmake see them, for the libraries built after them and for the game.
deps_env() {
    local IFS=:
    local pc=()
    local p
    for p in "${prefixes[@]}"; do pc+=("$p/lib/pkgconfig"); done
    export PKG_CONFIG_LIBDIR="${pc[*]}"
    export KIV_WIN_PREFIXES="${prefixes[*]}"
}
cmake_build() {
    local src="$1" prefix="$2"
    shift 2
    cmake -S "$src" -B "$src/_build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF "$@"
    cmake --build "$src/_build" -j"$jobs"
    cmake --install "$src/_build"
}

# zlib's Debian tarball drops its Windows makefile; its sources need no configuration.
build_zlib() {
    c_lib "$cc" "$1" "$2/lib/libz.a" "$1"/{adler32,compress,crc32,deflate,gzclose,gzlib,gzread,gzwrite,infback,inffast,inflate,inftrees,trees,uncompr,zutil}.c
    mkdir -p "$2/include"
    cp "$1/zlib.h" "$1/zconf.h" "$2/include/"
    pc "$2" zlib "-lz" "-I\${prefix}/include"
}
# A pkg-config file: pc PREFIX NAME LIBS CFLAGS [REQUIRES]
pc() {
    mkdir -p "$1/lib/pkgconfig"
    printf 'prefix=%s\nName: %s\nDescription: %s for Windows\nVersion: %s\nRequires: %s\nLibs: -L${prefix}/lib %s\nCflags: %s\n' \
        "$1" "$2" "$2" "${ver%%-*}" "${5:-}" "$3" "$4" >"$1/lib/pkgconfig/$2.pc"
}
# A static library of sources that need no configuration: c_lib "COMPILER FLAGS" SRC LIB FILES...
c_lib() {
    local compile="$1" src="$2" lib="$3" f
    shift 3
    mkdir -p "$src/_obj" "$(dirname "$lib")"
    for f in "$@"; do
        printf '%s\0' "$f"
    done | xargs -0 -P"$jobs" -I{} sh -c 'exec $3 -O2 -I"$1" -I"$1/include" -c "$2" -o "$1/_obj/$(basename "$2" .c).o"' \
        _ "$src" {} "$compile"
    "$triplet-ar" rcs "$lib" "$src"/_obj/*.o
}
# libpng, libogg and libvorbis need no configuration on Windows (libpng's prebuilt settings, ogg's own type
# definitions for mingw): their sources are compiled directly, which is much quicker than their configure scripts.
build_libpng1.6() {
    cp "$1/scripts/pnglibconf.h.prebuilt" "$1/pnglibconf.h"
    c_lib "$cc $(pkg-config --cflags zlib)" "$1" "$2/lib/libpng16.a" \
        "$1"/{png,pngerror,pngget,pngmem,pngpread,pngread,pngrio,pngrtran,pngrutil,pngset,pngtrans,pngwio,pngwrite,pngwtran,pngwutil}.c
    mkdir -p "$2/include/libpng16" "$2/lib/pkgconfig"
    cp "$1"/{png.h,pngconf.h,pnglibconf.h} "$2/include/libpng16/"
    pc "$2" libpng "-lpng16" "-I\${prefix}/include/libpng16" zlib
}
build_libogg() {
    c_lib "$cc" "$1" "$2/lib/libogg.a" "$1"/src/{bitwise,framing}.c
    mkdir -p "$2/include/ogg"
    cp "$1"/include/ogg/{ogg.h,os_types.h} "$2/include/ogg/"
    printf '/* mingw: os_types.h defines the types itself */\n' >"$2/include/ogg/config_types.h"
    pc "$2" ogg "-logg" "-I\${prefix}/include"
}
build_libvorbis() {
    local f lib=()
    for f in "$1"/lib/*.c; do
        case "$(basename "$f")" in barkmel.c | psytune.c | tone.c | vorbisfile.c | vorbisenc.c) ;; *) lib+=("$f") ;; esac
    done
    c_lib "$cc -I$1/lib $(pkg-config --cflags ogg)" "$1" "$2/lib/libvorbis.a" "${lib[@]}"
    rm -f "$1"/_obj/*.o
    c_lib "$cc $(pkg-config --cflags ogg)" "$1" "$2/lib/libvorbisfile.a" "$1/lib/vorbisfile.c"
    rm -f "$1"/_obj/*.o
    c_lib "$cc -I$1/lib $(pkg-config --cflags ogg)" "$1" "$2/lib/libvorbisenc.a" "$1/lib/vorbisenc.c"
    mkdir -p "$2/include/vorbis"
    cp "$1"/include/vorbis/*.h "$2/include/vorbis/"
    pc "$2" vorbis "-lvorbis" "-I\${prefix}/include" ogg
    pc "$2" vorbisfile "-lvorbisfile" "-I\${prefix}/include" vorbis
    pc "$2" vorbisenc "-lvorbisenc" "-I\${prefix}/include" vorbis
}
build_libjpeg-turbo() {
    cmake_build "$1" "$2" -DENABLE_SHARED=OFF -DWITH_SIMD=OFF -DWITH_TURBOJPEG=OFF -DCMAKE_INSTALL_LIBDIR="$2/lib"
}
build_libsdl2() {
    cmake_build "$1" "$2" -DSDL_SHARED=OFF -DSDL_STATIC=ON -DSDL_TEST=OFF -DSDL_VIDEO=ON -DSDL_OPENGL=ON \
        -DSDL_OPENGLES=OFF -DSDL_VULKAN=OFF -DSDL_DIRECTX=ON -DSDL_WASAPI=ON \
        -DSDL_RENDER=OFF -DSDL_HAPTIC=OFF -DSDL_HIDAPI=OFF -DSDL_SENSOR=OFF
}
# Lua compiled as C++, as Debian's lua5.2-c++: a Lua error unwinds C++ frames. Windows' long has 32 bits, so
# string.format's %d takes long long, as on Linux, and mingw's printf gives the C99 formats Linux's does.
build_lua5.2() {
    local f srcs=()
    for f in "$1"/src/*.c; do
        case "$(basename "$f")" in lua.c | luac.c) ;; *) srcs+=("$f") ;; esac
    done
    c_lib "$cxx -x c++ -Wall -DLUA_COMPAT_ALL -DLUA_USE_LONGLONG -D__USE_MINGW_ANSI_STDIO=1" "$1" "$2/lib/liblua5.2-c++.a" "${srcs[@]}"
    mkdir -p "$2/include/lua5.2"
    cp "$1"/src/{lua.h,luaconf.h,lualib.h,lauxlib.h,lua.hpp} "$2/include/lua5.2/"
    pc "$2" lua5.2-c++ "-llua5.2-c++" "-I\${prefix}/include/lua5.2"
}
build_enet() {
    c_lib "$cc" "$1" "$2/lib/libenet.a" "$1"/*.c
    mkdir -p "$2/include"
    cp -r "$1/include/enet" "$2/include/"
    pc "$2" libenet "-lenet -lws2_32 -lwinmm" "-I\${prefix}/include"
}
# GoogleTest from the sources Debian's googletest package installs.
build_googletest() {
    rm -rf "$1"
    cp -r /usr/src/googletest "$1"
    cmake_build "$1" "$2" -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON -DCMAKE_INSTALL_LIBDIR="$2/lib"
}

# One library: reused when its folder is complete, else fetched and built, its log in the folder.
one() {
    local pkg="$1" local_ver="${2:-}" t0=$SECONDS dir prefix log recipe
    # The folder is also named after its build recipe, so that a changed recipe builds the library again.
    recipe="$(declare -f "build_$pkg" | md5sum | cut -c1-8)"
    ver="$local_ver"
    # A version resolved today whose build is complete needs neither the lists nor the mirror; one resolved earlier
    # serves while the mirror cannot be reached, so that a warm cache builds without the network.
    if [ -z "$ver" ] && [ -f "$key/resolved/$pkg" ] && [ -f "$key/$pkg-$(cat "$key/resolved/$pkg")-$recipe/done" ]; then
        if [ -n "$(find "$key/resolved/$pkg" -mmin -1440)" ]; then
            ver="$(cat "$key/resolved/$pkg")"
        else
            apt_lists "$host"
            if [ -n "${lists_stale[$host]:-}" ]; then ver="$(cat "$key/resolved/$pkg")"; fi
        fi
    fi
    # Only a version read from the lists starts a new day: a reused one keeps the day it was resolved.
    if [ -z "$ver" ]; then
        get_source "$pkg"
        echo "$ver" >"$key/resolved/$pkg"
    fi
    dir="$key/$pkg-$ver-$recipe"
    prefix="$dir/prefix"
    log="$dir/build.log"
    mkdir -p "$dir"
    if [ -f "$dir/done" ]; then
        echo "$pkg $ver: reused"
    else
        [ -n "$local_ver" ] || unpack "$dir/src"
        rm -rf "$prefix"
        # In the background, so that the build's own errors stop it (errexit does not hold under "if").
        (cd "$dir" && "build_$pkg" "$dir/src" "$prefix") >"$log" 2>&1 &
        if ! wait $!; then
            echo "$0: $pkg $ver: build failed, see $log" >&2
            tail -n 5 "$log" >&2
            exit 1
        fi
        rm -rf "$dir/src"
        touch "$dir/done"
        echo "$pkg $ver: built in $((SECONDS - t0)) s"
    fi
    prefixes+=("$prefix")
    deps_env
}

# stb is header-only: the native headers, which hold no system-specific code, through a folder of their own so
# that the rest of /usr/include stays out of the cross build.
stb_pc() {
    local d="$key/stb"
    mkdir -p "$d/prefix/lib/pkgconfig" "$d/prefix/include"
    ln -sfn /usr/include/stb "$d/prefix/include/stb"
    printf 'prefix=%s\nName: stb\nDescription: stb headers\nVersion: 0.0\nCflags: -I${prefix}/include -I${prefix}/include/stb\n' \
        "$d/prefix" >"$d/prefix/lib/pkgconfig/stb.pc"
    prefixes+=("$d/prefix")
}

stb_pc
for pkg in zlib libpng1.6 libjpeg-turbo libogg libvorbis libsdl2 lua5.2 enet; do
    one "$pkg"
done
# Only the build that runs the tests needs it.
if [ "$with_tests" = tests ]; then
    one googletest "$(dpkg-query -W -f='${Version}' googletest)"
fi

{
    echo "# Written by tools/win-deps.sh: the library folders of the current versions."
    echo "set(KIV_WIN_PREFIXES \"${KIV_WIN_PREFIXES//:/;}\")"
} >"$cache/$triplet.cmake"
