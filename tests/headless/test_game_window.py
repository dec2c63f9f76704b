"""The embedded game in a real window under Xvfb: started with no -mod, driven by xdotool from the title menu into
the first level, whose wall and floor tiles must show at their places; F1 then lays the console over it and F1
hides it again; a bigger window shows the same level at a bigger scale."""
import ctypes
import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kivrun as k

BUILD = os.environ.get("KIV_BUILD_DIR", os.getcwd())


_x11 = ctypes.CDLL("libX11.so.6")
_x11.XOpenDisplay.restype = ctypes.c_void_p
_x11.XGetImage.restype = ctypes.c_void_p
_x11.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint, ctypes.c_uint,
                           ctypes.c_ulong, ctypes.c_int]
_x11.XGetPixel.restype = ctypes.c_ulong
_x11.XGetPixel.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int]
_dpy = None


def rgb(win, x, y):
    """The window's pixel at (x, y) as 0xRRGGBB, -1 when it cannot be read."""
    global _dpy
    _dpy = _dpy or _x11.XOpenDisplay(None)
    img = _x11.XGetImage(_dpy, int(win), x, y, 1, 1, 0xFFFFFFFF, 2)  # ZPixmap; a one-pixel image is not freed
    return _x11.XGetPixel(img, 0, 0) & 0xFFFFFF if img else -1


def wait_pixel(win, x, y, want, what, lines):
    seen = -1
    for _ in range(100):
        seen = rgb(win, x, y)
        if seen >= 0 and all(abs((seen >> s & 255) - (want >> s & 255)) <= 3 for s in (0, 8, 16)):
            return True
        time.sleep(0.1)
    k.check(False, what, "pixel (%d, %d) = %06x, saw %06x" % (x, y, want, seen), lines())
    return False


def test_menu_into_level():
    home = tempfile.mkdtemp(prefix="kiv_window_")
    if k.WRAPPER:
        # openbox hands the focus over itself: Wine's own answer to its WM_TAKE_FOCUS leaves it with openbox's
        # window at times.
        subprocess.run(k.WRAPPER + ["reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "UseTakeFocus", "/d",
                                    "N", "/f"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
    out = []

    def lines():
        return out

    # A window manager gives the focus and carries out the resize: without one, Wine 10 asks for a WM_STATE nobody
    # sets and takes the resize for a focus loss, and the game pauses itself over the level.
    with k.WindowManager():
        p = subprocess.Popen(k.WRAPPER + [k.KIVGAME, "-width", "480", "-height", "320"], cwd=BUILD,
                             env=k.window_env(home), stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        try:
            win = k.game_window(p.pid)
            # The view is 480 by 320, so window pixels are view units: the title's backdrop, then the first level's
            # top-left wall (a brick) and the floor inside it below the 32-pixel score line.
            if wait_pixel(win, 1, 33, 0x0C1018, "title menu shown", lines):
                # openbox gives the game the focus; the pointer then hovers PLAY (which focuses it), and a real
                # (XTEST) Return goes to the focused window.
                subprocess.run(["xdotool", "windowactivate", "--sync", win, "mousemove", "--window", win, "240",
                                "117", "sleep", "0.3", "key", "Return"], timeout=20)
                wait_pixel(win, 1, 33, 0x5A4A78, "level: wall tile", lines)
                wait_pixel(win, 102, 60, 0x1C2230, "level: floor tile", lines)
                # F1 lays the console over the level: black at 170 of 255 darkens the wall to a third.
                subprocess.run(["xdotool", "key", "F1"], timeout=20)
                wait_pixel(win, 1, 33, 0x1E1828, "console over the level", lines)
                subprocess.run(["xdotool", "key", "F1"], timeout=20)
                wait_pixel(win, 1, 33, 0x5A4A78, "console hidden again", lines)
                # A bigger window: the level goes on (the play screen restarts with its session) at twice the
                # scale.
                subprocess.run(["xdotool", "windowsize", win, "960", "640"], timeout=20)
                wait_pixel(win, 3, 67, 0x5A4A78, "resized: wall tile at twice the scale", lines)
                wait_pixel(win, 205, 121, 0x1C2230, "resized: floor tile at twice the scale", lines)
        finally:
            p.kill()
            out.extend(p.communicate(timeout=20)[0].decode("utf-8", "replace").splitlines())
    bad = [l for l in out if "Lua error" in l or "stack traceback" in l]
    k.check(not bad, "no script error", "none, saw %s" % bad[:3], out)


if __name__ == "__main__":
    k.under_xvfb(470, "1280x800")  # room for the doubled window: Windows grows none past the screen
    test_menu_into_level()
    k.finish()
