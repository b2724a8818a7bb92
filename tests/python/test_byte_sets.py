"""find_any, rfind_any, find_not_any and rfind_not_any against their plain definitions."""

import array
import contextlib

import pytest
import qarvo
from conftest import error_of, examples

hypothesis = pytest.importorskip("hypothesis")
from hypothesis import HealthCheck, given, settings  # noqa: E402
from hypothesis import strategies as st  # noqa: E402

np = pytest.importorskip("numpy")

FUNCTIONS = [qarvo.find_any, qarvo.rfind_any, qarvo.find_not_any, qarvo.rfind_not_any]


def adjusted(start, end, n):
    end = n if end is None or end > n else (max(end + n, 0) if end < 0 else end)
    start = 0 if start is None else (max(start + n, 0) if start < 0 else start)
    return start, end


def reference(data, members, start=None, end=None):
    """The four answers from a copy of the window in which each member byte is 1 and
    every other byte 0, searched for 1 and 0 from either end by bytes' own methods."""
    lo, hi = adjusted(start, end, len(data))
    marks = bytes(data[lo:hi]).translate(bytes(b in members for b in range(256)))

    def offset(i):
        return None if i < 0 else lo + i

    return [offset(f(mark)) for mark in (1, 0) for f in (marks.find, marks.rfind)]


def check(haystack, data, byteset, start=None, end=None):
    members = set(bytes(byteset))
    got = [fn(haystack, byteset, start, end) for fn in FUNCTIONS]
    assert got == reference(data, members, start, end), (data, sorted(members), start, end)


quick = settings(
    max_examples=examples(300),
    deadline=None,
    derandomize=True,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large],
)

# Sets of every size, and sets whose members share a low or a high nibble: the
# usual faults of nibble-indexed table lookups.
sets = st.one_of(
    st.lists(st.integers(0, 255), max_size=8),
    st.lists(st.integers(0, 255), min_size=8, max_size=256),
    st.integers(0, 15).map(lambda low: [h * 16 + low for h in range(16)]),
    st.integers(0, 15).map(lambda high: [high * 16 + low for low in range(16)]),
    st.integers(0, 255).map(lambda skip: [b for b in range(256) if b != skip]),
    st.just(list(range(256))),
    st.just([0x00, 0x80, 0xFF]),
)
bounds = st.one_of(st.none(), st.integers(-300, 300))


@quick
@given(st.data())
def test_every_function_matches_a_plain_scan(data):
    members = data.draw(sets)
    pool = sorted(set(members)) + [data.draw(st.integers(0, 255)) for _ in range(3)]
    haystack = bytes(data.draw(st.lists(st.sampled_from(pool), max_size=300)))
    byteset = data.draw(st.sampled_from([bytes, list, bytearray, tuple]))(members)
    check(haystack, haystack, byteset, data.draw(bounds), data.draw(bounds))


@pytest.mark.parametrize(
    "kind",
    [
        bytes,
        bytearray,
        lambda d: memoryview(b"<" + d + b">")[1:-1],
        lambda d: np.frombuffer(d, np.uint8),
        lambda d: array.array("B", d),
    ],
    ids=["bytes", "bytearray", "memoryview-slice", "numpy", "array"],
)
def test_every_haystack_kind(kind):
    data = b"key = value, other=1;\t\n" * 40
    for members in (b"=", b",;", b" \t\n", b"=,; \t\n", bytes(range(97, 123)), b""):
        check(kind(data), data, members)
        check(kind(data), data, members, 5, -5)


@pytest.mark.parametrize("size", [1, 2, 3, 4, 5, 8, 16, 17, 64, 200, 255, 256])
def test_one_member_planted_at_block_boundaries(size):
    members = bytes(range(256 - size, 256))  # the set; the background is 0x00
    inside = members[0]
    for n in (15, 16, 17, 31, 32, 33, 63, 64, 65, 127, 128, 255, 256, 257, 1023, 1024, 1025):
        for at in sorted({0, 1, n // 2, n - 2, n - 1}):
            data = bytearray(n)
            data[at] = inside
            data = bytes(data)
            check(data, data, members)
            check(data, data, members, at + 1)  # just past it
            check(data, data, members, None, at)  # just before it


WINDOWS = [
    bytes([0x00, 0x3F]),
    bytes([0x30, 0x4F, 0x6F]),
    bytes(range(0x41, 0x5B)),
    b"\xf0\xf7\xff",
]


@pytest.mark.parametrize("complemented", [False, True])
@pytest.mark.parametrize("window", WINDOWS, ids=lambda w: f"{w[0]:#04x}-{w[-1]:#04x}")
def test_sets_within_64_values_over_long_ranges(window, complemented):
    # Sets whose members (or non-members) lie within 64 values take a bit lookup
    # on some CPUs: every other byte value in the background, including those whose
    # offset from the window's start wraps past 0xFF, and one member planted.
    members = bytes(b for b in range(256) if (b in window) != complemented)
    outside = bytes(b for b in range(256) if b not in members)
    background = (outside * (5000 // len(outside) + 1))[:5000]
    for at in (0, 63, 64, 511, 512, 2047, 4999):
        data = bytearray(background)
        data[at] = members[-1]
        data = bytes(data)
        check(data, data, members)
        check(data, data, members, at + 1)
        check(data, data, members, 3, at)


def test_long_ranges_give_the_same_answers():
    data = bytearray(b"a" * (1 << 20))
    data[5] = data[-7] = ord("<")
    data = bytes(data)
    check(data, data, b"<>&")
    check(data, data, b"a")
    check(bytearray(data), data, b"a<", 6, -8)


@pytest.mark.parametrize("delta", [-1, 0, 1])
def test_long_ranges_answer_on_either_side_of_the_part_searched_with_the_lock_held(delta):
    """A range past 256 KiB is searched first in the 256 KiB where the search starts (the
    first, or the last from the end) with the interpreter lock held, then in the rest
    without it: members planted just inside and just outside that part, from both ends,
    and within a window that starts or ends elsewhere."""
    near = 256 * 1024
    data = bytearray(b"a" * (near + 100_000))
    for at in (near + delta, len(data) - near - 1 + delta):
        data[at] = ord("<")
    data = bytes(data)
    check(data, data, b"<")
    check(data, data, b"<>", 3, -3)
    check(data, data, b"a", 0, near + 5)
    check(memoryview(data)[10:], data[10:], b"<")


@pytest.mark.parametrize("n", [(2 << 20) - 1, 2 << 20, (2 << 20) + 65])
def test_a_set_of_one_byte_is_searched_as_that_byte_on_either_side_of_two_mebibytes(n):
    """A set given as one byte takes the byte search, whose loop changes at 2 MiB on
    some CPUs; a set of the same byte given twice, and one of two bytes, keep the set
    search. The member absent, at either end, in the middle and in the last vector."""
    for places in ([], [0], [n - 1], [n // 2, n - 40], [n - 64]):
        data = bytearray(b"." * n)
        for at in places:
            data[at] = ord("<")
        data = bytes(data)
        for byteset in (b"<", b"<<", b"<>", bytearray(b"<")):
            check(data, data, byteset)
        check(memoryview(data)[1:], data[1:], b"<", 0, -1)


def find_any(haystack, byteset, start=None, end=None):
    """A Python function of the same signature, for its binding messages."""


def test_errors():
    # The set is taken as search_n takes a needle; start and end as bytes.find takes them.
    for fn in FUNCTIONS:
        for byteset in ("ab", 5, [1, 300]):
            assert error_of(fn, b"abc", byteset) == error_of(qarvo.search_n, b"abc", byteset)
        assert error_of(fn, b"abc", b"a", "x") == error_of(b"abc".find, b"a", "x")
        assert error_of(fn, "abc", b"a") == error_of(qarvo.search_n, "abc", b"a")

    for args, kwargs in [((), {}), ((1,), {}), ((1, 2, 3, 4, 5), {}), ((1, 2), {"x": 1})]:
        with pytest.raises(TypeError) as model:
            find_any(*args, **kwargs)
        for fn in FUNCTIONS:
            with pytest.raises(TypeError) as info:
                fn(*args, **kwargs)
            assert str(info.value) == str(model.value).replace("find_any(", fn.__name__ + "(")


def test_buffers_are_released_on_every_path():
    hay = bytearray(b"abcabc")
    members = bytearray(b"c")
    for args in [(members,), (members, "x"), ("x",), ([1, 300],)]:
        for fn in FUNCTIONS:
            with contextlib.suppress(TypeError, OverflowError):
                fn(hay, *args)
            hay.append(0)  # BufferError if an export were left
            hay.pop()
            members.append(0)
            members.pop()


def test_the_plain_call_gives_what_the_general_steps_give():
    """f(haystack, bytes[, start[, end]]) with a bytes, bytearray or memoryview haystack
    skips binding and buffer requests; every other form of the same call (a keyword, a set
    given as a bytearray or list, a haystack of another type) takes the general steps, and
    the answers must not differ, nor the errors where the plain call declines."""
    data = bytes((i * 7 + 3) % 251 for i in range(300))
    byteset = bytes(data[k] for k in (40, 41, 200))
    for fn in FUNCTIONS:
        for bounds in [(), (None,), (41,), (-100,), (5, -5), (250, 10), (None, 2**70)]:
            want = fn(array.array("B", data), list(byteset), *bounds)
            for haystack in (data, bytearray(data), memoryview(data)):
                assert fn(haystack, byteset, *bounds) == want, (fn, bounds)
            names = ("start", "end")[: len(bounds)]
            assert fn(data, byteset, **dict(zip(names, bounds, strict=True))) == want
        assert error_of(fn, data, byteset, 1.5) == error_of(data.find, b"a", 1.5)
        view = memoryview(bytearray(data))
        view.release()
        assert error_of(fn, view, byteset) == error_of(qarvo.search_n, view, b"a")
        resizable = bytearray(data)
        fn(resizable, byteset)
        resizable.append(0)  # nothing left exported by the plain call
