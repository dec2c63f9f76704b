"""Extension registry through the real binary: start-up order, and broken JSON arguments answered with null."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kivrun as k


def test_calls():
    code, lines = k.run(["-mod", k.mod_path("ext_registry.lua")])
    k.check(code == 0, "exit code", "0, saw %d" % code, lines)
    k.check("ext_social_init" in lines and "ext_web_init" in lines
            and lines.index("ext_social_init") < lines.index("ext_web_init"),
            "init order", "'ext_social_init' before 'ext_web_init'", lines)
    for name in ("stray", "extra", "phantom", "empty", "string", "deep"):
        k.check("$ %s=null" % name in lines, name, "'$ %s=null'" % name, lines)
    # The wrapped argument "[" + "]" + "]" fails at its third byte; "[[1]]]" at its sixth.
    k.check(any(l.endswith("JSON_parser_char: syntax error, byte 2") for l in lines), "stray closer logged",
            "a syntax error at byte 2", lines)
    k.check(any(l.endswith("JSON_parser_char: syntax error, byte 5") for l in lines), "extra closer logged",
            "a syntax error at byte 5", lines)
    k.check(any(l.endswith("JSON_parser_char: syntax error, byte 16") for l in lines), "nesting limit logged",
            "a syntax error at byte 16 (the seventeenth opening)", lines)
    k.check(any("IndexError: list index out of range" in l for l in lines), "empty argument",
            "the list index message", lines)
    k.check("$ alive" in lines, "mod still runs", "'$ alive'", lines)


if __name__ == "__main__":
    test_calls()
    k.finish()
