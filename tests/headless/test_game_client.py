"""The embedded game's bot client against a hostile server (tests/mods/rogue_server.lua), one row each, side by
side: a bad snapshot is refused with its log line and never reaches the world (each bad one scores 666), a server
that only welcomes is taken for gone after the usual 5 s, 200 snapshots a frame leave the client's frames short,
and raw control bytes from a peer reach the client's and the game server's logs escaped. No script error anywhere."""
import concurrent.futures
import os
import re
import statistics
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kivrun as k

# A frame at 60 per second is 17 ms; the rest is room for a loaded machine (and the sanitizers). Before the client
# handled only the newest snapshots of a frame, its frames took about 300 ms each.
SLOW = 2 if "ASAN_OPTIONS" in os.environ else 1
MEDIAN_GAP_MS, MAX_GAP_MS = 60 * SLOW, 250 * SLOW
RAW = re.compile("[\x00-\x1f\x7f-\x9f\ufffd]")
ESCAPED = [r"\x1b", r"\x07", r"\x08", r"\xff", r"\xc2"]  # the JSON error quotes the first byte of C2 9B

# attack, the client's line that shows the refusal
BAD = [
    ("hit", r"dropped a malformed snapshot \(bad event\)"),
    ("kind", r"dropped a malformed snapshot \(bad event\)"),
    ("tick", r"dropped a malformed snapshot \(bad tick\)"),
    ("off_map", r"dropped a malformed snapshot \(bad player\)"),
    ("enemy", r"dropped a malformed snapshot \(bad enemy\)"),
    ("gem", r"dropped a malformed snapshot \(bad gems\)"),
]


def start(attack):
    port = k.free_udp_port()
    server = k.Live(["-mod", k.mod_path("rogue_server.lua"), "-attack", attack, "-port", str(port)])
    server.until(lambda l: l == "$ rogue listening", "the rogue server listening")
    client = k.Live(["-join", "127.0.0.1:%d" % port, "-bot", "1"], cwd=tempfile.mkdtemp(prefix="kiv_client_"))
    return server, client


def bad_row(attack, line):
    server, client = start(attack)
    client.until(lambda l: re.match(r"\$ client: " + line, l), "the refusal")
    client.until(lambda l: l.startswith("$ client: tick "), "a step after it")
    server.stop()
    client.stop()
    k.check("$ client: score 10" in client.lines and "$ client: score 666" not in client.lines, attack,
            "the good snapshots' score only", client.lines)
    return client.lines


def welcome_row():
    server, client = start("welcome")
    started = time.monotonic()
    code, took = client.wait(15), time.monotonic() - started
    server.stop()
    k.check(code == 1 and client.lines[-2:] == ["$ client: disconnected (the server stopped answering)",
                                                "$ client: the bot stops, the server stopped answering"] and
            4.5 < took < 8, "welcome only", "status 1 after 5 to 7 s, saw %s after %.1f s" % (code, took),
            client.lines)
    return client.lines


def burst_row():
    server, client = start("burst")
    client.until(lambda l: l.startswith("$ client: tick "), "a step")
    times, end = [], time.monotonic() + 3
    while time.monotonic() < end:
        client.until(lambda l: l.startswith("$ client: tick "), "a step")
        times.append(time.monotonic())
    server.stop()
    client.stop()
    gaps = [(b - a) * 1000 for a, b in zip(times, times[1:])] or [1e9]
    print("burst: %d client frames in 3 s, gap median %.0f ms, max %.0f ms" % (len(times), statistics.median(gaps),
                                                                                max(gaps)))
    k.check(statistics.median(gaps) <= MEDIAN_GAP_MS and max(gaps) <= MAX_GAP_MS, "burst", "frames of %d ms, none "
            "over %d ms, saw %d frames" % (MEDIAN_GAP_MS, MAX_GAP_MS, len(times)), client.lines)
    return client.lines


def bytes_row():
    server, client = start("bytes")
    game_port = k.free_udp_port()
    game = k.Live(["-server", str(game_port)], cwd=tempfile.mkdtemp(prefix="kiv_client_"))
    game.until(lambda l: l == "$ server: listening on port %d" % game_port, "the game server listening")
    player = k.Live(["-mod", k.mod_path("rogue_server.lua"), "-attack", "player", "-port", str(game_port)])
    player.wait()
    for e in ESCAPED:
        text = "malformed message (json: unexpected '%s' at 1)" % e
        client.until(lambda l: l == "$ client: dropped a " + text, "the client's line " + e)
        game.until(lambda l: re.match(r"\$ server: dropped a malformed message from \d+ \(json: unexpected '%s' at 1\)$"
                                      % re.escape(e), l), "the server's line " + e)
    for run in (server, client, game):
        run.stop()
    return client.lines + game.lines


def test_rows():
    with concurrent.futures.ThreadPoolExecutor(len(BAD) + 3) as pool:
        jobs = [pool.submit(bad_row, *row) for row in BAD] + [pool.submit(f) for f in (welcome_row, burst_row,
                                                                                        bytes_row)]
        for job in jobs:
            try:
                lines = job.result()
            except AssertionError as e:
                k.failures.append(str(e))
                continue
            bad = [l for l in lines if "Lua error" in l or "stack traceback" in l or RAW.search(l)]
            k.check(not bad, "logs", "no script error and no raw control byte, saw %r" % bad[:3], lines)


if __name__ == "__main__":
    test_rows()
    k.finish()
