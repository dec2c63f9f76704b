"""Ctrl+C and Ctrl+Break from the console end the Windows build the orderly way, as SIGTERM does on Linux: the log
written before the event reaches the redirected output, the shutdown runs to its end, the exit status is 0.
Console events need a console and a Windows program to send them (kiv_console_ctrl.exe, built from
console_ctrl.cpp); off Windows the game runs under Wine in a pseudo-terminal, which gives Wine its console."""
import os
import shlex
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kivrun as k

HELPER = os.environ.get("KIV_CONSOLE_CTRL", "")
WINE = os.environ.get("KIV_WINE", "wine")

# name, event, expected exit status, log lines that must be there; Wine delivers no Ctrl+Break, Windows does.
CASES = [
    ("Ctrl+C", "c", 0, ["$ ready", "social_deinit"], True),
    ("Ctrl+Break", "break", 0, ["$ ready", "social_deinit"], False),
]


def skip(why):
    print("skipped: " + why)
    sys.exit(77)


def command(how, log, args):
    cmd = [HELPER, how, "$ ready", log, k.KIVGAME, "-headless"] + args
    if os.name == "nt":
        return cmd
    return ["script", "-qec", " ".join(shlex.quote(c) for c in [WINE] + cmd), os.devnull]


def test_console_ctrl():
    if not k.KIVGAME.lower().endswith(".exe"):
        skip("console control events are the Windows build's; the Linux build stops by signal (test_signals.py)")
    if not HELPER or not os.path.exists(HELPER):
        skip("no console event sender (KIV_CONSOLE_CTRL names kiv_console_ctrl.exe)")
    if os.name != "nt" and not (shutil.which(WINE) and shutil.which("script")):
        skip("neither Windows nor Wine with a pseudo-terminal (script) to run the Windows build")
    for name, how, status, want, on_wine in CASES:
        if os.name != "nt" and not on_wine:
            print("%s: not checked under Wine, which delivers no such event" % name)
            continue
        home = tempfile.mkdtemp(prefix="kiv_ctrl_")
        try:
            log = os.path.join(home, "out.txt")
            args = ["-mod", k.mod_path("signals.lua"), "-role", "idle"]
            subprocess.run(command(how, log, args), cwd=home, timeout=k.TIMEOUT, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            with open(log, encoding="utf-8", errors="replace") as f:
                lines = [l.rstrip("\r") for l in f.read().splitlines()]
            k.check(("exit status: %d" % status) in lines, name + ": exit status", status, lines)
            for w in want:
                k.check(any(l == w or l.endswith("] " + w) for l in lines), name + ": log", repr(w), lines)
        finally:
            shutil.rmtree(home)


if __name__ == "__main__":
    try:
        test_console_ctrl()
    except AssertionError as e:
        k.failures.append("test_console_ctrl: %s" % e)
    k.finish()
