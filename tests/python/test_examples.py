"""The examples do what they say: grep_fixed.py prints what grep -F prints, count_levels.py
counts what re finds."""

import importlib.util
import pathlib
import re
import shutil
import subprocess

import pytest

EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples"
GREP = shutil.which("grep")

LINES = [
    b"first line holds ERROR once",
    b"ERROR ERROR twice on one line",
    b"",
    b"no match here",
    b"error in lower case",
    b"\xd0\x9e\xd1\x88\xd0\xb8\xd0\xb1\xd0\xba\xd0\xb0 ERROR in Russian",
    b"ERR",
    b"ORERROR",
]


def run(*args):
    return subprocess.run(args, capture_output=True, check=False)


def load_example(name):
    found = importlib.util.spec_from_file_location(name, EXAMPLES / f"{name}.py")
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


grep_fixed = load_example("grep_fixed")


@pytest.mark.skipif(GREP is None, reason="needs grep")
@pytest.mark.parametrize("flags", [[], ["-n"], ["-c"], ["-i"], ["-n", "-i"]])
@pytest.mark.parametrize("literal", ["ERROR", "ERR", "line", "o", "not there", " "])
@pytest.mark.parametrize("ending", [b"\n", b""], ids=["newline-at-end", "no-newline-at-end"])
def test_grep_fixed_prints_what_grep_prints(tmp_path, capsysbinary, flags, literal, ending):
    path = tmp_path / "text"
    path.write_bytes(b"\n".join(LINES * 3) + ending)
    want = run(GREP, "-F", "-a", *flags, literal, str(path))
    status = grep_fixed.main([*flags, literal, str(path)])
    got = capsysbinary.readouterr()
    assert got.err == b""
    assert (status, got.out) == (want.returncode, want.stdout)


count_levels = load_example("count_levels")


@pytest.mark.parametrize("ignore_case", [False, True])
def test_count_levels_counts_what_re_finds(tmp_path, capsys, ignore_case):
    log = b"\n".join(LINES * 2 + [b"INFO start", b"WARNING: info DEBUGGING", b"warning"])
    path = tmp_path / "app.log"
    path.write_bytes(log)
    levels = ["ERR", "ERROR", "INFO", "WARNING", "DEBUG"]
    pattern = re.compile("|".join(levels).encode(), re.IGNORECASE if ignore_case else 0)
    want = dict.fromkeys(levels, 0)
    for match in pattern.finditer(log):
        want[match.group().upper().decode()] += 1
    assert count_levels.count_levels(log, levels, ignore_case) == want
    flags = ["-i"] if ignore_case else []
    assert count_levels.main([*flags, str(path), *levels]) == 0
    printed = [line.split() for line in capsys.readouterr().out.splitlines()]
    assert printed == [[level, str(count)] for level, count in want.items()]
    # ERR is listed before ERROR, so every ERROR counts as ERR.
    assert want["ERROR"] == 0 and want["ERR"] > 0
