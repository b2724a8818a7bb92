"""The shipped stubs give type checkers the signatures and int | None results."""

import re
import subprocess
import sys
import textwrap

import pytest

pytest.importorskip("mypy")

SNIPPETS = {}  # file name: source, filled below


@pytest.fixture(scope="module")
def mypy_output(tmp_path_factory):
    """mypy's report on every snippet, from one run (each start costs seconds)."""
    directory = tmp_path_factory.mktemp("typing")
    for name, source in SNIPPETS.items():
        (directory / name).write_text(source)
    result = subprocess.run(
        [sys.executable, "-m", "mypy", "--no-incremental", "--cache-dir", str(directory / "c")]
        + [str(directory / name) for name in SNIPPETS],
        capture_output=True,
        text=True,
        check=False,
    )
    return result.stdout


def report_on(output, name):
    """The lines of mypy's report about the snippet `name`."""
    return "\n".join(line for line in output.splitlines() if line.split(":")[0].endswith(name))


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


SNIPPETS["use_qarvo.py"] = SNIPPET


def test_mypy_sees_the_stubs(mypy_output):
    output = report_on(mypy_output, "use_qarvo.py")
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
    reveal_type(qarvo.find(b"aBc", b"b", ignore_case=True))
    reveal_type(qarvo.count(b"aBc", b"b", overlapping=True, ignore_case=True))
    reveal_type(qarvo.Finder(b"b", ignore_case=True).ignore_case)
    qarvo.find(b"abc", b"b", "1")
    qarvo.Finder(b"b", True)
    """
)


SNIPPETS["use_new.py"] = NEW_SNIPPET


def test_mypy_sees_the_new_searches(mypy_output):
    output = report_on(mypy_output, "use_new.py")
    revealed = re.findall(r'Revealed type is "([^"]+)"', output)
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
        "int | None",
        "int",
        "bool",
    ], output
    assert 'Argument 3 to "find" has incompatible type "str"' in output, output
    # ignore_case is keyword-only.
    assert 'Too many positional arguments for "Finder"' in output, output


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


SNIPPETS["use_multi.py"] = MULTI_SNIPPET


def test_mypy_sees_multi_finder(mypy_output):
    output = report_on(mypy_output, "use_multi.py")
    revealed = re.findall(r'Revealed type is "([^"]+)"', output)
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
    ], output
    assert 'Argument 2 to "find" of "MultiFinder" has incompatible type "str"' in output, output
