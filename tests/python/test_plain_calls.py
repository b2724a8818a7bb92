"""The plain call, f(bytes, small int or exact bytes), against every other way in.

The module answers f(haystack, needle) with an exact `bytes` haystack and an
exact int or `bytes` needle without its general steps; these tests hold that
shortcut to exactly what the general steps give for the same data: the same
offsets at every position, and the same errors for every needle it refuses.
"""

import pytest
import qarvo
from conftest import FUNCTIONS, OUT_OF_RANGE, expect_error, naive_find, needle_arg

SIZES = [*range(0, 18), 31, 32, 33, 47, 63, 64, 65, 80]
HAYSTACK_KINDS = {
    "bytes": bytes,  # the plain call
    "bytearray": bytearray,  # the general steps, with a buffer request
    "memoryview": memoryview,
    "bytes-subclass": type("Bytes", (bytes,), {}),  # general steps, read in place
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
