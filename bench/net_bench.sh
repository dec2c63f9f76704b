#!/usr/bin/env bash
# Messages per second of 64-byte reliable net_send between two headless engine processes on loopback (each
# draining net_poll every frame), next to two raw libenet hosts with the same flags and compression: serviced at
# the same 60 frames a second (in one loop, and in two threads on clocks of their own), and as fast as a loop can go. Usage: bash bench/net_bench.sh BUILD_DIR
set -eu
build="$(cd "${1:-build-bench}" && pwd)"
here="$(cd "$(dirname "$0")" && pwd)"
port=$(python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
# ENet's throttle reacts to the jitter between two unsynchronised 60 Hz processes, so the middle load runs three
# times; the raw pair in one loop has no such jitter, the pair in two threads has it as the processes do.
for per in 200 1000 1000 1000 4000; do
    SDL_AUDIODRIVER=dummy "$build/kivgame" -headless -mod "$here/net_bench.lua" -role recv -port "$port" \
        -seconds 4 > /tmp/kiv_net_bench.$$ 2>&1 &
    recv=$!
    SDL_AUDIODRIVER=dummy "$build/kivgame" -headless -mod "$here/net_bench.lua" -role send -port "$port" \
        -per "$per" >/dev/null 2>&1 &
    send=$!
    wait "$recv" || true
    kill "$send" 2>/dev/null || true
    wait "$send" 2>/dev/null || true
    printf "engine (2 processes) %4d/frame %10s msg/s\n" "$per" \
        "$(sed -n 's/^\$ engine rate \([0-9]*\) msg\/s/\1/p' /tmp/kiv_net_bench.$$)"
    rm -f /tmp/kiv_net_bench.$$
    "$build/net_bench" paced "$per" 4
    "$build/net_bench" threads "$per" 4
done
"$build/net_bench" free 4
