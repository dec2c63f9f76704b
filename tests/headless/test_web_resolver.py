"""A web request to a name whose resolver never answers, inside a private network namespace whose resolv.conf
points at a loopback port that swallows every query: frames go on while the name is looked up, the request fails
with the lookup's log lines in order, and SIGTERM during a lookup under way ends the run within a second."""
import os
import re
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kivrun as k

HOST = "hang.example.test"
# Swallows the queries sent to 127.0.0.1:53 and ends with the run that started it.
DROPPER = ("import os, socket, time\ns = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)\n"
           "s.bind(('127.0.0.1', 53))\nopen(os.environ['BOUND'], 'w').close()\nparent = os.getppid()\n"
           "while os.getppid() == parent:\n    time.sleep(0.2)\n")


def namespace_wrapper(tmp):
    """An executable that runs the binary in its own user, mount and network namespace with that resolver."""
    with open(os.path.join(tmp, "resolv.conf"), "w") as f:
        f.write("nameserver 127.0.0.1\noptions timeout:2 attempts:2\n")
    with open(os.path.join(tmp, "dropper.py"), "w") as f:
        f.write(DROPPER)
    inner = ('mount --bind "$T/resolv.conf" /etc/resolv.conf && ip link set lo up || exit 97; '
             'BOUND="$T/bound" python3 "$T/dropper.py" & '
             'while [ ! -e "$T/bound" ]; do sleep 0.02; done; exec "$KIV_REAL" "$@"')
    path = os.path.join(tmp, "kivgame-netns")
    with open(path, "w") as f:
        f.write('#!/bin/sh\nexec unshare -rnm sh -c \'%s\' sh "$@"\n' % inner)
    os.chmod(path, 0o755)
    return path


def test_resolver():
    # A chroot (the fresh-root check) may make no user namespace: skipped there, as the unit tests' lookups are.
    if subprocess.run(["unshare", "-rnm", "true"], stderr=subprocess.DEVNULL).returncode != 0:
        print("skipped: no private namespace can be made here")
        sys.exit(77)
    tmp = tempfile.mkdtemp()
    real, k.KIVGAME = k.KIVGAME, namespace_wrapper(tmp)
    try:
        run = k.Live(["-mod", k.mod_path("web_resolver.lua"), "-host", HOST, "-every", "150"],
                     env={"T": tmp, "KIV_REAL": real}, cwd=tmp)
    finally:
        k.KIVGAME = real
    run.until(lambda l: re.search(r"web_loop 0x[0-9a-f]+: failure", l), "the request's failure")
    # The next request's lookup is under way once its first line is there.
    run.until(lambda l: len([x for x in run.lines if x.endswith("gethostbyname ...")]) > 1, "a second lookup")
    time.sleep(0.3)
    start = time.time()
    run.p.send_signal(signal.SIGTERM)
    try:
        run.p.wait(timeout=5)
    except subprocess.TimeoutExpired:
        pass
    took = time.time() - start
    code = run.stop()
    lines = run.lines
    k.check(took < 1.0, "SIGTERM", "the run ended within a second, took %.2f s" % took, lines)
    k.check(code == 0, "exit code", "0 after SIGTERM, saw %s" % code, lines)
    want = [r"gethostbyname \.\.\.$", r"gethostbyname\(%s\) == null; h_errno = -?\d+$" % re.escape(HOST),
            r"kiv_gethostbyname == null$", r"web_loop 0x[0-9a-f]+: failure$"]
    at = [next((i for i, l in enumerate(lines) if re.search(w, l)), -1) for w in want]
    k.check(-1 not in at and at == sorted(at), "lookup lines", "in order: %s" % want, lines)
    during = lines[at[0] + 1:at[1]]
    ticks = [l for l in during if l.startswith("$ tick ")]
    k.check(len(ticks) >= 3, "frames during the lookup", "at least 3 ticks, saw %d" % len(ticks), lines)
    # The request made again meanwhile joined the lookup under way.
    k.check(not any(l.endswith("gethostbyname ...") for l in during), "one lookup per name", "no second", lines)
    longest = [float(l.split()[3]) for l in lines if l.startswith("$ tick ")][-1]
    k.check(longest < 0.5, "frame steps", "no step of 500 ms or more, saw %.3f" % longest, lines)


if __name__ == "__main__":
    k.posix_only("the silent resolver lives in a private network namespace (unshare)")
    test_resolver()
    k.finish()
