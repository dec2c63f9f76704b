"""The embedded game played over the network: a headless server and two bot clients on loopback for about 15 s.
The clients must join, see the same level, score and lives as the server at the same step, see the score and the
level change, and no script error may reach any log."""
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


if __name__ == "__main__":
    test_coop()
    k.finish()
