"""Shared fixtures and helpers for the Python suites of qarvo."""

import os
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

# Exact text of the module's own out-of-range error.
OUT_OF_RANGE = "out of range integral type conversion attempted"
# The interpreter's own message for an int outside the signed 32-bit range;
# "long" where the platform's C long is the 32-bit type.
INTERPRETER_INT_OVERFLOW = r"Python int too large to convert to C (int|long)"


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
