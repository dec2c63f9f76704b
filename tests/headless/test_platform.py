"""Platform verbs through the real binary, with the store platform down and signed in from KIV_PLATFORM_DIR."""
import os
import shutil
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kivrun as k


def read(d, *name):
    with open(os.path.join(d, *name)) as f:
        return f.read()


def test_modes():
    for signed_in in (False, True):
        d = tempfile.mkdtemp(prefix="kiv_platform_")
        env = {"TMPDIR": d}
        if signed_in:
            with open(os.path.join(d, "user.json"), "w") as f:
                f.write('{"id": "0xabc", "name": "Ann", "friends": []}')
            env["KIV_PLATFORM_DIR"] = d
        code, lines = k.run(["-mod", k.mod_path("platform.lua")], env=env, cwd=d)
        mode = "signed in" if signed_in else "down"
        user, products = ('"s:0000000000000abc"', '[{"id":480,"name":"Game"}]') if signed_in else ('""', "[]")
        for w in ("$ uuid=" + user, "$ products=" + products, "$ cloud=saved", "$ ticks=number", '$ shot=""'):
            k.check(code == 0 and w in lines, mode, "exit code 0 and " + repr(w), lines)
        if signed_in:
            k.check(any(l.endswith("social_login name: Ann, uuid: s:0000000000000abc") for l in lines),
                    "login logged", "the social_login line", lines)
            k.check(read(d, "remote", "cloud.txt") == "saved", "remote file", "saved", lines)
            k.check(read(d, "calls.log") == "overlay Friends\nstore 480 2\n", "calls.log",
                    "the overlay and the store page", [read(d, "calls.log")])
        else:
            k.check(read(d, "cloud.txt") == "saved", "document file", "saved", lines)
        k.check(not os.path.exists(os.path.join(d, "x.png")), mode + ": no screenshot", "no x.png", lines)
        shutil.rmtree(d)


if __name__ == "__main__":
    test_modes()
    k.finish()
