"""The embedded game's save file: a damaged one is ignored with one log line and left as it was; the game starts.
The demonstration (-bot 1 alone) leaves the best scores as they were, with or without initials, and starts again
after each game; from level 3 it wins, with no gem to take it starts again, and start values out of range are
logged."""
import json
import os
import re
import sys
import tempfile
import time

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


# Saved best scores below the demonstration's (30 on level 3 with one life), so keeping one would change them.
DEMO_ROWS = [
    ("scores with initials", [{"score": 20, "level": 2, "name": "ABC"}, {"score": 10, "level": 1, "name": "ZED"}]),
    ("scores from before initials", [{"score": 20, "level": 2}, {"score": 5, "level": 1}]),
    ("initials that are not three capitals", [{"score": 20, "level": 2, "name": "abcd"}, {"score": 9, "level": 1,
                                                                                         "name": 7}]),
]


def test_demonstration():
    runs = []
    for name, scores in DEMO_ROWS:
        d = tempfile.mkdtemp(prefix="kiv_demo_")
        text = json.dumps({"options": {"sound": 0.5, "music": 0.5, "full": False, "players": 1}, "scores": scores})
        with open(os.path.join(d, "kivgame_save.json"), "w") as f:
            f.write(text)
        run = k.Live(["-bot", "1", "-level", "3", "-lives", "1"], cwd=d)
        run.deadline = time.time() + 120  # two games of about 7 s each, on a loaded machine
        runs.append((name, d, text, run))
    for name, d, text, run in runs:
        for game in (1, 2):
            over = run.until(lambda l: re.match(r"\$ play: game (lost|won) with score \d+ on level 3$", l),
                             "%s: demonstration %d over" % (name, game))
            run.until(lambda l: l == "$ play: the demonstration starts again", name + ": starts again")
            run.until(lambda l: l == "$ play: level 3", name + ": on its level again")
        run.stop()
        k.check(int(over.split()[6]) > 20, name + ": a score that would be the best", "above 20", [over])
        k.check(not [l for l in run.lines if "screen: over" in l or "ignoring damaged" in l or "Lua error" in l],
                name + ": no end screen, no damaged save, no script error", "none", run.lines)
        with open(os.path.join(d, "kivgame_save.json")) as f:
            k.check(f.read() == text, name + ": best scores untouched", "the saved text kept", run.lines)


# name, command line, patterns of lines in their order, a text no line may hold, exit status, seconds
END_ROWS = [
    # About 21 s of play; the bot once stood still for good before the last gem, on a row two enemies patrol.
    ("level 3 with 9 lives is won", ["-bot", "1", "-level", "3", "-lives", "9"],
     [r"play: level 3$", r"play: game won with score \d+ on level 3$"], "scored nothing", None, 40),
    ("-level and -lives out of range", ["-bot", "1", "-level", "7", "-lives", "12"],
     ["game: -level wants 1 to 3, not 7; playing level 1$", "game: -lives wants 1 to 9, not 12; playing with 3 "
      "lives$", "play: level 1$"], "Lua error"),
    ("-level and -lives without -bot 1", ["-level", "3", "-lives", "9"],
     ["game: -level 3 not taken: it starts a demonstration only", "game: -lives 9 not taken", "screen: menu$"],
     "Lua error"),
    ("scoring nothing for its patience", ["-mod", k.mod_path("game_keys.lua"), "-bot", "1", "-patience", "0.5"],
     [r"play: the demonstration scored nothing on level 1 for 0\.5 s$", "play: the demonstration starts again$",
      "play: level 1$"], "Lua error"),
]


if __name__ == "__main__":
    test_damaged_saves()
    k.parallel([test_demonstration] + [lambda row=row: k.expect(*row) for row in END_ROWS])
    k.finish()
