"""The embedded game played over the network: a headless server and two bot clients on loopback for about 15 s.
The clients must join, see the same level, score and lives as the server at the same step, see the score and the
level change, and no script error may reach any log. Then hostile peers (tests/mods/rogue_player.lua, the engine's
own ENet functions) against a server with an honest bot, and the ends of a game: full, everyone gone, server gone.
Beside them, joining: a -join without HOST:PORT, Escape while connecting, the join menu played by keys."""
import os
import re
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kivrun as k


def steps(lines, who):
    """{tick: 'level L score S'} from the lines "$ <who>: tick T level L score S ..."."""
    out = {}
    for l in lines:
        m = re.match(r"\$ %s: tick (\d+) level (\d+) score (\d+)" % who, l)
        if m:
            out[int(m.group(1))] = (int(m.group(2)), int(m.group(3)))
    return out


def test_coop():
    port = k.free_udp_port()
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


def join(port, cwd, slot=None):
    bot = k.Live(["-join", "127.0.0.1:%d" % port, "-bot", "1"], cwd=cwd)
    if slot:
        bot.until(lambda l: l == "$ client: joined as player %d" % slot, "player slot %d" % slot)
    return bot


def server_with_bot():
    port, cwd = k.free_udp_port(), tempfile.mkdtemp(prefix="kiv_coop_")
    server = k.Live(["-server", str(port)], cwd=cwd)
    server.until(lambda l: l == "$ server: listening on port %d" % port, "the server listening")
    return port, cwd, server, join(port, cwd, 1)


# attack of tests/mods/rogue_player.lua, a server line that must show, bounds of its malformed-message lines
HOSTILE = [
    ("big", r"\$ server: dropped a malformed message from \d+ \(too long: 10001 bytes\)$", 2, 3),
    ("junk", r"\$ server: dropped a malformed message from \d+ \(.+; \d{3,} more not logged\)$", 2, 3),
    ("flood", r"\$ server: tick \d+ level", 0, 0),
    ("silent", r"\$ server: player \d+ took no slot in 2 s, let go$", 0, 0),
]


def hostile_row(attack, line, least, most):
    """A hostile player attacks a server with an honest bot, which must keep playing all along."""
    port, cwd, server, honest = server_with_bot()
    start = time.monotonic()
    bad = k.Live(["-mod", k.mod_path("rogue_player.lua"), "-attack", attack, "-port", str(port)])
    bad.wait()
    # The honest bot's steps after the attack and the server's held log line; as long a watch when the engine
    # lets a flooder go early (a slow server, as under the sanitizers, lets its queue pass the peer limit).
    time.sleep(max(2, 9 - (time.monotonic() - start)))
    honest.stop()
    server.stop()
    seen, srv = ticks(honest.lines, "client"), ticks(server.lines, "server")
    k.check(len(seen) >= 5 and seen == sorted(seen) and not any("disconnected" in l for l in honest.lines),
            attack + ": honest bot kept playing", "5 or more rising steps, no disconnect, saw %s" % seen, honest.lines)
    k.check(len(srv) >= 6 and "$ rogue done" in bad.lines, attack + ": server kept stepping",
            "6 or more steps through the attack, saw %s" % srv, server.lines + bad.lines)
    k.check(any(re.match(line, l) for l in server.lines), attack + ": server line", line, server.lines)
    bad_lines = [l for l in server.lines if re.match(r"\$ server: dropped .*malformed message", l)]
    k.check(least <= len(bad_lines) <= most, attack + ": malformed-message lines",
            "%d to %d, saw %d" % (least, most, len(bad_lines)), server.lines)


def ending_rows():
    """A fifth player refused; a newcomer after everyone left meets a new game; a bot ends when its server dies."""
    port, cwd, server, first = server_with_bot()
    others = [join(port, cwd, slot) for slot in (2, 3, 4)]
    fifth = join(port, cwd)
    code = fifth.wait()
    k.check(code == 1 and fifth.lines[-2:] == ["$ client: disconnected (the game is full)",
                                               "$ client: the bot stops, the game is full"],
            "fifth player: told and ended", "the game is full, status 1, saw %s" % code, fifth.lines)
    for b in others:
        b.stop()
    need, first.deadline = {"$ client: player 4 left", "$ client: level 2"}, time.time() + 40
    first.until(lambda l: need.discard(l) or not need, "the others' leaving, then the second level")
    first.stop()
    k.check(all("$ client: player %d joined" % i in first.lines for i in (2, 3, 4)), "first player: joins noticed",
            "'client: player N joined' for 2 to 4", first.lines)
    server.until(lambda l: l == "$ server: everyone left, the world starts afresh", "a fresh world")
    newcomer = join(port, cwd, 1)
    step = newcomer.until(lambda l: l.startswith("$ client: tick "), "a step")
    k.check([l for l in newcomer.lines if l.startswith("$ client: level")] == ["$ client: level 1"] and
            re.match(r"\$ client: tick 30 level 1 score \d+$", step), "newcomer: a new game",
            "level 1 from step 0, saw %s" % step, newcomer.lines)
    server.p.kill()
    server.stop()
    code = newcomer.wait()
    k.check("$ client: connection lost, no snapshot for 1 s" in newcomer.lines[:-2], "server killed: told at once",
            "the connection-lost line before the end", newcomer.lines)
    k.check(code == 1 and newcomer.lines[-2:] == ["$ client: disconnected (the server stopped answering)",
                                                  "$ client: the bot stops, the server stopped answering"],
            "server killed: the bot ends", "status 1 after its line, saw %s" % code, newcomer.lines)


def three_players():
    """Three bots play through the last level: the game ends and a new one goes on scoring."""
    port, cwd, server, first = server_with_bot()
    bots = [first] + [join(port, cwd, slot) for slot in (2, 3)]
    server.deadline = time.time() + 60
    server.until(lambda l: re.match(r"\$ server: tick \d+ level 3 ", l), "the third level")
    server.until(lambda l: l.startswith("$ server: game over"), "the end of the game")
    server.until(lambda l: re.match(r"\$ server: tick \d+ level 1 score [1-9]", l), "a new game scoring")
    for b in bots + [server]:
        b.stop()


def cross_row(native_server):
    """The Windows build and the native one on one game: the server scores what the client's bot does, the
    client sees the server's level and score at the same steps."""
    who = ("native", "Windows") if native_server else ("Windows", "native")
    name = "%s server, %s client" % who
    port, cwd = k.free_udp_port(), tempfile.mkdtemp(prefix="kiv_cross_")
    server = k.Live(["-server", str(port)], cwd=cwd, native=native_server)
    server.until(lambda l: l == "$ server: listening on port %d" % port, name + ": the server listening")
    bot = k.Live(["-join", "127.0.0.1:%d" % port, "-bot", "1"], cwd=cwd, native=not native_server)
    bot.deadline = server.deadline = time.time() + 45
    bot.until(lambda l: l == "$ client: joined as player 1", name + ": a player slot")
    server.until(lambda l: re.match(r"\$ server: tick \d+ level 1 score [1-9]", l), name + ": the bot scoring")
    bot.until(lambda l: re.match(r"\$ client: score [1-9]", l), name + ": the score seen by the client")
    for _ in range(4):  # steps to hold against the server's
        bot.until(lambda l: l.startswith("$ client: tick "), name + ": a step")
    bot.stop()
    server.stop()
    srv, seen = steps(server.lines, "server"), steps(bot.lines, "client")
    shared = [t for t in seen if t in srv]
    differ = [(t, seen[t], srv[t]) for t in shared if seen[t] != srv[t]]
    k.check(len(shared) >= 3 and not differ, name + ": in step", "3 or more shared steps alike, saw %d, differing: "
            "%s" % (len(shared), differ[:5]), bot.lines)
    bad = [l for l in server.lines + bot.lines if "Lua error" in l or "stack traceback" in l or "zorbit:" in l]
    k.check(not bad, name + ": no script error", "none, saw %s" % bad[:3], server.lines + bot.lines)


def cross_rows():
    if k.WRAPPER and k.NATIVE:  # only a Windows build under Wine has the other system's program beside it
        k.parallel([lambda: cross_row(True), lambda: cross_row(False)])


KEYS, SILENT = k.mod_path("game_keys.lua"), "127.0.0.1:%d" % k.free_udp_port()  # nobody answers there for 5 s
# name, command line, patterns of lines in their order, a text no line may hold, exit status (None: stopped)
JOIN_ROWS = [
    ("-join, port out of range", ["-join", "127.0.0.1:99999", "-bot", "1"],
     [r"game: -join wants HOST:PORT, not 127\.0\.0\.1:99999$"], "screen: play", 1),
    ("-join, no port", ["-join", "notaport", "-bot", "1"], ["game: -join wants HOST:PORT, not notaport$"],
     "screen: play", 1),
    ("-join, a host that does not exist", ["-join", "no.such.host.invalid:7777", "-bot", "1"],
     [r"client: disconnected \(host not found\)$", "client: the bot stops"], "timeout", 1),
    ("Escape while connecting", ["-mod", KEYS, "-join", SILENT, "-keys", "1 Escape"],
     ["keys: Escape$", "client: connecting given up$", "screen: join$"], "no answer"),
    # Join menu, two characters off the address, Ctrl+V, back, the title's JOIN again, the menu's JOIN.
    ("typed address and title entry kept, Ctrl+V", ["-mod", KEYS, "-keys", "0.3 Down, 0.3 Down, 0.4 Return, "
     "0.5 Backspace, 0.5 Backspace, 0.6 ctrl+V, 0.7 Escape, 0.8 Return, 0.9 Down, 1 Return"],
     [r"keys: ctrl\+V$", "screen: menu$", "screen: join$", r"client: connecting to 127\.0\.0\.1:77$"], "IndexError"),
    ("Return in the address field joins", ["-mod", KEYS, "-keys", "0.3 Down, 0.3 Down, 0.4 Return, 0.6 Return"],
     ["screen: join$", r"client: connecting to 127\.0\.0\.1:7777$"], "Lua error"),
    ("back from Options, OPTIONS still chosen", ["-mod", KEYS, "-keys", "0.3 Down, 0.3 Down, 0.3 Down, 0.4 Return, "
     "0.5 Escape, 0.6 Return"], ["screen: options$", "screen: menu$", "keys: Return$", "screen: options$"],
     "screen: play"),
]


def test_hostile_and_endings():
    # Each row has its own server on its own port: they run side by side to keep the test short.
    k.parallel([lambda row=row: hostile_row(*row) for row in HOSTILE] + [ending_rows, three_players] +
               [lambda row=row: k.expect(*row) for row in JOIN_ROWS])


if __name__ == "__main__":
    test_coop()
    test_hostile_and_endings()
    cross_rows()
    k.finish()
