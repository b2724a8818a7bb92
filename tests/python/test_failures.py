"""Internal faults, PanicException, pending errors and deferred releases.

The fault paths are reached through the test-only extension, which runs the
same failure machinery behind the same module boundary as qarvo itself.
"""

import ctypes
import io
import re
import sys
import threading
import types
import weakref
from array import array

import pytest
import qarvo

PANIC_DOC = (
    "\nThe exception raised when the native code of a Python extension module panics.\n\n"
    "Like SystemExit, this exception is derived from BaseException so that\n"
    "it will typically propagate all the way through the stack and cause the\n"
    "Python interpreter to exit.\n"
)
DEFAULT_FAULT_TEXT = "native code panicked"
BANNER = [
    "--- qarvo is resuming a panic after fetching a PanicException from Python. ---",
    "Python stack trace below:",
]
# The fault report names a native source location such as "failure.cpp:123".
SOURCE_LOCATION = re.compile(r"[\w.-]+\.(?:cpp|cc|cxx|hpp|h):\d+")


def raised_by(function, *args):
    try:
        function(*args)
    except BaseException as error:
        return error
    raise AssertionError(f"{function.__name__} did not raise")


def raise_it(error):
    def raiser():
        raise error

    return raiser


# -------------------------------------------------------------- faults --


@pytest.mark.parametrize(
    ("hook", "args", "message"),
    [
        ("fault_with_text", ("index out of bounds",), "index out of bounds"),
        (
            "fault_with_text",
            ("non-ASCII: \u00e9\u20ac\U0001f600",),
            "non-ASCII: \u00e9\u20ac\U0001f600",
        ),
        ("fault_with_fixed_text", (), "fixed fault text"),
        ("fault_with_value", (), DEFAULT_FAULT_TEXT),
    ],
)
def test_fault_becomes_panic_exception_with_its_message(hooks, capfd, hook, args, message):
    error = raised_by(getattr(hooks, hook), *args)
    assert type(error) is hooks.panic_exception_type()
    assert error.args == (message,)
    assert str(error) == message
    report = capfd.readouterr().err
    assert "thread" in report
    assert SOURCE_LOCATION.search(report)
    if hook != "fault_with_value":
        assert message in report


def test_panic_exception_type_attributes(hooks):
    panic = hooks.panic_exception_type()
    assert panic.__module__ == "qarvo_runtime"
    assert panic.__name__ == "PanicException"
    assert panic.__qualname__ == "PanicException"
    assert panic.__bases__ == (BaseException,)
    assert not issubclass(panic, Exception)
    assert panic.__doc__ == PANIC_DOC


def test_panic_is_not_caught_as_an_ordinary_exception(hooks):
    with pytest.raises(hooks.panic_exception_type()):
        try:
            hooks.fault_with_fixed_text()
        except Exception:
            pytest.fail("PanicException was caught by 'except Exception'")


def test_faults_share_one_exception_type(hooks):
    first = raised_by(hooks.fault_with_text, "first")
    second = raised_by(hooks.fault_with_value)
    third = raised_by(hooks.fault_with_fixed_text)
    assert type(first) is type(second) is type(third) is hooks.panic_exception_type()
    assert isinstance(first, BaseException)
    assert not isinstance(first, Exception)


# ------------------------------------- PanicException coming back in --


def lines_after_banner(stderr):
    lines = stderr.splitlines()
    assert lines[:2] == BANNER
    return lines[2:]


@pytest.mark.parametrize(
    "message", ["raised by Python code", "non-ASCII: \u00e9\u20ac", "lone \udcff surrogate"]
)
def test_panic_from_python_code_is_resumed_as_a_fresh_panic(hooks, capfd, message):
    panic = hooks.panic_exception_type()
    original = panic(message)
    error = raised_by(hooks.call_and_take, raise_it(original))
    assert type(error) is panic
    assert error is not original
    expected = message.encode("utf-8", "surrogatepass").decode("utf-8", "replace")
    assert error.args == (expected,)
    stderr = capfd.readouterr().err
    display = lines_after_banner(stderr)
    assert display[0] == "Traceback (most recent call last):"
    assert any("in raiser" in line for line in display)
    assert display[-1].startswith("qarvo_runtime.PanicException: ")
    if message.isprintable():
        assert display[-1] == "qarvo_runtime.PanicException: " + message
    # A resumed fault has no fault report of its own.
    assert not SOURCE_LOCATION.search(stderr)


def test_fault_raised_inside_a_callback_is_resumed(hooks, capfd):
    error = raised_by(hooks.call_and_take, lambda: hooks.fault_with_text("inner fault"))
    assert type(error) is hooks.panic_exception_type()
    assert error.args == ("inner fault",)
    stderr = capfd.readouterr().err
    # The inner fault reports once, when it is raised; then it is resumed.
    report, _, resumed = stderr.partition(BANNER[0])
    assert SOURCE_LOCATION.search(report)
    assert "inner fault" in report
    assert resumed.splitlines()[-1] == "qarvo_runtime.PanicException: inner fault"


def test_panic_whose_str_fails_is_resumed_with_a_fixed_message(hooks, capfd):
    class NoText:
        def __str__(self):
            raise RuntimeError("no text")

    error = raised_by(hooks.call_and_take, raise_it(hooks.panic_exception_type()(NoText())))
    assert type(error) is hooks.panic_exception_type()
    assert error.args == ("Unwrapped panic from Python code",)
    assert lines_after_banner(capfd.readouterr().err)[0] == "Traceback (most recent call last):"


def test_panic_subclass_and_ordinary_errors_pass_unchanged_and_silently(hooks, capfd):
    class SubPanic(hooks.panic_exception_type()):
        pass

    for original in (SubPanic("subclass"), ValueError("ordinary"), KeyboardInterrupt()):
        assert raised_by(hooks.call_and_take, raise_it(original)) is original
    assert capfd.readouterr() == ("", "")


def test_call_and_take_without_an_error_returns_the_result(hooks, capfd):
    result = object()
    assert hooks.call_and_take(lambda: result) is result
    assert capfd.readouterr() == ("", "")


# ------------------------------------------------------- pending errors --


def test_fetch_without_a_pending_exception_gives_system_error(hooks):
    error = raised_by(hooks.fetch_error_unset)
    assert type(error) is SystemError
    assert error.args == ("attempted to fetch exception but none was set",)


class Outer:
    class Inner:
        pass


def surrogate_qualname_instance():
    kind = type("Named", (), {})
    kind.__qualname__ = "\udcff"
    return kind()


@pytest.mark.parametrize(
    ("make_obj", "target", "type_text"),
    [
        (tuple, "PyList", "tuple"),
        (lambda: 1.5, "PyString", "float"),
        (Outer.Inner, "Sequence", "Outer.Inner"),
        (surrogate_qualname_instance, "Sequence", "<failed to extract type name>"),
    ],
)
def test_conversion_failure_message(hooks, make_obj, target, type_text):
    error = raised_by(hooks.conversion_failure, make_obj(), target)
    assert type(error) is TypeError
    assert error.args == (f"'{type_text}' object cannot be converted to '{target}'",)


class FailingInit(Exception):
    def __init__(self, *args):
        raise LookupError("cannot build")


@pytest.mark.parametrize(
    ("kind", "expected_kind", "expected_args"),
    [
        (ValueError, ValueError, ("a message",)),
        (KeyError, KeyError, ("a message",)),
        (KeyboardInterrupt, KeyboardInterrupt, ("a message",)),
        (FailingInit, LookupError, ("cannot build",)),
        (int, TypeError, ("exceptions must derive from BaseException",)),
        (ValueError("an instance"), TypeError, ("exceptions must derive from BaseException",)),
        ("not a type", TypeError, ("exceptions must derive from BaseException",)),
    ],
)
def test_lazy_errors_raise_and_normalise_alike(hooks, kind, expected_kind, expected_args):
    raised = raised_by(hooks.lazy_error, kind, "a message")
    normalised = hooks.normalize_lazy(kind, "a message")
    for error in (raised, normalised):
        assert type(error) is expected_kind
        assert error.args == expected_args


def test_normalising_builds_a_panic_exception_too(hooks):
    panic = hooks.panic_exception_type()
    error = hooks.normalize_lazy(panic, "built lazily")
    assert type(error) is panic
    assert error.args == ("built lazily",)


# --------------------------------------------------------- debug_render --


def test_debug_render_without_traceback(hooks):
    assert (
        hooks.debug_render(TypeError("x"))
        == "PyErr { type: <class 'TypeError'>, value: TypeError('x'), traceback: None }"
    )
    assert (
        hooks.debug_render(KeyError("k", 2))
        == "PyErr { type: <class 'KeyError'>, value: KeyError('k', 2), traceback: None }"
    )


def printed_traceback(traceback):
    """The traceback as the interpreter's own printer formats it."""
    printer = ctypes.pythonapi.PyTraceBack_Print
    printer.argtypes = [ctypes.py_object, ctypes.py_object]
    printer.restype = ctypes.c_int
    out = io.StringIO()
    assert printer(traceback, out) == 0
    return out.getvalue()


def quoted(text):
    assert not re.search(r"[\x00-\x08\x0b-\x1f\x7f]", text.replace("\r", ""))
    escaped = text.replace("\\", "\\\\").replace('"', '\\"')
    return '"' + escaped.replace("\n", "\\n").replace("\r", "\\r").replace("\t", "\\t") + '"'


def test_debug_render_with_traceback(hooks):
    error = raised_by(raise_it(ValueError('with "quotes"')))
    text = printed_traceback(error.__traceback__)
    assert text.startswith("Traceback (most recent call last):\n")
    assert "line " in text and "in raiser" in text
    assert hooks.debug_render(error) == (
        "PyErr { type: <class 'ValueError'>, value: ValueError('with \"quotes\"'), "
        f"traceback: Some({quoted(text)}) }}"
    )


def test_debug_render_of_an_unformattable_traceback(hooks, monkeypatch):
    class NotText(io.StringIO):
        def getvalue(self):
            return b"bytes, not str"

    reported = []
    monkeypatch.setattr(sys, "unraisablehook", reported.append)
    monkeypatch.setattr(io, "StringIO", NotText)
    error = raised_by(raise_it(ValueError("v")))
    rendering = hooks.debug_render(error)
    monkeypatch.undo()
    assert rendering == (
        "PyErr { type: <class 'ValueError'>, value: ValueError('v'), "
        f'traceback: Some("<unformattable {error.__traceback__!r}>") }}'
    )
    assert [report.object for report in reported] == [error.__traceback__]


def test_debug_render_of_an_unprintable_value(hooks, monkeypatch):
    class BadRepr(Exception):
        def __repr__(self):
            raise RuntimeError("no repr")

    reported = []
    monkeypatch.setattr(sys, "unraisablehook", reported.append)
    error = BadRepr()
    assert hooks.debug_render(error) == (
        f"PyErr {{ type: {BadRepr!r}, value: <unprintable BadRepr object>, traceback: None }}"
    )
    assert [(report.object, type(report.exc_value)) for report in reported] == [
        (error, RuntimeError)
    ]


# ----------------------------------------------- deferred releases, locks --


class Tracked:
    pass


@pytest.mark.parametrize(
    "next_entry",
    [
        lambda hooks: hooks.lock_depth(),
        lambda hooks: hooks.deferred_count(),
        lambda hooks: raised_by(hooks.fetch_error_unset),
    ],
    ids=["lock_depth", "deferred_count", "failing-entry"],
)
def test_release_on_a_foreign_thread_waits_for_the_next_entry(hooks, next_entry):
    tracked = Tracked()
    alive = weakref.ref(tracked)
    base = sys.getrefcount(tracked)
    assert hooks.release_from_foreign_thread(tracked) == 1
    assert sys.getrefcount(tracked) == base + 1
    # Each entry drains what earlier calls deferred: the count never piles up.
    assert hooks.release_from_foreign_thread(tracked) == 1
    assert sys.getrefcount(tracked) == base + 1
    del tracked
    assert alive() is not None
    next_entry(hooks)
    assert alive() is None
    assert hooks.deferred_count() == 0


@pytest.mark.parametrize("kind", [bytes, bytearray, memoryview], ids=lambda k: k.__name__)
@pytest.mark.parametrize(
    ("name", "needle", "expected"),
    [
        ("search_one", 0x64, 5),
        ("search_two", b"cd", 4),
        ("search_three", b"bcd", 3),
        ("search_n", b"abcd", 2),
        # f(bytes, bytes) of the later functions has a lane ahead of the
        # plain call's own; an int needle takes the plain call's.
        ("find", b"d", 5),
        ("find", b"cd", 4),
        ("rfind", b"x", 1),
        ("rfind", b"xxa", 0),
        ("rfind", 0x78, 1),
        ("count", b"x", 2),
        ("count", b"cd", 1),
    ],
)
def test_a_plain_call_drains_releases_waiting_from_a_foreign_thread(
    hooks, kind, name, needle, expected
):
    # The plain call f(haystack, needle) has a lane of its own past the
    # boundary's bookkeeping; with a release waiting it must still drain it.
    module = types.ModuleType("plain_calls")
    hooks.populate_module(module)
    search = getattr(module, name)
    haystack = kind(b"xxabcd")
    # The first result is converted inside the boundary (which drains); from
    # then on the int is kept and the lane alone answers.
    assert search(haystack, needle) == expected
    tracked = Tracked()
    alive = weakref.ref(tracked)
    assert hooks.release_from_foreign_thread(tracked) == 1
    del tracked
    assert alive() is not None
    assert search(haystack, needle) == expected
    assert alive() is None
    assert hooks.deferred_count() == 0


def test_lock_depth_counts_module_frames_on_this_thread(hooks):
    assert hooks.lock_depth() == 1
    assert hooks.call_and_take(hooks.lock_depth) == 2
    assert hooks.call_and_take(lambda: hooks.call_and_take(hooks.lock_depth)) == 3
    raised_by(hooks.fault_with_fixed_text)
    raised_by(hooks.call_and_take, raise_it(ValueError("x")))
    assert hooks.lock_depth() == 1
    on_other_thread = []
    worker = threading.Thread(target=lambda: on_other_thread.append(hooks.lock_depth()))
    worker.start()
    worker.join()
    assert on_other_thread == [1]


# ----------------------------------------- quiet ordinary failures of qarvo --


@pytest.mark.parametrize(
    "call",
    [
        lambda: qarvo.search_one(b"a"),
        lambda: qarvo.search_one(b"abc", 256),
        lambda: qarvo.search_one(b"abc", 1.5),
        lambda: qarvo.search_one(b"abc", 2**40),
        lambda: qarvo.search_one("abc", 97),
        lambda: qarvo.search_two(b"abc", b"abc"),
        lambda: qarvo.search_three(b"abc", [1, 2, 300]),
        lambda: qarvo.search_n(b"abc", "ab"),
        lambda: qarvo.search_n(memoryview(b"abcdef")[::2], b"a"),
        lambda: qarvo.search_one(array("H", [1, 2]), 1),
        lambda: qarvo.search_n(b"abc", b"a", 1),
        lambda: qarvo.search_two(b"abc", b"ab", size=2),
    ],
)
def test_ordinary_failures_write_nothing(capfd, call):
    error = raised_by(call)
    assert isinstance(error, Exception)
    assert capfd.readouterr() == ("", "")


def test_searches_write_nothing(capfd):
    assert qarvo.search_one(b"abc", 100) is None
    assert qarvo.search_n(b"abcabd", b"abd") == 3
    assert capfd.readouterr() == ("", "")


def test_foreign_exception_at_the_boundary_ends_the_process(hooks):
    # Run in a child: the process must abort with a report, not raise.
    import os
    import signal
    import subprocess

    code = "import _qarvo_testhooks as h; h.throw_foreign_exception()"
    env = dict(os.environ, PYTHONPATH=os.path.dirname(hooks.__file__))
    child = subprocess.run(
        [sys.executable, "-c", code], capture_output=True, text=True, env=env, check=False
    )
    assert child.returncode == -signal.SIGABRT, child
    assert "a foreign exception reached the module boundary" in child.stderr
    assert "Traceback" not in child.stderr
