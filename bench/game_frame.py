"""Frame-cost benchmark: the CPU time a windowed process spends per frame at 60 frames a second, read from
/proc/<pid>/stat over a stretch of seconds after it has settled (all its threads, the GL driver's included).
Run by game_frame.sh under Xvfb: game_frame.py <runs> <seconds> <cwd> <keys|-> <command...>; keys (xdotool key
names joined by commas) are sent once the window shows, to get from a menu into play."""
import os
import subprocess
import sys
import time

TICK = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICK  # utime, stime


def one(seconds, cwd, keys, cmd):
    p = subprocess.Popen(cmd, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        try:
            r = subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--pid", str(p.pid)],
                               stdout=subprocess.PIPE, timeout=30).stdout.split()
        except subprocess.TimeoutExpired:
            r = []
        if not r:
            return None
        time.sleep(1.5)
        if keys != "-":
            subprocess.run(["xdotool", "windowfocus", "--sync", r[0], "sleep", "0.3", "key"] + keys.split(","),
                           timeout=20)
        time.sleep(2.0)  # into play, textures loaded, caches warm
        c0, t0 = cpu_seconds(p.pid), time.monotonic()
        time.sleep(seconds)
        c1, t1 = cpu_seconds(p.pid), time.monotonic()
        return (c1 - c0) / (t1 - t0)
    finally:
        p.kill()
        p.wait()


def main():
    runs, seconds, cwd, keys, cmd = int(sys.argv[1]), float(sys.argv[2]), sys.argv[3], sys.argv[4], sys.argv[5:]
    shares = []
    for _ in range(runs):
        s = one(seconds, cwd, keys, cmd)
        if s is None:
            print("%-8s no window within 30 s" % os.path.basename(cmd[0]))
            return
        shares.append(s)
    shares.sort()
    med = shares[len(shares) // 2]
    print("%-8s %5.2f ms CPU per frame at 60 fps (%4.1f %% of a core; runs %s)" %
          (os.path.basename(cmd[0]), med * 1000 / 60, med * 100, " ".join("%.1f%%" % (s * 100) for s in shares)))


main()
