"""Headless crash policies (exit, restart, wait) and the reload of a changed script clearing the failure latch."""
import os
import shutil
import signal
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kivrun as k


def idx(lines, text):
    return lines.index(text) if text in lines else -1


def test_exit():
    code, lines = k.run(["-mod", k.mod_path("crash.lua"), "-crash", "exit"])
    k.check(code == 1, "exit: exit status after a script failure", "1, saw %d" % code, lines)
    k.check(idx(lines, "$ loop 2") >= 0, "exit: second loop ran", "'$ loop 2'", lines)
    k.check(idx(lines, "$ zorbit: ") > idx(lines, "$ loop 2"), "exit: report", "'$ zorbit: ' after '$ loop 2'", lines)
    k.check(any(l.startswith("$ [string \"crash.lua\"]:11: boom at two") for l in lines), "exit: message",
            "the error message with its position", lines)
    k.check("$ stack traceback:" in lines, "exit: traceback", "'$ stack traceback:'", lines)
    k.check(any(l.endswith("Lua error: 2") for l in lines), "exit: status line", "'Lua error: 2'", lines)
    k.check("$ loop 3" not in lines, "exit: no pass after the failure", "no '$ loop 3'", lines)


def test_restart():
    run = k.Live(["-mod", k.mod_path("crash.lua"), "-crash", "restart"])
    run.until(lambda l: l == "$ loop 2", "the failing pass")
    run.until(lambda l: l == "$ init", "_init again after the restart")
    run.until(lambda l: l == "$ loop 1", "a fresh mod counting from 1")
    run.stop()
    lines = run.lines
    k.check(lines.count("$ init script") == 2, "restart: script ran again", "two '$ init script'", lines)


def test_restart_backoff():
    """Quick failures restart after 1, 2, 4 ... s, each wait logged; a stop signal is served during a wait."""
    run = k.Live(["-mod", k.mod_path("crash.lua"), "-crash", "restart"])
    # Without POSIX signals (Wine) the run waits out the 8 s too and is killed after the fifth start, whose script
    # lines flush the shell's line of that wait; a kill during the wait would lose it.
    signals = not k.WRAPPER
    run.deadline = time.time() + k.TIMEOUT + (0 if signals else 30)
    starts = []
    while len(starts) < (4 if signals else 5):
        run.until(lambda l: l == "$ init", "start %d" % (len(starts) + 1))
        starts.append(time.time())
    if signals:
        time.sleep(0.5)  # inside the 8 s wait
        sent = time.time()
        run.p.send_signal(signal.SIGTERM)
        code = run.wait(10)
        ended = time.time()
    else:
        run.stop()
    lines = run.lines
    for i, wait in enumerate((1, 2, 4, 8)[:len(starts) - 1]):
        gap = starts[i + 1] - starts[i]
        k.check(gap >= wait * 0.9, "backoff: restart %d" % (i + 1), "after about %d s, saw %.2f s" % (wait, gap), lines)
    said = [l.split("] ", 1)[-1] for l in lines if "the mod failed; restarting it in" in l]
    k.check(said == ["the mod failed; restarting it in %d s" % w for w in (1, 2, 4, 8)], "backoff: log lines",
            "one line per restart with 1, 2, 4, 8 s, saw %s" % said, lines)
    if not signals:
        print("backoff: SIGTERM while waiting: not checked under %s, which has no POSIX signals (Ctrl+C: "
              "test_console_ctrl.py)" % os.path.basename(k.WRAPPER[0]))
        return
    k.check(code == 0, "backoff: SIGTERM while waiting", "exit status 0, saw %s" % code, lines)
    k.check(ended - sent < 5, "backoff: responsive while waiting", "an end within 5 s, saw %.1f s" % (ended - sent),
            lines)


def test_mod_folder():
    d = tempfile.mkdtemp(prefix="kiv_modfolder_")
    try:
        for arg in (d, d + "/"):
            code, lines = k.run(["-mod", arg])
            want = "-mod wants a script file, e.g. %s/main.lua" % d
            k.check(sum(1 for l in lines if l.endswith("] " + want)) == 1, "folder %s: line" % arg, repr(want), lines)
            k.check(not any("file missing" in l or "nil value" in l for l in lines), "folder %s: no misleading lines" % arg,
                    "no 'file missing' nor 'a nil value'", lines)
            k.check(code == 1, "folder %s: exit status" % arg, "1, saw %d" % code, lines)
    finally:
        shutil.rmtree(d)


# How the script changes while its failure is latched: a later time, or a rewrite 0.4 s after its load within the
# same second, with another size (file times are compared to the nanosecond, with the size).
RELOADS = [("a later time", False), ("the same second, another size", True)]


def test_wait_and_reload():
    for name, same_second in RELOADS:
        _wait_and_reload(name, same_second)


def _wait_and_reload(name, same_second):
    d = tempfile.mkdtemp(prefix="kiv_wait_")
    try:
        main = os.path.join(d, "crash.lua")
        shutil.copy(k.mod_path("crash.lua"), main)
        old = int(time.time()) - 10 + 0.1
        os.utime(main, (old, old))
        run = k.Live(["-mod", main])
        # The shell's own lines are not flushed on their own; the script's output lines are.
        run.until(lambda l: l == "$ stack traceback:", "the failure report")
        mark = len(run.lines)
        # A change at least two seconds old counts; the watcher looks once a second.
        t = time.time() - 3
        if same_second:
            with open(main, "a") as f:
                f.write("-- edited\n")
            t = old + 0.4
        os.utime(main, (t, t))
        run.until(lambda l: l == "$ init script", name + ": the script run again by the automatic reload")
        silent = [l for l in run.lines[mark:] if l.startswith("$ loop")]
        k.check(not silent, name + ": latched mod stays silent", "no loop lines before the reload", run.lines)
        run.until(lambda l: l == "$ loop 3", name + ": the revived mod's next pass")
        code = run.p.wait(timeout=k.TIMEOUT)
        run.stop()
        k.check(code == 0, name + ": exit after revival", "exit code 0, saw %d" % code, run.lines)
        k.check(any(l.endswith("reload...") for l in run.lines), name + ": reload line", "'reload...'", run.lines)
        k.check(sum(1 for l in run.lines if l.endswith("mods_reload: " + main)) == 2, name + ": mods_reload lines",
                "two 'mods_reload: <path>' lines", run.lines)
        k.check("$ init" in run.lines and run.lines.count("$ init") == 1, name + ": _init once",
                "one '$ init' (a reload keeps the state)", run.lines)
    finally:
        shutil.rmtree(d)


if __name__ == "__main__":
    for t in (test_exit, test_restart, test_restart_backoff, test_mod_folder, test_wait_and_reload):
        try:
            t()
        except AssertionError as e:
            k.failures.append("%s: %s" % (t.__name__, e))
    k.finish()
