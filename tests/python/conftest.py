"""Shared fixtures and helpers for the Python suites of qarvo."""

import ctypes
import os
import sys

import pytest

_hooks_dir = os.environ.get("QARVO_TESTHOOKS_DIR")
if _hooks_dir and _hooks_dir not in sys.path:
    sys.path.insert(0, _hooks_dir)

import qarvo  # noqa: E402  (the hooks directory must be on sys.path first)

FUNCTIONS = (qarvo.search_one, qarvo.search_two, qarvo.search_three, qarvo.search_n)
FIXED_NEEDLE_FUNCTIONS = (qarvo.search_one, qarvo.search_two, qarvo.search_three)

# Exact text of the module's own out-of-range error.
OUT_OF_RANGE = "out of range integral type conversion attempted"


@pytest.fixture
def hooks():
    """The test-only extension built beside qarvo, or a skip when it is not built."""
    try:
        import _qarvo_testhooks
    except ImportError:
        pytest.skip("_qarvo_testhooks is not built (set QARVO_TESTHOOKS_DIR)")
    return _qarvo_testhooks


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
