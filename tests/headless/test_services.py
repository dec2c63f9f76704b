"""Headless services: command-line parameters, extension verbs, exit, loop time, binary-safe saves."""
import os
import shutil
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kivrun as k


def test_params():
    # The same mod by full path, and by bare name from its own directory (the working directory is its directory).
    for label, mod, cwd in [("full path", k.mod_path("params.lua"), None), ("bare name", "params.lua", k.MODS)]:
        code, lines = k.run(["-mod", mod, "-foo", "bar", "-platform", "X", "-n", "5"], cwd=cwd)
        k.check(code == 0, "params (%s): exit code" % label, "0, saw %d" % code, lines)
        for want in ["$ foo=bar string", "$ platform=Win32 string", "$ n=5 string", "$ headless=-mod string",
                     "$ vinfo=test-Desktop-Win32-Steamworks string", "$ speed=1 number", "$ ticks=1 number",
                     "$ view_scale=1 number"]:
            k.check(want in lines, "params (%s): %s" % (label, want), repr(want), lines)


def test_services():
    home = tempfile.mkdtemp(prefix="kiv_home_")
    try:
        saved = os.path.join(k.save_dir(home, "KivTest"), "kiv_save_test.bin")
        if os.path.exists(saved):  # a Wine prefix outlives one run
            os.remove(saved)
        code, lines = k.run(["-mod", k.mod_path("services.lua"), "-appid", "KivTest"], env=k.save_env(home), cwd=home)
        k.check(code == 0, "services: exit code", "0, saw %d" % code, lines)
        for want in ["$ md5=900150983cd24fb0d6963f7d28e17f72", "$ unknown=null", "$ save len=12 same=true",
                     "$ missing=[]", "$ require=false file missing", "$ font=0,0", "$ pass 1 dt 0.000000",
                     "$ after exit"]:
            k.check(want in lines, "services: " + want, repr(want), lines)
        k.check('$ ModsAPI::require("no_such_module") file missing' in lines, "services: missing script line",
                "the require log line", lines)
        passes = [l for l in lines if l.startswith("$ pass ")]
        k.check(len(passes) == 3, "services: exit ends the run after that pass", "3 passes, saw %d" % len(passes),
                lines)
        if len(passes) >= 2:
            dt = float(passes[1].split()[-1])
            k.check(0.0 < dt <= 1.0, "services: second dt", "0 < dt <= 1, saw %f" % dt, lines)
        data = open(saved, "rb").read() if os.path.exists(saved) else b""
        k.check(data == b"a\0b\r\n]=\n\xffend", "services: saved bytes", "the exact 12 bytes in " + saved,
                [repr(data)])
    finally:
        shutil.rmtree(home)


def test_default_embedded():
    # No -mod: the embedded main.lua runs the embedded game, which draws until it is stopped.
    run = k.Live([])
    run.until(lambda l: l == "$ screen: menu", "the embedded game's first line")
    run.stop()
    k.check(any(l.endswith("mods_reload: ../data/main.lua") or l.endswith("/main.lua") for l in run.lines),
            "embedded: main script path", "a mods_reload line for main.lua", run.lines)


def test_long_mod_path():
    long_path = "/tmp/" + "x" * 600 + ".lua"
    run = k.Live(["-mod", long_path])
    run.until(lambda l: l == "$ screen: menu", "the default game after the refused path")
    run.stop()
    k.check(any("-mod path longer than 511 bytes refused" in l for l in run.lines), "long -mod: refusal line",
            "a refusal log line", run.lines)
    k.check(not any(long_path[:100] in l for l in run.lines), "long -mod: never cut", "no part of the path used",
            run.lines)


def test_own_main():
    # A mod named main.lua, by path and by bare name from its folder: the author's file, not the embedded one.
    folder = k.mod_path("own_main")
    for label, mod, cwd in [("path", os.path.join(folder, "main.lua"), None), ("bare name", "main.lua", folder)]:
        code, lines = k.run(["-mod", mod], cwd=cwd)
        k.check("$ own main: kiv=table helper=folder" in lines, "own main.lua (%s)" % label, "its line", lines)
        k.check(code == 0, "own main.lua (%s): exit code" % label, "0, saw %d" % code, lines)


if __name__ == "__main__":
    for t in (test_params, test_services, test_default_embedded, test_long_mod_path, test_own_main):
        try:
            t()
        except Exception as e:
            k.failures.append("%s: %r" % (t.__name__, e))
    k.finish()
