"""A second interpreter in the same process is refused; the first one keeps working.

Each case runs in a fresh process: the first interpreter that imports the
module is recorded for the rest of the process.
"""

import importlib.util
import os
import textwrap

import pytest
import qarvo
from conftest import run_child

REFUSAL = (
    "qarvo modules do not yet support subinterpreters, "
    "see https://docs.python.org/3/c-api/init.html#sub-interpreter-support"
)

# Runs inside the second interpreter; its only way to report back is a file.
IMPORT_AND_REPORT = """
try:
    import qarvo
except ImportError as error:
    outcome = "ImportError: " + str(error)
except BaseException as error:
    outcome = type(error).__name__ + ": " + str(error)
else:
    outcome = "imported"
with open({path!r}, "w", encoding="utf-8") as report:
    report.write(outcome)
"""

LEGACY = """
import _testcapi
_testcapi.run_in_subinterp(code)
"""

# The isolated kind, under whichever name this Python offers it.
ISOLATED = """
try:
    from concurrent import interpreters
except ImportError:
    interpreters = None
if interpreters is not None:
    interpreters.create().exec(code)
else:
    try:
        import _interpreters as low_level
    except ImportError:
        import _xxsubinterpreters as low_level
    low_level.run_string(low_level.create(), code)
"""

# The first interpreter imports first, lets the second one try, then checks
# that it can still use the module and import it again.
DRIVER = """
import sys
import qarvo
code = {code!r}
{run}
print("search:", qarvo.search_one(b"abc", 99))
del sys.modules["qarvo"]
import qarvo as again
print("same module:", again is qarvo)
"""


def has_module(name):
    try:
        return importlib.util.find_spec(name) is not None
    except ImportError:
        return False


def run_second_interpreter(run, tmp_path):
    report = tmp_path / "second-interpreter.txt"
    code = IMPORT_AND_REPORT.format(path=str(report))
    script = DRIVER.format(code=code, run=textwrap.dedent(run))
    finished = run_child(script, os.path.dirname(qarvo.__file__))
    assert finished.returncode == 0, finished.stderr
    assert finished.stdout.splitlines() == ["search: 2", "same module: True"]
    return report.read_text(encoding="utf-8")


@pytest.mark.skipif(not has_module("_testcapi"), reason="needs _testcapi")
def test_legacy_subinterpreter_is_refused_with_the_fixed_message(tmp_path):
    assert run_second_interpreter(LEGACY, tmp_path) == "ImportError: " + REFUSAL


@pytest.mark.skipif(
    not any(
        has_module(name)
        for name in ("concurrent.interpreters", "_interpreters", "_xxsubinterpreters")
    ),
    reason="this Python offers no isolated subinterpreters",
)
def test_isolated_subinterpreter_is_refused(tmp_path):
    # Since 3.12 the import system refuses a single-phase module there by
    # itself; before that the module's own check does.
    assert run_second_interpreter(ISOLATED, tmp_path) in {
        "ImportError: " + REFUSAL,
        "ImportError: module qarvo does not support loading in subinterpreters",
    }
