"""The shipped stubs give type checkers the signatures and int | None results."""

import re
import subprocess
import sys
import textwrap

import pytest

pytest.importorskip("mypy")

SNIPPET = textwrap.dedent(
    """
    import qarvo
    reveal_type(qarvo.search_one(b"abc", 98))
    reveal_type(qarvo.search_n(bytearray(b"abc"), [98, 99]))
    reveal_type(qarvo.__version__)
    qarvo.search_two(b"abc", "bc")
    qarvo.search_one(b"abc")
    """
)


def test_mypy_sees_the_stubs(tmp_path):
    source = tmp_path / "use_qarvo.py"
    source.write_text(SNIPPET)
    result = subprocess.run(
        [
            sys.executable,
            "-m",
            "mypy",
            "--no-incremental",
            "--cache-dir",
            str(tmp_path / "cache"),
            str(source),
        ],
        capture_output=True,
        text=True,
        check=False,
    )
    output = result.stdout
    optional_int = re.findall(
        r'Revealed type is "(?:(?:builtins\.)?int \| None|Union\[builtins\.int, None\])"',
        output,
    )
    assert len(optional_int) == 2, output
    assert re.search(r'Revealed type is "(builtins\.)?str"', output), output
    # A str is not a sequence of integers, and a missing argument is caught.
    assert "search_two" in output and "incompatible type" in output, output
    assert 'Missing positional argument "needle"' in output, output


NEW_SNIPPET = textwrap.dedent(
    """
    import qarvo
    reveal_type(qarvo.find(b"abc", b"b", 1))
    reveal_type(qarvo.rfind(b"abc", 98, None, -1))
    reveal_type(qarvo.count(b"abc", b"b", overlapping=True))
    reveal_type(qarvo.find_all(b"abc", b"b")[0])
    reveal_type(next(qarvo.finditer(b"abc", [98])))
    reveal_type(qarvo.Finder(b"b").needle)
    qarvo.find(b"abc", b"b", "1")
    """
)


def test_mypy_sees_the_new_searches(tmp_path):
    source = tmp_path / "use_new.py"
    source.write_text(NEW_SNIPPET)
    result = subprocess.run(
        [
            sys.executable,
            "-m",
            "mypy",
            "--no-incremental",
            "--cache-dir",
            str(tmp_path / "c"),
            str(source),
        ],
        capture_output=True,
        text=True,
        check=False,
    )
    revealed = re.findall(r'Revealed type is "([^"]+)"', result.stdout)
    revealed = [
        r.replace("builtins.", "").replace("Union[int, None]", "int | None") for r in revealed
    ]
    assert revealed == [
        "int | None",
        "int | None",
        "int",
        "int",
        "int",
        "bytes",
    ], result.stdout
    assert 'Argument 3 to "find" has incompatible type "str"' in result.stdout, result.stdout


MULTI_SNIPPET = textwrap.dedent(
    """
    import qarvo
    finder = qarvo.MultiFinder([b"a", [98], 99], ignore_case=True)
    reveal_type(finder.find(b"abc", 1))
    reveal_type(finder.count(b"abc"))
    reveal_type(finder.find_all(b"abc"))
    reveal_type(next(finder.finditer(b"abc")))
    reveal_type(finder.needles)
    finder.find(b"abc", "1")
    """
)


def test_mypy_sees_multi_finder(tmp_path):
    source = tmp_path / "use_multi.py"
    source.write_text(MULTI_SNIPPET)
    result = subprocess.run(
        [
            sys.executable,
            "-m",
            "mypy",
            "--no-incremental",
            "--cache-dir",
            str(tmp_path / "c"),
            str(source),
        ],
        capture_output=True,
        text=True,
        check=False,
    )
    revealed = re.findall(r'Revealed type is "([^"]+)"', result.stdout)
    revealed = [
        r.replace("builtins.", "").replace("Union[tuple[int, int], None]", "tuple[int, int] | None")
        for r in revealed
    ]
    assert revealed == [
        "tuple[int, int] | None",
        "int",
        "list[tuple[int, int]]",
        "tuple[int, int]",
        "tuple[bytes, ...]",
    ], result.stdout
    assert 'Argument 2 to "find" of "MultiFinder" has incompatible type "str"' in result.stdout, (
        result.stdout
    )
