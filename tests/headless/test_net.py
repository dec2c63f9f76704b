"""Two engine processes in one session on loopback: a headless host and a client that sends binary messages and
gets them echoed, then leaves; the host sees connect, both messages and the disconnect."""
import os
import socket
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kivrun as k


def test_session():
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind(("127.0.0.1", 0))
    port = str(s.getsockname()[1])
    s.close()
    host = k.Live(["-mod", k.mod_path("net.lua"), "-role", "host", "-port", port])
    join = k.Live(["-mod", k.mod_path("net.lua"), "-role", "join", "-port", port])
    join.until(lambda l: l == "$ join echo exact", "the first echo")
    join.until(lambda l: l == "$ join echo exact", "the second echo")
    host.until(lambda l: l == "$ host disconnect 1 0", "the client's disconnect")
    for live, name in ((join, "join"), (host, "host")):
        live.p.wait(timeout=k.TIMEOUT)  # both end by themselves: the client after its close, the host after it
        code = live.stop()
        k.check(code == 0, name + " exit", "0, saw %s" % code, live.lines)
    k.check(host.lines.count("$ host message 1 8") == 2, "messages", "two messages of 8 bytes from peer 1",
            host.lines)
    k.check("$ host connect 1 0" in host.lines and "$ join connect 1 0" in join.lines, "ids",
            "id 1 on both sides", host.lines + join.lines)


if __name__ == "__main__":
    test_session()
    k.finish()
