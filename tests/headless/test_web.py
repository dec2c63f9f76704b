"""Web requests through the real binary against a hostile loopback server and Python's http.server: exact
bodies as events, every misbehaviour ends its request with a log line, and no frame waits on the network."""
import os
import re
import socket
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import hostile_http
import kivrun as k


def free_tcp_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def test_hostile():
    port = hostile_http.start()
    files = tempfile.mkdtemp()
    with open(os.path.join(files, "f.bin"), "wb") as f:
        f.write(b"abc\x00def\r\n]=]x")
    plain = subprocess.Popen([sys.executable, "-u", "-m", "http.server", "0", "--bind", "127.0.0.1",
                              "--directory", files], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    try:
        files_port = re.search(rb"port (\d+)", plain.stdout.readline()).group(1).decode()
        code, lines = k.run(["-mod", k.mod_path("web.lua"), "-port", str(port), "-files", files_port,
                             "-refused", str(free_tcp_port()), "-frames", "300"])
    finally:
        plain.kill()
        plain.wait()
    k.check(code == 0, "exit code", "0, saw %d" % code, lines)
    for want in ("$ event bytewise 8 -", "$ event nul 9 exact", "$ event file 13 exact", "$ event forge 43 exact"):
        k.check(want in lines, want, "the line '%s'" % want, lines)
    events = [l for l in lines if l.startswith("$ event ")]
    k.check(all(re.match(r"\$ event (bytewise|nul|file|reset-after|forge|root) ", l) for l in events),
            "no other events", "events only for answers with status 200", lines)
    # A request without "path" asks for the root; the server answers its request line.
    k.check(any(l.endswith("ext_do_event: root, value=GET / HTTP/1.0") for l in lines), "default path",
            "the request line 'GET / HTTP/1.0'", lines)
    text = "\n".join(lines)
    for want in ("header longer than 65536 bytes", "answer larger than 33554432 bytes", "status = 404",
                 "status = 0", "kiv_gethostbyname == null"):
        k.check(want in text, want, "a line with '%s'" % want, lines)
    # The body's line ends and control bytes are escaped in the event's log line; no line of its own appears.
    k.check(not any(l.startswith("$ server:") for l in lines), "forged line",
            "no line written by the body", lines)
    forge = r"ext_do_event: forge, value=ok\n$ server: player 9 joined as 1\r\n\0\x1b[2J\x7f\\n"
    k.check(any(l.endswith(forge) for l in lines), "escaped body", "a line ending in " + forge, lines)
    failures = len([l for l in lines if re.search(r"web_loop 0x[0-9a-f]+: failure", l)])
    # reset before and during, refused, unresolvable, endless head and body; close may fail or end empty.
    k.check(failures >= 6, "failures logged", "at least 6 failure lines, saw %d" % failures, lines)
    longest = [float(l.split()[2]) for l in lines if l.startswith("$ longest ")]
    # A frame held by the network would wait for the silent server: a step of a second (the cap). The margin
    # below that is for a loaded machine; the sanitizer build's copy of the 32 MiB answer as it grows has been seen
    # to take 0.6 s there, still short of the cap.
    most = 0.95 if "ASAN_OPTIONS" in os.environ else 0.5
    k.check(longest and longest[0] < most, "frame steps", "no step of %.2f s or more, saw %s" % (most, longest),
            lines)


if __name__ == "__main__":
    test_hostile()
    k.finish()
