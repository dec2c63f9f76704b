# Frame cost of 1,000 web requests made at once against a slow loopback server (the test suite's hostile server in
# its "slow" mode), then the frame that hands a 32 MiB answer to the script and the bytes copied on the way.
# Usage: bash bench/web_bench.sh BUILD_DIR
set -eu
build="$(cd "${1:-build-bench}" && pwd)"
here="$(cd "$(dirname "$0")" && pwd)"
fifo="$(mktemp -u)"
mkfifo "$fifo"
python3 -u -c "import sys, time; sys.path.insert(0, '$here/../tests/headless'); import hostile_http
print(hostile_http.start()); time.sleep(3600)" > "$fifo" &
server=$!
trap 'kill $server 2>/dev/null; rm -f "$fifo"' EXIT
read -r port < "$fifo"
"$build/web_bench" "$port" 1000 | grep -v '^\['
