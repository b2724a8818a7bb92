"""find, rfind, count, finditer and find_all against bytes' own methods and a plain scan."""

import array
import mmap

import pytest
import qarvo
from conftest import examples

hypothesis = pytest.importorskip("hypothesis")
from hypothesis import HealthCheck, given, settings  # noqa: E402
from hypothesis import strategies as st  # noqa: E402

np = pytest.importorskip("numpy")


def as_int(index):
    return None if index < 0 else index


def adjusted(start, end, n):
    """bytes.find's start and end: negatives count from the end, then clamp (start only below)."""
    end = n if end is None or end > n else (max(end + n, 0) if end < 0 else end)
    start = 0 if start is None else (max(start + n, 0) if start < 0 else start)
    return start, end


def overlapping_offsets(data, needle, start=None, end=None):
    """Every offset in data[start:end] where needle starts, by comparing each window."""
    start, end = adjusted(start, end, len(data))
    if start > end:
        return []
    window = data[start:end]
    m = len(needle)
    return [start + i for i in range(len(window) - m + 1) if window[i : i + m] == needle]


def plain_offsets(data, needle, start=None, end=None):
    """The non-overlapping occurrences bytes.count counts, found with bytes.find."""
    found = []
    lo, hi = start, end
    pos = data.find(needle, lo, hi)
    while pos >= 0:
        found.append(pos)
        pos = data.find(needle, pos + max(len(needle), 1), hi)
    return found


def reference(data, needle, start=None, end=None, overlapping=False):
    """What each function must return, taken from bytes and a plain scan. A needle
    with no border (no proper prefix that is also a suffix) cannot overlap itself,
    so its overlapping occurrences are the ones bytes.find finds."""
    byte_needle = bytes([needle]) if isinstance(needle, int) else bytes(needle)
    # bytes.find(b"", start) answers -1 once start passes the end, and so does the range.
    borderless = all(
        byte_needle[k:] != byte_needle[: len(byte_needle) - k] for k in range(1, len(byte_needle))
    )
    if overlapping and not (borderless and byte_needle):
        offsets = overlapping_offsets(data, byte_needle, start, end)
    else:
        offsets = plain_offsets(data, byte_needle, start, end)
    return {
        "find": as_int(data.find(byte_needle, start, end)),
        "rfind": as_int(data.rfind(byte_needle, start, end)),
        "count": len(offsets) if overlapping else data.count(byte_needle, start, end),
        "all": offsets,
    }


def check(haystack, data, needle, start=None, end=None):
    """Every function on `haystack` (whose bytes are `data`) against the reference."""
    for overlapping in (False, True):
        want = reference(data, needle, start, end, overlapping)
        kw = {"overlapping": overlapping}
        assert qarvo.count(haystack, needle, start, end, **kw) == want["count"]
        assert list(qarvo.finditer(haystack, needle, start, end, **kw)) == want["all"]
        got = qarvo.find_all(haystack, needle, start, end, **kw)
        assert list(got) == want["all"]
        assert memoryview(got).tolist() == want["all"]
    want = reference(data, needle, start, end)
    assert qarvo.find(haystack, needle, start, end) == want["find"]
    assert qarvo.rfind(haystack, needle, start, end) == want["rfind"]
    finder = qarvo.Finder(needle)
    assert finder.find(haystack, start, end) == want["find"]
    assert finder.rfind(haystack, start, end) == want["rfind"]
    assert finder.count(haystack, start, end) == want["count"]
    assert list(finder.finditer(haystack, start, end)) == want["all"]
    assert list(finder.find_all(haystack, start, end)) == want["all"]


quick = settings(
    max_examples=examples(300),
    deadline=None,
    derandomize=True,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large],
)

alphabets = st.sampled_from([b"ab", b"abc", b"\x00\xff", bytes(range(256))])
# Slice bounds from the whole range bytes.find accepts: None, negatives, past either end.
bounds = st.one_of(st.none(), st.integers(-400, 400), st.sampled_from([-(2**70), 2**70]))


def search_cases(alphabets=alphabets, piece_max=12, drawn_max=5, vary_piece=None):
    """(haystack, needle, start, end): a haystack of up to 300 bytes of one of the
    alphabets; a needle cut from it (passed through vary_piece(draw, piece) when
    given) or drawn from the alphabet, one byte of it at times as an int; start and
    end from the whole range bytes.find takes."""

    @st.composite
    def cases(draw):
        alphabet = draw(alphabets)
        data = bytes(draw(st.lists(st.sampled_from(alphabet), max_size=300)))
        if data and draw(st.booleans()):
            a = draw(st.integers(0, len(data) - 1))
            needle = data[a : a + draw(st.integers(0, piece_max))]
            if vary_piece is not None:
                needle = vary_piece(draw, needle)
        else:
            needle = bytes(draw(st.lists(st.sampled_from(alphabet), max_size=drawn_max)))
        if len(needle) == 1 and draw(st.booleans()):
            needle = needle[0]
        return data, needle, draw(bounds), draw(bounds)

    return cases()


cases = search_cases()


@quick
@given(cases)
def test_every_function_matches_bytes_and_a_plain_scan(case):
    data, needle, start, end = case
    check(data, data, needle, start, end)


KINDS = {
    "bytes": bytes,
    "bytearray": bytearray,
    "memoryview-slice": lambda d: memoryview(b"\xaa" * 3 + d + b"\xbb")[3:-1],
    "numpy": lambda d: np.frombuffer(d, dtype=np.uint8),
    "array": lambda d: array.array("B", d),
}


# A haystack kind changes only how the buffer is taken, not what is searched:
# each kind draws a fifth of the examples the test above draws on bytes.
@pytest.mark.parametrize("kind", KINDS)
@settings(quick, max_examples=examples(60))
@given(cases)
def test_every_haystack_kind_gives_the_same_answers(kind, case):
    data, needle, start, end = case
    check(KINDS[kind](data), data, needle, start, end)


def test_an_mmap_haystack(tmp_path):
    data = (b"lorem ipsum dolor " * 5000) + b"needle" + b" tail" * 100
    path = tmp_path / "data"
    path.write_bytes(data)
    with path.open("rb") as f, mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ) as m:
        check(m, data, b"needle")
        check(m, data, b"ipsum", 1000, -1000)


# Lengths around every block size of every variant (16 to 64-byte vectors, blocks of up
# to 16 of them), and needles that straddle them.
BOUNDARY_LENGTHS = sorted(
    {k * w + d for w in (16, 32, 64, 256, 1024) for k in (1, 2, 4) for d in (-1, 0, 1)}
)


@pytest.mark.parametrize("m", [1, 2, 3, 4, 5, 16, 17, 33, 65])
def test_planted_needles_at_block_boundaries(m):
    needle = bytes((7 * i + 1) % 251 + 1 for i in range(m))
    for n in BOUNDARY_LENGTHS:
        if n < m:
            continue
        for at in sorted({0, n - m, n // 2, max(0, n // 2 - m // 2), max(0, n - m - 1)}):
            data = bytearray(n)
            data[at : at + m] = needle
            data = bytes(data)
            check(data, data, needle)
            check(data, data, needle, at, at + m)  # exactly the window
            check(data, data, needle, at + 1, None)  # just past it
            check(data, data, needle, None, at + m - 1)  # cut by one


def test_long_ranges_searched_without_the_lock_give_the_same_answers():
    # Past the size from which the lock is given up, with matches at both ends and in
    # the middle, and windows that cut them.
    n = 3 * 1024 * 1024
    data = bytearray(b"x" * n)
    for at in (0, 5, n // 2, n - 7, n - 6):
        data[at : at + 6] = b"needle"
    data = bytes(data)
    for haystack in (data, bytearray(data), memoryview(data)):
        check(haystack, data, b"needle")
        check(haystack, data, b"needle", 1, -1)
        check(haystack, data, ord("n"), 3, n - 3)


def test_results_that_need_a_fresh_int():
    data = b"." * 70000 + b"ab" * 3
    assert qarvo.find(data, b"ab") == 70000
    assert qarvo.rfind(data, b"ab") == 70004
    assert qarvo.count(data, b".") == 70000
    assert list(qarvo.finditer(data, b"ab")) == [70000, 70002, 70004]


def test_empty_needle_follows_bytes():
    data = b"abc"
    for start in (None, -10, 0, 2, 3, 4, 10):
        for end in (None, -10, 0, 2, 3, 4):
            check(data, data, b"", start, end)
            check(data, data, [], start, end)


def test_needles_of_every_accepted_form():
    data = b"xxabcxxabc"
    for needle in (b"abc", bytearray(b"abc"), memoryview(b"zabc")[1:], [97, 98, 99], (97, 98, 99)):
        assert qarvo.find(data, needle) == 2
        assert qarvo.count(data, needle) == 2
        assert qarvo.Finder(needle).needle == b"abc"
    assert qarvo.find(data, ord("c")) == 4
    assert qarvo.find(data, True) is None  # bool is an int: the byte 0x01
    assert qarvo.find(b"\x01", True) == 0
    assert qarvo.Finder(97).needle == b"a"


def test_overlapping_scans_of_periodic_needles():
    # The overlapping scan chains from match to match by the needle's period.
    for unit in (b"a", b"ab", b"abc", b"aab", b"abaab"):
        for reps in (2, 3, 5):
            needle = unit * reps
            for data in (unit * 50, unit * 20 + b"!" + unit * 20, (unit * 7 + b"?") * 9):
                want = overlapping_offsets(data, needle)
                assert list(qarvo.finditer(data, needle, overlapping=True)) == want
                assert qarvo.count(data, needle, overlapping=True) == len(want)
    # A needle whose period is not its length's divisor.
    data = b"abaababaabaababaababa" * 4
    for needle in (b"abaab", b"abaababa", b"aba"):
        assert list(qarvo.finditer(data, needle, overlapping=True)) == overlapping_offsets(
            data, needle
        )


def test_finditer_steps_lazily_and_in_order():
    data = b"ab" * 1000
    it = qarvo.finditer(data, b"ab")
    assert iter(it) is it
    assert [next(it) for _ in range(5)] == [0, 2, 4, 6, 8]
    rest = list(it)
    assert rest == list(range(10, 2000, 2))
    assert list(it) == []  # stays exhausted
    with pytest.raises(StopIteration):
        next(it)


def test_find_all_returns_a_sequence_that_exports_int64():
    data = b"x" * 300 + b"ab" * 5
    got = qarvo.find_all(data, b"ab")
    want = [300, 302, 304, 306, 308]
    assert len(got) == 5 and got[0] == 300 and got[-1] == 308 and list(got) == want
    assert got[1:4] == [302, 304, 306] and got[::-2] == [308, 304, 300]
    assert got == want and got == tuple(want) and got != want[:-1]
    assert repr(got) == f"qarvo.Offsets({want})"
    with pytest.raises(IndexError):
        got[5]
    with pytest.raises(TypeError):
        got[0] = 1
    view = memoryview(got)
    assert (view.format, view.itemsize, view.readonly, view.shape) == ("q", 8, True, (5,))
    assert np.frombuffer(got, dtype=np.int64).tolist() == want
    assert np.asarray(got).dtype == np.int64
    assert array.array("q", bytes(view)).tolist() == want
    empty = qarvo.find_all(data, b"zz")
    assert len(empty) == 0 and list(empty) == [] and memoryview(empty).tobytes() == b""
    with pytest.raises(TypeError):
        type(got)()


@pytest.mark.parametrize("kind", [bytes, bytearray, memoryview])
def test_find_all_results_on_both_sides_of_the_room_in_the_result(kind):
    # Up to eight offsets live in the result itself, more in memory of their own; the
    # plain call, a start and a keyword (the general steps) give the same offsets.
    for count in range(20):
        data = kind(b"." * 40 + b"ab." * count + b"." * 7)
        want = [40 + 3 * k for k in range(count)]
        calls = (
            qarvo.find_all(data, b"ab"),
            qarvo.find_all(data, b"ab", 3, None),
            qarvo.find_all(data, b"ab", overlapping=False),
            qarvo.find_all(data, b"ab")[:],
        )
        for got in calls:
            assert list(got) == want
            assert np.frombuffer(got, dtype=np.int64).tolist() == want
        view = memoryview(qarvo.find_all(data, b"ab"))  # holds the result it views
        assert view.tolist() == want
        view.release()


UNLOCKED_FROM = 256 * 1024  # where long searches split into a locked and an unlocked part


@pytest.mark.parametrize("m", [1, 3, 8])
def test_single_matches_around_where_long_searches_split(m):
    n = UNLOCKED_FROM + 5000
    needle = bytes(range(1, m + 1))
    for at in [
        *range(UNLOCKED_FROM - m - 2, UNLOCKED_FROM + 3),
        *range(n - UNLOCKED_FROM - 3, n - UNLOCKED_FROM + m + 2),
    ]:
        data = bytearray(n)
        data[at : at + m] = needle
        data = bytes(data)
        assert qarvo.find(data, needle) == at
        assert qarvo.rfind(data, needle) == at
        assert list(qarvo.finditer(data, needle)) == [at]
        assert qarvo.find(data, needle, 1) == (at if at >= 1 else None)
