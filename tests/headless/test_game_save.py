"""The embedded game's save file: a damaged one is ignored with one log line and left as it was; the game starts."""
import os
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kivrun as k

ROWS = [
    ("not JSON", "\x00\xffgarbage", "json: unexpected"),
    ("cut short", '{"options": {"sound": 0.5', "json: "),
    ("wrong shape", '{"options": {"sound": "loud"}, "scores": []}', "unexpected content"),
    ("scores not a list of records", '{"options": {"sound": 1, "music": 1, "full": false, "players": 1}, '
     '"scores": [7]}', "unexpected content"),
]


def test_damaged_saves():
    for name, text, why in ROWS:
        d = tempfile.mkdtemp(prefix="kiv_save_")  # a headless game saves in its working directory
        path = os.path.join(d, "kivgame_save.json")
        with open(path, "w", encoding="latin-1") as f:
            f.write(text)
        run = k.Live([], cwd=d)
        line = run.until(lambda l: l.startswith("$ save: ignoring damaged kivgame_save.json ("), name + ": log line")
        run.until(lambda l: l == "$ screen: menu", name + ": the title menu")
        run.stop()
        k.check(why in line, name + ": reason", repr(why), [line])
        k.check(not [l for l in run.lines if "Lua error" in l], name + ": no script error", "none", run.lines)
        with open(path, encoding="latin-1") as f:
            k.check(f.read() == text, name + ": file untouched", "the damaged text kept", run.lines)


if __name__ == "__main__":
    test_damaged_saves()
    k.finish()
