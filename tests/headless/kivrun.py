"""Runs the real binary headless on a small mod and collects its standard output lines."""
import concurrent.futures
import os
import re
import select
import shutil
import socket
import subprocess
import sys
import tempfile
import time

KIVGAME = os.environ.get("KIVGAME", "")
# A command that starts the binary, such as tools/wine-run.sh for the Windows build; empty for the native one.
WRAPPER = os.environ.get("KIVGAME_WRAPPER", "").split()
# The host's native build beside a Windows one under Wine, for the tests that play one against the other.
NATIVE = os.environ.get("KIVGAME_NATIVE", "")
MODS = os.environ.get("KIV_TEST_MODS", "")
# Only a guard against hangs: a sanitizer build on a busy machine can take several seconds to start.
TIMEOUT = 30.0


def mod_path(name):
    return os.path.join(MODS, name)


def posix_only(why):
    """Skips a test of the Linux build's own mechanisms (signals, namespaces, ptrace) when the binary runs under
    a wrapper such as Wine."""
    if WRAPPER:
        print("skipped under %s: %s" % (os.path.basename(WRAPPER[0]), why))
        sys.exit(77)


def free_udp_port():
    """A loopback UDP port that was free a moment ago."""
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def save_env(home):
    """A run's environment that puts its per-user saves under home (Linux's XDG folder; Wine sets APPDATA from
    its prefix whatever the environment says, see save_dir)."""
    return {"HOME": home, "XDG_DATA_HOME": os.path.join(home, "share")}


def save_dir(home, game):
    """The folder where a run with save_env(home) keeps the saves of game: on Windows %APPDATA%\\game, asked of
    the wrapper's prefix."""
    if not WRAPPER:
        return os.path.join(home, "share", game)

    def ask(*args):
        p = subprocess.run(WRAPPER + list(args), stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=TIMEOUT)
        return p.stdout.decode("utf-8", "replace").strip()

    return os.path.join(ask("winepath", "-u", ask("cmd", "/c", "echo %APPDATA%")), game)


def under_xvfb(display, screen="800x600"):
    """Runs this script again inside its own Xvfb server when there is no display."""
    if not os.environ.get("DISPLAY"):
        os.execvp("xvfb-run", ["xvfb-run", "-a", "-n", str(display), "-s", "-screen 0 %sx24" % screen,
                               sys.executable] + sys.argv)


def game_windows(pid):
    """The visible windows of the game started as pid on this display, oldest first. Under Wine the pid is the
    wrapper's and Wine's windows carry another one (with helper windows of its own), so there the game's are the
    ones of the class Wine names after the program."""
    how = ["--classname", "^%s$" % re.escape(os.path.basename(KIVGAME))] if WRAPPER else ["--pid", str(pid)]
    r = subprocess.run(["xdotool", "search", "--onlyvisible"] + how, stdout=subprocess.PIPE,
                       stderr=subprocess.DEVNULL, timeout=20)
    return sorted(r.stdout.decode().split(), key=int)


def game_window(pid):
    """The game's newest visible window (a mode switch may have just made one), waiting for it; "0" when none
    shows in time."""
    deadline = time.time() + TIMEOUT
    while time.time() < deadline:
        wins = game_windows(pid)
        if wins:
            return wins[-1]
        time.sleep(0.1)
    return "0"


class WindowManager:
    """openbox on this display for the length of a with block."""

    def __enter__(self):
        # Its start-up command runs once it manages windows.
        self.dir = tempfile.mkdtemp(prefix="kiv_openbox_")
        ready = os.path.join(self.dir, "ready")
        self.p = subprocess.Popen(["openbox", "--sm-disable", "--startup", "touch '%s'" % ready],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.time() + TIMEOUT
        while not os.path.exists(ready):
            if self.p.poll() is not None or time.time() > deadline:
                self.__exit__()
                fail("openbox did not start managing the display")
            time.sleep(0.05)
        return self

    def __exit__(self, *exc):
        if self.p.poll() is None:
            self.p.terminate()
        self.p.wait(timeout=TIMEOUT)
        shutil.rmtree(self.dir, ignore_errors=True)


def window_env(home, **more):
    """A windowed run's environment: X11 with Mesa's software GL, its saves under home. A Windows build's SDL has
    no X11 driver of its own: under Wine it reaches X11 through Wine's."""
    return dict(os.environ, XDG_DATA_HOME=home, SDL_VIDEODRIVER="windows" if WRAPPER else "x11",
                LIBGL_ALWAYS_SOFTWARE="1", **more)


def run(args, timeout=TIMEOUT, env=None, cwd=None):
    """Runs to the end; returns (exit code, list of stdout lines)."""
    e = dict(os.environ)
    e.update(env or {})
    p = subprocess.run(WRAPPER + [KIVGAME, "-headless"] + args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                       timeout=timeout, env=e, cwd=cwd or tempfile.gettempdir())
    return p.returncode, p.stdout.decode("utf-8", "replace").splitlines()


class Live:
    """A running binary whose lines are read one at a time, for tests that act while it runs."""

    def __init__(self, args, env=None, cwd=None, window=False, wrapper=(), native=False):
        """wrapper: a command that starts the binary, such as ["timeout", "30"]; native: the host's own build
        (KIVGAME_NATIVE) instead, when the tested one runs under Wine."""
        e = dict(os.environ)
        e.update(env or {})
        binary = [NATIVE] if native else WRAPPER + [KIVGAME]
        self.p = subprocess.Popen(list(wrapper) + binary + ([] if window else ["-headless"]) + args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                  env=e, cwd=cwd or tempfile.gettempdir())
        self.lines = []
        self.buf = b""
        self.deadline = time.time() + TIMEOUT

    def until(self, pred, what):
        """Reads lines until pred(line) holds; fails the test when the run ends or the time is up first."""
        while True:
            while b"\n" in self.buf:
                raw, self.buf = self.buf.split(b"\n", 1)
                # The Windows build's console output ends its lines with CR LF.
                line = raw.decode("utf-8", "replace").rstrip("\r")
                self.lines.append(line)
                if pred(line):
                    return line
            left = self.deadline - time.time()
            if left <= 0:
                break
            ready, _, _ = select.select([self.p.stdout], [], [], left)
            if not ready:
                break
            chunk = os.read(self.p.stdout.fileno(), 65536)
            if not chunk:
                break
            self.buf += chunk
        self.stop()
        fail("expected %s, saw:\n%s" % (what, "\n".join(self.lines[-40:])))

    def wait(self, seconds=20):
        """Waits for the run to end by itself: its exit status, None when it still ran after seconds (then it is
        killed)."""
        try:
            self.p.wait(timeout=seconds)
        except subprocess.TimeoutExpired:
            self.stop()
            return None
        return self.stop()

    def stop(self):
        if self.p.poll() is None:
            self.p.kill()
        self.p.wait()
        rest = (self.buf + self.p.stdout.read()).decode("utf-8", "replace")
        self.buf = b""
        self.lines.extend(rest.splitlines())
        self.p.stdout.close()
        return self.p.returncode


failures = []


def fail(msg):
    raise AssertionError(msg)


def check(cond, name, expected, lines):
    if not cond:
        failures.append("%s: expected %s; output was:\n%s" % (name, expected, "\n".join(lines[-40:])))


def parallel(calls):
    """Runs the calls (functions of no argument) side by side; a failed one is noted and the others go on."""
    with concurrent.futures.ThreadPoolExecutor(len(calls)) as pool:
        for job in [pool.submit(c) for c in calls]:
            try:
                job.result()
            except AssertionError as e:
                failures.append(str(e))


def expect(name, args, want, never, status=None, seconds=TIMEOUT):
    """A table row: runs the binary until lines matching the patterns want (after "$ ") show in order, then stops
    it, or waits for its exit status when one is given; no line may hold the text never."""
    run = Live(args, cwd=tempfile.mkdtemp(prefix="kiv_row_"))
    run.deadline = time.time() + seconds
    for p in want:
        run.until(lambda l: re.match(r"\$ " + p, l), "%s: %s" % (name, p))
    code = run.wait() if status is not None else run.stop()
    check(status is None or code == status, name + ": exit status", status, run.lines + [str(code)])
    check(not [l for l in run.lines if never in l], name + ": no line with " + never, "none", run.lines)


def finish():
    if failures:
        for f in failures:
            print("FAIL " + f)
        sys.exit(1)
    print("all passed")
