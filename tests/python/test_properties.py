"""Results against a plain scan: random inputs and planted needles at every block boundary."""

import pytest
import qarvo
from conftest import examples

hypothesis = pytest.importorskip("hypothesis")
from hypothesis import HealthCheck, given, settings  # noqa: E402
from hypothesis import strategies as st  # noqa: E402

FIXED = {1: qarvo.search_one, 2: qarvo.search_two, 3: qarvo.search_three}


def find(data: bytes, needle: bytes):
    index = data.find(needle)
    return None if index < 0 else index


def call_fixed(haystack, needle: bytes):
    fn = FIXED[len(needle)]
    return fn(haystack, needle[0] if len(needle) == 1 else needle)


quick = settings(
    max_examples=examples(200),
    deadline=None,
    derandomize=True,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large],
)

# Small alphabets make occurrences, near misses and repeated bytes frequent.
alphabets = st.sampled_from([b"ab", b"abc", b"\x00\xff", b"\x00\x01\xfe\xff", bytes(range(256))])


@st.composite
def haystacks(draw):
    alphabet = draw(alphabets)
    if draw(st.integers(0, 9)) == 0:
        # Long haystacks around the larger block sizes: a uniform background with a few changes.
        n = draw(st.sampled_from(list(range(1015, 1035)) + list(range(4085, 4105))))
        data = bytearray([draw(st.sampled_from(alphabet))]) * n
        for _ in range(draw(st.integers(0, 6))):
            data[draw(st.integers(0, n - 1))] = draw(st.sampled_from(alphabet))
        return alphabet, bytes(data)
    return alphabet, bytes(draw(st.lists(st.sampled_from(alphabet), max_size=300)))


@st.composite
def haystack_and_needle(draw, min_size, max_size):
    alphabet, data = draw(haystacks())
    if data and draw(st.booleans()):
        # Take the needle from the haystack so that it is usually found.
        size = draw(st.integers(min_size, min(max_size, len(data))))
        if size >= min_size:
            start = draw(st.integers(0, len(data) - size))
            needle = data[start : start + size]
            if draw(st.booleans()) and needle:
                # A single changed byte: a near miss, found elsewhere or not at all.
                at = draw(st.integers(0, len(needle) - 1))
                changed = bytearray(needle)
                changed[at] = draw(st.sampled_from(alphabet))
                needle = bytes(changed)
            return data, needle
    needle = bytes(draw(st.lists(st.sampled_from(alphabet), min_size=min_size, max_size=max_size)))
    return data, needle


@quick
@given(haystack_and_needle(1, 3))
def test_fixed_functions_equal_find(case):
    data, needle = case
    assert call_fixed(data, needle) == find(data, needle)


@quick
@given(haystack_and_needle(0, 70))
def test_search_n_equals_find(case):
    data, needle = case
    assert qarvo.search_n(data, needle) == find(data, needle)


@quick
@given(haystack_and_needle(1, 3))
def test_short_search_n_equals_fixed_functions(case):
    data, needle = case
    assert qarvo.search_n(data, needle) == call_fixed(data, needle)
    assert qarvo.search_n(data, list(needle)) == call_fixed(data, tuple(needle))


@quick
@given(haystack_and_needle(0, 70), st.integers(0, 31), st.integers(0, 31))
def test_views_at_odd_offsets(case, before, after):
    data, needle = case
    backing = bytearray(b"\xaa" * before + data + b"\x55" * after)
    haystack = memoryview(backing)[before : before + len(data)]
    assert qarvo.search_n(haystack, needle) == find(data, needle)
    # The needle may sit at an odd address inside a larger buffer too.
    needle_view = memoryview(b"\x99" * after + needle)[after:]
    assert qarvo.search_n(haystack, needle_view) == find(data, needle)
    if 1 <= len(needle) <= 3:
        assert call_fixed(haystack, needle) == find(data, needle)


@quick
@given(st.binary(max_size=64), st.binary(max_size=8))
def test_any_bytes(data, needle):
    assert qarvo.search_n(data, needle) == find(data, needle)
    if 1 <= len(needle) <= 3:
        assert call_fixed(data, needle) == find(data, needle)


# ---- exhaustive: a needle planted at every position of every length ----------------------------

# Each needle differs from the background in one byte only, so every position of the
# background is a candidate that fails late; the lengths cover every search routine.
PLANTED = [
    (b"a", b"b"),
    (b"\xff", b"\x00"),
    (b"a", b"ab"),
    (b"\x00", b"\xff\x00"),
    (b"a", b"aab"),
    (b"a", b"aba"),
    (b"a", b"aaba"),
    (b"\xff", b"\xff\x00\xff\xff\xff"),
    (b"a", b"a" * 8 + b"b" + b"a" * 8),
    (b"x", b"needle in a haystack"),
]


def planted_positions(n: int, m: int):
    """Every position for short haystacks; near every 16-byte boundary and the end otherwise."""
    last = n - m
    if last < 0:
        return []
    if n <= 80:
        return range(last + 1)
    near_blocks = {p for p in range(last + 1) if p % 16 in (0, 1, 15)}
    tail = set(range(max(0, last - m - 16), last + 1))
    return sorted(near_blocks | tail | set(range(20)))


def check(haystack: bytes, needle: bytes):
    # bytes.find as the reference: the loops below make some hundred thousand
    # haystacks each, too many for a scan in Python under emulation.
    found = haystack.find(needle)
    expected = None if found < 0 else found
    assert qarvo.search_n(haystack, needle) == expected, (len(haystack), needle)
    if len(needle) <= 3:
        assert call_fixed(haystack, needle) == expected, (len(haystack), needle)
    return expected


@pytest.mark.parametrize(("background", "needle"), PLANTED, ids=lambda v: repr(v)[:20])
def test_planted_needle_at_every_boundary(background, needle):
    m = len(needle)
    for n in range(301):
        base = background * n
        assert check(base, needle) is None
        for p in planted_positions(n, m):
            assert check(base[:p] + needle + base[p + m :], needle) == p
        if n >= 2 * m:
            # Two occurrences: the lower one wins, wherever the second one is.
            for p in range(0, n - 2 * m + 1, 7):
                q = n - m
                hay = base[:p] + needle + base[p + m : q] + needle
                assert check(hay, needle) == p


@pytest.mark.parametrize(("background", "needle"), PLANTED[::2], ids=lambda v: repr(v)[:20])
def test_planted_needle_in_long_haystacks(background, needle):
    # The widest blocks only run on long haystacks: every 64-byte boundary, and the end.
    m = len(needle)
    for n in (1024, 1031, 4096, 4101):
        base = background * n
        assert check(base, needle) is None
        ends = set(range(n - m - 70, n - m + 1))
        for p in sorted({p for p in range(n - m + 1) if p % 64 in (0, 1, 63)} | ends):
            assert check(base[:p] + needle + base[p + m :], needle) == p
