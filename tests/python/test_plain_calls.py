"""The plain call, f(haystack, small int or exact bytes), against every other way in.

The module answers f(haystack, needle) with an exact `bytes`, `bytearray` or
`memoryview` haystack and an exact int or `bytes` needle without its general
steps; these tests hold that shortcut to exactly what the general steps give
for the same data: the same offsets at every position, the same errors for
every haystack and needle it refuses, and no buffer left exported.
"""

import mmap
import sys
from array import array

import pytest
import qarvo
from conftest import (
    FUNCTIONS,
    OUT_OF_RANGE,
    buffer_request_error,
    expect_error,
    naive_find,
    needle_arg,
)

try:
    import numpy as np
except ImportError:  # the views of numpy arrays are then left out
    np = None

SIZES = [*range(0, 18), 31, 32, 33, 47, 63, 64, 65, 80]
HAYSTACK_KINDS = {
    "bytes": bytes,  # the plain call
    "bytearray": bytearray,  # the general steps, with a buffer request
    "memoryview": memoryview,
    "bytes-subclass": type("Bytes", (bytes,), {}),  # general steps, read in place
    "bytearray-subclass": type("ByteArray", (bytearray,), {}),  # general steps, requested
}


def _data(size: int) -> bytes:
    return bytes((i * 7 + 3) % 251 for i in range(size))


@pytest.mark.parametrize("fn", FUNCTIONS, ids=lambda f: f.__name__)
@pytest.mark.parametrize("size", SIZES)
def test_every_position_and_absent_agree_with_a_scan(fn, size):
    m = {qarvo.search_one: 1, qarvo.search_two: 2, qarvo.search_three: 3}.get(fn, 5)
    data = _data(size)
    absent = bytes([255] * m)  # (i * 7 + 3) % 251 never reaches 251..255
    needles = [data[p : p + m] for p in range(size - m + 1)] + [absent]
    for needle in needles:
        expected = naive_find(data, needle)
        for kind, make in HAYSTACK_KINDS.items():
            assert fn(make(data), needle_arg(fn, needle)) == expected, (kind, needle)
        # search_n with the needle given as something other than exact bytes
        if fn is qarvo.search_n:
            assert fn(data, bytearray(needle)) == expected
            assert fn(data, list(needle)) == expected


# Offsets below 256 come back as kept int objects; from 256 on each call makes
# its own. Each offset is asked for twice, so that the first call (which keeps
# the int) and a later one (which hands out the kept one) are both checked.
@pytest.mark.parametrize("fn", FUNCTIONS, ids=lambda f: f.__name__)
def test_offsets_on_both_sides_of_the_kept_ints_are_exact(fn):
    m = {qarvo.search_one: 1, qarvo.search_two: 2, qarvo.search_three: 3}.get(fn, 5)
    data = bytearray(b"." * 300)
    for p in [*range(0, 8), *range(250, 262), 295]:
        data[p : p + m] = b"x" * m
        haystack = bytes(data)
        data[p : p + m] = b"." * m
        for _ in range(2):
            found = fn(haystack, needle_arg(fn, b"x" * m))
            assert type(found) is int and found == p == naive_find(haystack, b"x" * m)
            if p < 256:  # the interpreter's own cached small int
                assert found is int(str(p))


@pytest.mark.skipif(sys.version_info >= (3, 12), reason="small ints are immortal from 3.12 on")
def test_a_kept_offset_is_not_referenced_once_per_call():
    haystack = b"." * 200 + b"x"
    qarvo.search_one(haystack, ord("x"))  # the first call keeps the int
    kept = qarvo.search_one(haystack, ord("x"))
    before = sys.getrefcount(kept)
    results = [qarvo.search_one(haystack, ord("x")) for _ in range(100)]
    assert sys.getrefcount(kept) - before == 100  # one per result held, none kept per call
    del results
    assert sys.getrefcount(kept) == before


@pytest.mark.parametrize("kind", ["bytes", "memoryview", "bytearray"])
def test_search_n_needles_as_long_as_the_haystack_and_longer(kind):
    for size in range(0, 70):
        data = _data(size)
        haystack = HAYSTACK_KINDS[kind](data)
        assert qarvo.search_n(haystack, data) == 0  # as long: a match at 0
        assert qarvo.search_n(haystack, data + b"\0") is None  # the haystack, then one more
        assert qarvo.search_n(haystack, b"\0" + data) is None


# Around the edges of the inline int read: the byte range and, from CPython
# 3.12 on, the largest "compact" int (one 30-bit digit).
@pytest.mark.parametrize("value", [0, 1, 127, 128, 254, 255])
def test_search_one_bytes_in_range_are_found(value):
    haystack = bytes(range(256))
    assert qarvo.search_one(haystack, value) == value
    assert qarvo.search_one(bytearray(haystack), value) == value


@pytest.mark.parametrize(
    "value", [-1, -255, -256, 256, 511, 2**30 - 1, 2**30, -(2**30), 2**31 - 1, -(2**31)]
)
def test_search_one_out_of_range_ints_fail_the_same_on_every_haystack(value):
    for make in HAYSTACK_KINDS.values():
        expect_error(OverflowError, OUT_OF_RANGE, qarvo.search_one, make(b"\xff\x00"), value)


@pytest.mark.parametrize("value", [True, False])
def test_search_one_bool_needle_is_an_int(value):
    assert qarvo.search_one(b"\x00\x01", value) == int(value)


@pytest.mark.parametrize(("fn", "size"), [(qarvo.search_two, 2), (qarvo.search_three, 3)])
@pytest.mark.parametrize("length", [0, 1, 2, 3, 4])
def test_fixed_needles_of_other_lengths_fail_as_any_sequence_does(fn, size, length):
    if length == size:
        return
    message = f"expected a sequence of length {size} (got {length})"
    for needle in (b"a" * length, bytearray(b"a" * length), [97] * length):
        expect_error(ValueError, message, fn, b"aaaa", needle)


@pytest.mark.parametrize("fn", FUNCTIONS, ids=lambda f: f.__name__)
def test_keywords_and_extra_arguments_take_the_binder(fn):
    length = {qarvo.search_one: 1, qarvo.search_two: 2, qarvo.search_three: 3}.get(fn, 2)
    needle = needle_arg(fn, b"abca"[-length:])
    assert fn(haystack=b"abca", needle=needle) == fn(b"abca", needle)
    assert fn(b"abca", needle=needle) == fn(b"abca", needle)
    expect_error(
        TypeError,
        f"{fn.__name__}() takes 2 positional arguments but 3 were given",
        fn,
        b"abca",
        needle,
        needle,
    )


# ---------------------------------------------------------------- memoryviews
#
# A memoryview haystack is read in place only when its buffer request would
# succeed and pass every check; keywords always take the general steps, so
# f(haystack=view, needle=x) is the reference for f(view, x).

VIEW_SIZES = [0, 1, 2, 3, 7, 15, 16, 17, 32, 33, 64]
NOT_BYTES = "buffer contents are not compatible with u8"
NOT_CONTIGUOUS = "haystack buffer must be contiguous"


def _released(data: bytes) -> memoryview:
    view = memoryview(data)
    view.release()
    return view


def _mapped(data: bytes) -> mmap.mmap:
    mapped = mmap.mmap(-1, len(data))
    mapped.write(data)
    return mapped


def _views(data: bytes) -> dict:
    """Memoryviews whose bytes (where they have any) read as `data`."""
    n = len(data)
    views = {
        "of-bytes": memoryview(data),
        "of-bytearray": memoryview(bytearray(data)),
        "of-array-B": memoryview(array("B", data)),
        "sliced": memoryview(b"<" + data + b">")[1 : n + 1],
        "strided": memoryview(bytes(b for byte in data for b in (byte, 0)))[::2],
        "reversed": memoryview(data[::-1])[::-1],
        "cast-B": memoryview(data).cast("B"),
        "cast-c": memoryview(data).cast("c"),
        "cast-b": memoryview(data).cast("b"),
        "released": _released(data),
    }
    if n:
        views["of-mmap"] = memoryview(_mapped(data))
    if n and n % 2 == 0:
        views["two-rows"] = memoryview(data).cast("B", shape=[2, n // 2])
        views["cast-H"] = memoryview(data).cast("H")
    if n == 1:
        views["scalar"] = memoryview(data).cast("B", shape=[])
    if np is not None:
        views["numpy-uint8"] = memoryview(np.frombuffer(data, dtype=np.uint8))
        views["numpy-big-u1"] = memoryview(np.frombuffer(data, dtype=">u1"))
        views["numpy-bool"] = memoryview(np.frombuffer(data, dtype=np.bool_))
        views["numpy-gapped"] = memoryview(np.frombuffer(data + data, dtype=np.uint8)[::2])
        if n >= 4 and n % 2 == 0:  # two columns of n/2 bytes: Fortran order, not C
            views["numpy-transposed"] = memoryview(np.frombuffer(data, np.uint8).reshape(2, -1).T)
            views["numpy-gapped-rows"] = memoryview(
                np.frombuffer(data + data, np.uint8).reshape(2, -1)[:, ::2]
            )
    return views


def _general_steps(view: memoryview, needle: bytes):
    """What the general steps give for a valid needle: the offset, or the haystack's error."""
    try:
        layout = (view.ndim, view.itemsize, view.format, view.c_contiguous)
    except ValueError:
        return buffer_request_error(view)  # released: the request fails
    ndim, itemsize, fmt, contiguous = layout
    if ndim == 0:
        return BufferError, "shape is null"
    if itemsize != 1 or fmt not in ("B", "c", ">B"):
        return BufferError, NOT_BYTES
    if not contiguous and view.nbytes:  # the interpreter counts any empty buffer as contiguous
        return BufferError, NOT_CONTIGUOUS
    return naive_find(view.tobytes(), needle)


def _outcome(call):
    try:
        return call()
    except Exception as exc:  # noqa: BLE001 - the error is the outcome compared
        return type(exc), str(exc)


def _needles(fn, data: bytes) -> tuple[list[bytes], list]:
    """Every window of `data` and one absent needle; then needles the function refuses."""
    m = {qarvo.search_one: 1, qarvo.search_two: 2, qarvo.search_three: 3}.get(fn, 4)
    valid = [data[p : p + m] for p in range(len(data) - m + 1)] + [bytes([255] * m)]
    if fn is qarvo.search_one:
        refused = [300, -1, 1.5]
    elif fn is qarvo.search_n:
        refused = ["abcd", 1.5]
    else:
        refused = [b"a" * (m + 1), 1.5]
    return valid, refused


@pytest.mark.parametrize("fn", FUNCTIONS, ids=lambda f: f.__name__)
@pytest.mark.parametrize("size", VIEW_SIZES)
def test_memoryview_haystacks_give_what_the_general_steps_give(fn, size):
    data = _data(size)
    valid, refused = _needles(fn, data)
    for kind, view in _views(data).items():
        for needle in valid:
            arg = needle_arg(fn, needle)
            got = _outcome(lambda view=view, arg=arg: fn(view, arg))
            assert got == _general_steps(view, needle), (kind, needle)
            assert got == _outcome(lambda view=view, arg=arg: fn(haystack=view, needle=arg))
        for arg in refused:
            got = _outcome(lambda view=view, arg=arg: fn(view, arg))
            assert isinstance(got, tuple), (kind, arg)  # an error, whichever comes first
            assert got == _outcome(lambda view=view, arg=arg: fn(haystack=view, needle=arg))
        # No call left the buffer exported: a view with exports cannot be released.
        view.release()


@pytest.mark.parametrize("fn", FUNCTIONS, ids=lambda f: f.__name__)
def test_read_in_place_haystacks_stay_free_to_change(fn):
    needle = needle_arg(fn, b"cde"[: {qarvo.search_one: 1, qarvo.search_two: 2}.get(fn, 3)])
    grown = bytearray(b"abcdef")
    view = memoryview(grown)
    assert fn(view, needle) == 2
    view.release()
    grown += b"gh"  # a bytearray with exports refuses to resize
    assert fn(grown, needle) == 2
    grown.clear()
    assert fn(grown, needle) is None
    grown.extend(b"xxcdef")
    assert fn(grown, needle) == 2


@pytest.mark.skipif(sys.version_info < (3, 12), reason="__release_buffer__ arrived in 3.12")
@pytest.mark.parametrize("fn", FUNCTIONS, ids=lambda f: f.__name__)
def test_a_view_handed_to_release_buffer_is_refused_as_by_the_general_steps(fn):
    # The memoryview that __release_buffer__ gets for a bytearray subclass is
    # restricted: the interpreter refuses any new buffer request on it.
    needle = needle_arg(fn, b"abc"[: {qarvo.search_one: 1, qarvo.search_two: 2}.get(fn, 3)])
    outcomes = []

    class Exporter(bytearray):
        def __release_buffer__(self, view):
            outcomes.append(_outcome(lambda: fn(view, needle)))
            outcomes.append(_outcome(lambda: fn(haystack=view, needle=needle)))
            outcomes.append(buffer_request_error(view))

    with memoryview(Exporter(b"abc")):
        pass
    assert outcomes[0] == outcomes[1] == outcomes[2]
    assert outcomes[0][0] is ValueError
