"""Shared fixtures and helpers for the Python suites of qarvo."""

import ctypes
import os
import subprocess
import sys

import pytest

_hooks_dir = os.environ.get("QARVO_TESTHOOKS_DIR")
if _hooks_dir and _hooks_dir not in sys.path:
    sys.path.insert(0, _hooks_dir)

import qarvo  # noqa: E402  (the hooks directory must be on sys.path first)

FUNCTIONS = (qarvo.search_one, qarvo.search_two, qarvo.search_three, qarvo.search_n)
FIXED_NEEDLE_FUNCTIONS = (qarvo.search_one, qarvo.search_two, qarvo.search_three)

# Under AddressSanitizer an allocation that cannot be satisfied ends the
# process inside the sanitizer's operator new, before any handler sees it.
UNDER_ASAN = "libasan" in os.environ.get("LD_PRELOAD", "")
# Under qemu (the aarch64 suites) every example costs ten to twenty times as
# much; the property tests then draw a tenth of their examples.
EMULATED = os.environ.get("QARVO_EMULATED") == "1"
# A run that repeats the suite on another build of the same code (another
# variant, interpreter or installed wheel) after one full run: the property
# tests draw a fifth of their examples there, since the same examples
# (derandomized) already passed on the first build and what differs between
# builds shows on any of them.
REPEAT = os.environ.get("QARVO_REPEAT") == "1"


def examples(full):
    """How many examples a property test draws here, `full` on the first run."""
    if EMULATED:
        return max(full // 10, 10)
    return max(full // 5, 10) if REPEAT else full


# Exact text of the module's own out-of-range error.
OUT_OF_RANGE = "out of range integral type conversion attempted"


def run_child(code, pythonpath, timeout=120):
    """Runs `code` in a new process of this interpreter with PYTHONPATH set; text output."""
    return subprocess.run(
        [sys.executable, "-c", code],
        capture_output=True,
        text=True,
        env=dict(os.environ, PYTHONPATH=pythonpath),
        check=False,
        timeout=timeout,
    )


class Index:
    """An integer that Python code converts (__index__), so threads can switch inside a call."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


def fresh(exc):
    """A new exception of the same type, arguments and cause as `exc`.

    Raising one stored exception again and again would leave the traceback of its last raise
    (and the frames in it, with their locals) reachable from the test's own objects, so the
    references counted after a run would depend on where that run stopped.
    """
    new = type(exc)(*exc.args)
    new.__cause__ = exc.__cause__
    return new


class Raises:
    """An element whose conversion to an integer raises the given exception (that very object)."""

    def __init__(self, exc):
        self.exc = exc

    def __index__(self):
        # A fresh traceback each time: re-raising one object would make its traceback grow.
        raise self.exc.with_traceback(None)


class RaisesFresh(Raises):
    """Raises a new exception like the given one each time: for counting references."""

    def __index__(self):
        raise fresh(self.exc)


def _import_hooks():
    try:
        import _qarvo_testhooks
    except ImportError:
        return None
    return _qarvo_testhooks


# The test-only extension (tests/hooks), built from the same binding sources;
# without it the tests of the fault paths cannot run.
HOOKS = _import_hooks()
HOOKS_MISSING = "_qarvo_testhooks is not built (set QARVO_TESTHOOKS_DIR)"


@pytest.fixture
def hooks():
    """The test-only extension built beside qarvo, or a skip when it is not built."""
    if HOOKS is None:
        pytest.skip(HOOKS_MISSING)
    return HOOKS


def pytest_report_header(config):
    if HOOKS is None:
        return "test-only extension: MISSING (tests that need it are listed below)"
    return f"test-only extension: {HOOKS.__file__}"


def pytest_collection_finish(session):
    """Says loudly, before any test runs, which tests a missing extension skips."""
    if HOOKS is not None:
        return
    needing = [item for item in session.items if "hooks" in getattr(item, "fixturenames", ())]
    by_file = {}
    for item in needing:
        by_file.setdefault(item.path.name, {}).setdefault(item.originalname, None)
    write = session.config.pluginmanager.get_plugin("terminalreporter").write_line
    write("!" * 78, red=True, bold=True)
    write(f"WARNING: {HOOKS_MISSING}; it SKIPS {len(needing)} tests:", red=True, bold=True)
    for name, tests in sorted(by_file.items()):
        write(f"  {name}: {', '.join(tests)}", red=True)
    write("Build the qarvo_testhooks target, as .ci/python-tests.sh does.", red=True)
    write("!" * 78, red=True, bold=True)


def naive_find(hay: bytes, needle: bytes) -> int | None:
    """First offset of `needle` in `hay`, by comparing the window at every offset in turn."""
    hay = bytes(hay)
    needle = bytes(needle)
    m = len(needle)
    for start in range(len(hay) - m + 1):
        if hay[start : start + m] == needle:
            return start
    return None


def needle_arg(fn, needle: bytes):
    """The needle argument that `fn` takes for the given bytes."""
    if fn is qarvo.search_one:
        return needle[0]
    return needle


def raised(exc_type, fn, *args, **kwargs) -> BaseException:
    """Calls fn, asserts that it raises exactly `exc_type`, and returns the exception."""
    with pytest.raises(BaseException) as info:
        fn(*args, **kwargs)
    assert type(info.value) is exc_type, f"{type(info.value).__name__}: {info.value}"
    return info.value


def expect_error(exc_type, message, fn, *args, **kwargs) -> BaseException:
    """Asserts that fn raises exactly `exc_type` with exactly `message`."""
    exc = raised(exc_type, fn, *args, **kwargs)
    assert str(exc) == message
    return exc


def error_of(fn, *args) -> tuple[type, str]:
    """Type and message of the error that the interpreter raises for fn(*args)."""
    try:
        fn(*args)
    except BaseException as exc:  # noqa: BLE001 - any error is the reference here
        return type(exc), str(exc)
    raise AssertionError(f"{fn!r} did not raise")


# The interpreter's own errors, taken from the running interpreter by making the same C API
# call that qarvo makes, so that the tests follow its wording from one version to the next.
_as_int = getattr(ctypes.pythonapi, "PyLong_AsInt", None) or ctypes.pythonapi._PyLong_AsInt
_as_int.argtypes = [ctypes.py_object]
_as_int.restype = ctypes.c_int
_get_buffer = ctypes.pythonapi.PyObject_GetBuffer
_get_buffer.argtypes = [ctypes.py_object, ctypes.c_void_p, ctypes.c_int]
_get_buffer.restype = ctypes.c_int
# PyBUF_FULL_RO: strides, shape and format, no write access.
_FULL_RO = 0x11C


def int_conversion_error(value) -> tuple[type, str]:
    """What the interpreter raises when converting `value` to a signed 32-bit C integer."""
    return error_of(_as_int, value)


def buffer_request_error(obj) -> tuple[type, str]:
    """What the interpreter raises when asked for a read-only buffer of `obj`."""
    view = ctypes.create_string_buffer(256)  # room for a Py_buffer
    try:
        _get_buffer(obj, ctypes.addressof(view), _FULL_RO)
    except BaseException as exc:  # noqa: BLE001 - any error is the reference here
        return type(exc), str(exc)
    ctypes.pythonapi.PyBuffer_Release(ctypes.c_void_p(ctypes.addressof(view)))
    raise AssertionError(f"{obj!r} exports a buffer")


# Needles each function refuses, with the exact error: (function, needle,
# exception type, message). One table for the suites that need a wrong needle.
NEEDLE_FAILURES = [
    (qarvo.search_one, 300, OverflowError, OUT_OF_RANGE),
    (qarvo.search_one, 1.5, TypeError, "argument 'needle': " + int_conversion_error(1.5)[1]),
    (
        qarvo.search_two,
        5,
        TypeError,
        "argument 'needle': 'int' object cannot be converted to 'Sequence'",
    ),
    (qarvo.search_two, [1, 2, 3], ValueError, "expected a sequence of length 2 (got 3)"),
    (qarvo.search_three, [1, 2], ValueError, "expected a sequence of length 3 (got 2)"),
    (qarvo.search_three, [1, 256, 1], OverflowError, OUT_OF_RANGE),
    (qarvo.search_n, "x", TypeError, "Can't extract `str` to `Vec`"),
    (qarvo.search_n, [Index(300)], OverflowError, OUT_OF_RANGE),
]
