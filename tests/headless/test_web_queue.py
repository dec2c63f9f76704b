"""1,000 web requests queued at once against a slow loopback server, with the binary's file descriptors limited
to 256: every request ends with its event, none fails for want of a descriptor, and a save made meanwhile reads
back intact. Two large answers that trickle on leave room for ordinary ones."""
import os
import re
import resource
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import hostile_http
import kivrun as k

COUNT = 1000
FD_LIMIT = 256


def test_queue():
    port = hostile_http.start()
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    # The child inherits the limit at its start; this process (and the server thread) gets its own back at once.
    resource.setrlimit(resource.RLIMIT_NOFILE, (FD_LIMIT, hard))
    try:
        run = k.Live(["-mod", k.mod_path("web_queue.lua"), "-port", str(port), "-path", "/pause",
                      "-count", str(COUNT), "-start", "5", "-save", "1"], cwd=tempfile.mkdtemp())
    finally:
        resource.setrlimit(resource.RLIMIT_NOFILE, (soft, hard))
    limits = open("/proc/%d/limits" % run.p.pid).read()
    k.check(re.search(r"Max open files\s+%d " % FD_LIMIT, limits), "descriptor limit", "%d" % FD_LIMIT,
            limits.splitlines())
    ended = [0]

    def over(line):
        if "ext_do_event: done, value=ok" in line or re.search(r"web_loop 0x[0-9a-f]+: failure", line):
            ended[0] += 1
        return ended[0] == COUNT

    run.until(over, "all %d requests ended" % COUNT)
    events = len([l for l in run.lines if "ext_do_event: done, value=ok" in l])
    if events == COUNT:
        run.until(lambda l: l == "$ all answered", "the script's line after its last event")
    run.stop()
    lines = run.lines
    k.check(events == COUNT, "events", "%d, saw %d" % (COUNT, events), lines)
    k.check("$ save intact" in lines, "save made meanwhile", "'$ save intact'", lines)
    k.check(not any("Too many open files" in l for l in lines), "descriptors", "none run out", lines)
    waits = [l for l in lines if "web_queue: 32 exchanges open, later requests wait their turn" in l]
    k.check(len(waits) == 1, "waiting logged", "one line for the burst, saw %d" % len(waits), lines)


def test_beside_large():
    port = hostile_http.start()
    run = k.Live(["-mod", k.mod_path("web_queue.lua"), "-port", str(port), "-path", "/late", "-count", "5",
                  "-start", "5", "-lead", "/big-trickle"], cwd=tempfile.mkdtemp())
    run.until(lambda l: l == "$ all answered" or "failure" in l, "five answers beside two of 17 MiB")
    run.stop()
    k.check("$ all answered" in run.lines, "ordinary answers", "all five, none failed", run.lines)


if __name__ == "__main__":
    test_beside_large()
    test_queue()
    k.finish()
