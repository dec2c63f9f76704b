#!/usr/bin/env bash
# Runs the README's `make test` as on a new machine of a Debian release (bookworm, trixie, ...): a fresh minimal
# root with only `make` added, a clone of this repository's HEAD in it, as root through chroot. Needs root.
#   tools/fresh-root-test.sh RELEASE              make test
#   tools/fresh-root-test.sh --windows RELEASE    make windows, dist-windows and test-windows: the packages and the
#                                                 Windows libraries of both triplets (cold) with the network, the
#                                                 builds and tests without it, so a warm library cache is shown to
#                                                 need none; each phase says how long it took
# Everything after the checks runs in a private mount and PID namespace, debootstrap's own mounts included, so no
# mount and no process outlives the script, whichever way it ends; the root is removed at exit. JOBS, when set,
# reaches make.
set -euo pipefail

# apt_uri: the mirror the machine's own apt sources name.
. "$(dirname "$(realpath "$0")")/apt-uri.sh"

# In the namespaces: the root, the clone, the mounts, then make's installs with the network and the tests in a
# network namespace of their own with only loopback, so that their displays and ports never meet the host's.
inside() {
    local mode="$1" release="$2" work="$3" repo="$4" commit="$5" t0=$SECONDS
    local root="$work/root" host mirror security
    host="$(. /etc/os-release && echo "${VERSION_CODENAME:-}")"
    mirror="$(apt_uri "$host")"
    if [ -z "$mirror" ]; then
        echo "$0: this machine's apt sources name no mirror for $host" >&2
        return 1
    fi
    security="$(apt_uri "$host-security")"

    echo "== $release: a minimal root from $mirror"
    if ! debootstrap --variant=minbase --include=make "$release" "$root" "$mirror" >"$work/debootstrap.log" 2>&1; then
        tail -n 20 "$work/debootstrap.log" >&2
        return 1
    fi
    {
        echo "deb $mirror $release main"
        echo "deb $mirror $release-updates main"
        if [ -n "$security" ]; then echo "deb $security $release-security main"; fi
    } >"$root/etc/apt/sources.list"
    # As in any throw-away root: packages start no services, and dpkg does not wait for the disk after each file.
    printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
    chmod 755 "$root/usr/sbin/policy-rc.d"
    echo force-unsafe-io >"$root/etc/dpkg/dpkg.cfg.d/unsafe-io"
    cp /etc/resolv.conf "$root/etc/resolv.conf"
    git clone -q --no-checkout "$repo" "$root/src"
    git -C "$root/src" -c advice.detachedHead=false checkout -q "$commit"
    echo "== $release: root ready in $((SECONDS - t0)) s; $mode on $(git -C "$root/src" log -1 --format='%h %s' | cut -c1-70)"

    mount -t proc proc "$root/proc"
    mount -t sysfs sysfs "$root/sys"
    mount --bind /dev "$root/dev"
    mount -t devpts -o newinstance,ptmxmode=0666,mode=0620 devpts "$root/dev/pts"
    mount --bind "$root/dev/pts/ptmx" "$root/dev/ptmx"
    mount -t tmpfs -o mode=1777 tmpfs "$root/dev/shm"
    local env=(env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8
        TERM=dumb ${JOBS:+JOBS=$JOBS})
    # Only loopback: the tests' displays and ports never meet the host's, and nothing reaches the mirror.
    local offline=(unshare -n -- bash -c 'ip link set lo up && exec "$@"' _)
    if [ "$mode" = "make test" ]; then
        chroot "$root" "${env[@]}" bash -c 'cd /src && make deps'
        echo "== $release: packages installed after $((SECONDS - t0)) s"
        "${offline[@]}" chroot "$root" "${env[@]}" bash -c 'cd /src && make test'
        return
    fi
    local t triplet
    t=$SECONDS
    chroot "$root" "${env[@]}" bash -c 'cd /src && make deps DEPS=windows'
    echo "== $release: packages installed in $((SECONDS - t)) s"
    for triplet in i686-w64-mingw32 x86_64-w64-mingw32; do
        t=$SECONDS
        chroot "$root" "${env[@]}" bash -c 'cd /src && bash tools/win-deps.sh "$1" ${2:+tests}' _ "$triplet" \
            "$([ "$triplet" = x86_64-w64-mingw32 ] && echo tests)"
        echo "== $release: libraries for $triplet built in $((SECONDS - t)) s"
    done
    "${offline[@]}" chroot "$root" "${env[@]}" bash -c '
        set -e
        cd /src
        for target in windows dist-windows test-windows; do
            t=$SECONDS
            make "$target"
            echo "== $1: make $target took $((SECONDS - t)) s, without network"
        done' _ "$release"
}

if [ "${1:-}" = --inside ]; then
    shift
    inside "$@"
    exit
fi

mode="make test"
if [ "${1:-}" = --windows ]; then
    mode="make test-windows"
    shift
fi
release="${1:-}"
if [ -z "$release" ] || [ $# -ne 1 ]; then
    echo "usage: $0 [--windows] RELEASE   (a Debian code name: bookworm, trixie)" >&2
    exit 2
fi
if [ "$(id -u)" -ne 0 ]; then
    echo "$0: needs root (debootstrap, chroot, mounts)" >&2
    exit 2
fi
repo="$(cd "$(dirname "$0")/.." && pwd)"
commit="$(git -C "$repo" rev-parse HEAD)"
need=()
command -v debootstrap >/dev/null || need+=(debootstrap)
command -v ip >/dev/null || need+=(iproute2)
if [ ${#need[@]} -gt 0 ]; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

work="$(mktemp -d "${TMPDIR:-/var/tmp}/kiv-fresh-$release.XXXXXX")"
child=""
cleanup() {
    if [ -n "$child" ]; then
        # unshare holds TERM back while it waits: its child, the namespace's first process, is the one to stop,
        # and every process in the namespace goes with it.
        local first
        first="$(cat "/proc/$child/task/$child/children" 2>/dev/null || true)"
        if [ -n "$first" ]; then kill -KILL $first 2>/dev/null || true; fi
        kill "$child" 2>/dev/null || true
        wait "$child" 2>/dev/null || true
    fi
    # The mounts lived in the namespace that has ended; --one-file-system keeps any surprise out of reach.
    rm -rf --one-file-system "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

t0=$SECONDS
rc=0
# --kill-child: should unshare itself be killed, the namespace's first process and every process inside go too.
unshare -m -p -f --mount-proc --kill-child --propagation private -- \
    bash "$(realpath "$0")" --inside "$mode" "$release" "$work" "$repo" "$commit" &
child=$!
wait "$child" || rc=$?
child=""
echo "== $release: $mode exit $rc after $((SECONDS - t0)) s"
exit "$rc"
