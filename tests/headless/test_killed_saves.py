"""Saves killed mid-write: never a torn save, at most one temporary file, taken over by the next save."""
import os
import random
import shutil
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kivrun as k

SIZE = 2 * 1024 * 1024


def whole(path):
    data = open(path, "rb").read() if os.path.exists(path) else b""
    return len(data) == SIZE and data == data[:1] * SIZE


def test_killed_saves():
    folder = tempfile.mkdtemp(prefix="kiv_saves_")
    try:
        mod = k.mod_path("save_loop.lua")
        for i in range(15):
            run = k.Live(["-mod", mod], cwd=folder)
            run.until(lambda l: l == "$ saving", "the mod's first line")
            time.sleep(random.uniform(0.02, 0.25))
            run.stop()
            names = sorted(os.listdir(folder))
            k.check(names in (["big.sav"], [".big.sav.kivtmp", "big.sav"], [".big.sav.kivtmp"], []),
                    "kill %d: folder" % i, "the save and at most one temporary file", names)
            if "big.sav" in names:
                k.check(whole(os.path.join(folder, "big.sav")), "kill %d: save" % i, "one whole version", names)
        code, lines = k.run(["-mod", mod, "-once", "1"], cwd=folder)
        k.check("$ saved" in lines, "last save", "its line", lines)
        names = sorted(os.listdir(folder))
        k.check(names == ["big.sav"], "after a finished save", "only big.sav", names)
        k.check(whole(os.path.join(folder, "big.sav")), "after a finished save: contents", "one whole version", names)
    finally:
        shutil.rmtree(folder)


if __name__ == "__main__":
    try:
        test_killed_saves()
    except Exception as e:
        k.failures.append("test_killed_saves: %r" % e)
    k.finish()
