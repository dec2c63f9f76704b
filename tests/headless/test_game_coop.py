"""The embedded game played over the network: a headless server and two bot clients on loopback for about 15 s.
The clients must join, see the same level, score and lives as the server at the same step, see the score and the
level change, and no script error may reach any log. Then hostile peers (tests/mods/rogue_player.lua, the engine's
own ENet functions) against a server with an honest bot, and the ends of a game: full, everyone gone, server gone."""
import concurrent.futures
import os
import re
import socket
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kivrun as k


def free_udp_port():
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def steps(lines, who):
    """{tick: 'level L score S'} from the lines "$ <who>: tick T level L score S ..."."""
    out = {}
    for l in lines:
        m = re.match(r"\$ %s: tick (\d+) level (\d+) score (\d+)" % who, l)
        if m:
            out[int(m.group(1))] = (int(m.group(2)), int(m.group(3)))
    return out


def test_coop():
    port = free_udp_port()
    cwd = tempfile.mkdtemp(prefix="kiv_coop_")  # headless saves land in the working directory
    server = k.Live(["-server", str(port)], cwd=cwd)
    server.until(lambda l: l == "$ server: listening on port %d" % port, "the server listening")
    bots = [k.Live(["-join", "127.0.0.1:%d" % port, "-bot", "1"], cwd=cwd) for _ in range(2)]
    for b in bots:
        b.until(lambda l: re.match(r"\$ client: joined as player [12]$", l), "a player slot")
    start = time.time()
    for b in bots:
        b.until(lambda l: l.startswith("$ client: score "), "a score change")
        b.until(lambda l: l == "$ client: level 2", "the next level")
    time.sleep(max(0.0, 15.0 - (time.time() - start)))  # play on to about 15 s
    for b in bots:
        b.stop()
    server.stop()

    srv = steps(server.lines, "server")
    for i, b in enumerate(bots):
        name = "client %d" % (i + 1)
        seen = steps(b.lines, "client")
        k.check(len(seen) >= 5, name + ": steps reported", "at least 5 'client: tick' lines", b.lines)
        differ = [(t, v, srv.get(t)) for t, v in seen.items() if t in srv and srv[t] != v]
        k.check(not differ, name + ": in step with the server", "the server's level and score at each step, "
                "differing: %s" % differ[:5], b.lines)
        shared = [t for t in seen if t in srv]
        k.check(len(shared) >= 3, name + ": steps shared with the server", "3 or more, saw %d" % len(shared), b.lines)
        k.check(max(seen) > max(srv) - 60, name + ": kept up", "last step near the server's %d, saw %d" %
                (max(srv), max(seen)), b.lines)
    for name, run in [("server", server)] + [("client %d" % (i + 1), b) for i, b in enumerate(bots)]:
        bad = [l for l in run.lines if "Lua error" in l or "stack traceback" in l or "zorbit:" in l]
        k.check(not bad, name + ": no script error", "none, saw %s" % bad[:3], run.lines)
    k.check(any(re.match(r"\$ server: player \d+ joined as 2", l) for l in server.lines), "server: two players",
            "a second player", server.lines)


def ticks(lines, who):
    """The ticks of the lines "$ <who>: tick T ...", in order."""
    return [int(m.group(1)) for m in (re.match(r"\$ %s: tick (\d+) " % who, l) for l in lines) if m]


def wait_exit(run, seconds):
    """The exit status of a run that should end by itself, or None when it is still running after seconds."""
    try:
        run.p.wait(timeout=seconds)
    except Exception:
        return None
    return run.stop()


def server_with_bot(cwd):
    port = free_udp_port()
    server = k.Live(["-server", str(port)], cwd=cwd)
    server.until(lambda l: l == "$ server: listening on port %d" % port, "the server listening")
    honest = k.Live(["-join", "127.0.0.1:%d" % port, "-bot", "1"], cwd=cwd)
    honest.until(lambda l: l == "$ client: joined as player 1", "the honest player's slot")
    return port, server, honest


def rogue(port, attack, role="client"):
    return k.Live(["-mod", k.mod_path("rogue_player.lua"), "-role", role, "-attack", attack, "-port", str(port)])


def attacked(attack):
    """A server, an honest bot and a hostile client with the given attack, run until the attacker is done."""
    cwd = tempfile.mkdtemp(prefix="kiv_coop_")
    port, server, honest = server_with_bot(cwd)
    bad = rogue(port, attack)
    code = wait_exit(bad, 25)
    time.sleep(2)  # the server's held log lines and the honest bot's steps after the attack
    honest.stop()
    server.stop()
    return server, honest, bad, code


def malformed_lines(server):
    return [l for l in server.lines if l.startswith("$ server: dropped ") and "malformed message" in l]


def kept_playing(name, server, honest, bad):
    """The honest bot got steps all through the attack and was never disconnected."""
    start = next((i for i, l in enumerate(honest.lines) if "joined as" in l), 0)
    seen = ticks(honest.lines[start:], "client")
    k.check(len(seen) >= 5 and seen == sorted(seen), name + ": honest bot kept stepping",
            "5 or more rising 'client: tick' lines, saw %s" % seen, honest.lines)
    k.check(not any("disconnected" in l for l in honest.lines), name + ": honest bot stayed", "no disconnect",
            honest.lines)
    srv = ticks(server.lines, "server")
    k.check(len(srv) >= 6, name + ": server kept stepping", "6 or more 'server: tick' lines, saw %s" % srv,
            server.lines)
    k.check("$ rogue done" in bad.lines, name + ": the attack ran", "the attacker's 'rogue done'", bad.lines)


def row_big():
    server, honest, bad, code = attacked("big")
    kept_playing("big", server, honest, bad)
    lines = malformed_lines(server)
    k.check(lines and lines[0].endswith("(too long: 10001 bytes)") and
            all(re.match(r"\$ server: dropped \d+ more malformed", l) for l in lines[1:]), "big: refused undecoded",
            "'dropped a malformed message from N (too long: 10001 bytes)', then counts, saw %s" % lines, server.lines)


def row_flood():
    server, honest, bad, code = attacked("flood")
    kept_playing("flood", server, honest, bad)


def row_junk():
    server, honest, bad, code = attacked("junk")
    kept_playing("junk", server, honest, bad)
    lines = malformed_lines(server)
    # 6 s of 50 a frame: one line at once, one 5 s later, and the count of the rest.
    k.check(2 <= len(lines) <= 3 and "more not logged" in lines[1], "junk: log lines limited",
            "2 or 3 lines, the second counting the others, saw %s" % lines, server.lines)
    counted = sum(int(n) for n in re.findall(r"(\d+) more", " ".join(lines)))
    k.check(counted > 1000, "junk: dropped messages counted", "over 1000, saw %d" % counted, server.lines)


def row_silent():
    server, honest, bad, code = attacked("silent")
    k.check(code == 0 and "$ rogue disconnect 0" not in bad.lines and
            any(l.startswith("$ rogue disconnect") for l in bad.lines), "silent: let go", "a disconnect",
            bad.lines)
    k.check(any(re.match(r"\$ server: player \d+ took no slot in 5 s, let go", l) for l in server.lines),
            "silent: server line", "'took no slot in 5 s, let go'", server.lines)


def row_full():
    cwd = tempfile.mkdtemp(prefix="kiv_coop_")
    port, server, first = server_with_bot(cwd)
    bots = [first] + [k.Live(["-join", "127.0.0.1:%d" % port, "-bot", "1"], cwd=cwd) for _ in range(3)]
    for b in bots[1:]:
        b.until(lambda l: re.match(r"\$ client: joined as player [234]$", l), "a player slot")
    fifth = k.Live(["-join", "127.0.0.1:%d" % port, "-bot", "1"], cwd=cwd)
    code = wait_exit(fifth, 20)
    for b in bots:
        b.stop()
    server.stop()
    k.check("$ client: disconnected (the game is full)" in fifth.lines, "full: the reason kept",
            "'client: disconnected (the game is full)'", fifth.lines)
    k.check(code == 1 and fifth.lines[-1] == "$ client: the bot stops, the game is full", "full: the bot ends",
            "status 1 after 'client: the bot stops, the game is full', saw %s" % code, fifth.lines)


def row_afresh():
    cwd = tempfile.mkdtemp(prefix="kiv_coop_")
    port, server, first = server_with_bot(cwd)
    first.until(lambda l: l == "$ client: level 2", "the second level")
    first.stop()
    server.until(lambda l: l == "$ server: everyone left, the world starts afresh", "a fresh world")
    second = k.Live(["-join", "127.0.0.1:%d" % port, "-bot", "1"], cwd=cwd)
    second.until(lambda l: l.startswith("$ client: tick "), "a step")
    second.stop()
    server.stop()
    levels = [l for l in second.lines if l.startswith("$ client: level ")]
    k.check(levels[:1] == ["$ client: level 1"], "afresh: the newcomer starts on level 1",
            "'client: level 1' first, saw %s" % levels, second.lines)
    first_step = next(l for l in second.lines if l.startswith("$ client: tick "))
    k.check(re.match(r"\$ client: tick 30 level 1 score \d+$", first_step),
            "afresh: steps counted anew", "'client: tick 30 level 1 ...'", second.lines)


def row_server_killed():
    cwd = tempfile.mkdtemp(prefix="kiv_coop_")
    port, server, honest = server_with_bot(cwd)
    honest.until(lambda l: l.startswith("$ client: tick "), "a step")
    server.p.kill()
    server.stop()
    code = wait_exit(honest, 20)
    k.check(code == 1 and "$ client: disconnected (the server stopped answering)" in honest.lines and
            honest.lines[-1] == "$ client: the bot stops, the server stopped answering", "killed server: bot ends",
            "status 1 after 'client: the bot stops, the server stopped answering', saw %s" % code, honest.lines)


def row_hostile_server():
    port = free_udp_port()
    bad = rogue(port, "", role="server")
    time.sleep(0.5)  # the hostile server listening
    client = k.Live(["-join", "127.0.0.1:%d" % port, "-bot", "1"], cwd=tempfile.mkdtemp(prefix="kiv_coop_"))
    code = wait_exit(client, 20)
    bad.stop()
    dropped = [l for l in client.lines if l.startswith("$ client: dropped a malformed snapshot")]
    k.check(len(dropped) == 2 and dropped[0].endswith("(too long: %d bytes)" % (len('{"t":"state","pad":""}') + 6000)) and
            dropped[1].startswith("$ client: dropped a malformed snapshot (too many events"),
            "hostile server: snapshots refused", "one too long, one with too many events, saw %s" % dropped,
            client.lines)
    k.check(len(ticks(client.lines, "client")) >= 3, "hostile server: good snapshots taken", "3 tick lines",
            client.lines)
    k.check(code == 1 and client.lines[-1] == "$ client: the bot stops, the server closed the game",
            "hostile server: bot ends", "status 1 after the server closed, saw %s" % code, client.lines)


# Each row runs its own server and clients on its own port; they run side by side to keep the test short.
ROWS = [row_big, row_flood, row_junk, row_silent, row_full, row_afresh, row_server_killed, row_hostile_server]


def test_hostile_peers():
    with concurrent.futures.ThreadPoolExecutor(len(ROWS)) as pool:
        for row, f in [(r, pool.submit(r)) for r in ROWS]:
            try:
                f.result()
            except AssertionError as e:
                k.failures.append("%s: %s" % (row.__name__, e))


if __name__ == "__main__":
    test_coop()
    test_hostile_peers()
    k.finish()
