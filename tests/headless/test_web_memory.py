"""40 web requests whose bodies never end: each fails at a limit, and the binary's peak memory stays under the
cap on the answers of all exchanges together plus a margin."""
import os
import re
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import hostile_http
import kivrun as k

COUNT = 40
ANSWERS_MAX = 64 << 20
# Lua, the log and the allocator: buffers grow in small steps (at most 256 KiB past their bytes), so a busy
# machine that ends and opens exchanges in another order leaves freed pieces the heap keeps (82-89 MiB above the
# start alone, 108 MiB seen under a parallel suite); the sanitizer build's shadow of the answers too.
MARGIN = 56 << 20


def peak(pid):
    text = open("/proc/%d/status" % pid).read()
    return int(re.search(r"VmHWM:\s+(\d+) kB", text).group(1)) << 10


def test_memory():
    port = hostile_http.start()
    # The sanitizer keeps freed blocks back for a while; the bound is on what the program holds.
    env = {"ASAN_OPTIONS": (os.environ.get("ASAN_OPTIONS", "") + ":quarantine_size_mb=0").lstrip(":")}
    run = k.Live(["-mod", k.mod_path("web_queue.lua"), "-port", str(port), "-path", "/endless-body",
                  "-count", str(COUNT), "-start", "60"], env=env, cwd=tempfile.mkdtemp())
    run.until(lambda l: l == "$ ready", "'$ ready'")
    base = peak(run.p.pid)
    failed = [0]

    # Each request fails with the line of the cap it met (the line that says the request failed may wait in the
    # output buffer for the next line).
    def over(line):
        if re.search(r"answers? (together )?larger than", line):
            failed[0] += 1
        return failed[0] == COUNT

    run.until(over, "all %d requests failed" % COUNT)
    top = peak(run.p.pid)
    print("peak %d MiB above the start" % ((top - base) >> 20))
    run.stop()
    lines = run.lines
    k.check("$ queued" in lines, "queued after the baseline", "'$ queued'", lines)
    k.check(top - base < ANSWERS_MAX + MARGIN, "peak memory",
            "under %d MiB above the start, saw %d MiB" % ((ANSWERS_MAX + MARGIN) >> 20, (top - base) >> 20), lines)
    k.check(not any("ext_do_event" in l for l in lines), "events", "none for a failed request", lines)
    k.check(any("answers together larger than 67108864 bytes" in l for l in lines), "total cap logged",
            "a line with 'answers together larger than 67108864 bytes'", lines)


if __name__ == "__main__":
    test_memory()
    k.finish()
