"""Start-up benchmark: time from process start to the first frame of the title colour on the X screen, and the
peak resident memory a second later. Run by game_start.sh under Xvfb: game_start.py <runs> <cwd> <command...>.
KIV_BENCH_LABEL names the line (else the command's name); KIV_BENCH_BEFORE is a shell command run before each start,
outside the time measured."""
import ctypes
import os
import subprocess
import sys
import time

x11 = ctypes.CDLL("libX11.so.6")
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XDefaultRootWindow.restype = ctypes.c_ulong
x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x11.XGetImage.restype = ctypes.c_void_p
x11.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                          ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
x11.XGetPixel.restype = ctypes.c_ulong
x11.XGetPixel.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int]
x11.XDestroyImage = None  # a macro in Xlib; the images of one pixel are left to the process end
TITLE = 0x0C1018


def pixel(dpy, root, x, y):
    img = x11.XGetImage(dpy, root, x, y, 1, 1, 0xFFFFFFFF, 2)  # ZPixmap
    return x11.XGetPixel(img, 0, 0) & 0xFFFFFF if img else -1


def peak_kb(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0


def main():
    runs, cwd, cmd = int(sys.argv[1]), sys.argv[2], sys.argv[3:]
    dpy = x11.XOpenDisplay(None)
    root = x11.XDefaultRootWindow(dpy)
    times, peaks = [], []
    label = os.environ.get("KIV_BENCH_LABEL") or os.path.basename(cmd[0])
    before = os.environ.get("KIV_BENCH_BEFORE")
    for _ in range(runs):
        if before:
            subprocess.run(before, shell=True, check=True)
        t0 = time.monotonic()
        p = subprocess.Popen(cmd, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        seen = None
        while time.monotonic() - t0 < 20:
            if pixel(dpy, root, 170, 150) == TITLE:  # 10, 10 inside a centred 480 by 320 window
                seen = time.monotonic() - t0
                break
            time.sleep(0.001)
        time.sleep(1.0)
        peaks.append(peak_kb(p.pid) if p.poll() is None else 0)
        p.kill()
        p.wait()
        if seen is None:
            print("%-8s no first frame within 20 s" % label)
            return
        times.append(seen * 1000)
        time.sleep(0.3)  # the screen goes back to black before the next start
    times.sort()
    print("%-8s first frame median %7.1f ms (min %7.1f)   peak RSS median %7.1f MB" %
          (label, times[len(times) // 2], times[0], sorted(peaks)[len(peaks) // 2] / 1024))


main()
