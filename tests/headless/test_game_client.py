"""The game's bot client against a hostile server (tests/mods/rogue_server.lua), one row each, side by side: a bad
snapshot is refused with its line and never reaches the world (a bad one scores 666), a server that only welcomes is
left after 5 s, 200 snapshots a frame leave the client's frames short (they took about 300 ms before only the newest
were decoded), 32 cleared levels a frame meet the particle cap (logged once a second), raw control bytes reach the
client's and a game server's logs escaped. No script error anywhere."""
import concurrent.futures
import os
import re
import statistics
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kivrun as k

SLOW = 2 if "ASAN_OPTIONS" in os.environ else 1
RAW = re.compile("[\x00-\x1f\x7f-\x9f\ufffd]")
BAD = {"hit": "event", "kind": "event", "tick": "tick", "off_map": "player", "enemy": "enemy", "gem": "gems"}


def live(*args):
    return k.Live(list(args), cwd=tempfile.mkdtemp(prefix="kiv_client_"))


def row(attack):
    port, tick = k.free_udp_port(), lambda l: l.startswith("$ client: tick ")
    server = live("-mod", k.mod_path("rogue_server.lua"), "-attack", attack, "-port", str(port))
    server.until(lambda l: l == "$ rogue listening", "the rogue server")
    c, more = live("-join", "127.0.0.1:%d" % port, "-bot", "1"), []
    if attack in BAD:
        c.until(lambda l: l == "$ client: dropped a malformed snapshot (bad %s)" % BAD[attack], "the refusal")
        c.until(tick, "a step after it")
        k.check("$ client: score 10" in c.lines and "$ client: score 666" not in c.lines, attack,
                "the good snapshots' score only", c.lines)
    elif attack == "welcome":
        # Counted from the welcome: a client's start takes seconds of its own under Wine.
        c.until(lambda l: l == "$ client: joined as player 1", "the welcome")
        start = time.monotonic()
        code, took = c.wait(15), time.monotonic() - start
        k.check(code == 1 and c.lines[-1] == "$ client: the bot stops, the server stopped answering" and 4.5 < took < 8,
                attack, "status 1 after 5 to 7 s, saw %s after %.1f s" % (code, took), c.lines)
    elif attack in ("burst", "sparks"):
        if attack == "sparks":
            c.until(lambda l: l.endswith("] particles: 1 refused at the cap of 1024 live and 256 a frame"), "the cap")
            first = len(c.lines)
        times = [c.until(tick, "a step") and time.monotonic()]
        while times[-1] - times[0] < 3:
            times.append(c.until(tick, "a step") and time.monotonic())
        gaps = [(b - a) * 1000 for a, b in zip(times, times[1:])]
        print("burst: %d client frames in 3 s, gap median %.0f ms, max %.0f ms" % (len(times), statistics.median(gaps),
                                                                                    max(gaps)))
        if attack == "burst":
            k.check(statistics.median(gaps) <= 60 * SLOW and max(gaps) <= 400 * SLOW, attack, "frames of at most 60 "
                    "ms, none over 400 ms, saw %.0f and %.0f ms" % (statistics.median(gaps), max(gaps)), c.lines)
        else:
            logged = sum("refused at the cap" in l for l in c.lines[first:])
            k.check(1 <= logged <= 4, attack, "the refusals logged once a second, saw %d lines in 3 s" % logged,
                    c.lines)
    else:
        game_port = k.free_udp_port()
        game = live("-server", str(game_port))
        game.until(lambda l: l == "$ server: listening on port %d" % game_port, "the game server")
        live("-mod", k.mod_path("rogue_server.lua"), "-attack", "player", "-port", str(game_port)).wait()
        for e in (r"\x1b", r"\x07", r"\x08", r"\xff", r"\xc2"):  # the decoder quotes one byte: the C1 control's first
            c.until(lambda l: l == "$ client: dropped a malformed message (json: unexpected '%s' at 1)" % e, e)
            game.until(lambda l: re.match(r"\$ server: dropped a malformed message from \d+ \(json: unexpected '%s' "
                                          r"at 1\)$" % re.escape(e), l), "the server's " + e)
        game.stop()
        more = game.lines
    server.stop()
    if attack != "welcome":  # its wait stopped it
        c.stop()
    bad = [l for l in c.lines + more if "Lua error" in l or "stack traceback" in l or RAW.search(l)]
    k.check(not bad, attack + ": logs", "no script error and no raw control byte, saw %r" % bad[:3], c.lines + more)


def test_rows():
    rows = list(BAD) + ["welcome", "burst", "sparks", "bytes"]
    if k.WRAPPER:
        # A Wine start is still finishing its first frames when the burst server's 13 MB/s of snapshots fill the
        # 4 MiB a peer may queue (0.3 s), so the client's guard lets that server go, as it should; the frame
        # lengths this row measures are measured by the Linux run.
        print("burst row skipped under %s: the flood outruns a Wine start's first frames" %
              os.path.basename(k.WRAPPER[0]))
        rows.remove("burst")
    with concurrent.futures.ThreadPoolExecutor(len(rows)) as pool:
        for job in [pool.submit(row, r) for r in rows]:
            try:
                job.result()
            except AssertionError as e:
                k.failures.append(str(e))


if __name__ == "__main__":
    test_rows()
    k.finish()
