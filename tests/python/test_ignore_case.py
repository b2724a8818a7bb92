"""ignore_case=True: every search against the same call on haystack.lower() and needle.lower()."""

import copy
import pickle
import threading

import pytest
import qarvo
from conftest import examples
from test_searches import KINDS, adjusted, search_cases

hypothesis = pytest.importorskip("hypothesis")
from hypothesis import HealthCheck, given, settings  # noqa: E402
from hypothesis import strategies as st  # noqa: E402

pytest.importorskip("numpy")

quick = settings(
    max_examples=examples(300),
    deadline=None,
    derandomize=True,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large],
)

# Letters of both cases beside the bytes one bit away from them, which match only
# themselves: '@' and '`', '[' and '{', '^' and '~', 0xC1 and 0xE1, bytes from 0x80.
TRICKY = b"aAbBzZ@`[{^~]}\\|_\x7f\xc1\xe1\xdf\xff\x80 09"
alphabets = st.sampled_from([b"aA", b"aAbB", b"aB@`", b"zZ[{^~", TRICKY, bytes(range(256))])


def lowered(needle):
    if isinstance(needle, int):
        return bytes([needle]).lower()[0]
    return bytes(needle).lower()


def flip_cases(data, flips):
    """`data` with the letters at the flagged positions in the other case."""
    out = bytearray(data)
    for i, flip in zip(range(len(out)), flips, strict=False):
        if flip and bytes([out[i]]).isalpha():
            out[i] ^= 0x20
    return bytes(out)


def overlapping_offsets(data, needle, start, end):
    """Every offset in the range where `needle` starts: bytes.find from one past the last."""
    start, end = adjusted(start, end, len(data))
    found = []
    at = data.find(needle, start, end) if start <= end else -1
    while at >= 0:
        found.append(at)
        at = data.find(needle, at + 1, end)
    return found


def expected(data, needle, start, end):
    """Each function without ignore_case, on the lowered haystack and needle."""
    low, x = data.lower(), lowered(needle)
    return {
        "find": qarvo.find(low, x, start, end),
        "rfind": qarvo.rfind(low, x, start, end),
        "count": qarvo.count(low, x, start, end),
        "count_overlapping": qarvo.count(low, x, start, end, overlapping=True),
        "all": list(qarvo.find_all(low, x, start, end)),
        "all_overlapping": list(qarvo.find_all(low, x, start, end, overlapping=True)),
    }


def check(haystack, data, needle, start=None, end=None):
    want = expected(data, needle, start, end)
    # The reference itself, once more from bytes and a plain scan.
    low = data.lower()
    x = lowered(needle)
    x_bytes = bytes([x]) if isinstance(x, int) else x
    bytes_find = low.find(x_bytes, start, end)
    assert want["find"] == (None if bytes_find < 0 else bytes_find)
    assert want["count"] == low.count(x_bytes, start, end)
    assert want["all_overlapping"] == overlapping_offsets(low, x_bytes, start, end)
    kw = {"ignore_case": True}
    assert qarvo.find(haystack, needle, start, end, **kw) == want["find"]
    assert qarvo.rfind(haystack, needle, start, end, **kw) == want["rfind"]
    assert qarvo.count(haystack, needle, start, end, **kw) == want["count"]
    assert list(qarvo.find_all(haystack, needle, start, end, **kw)) == want["all"]
    assert list(qarvo.finditer(haystack, needle, start, end, **kw)) == want["all"]
    over = {"ignore_case": True, "overlapping": True}
    assert qarvo.count(haystack, needle, start, end, **over) == want["count_overlapping"]
    assert list(qarvo.find_all(haystack, needle, start, end, **over)) == want["all_overlapping"]
    assert list(qarvo.finditer(haystack, needle, start, end, **over)) == want["all_overlapping"]
    finder = qarvo.Finder(needle, ignore_case=True)
    assert finder.find(haystack, start, end) == want["find"]
    assert finder.rfind(haystack, start, end) == want["rfind"]
    assert finder.count(haystack, start, end) == want["count"]
    assert finder.count(haystack, start, end, overlapping=True) == want["count_overlapping"]
    assert list(finder.finditer(haystack, start, end)) == want["all"]
    assert list(finder.find_all(haystack, start, end, overlapping=True)) == want["all_overlapping"]
    if start is None and end is None:
        # The plain call of a Finder, which reads the haystack in place.
        assert finder.find(haystack) == want["find"]
        assert finder.rfind(haystack) == want["rfind"]


def flipped(draw, piece):
    """A piece of the haystack with letters in other cases."""
    return flip_cases(piece, draw(st.lists(st.booleans(), min_size=len(piece))))


cases = search_cases(alphabets, piece_max=20, drawn_max=6, vary_piece=flipped)


@quick
@given(cases)
def test_every_function_matches_the_lowered_reference(case):
    data, needle, start, end = case
    check(data, data, needle, start, end)


@pytest.mark.parametrize("kind", KINDS)
@settings(quick, max_examples=examples(60))
@given(cases)
def test_every_haystack_kind_gives_the_same_answers(kind, case):
    data, needle, start, end = case
    check(KINDS[kind](data), data, needle, start, end)


BOUNDARY_LENGTHS = sorted(
    {k * w + d for w in (16, 32, 64, 256, 1024) for k in (1, 2, 4) for d in (-1, 0, 1)}
)


@pytest.mark.parametrize("m", [1, 2, 3, 4, 5, 8, 16, 17, 33, 65])
def test_planted_in_another_case_at_block_boundaries(m):
    needle = bytes(b"aZ@q[Mx{`Y^~"[i % 12] for i in range(m))
    planted = flip_cases(needle, [True] * m)
    for n in BOUNDARY_LENGTHS:
        if n < m:
            continue
        for at in sorted({0, n - m, n // 2, max(0, n - m - 1)}):
            data = bytearray(b"." * n)
            data[at : at + m] = planted
            data = bytes(data)
            check(data, data, needle)
            check(data, data, needle, at, at + m)
            check(data, data, needle, at + 1, None)


def test_non_letters_match_only_themselves():
    for a, b in [(b"@", b"`"), (b"[", b"{"), (b"^", b"~"), (b"\xc1", b"\xe1"), (b"]", b"}")]:
        assert qarvo.find(a * 40, b, ignore_case=True) is None
        assert qarvo.count(a * 40 + b, b, ignore_case=True) == 1
        assert qarvo.find(b"x" + a + b"Y", b"X" + b + b"y", ignore_case=True) is None
    assert qarvo.find(b"..\xc9..", b"\xe9", ignore_case=True) is None
    assert qarvo.find(b"..Hello..", b"hELLO", ignore_case=True) == 2
    # A needle with no letter is searched exactly, by every function and a Finder,
    # beside its bit-5 twins; one letter in it makes the whole search fold again.
    twins = b"@[`{\xc1\xe1" * 30
    data = twins + b"`{\xe1" + twins + b"`{\xe1"
    finder = qarvo.Finder(b"`{\xe1", ignore_case=True)
    both = [len(twins), 2 * len(twins) + 3]
    assert list(qarvo.find_all(data, b"`{\xe1", ignore_case=True)) == both
    assert list(qarvo.finditer(data, b"`{\xe1", ignore_case=True)) == both
    assert qarvo.rfind(data, b"`{\xe1", ignore_case=True) == both[1]
    assert list(finder.find_all(data)) == both
    assert [finder.find(data), finder.rfind(data), finder.count(data)] == [*both, 2]
    assert qarvo.count(data, b"\x00\x00", ignore_case=True) == 0
    assert qarvo.find(b"@@`{Z", b"`{z", ignore_case=True) == 2
    assert qarvo.Finder(b"`{z", ignore_case=True).find(b"@@`{Z") == 2


def test_long_ranges_searched_without_the_lock():
    n = 3 * 1024 * 1024
    data = bytearray(b"x" * n)
    for at, text in ((5, b"NeeDle"), (n // 2, b"nEEDLE"), (n - 6, b"NEEDLE")):
        data[at : at + 6] = text
    data = bytes(data)
    for haystack in (data, bytearray(data), memoryview(data)):
        check(haystack, data, b"needle")
        check(haystack, data, b"NEEDLE", 6, -1)
    assert qarvo.count(data, ord("X"), ignore_case=True) == n - 18


def test_the_flag_is_read_as_python_reads_a_keyword_flag():
    class Truthy:
        def __bool__(self):
            return True

    class Broken:
        def __bool__(self):
            raise ArithmeticError("truth")

    for flag in (1, [0], "no", Truthy()):
        assert qarvo.find(b"xAb", b"aB", ignore_case=flag) == 1
        assert qarvo.Finder(b"aB", ignore_case=flag).ignore_case is True
    for flag in (0, None, [], ""):
        assert qarvo.find(b"xAb", b"aB", ignore_case=flag) is None
        assert qarvo.Finder(b"aB", ignore_case=flag).ignore_case is False
    for fn in (qarvo.find, qarvo.rfind, qarvo.count, qarvo.finditer, qarvo.find_all):
        with pytest.raises(ArithmeticError, match="^truth$"):
            fn(b"abc", b"a", ignore_case=Broken())
    with pytest.raises(ArithmeticError, match="^truth$"):
        qarvo.Finder(b"a", ignore_case=Broken())
    # overlapping is read first, as the parameters are listed.
    with pytest.raises(ArithmeticError, match="^truth$"):
        qarvo.count(b"abc", b"a", overlapping=Broken(), ignore_case=Broken())


def test_the_flag_is_keyword_only():
    def find(haystack, needle, start=None, end=None, *, ignore_case=False):
        pass

    def finder(needle, *, ignore_case=False):
        pass

    for model, fn in ((find, qarvo.find), (find, qarvo.rfind)):
        with pytest.raises(TypeError) as want:
            model(b"a", b"a", 0, 1, True)
        with pytest.raises(TypeError) as got:
            fn(b"a", b"a", 0, 1, True)
        assert str(got.value) == str(want.value).replace(find.__qualname__, fn.__name__, 1)
    with pytest.raises(TypeError) as want:
        finder(b"a", True)
    with pytest.raises(TypeError) as got:
        qarvo.Finder(b"a", True)
    assert str(got.value) == str(want.value).replace(finder.__qualname__, "Finder", 1)
    # The methods take no flag of their own: the Finder's applies.
    with pytest.raises(TypeError, match="unexpected keyword argument 'ignore_case'"):
        qarvo.Finder(b"a").find(b"A", ignore_case=True)


def test_error_paths_release_the_buffers():
    hay = bytearray(b"abcABC")
    needle = bytearray(b"Bc")
    for fn in (qarvo.find, qarvo.rfind, qarvo.count, qarvo.finditer, qarvo.find_all):
        for args in [(needle, "x"), (needle, 0, 1.5), ("x",), ([1, 300],)]:
            with pytest.raises((TypeError, ValueError, OverflowError)):
                fn(hay, *args, ignore_case=True)
            hay.append(0)  # no export is left: the resize succeeds
            hay.pop()
            needle.append(0)
            needle.pop()
    with pytest.raises(TypeError):
        qarvo.Finder(needle, ignore_case=True).find(hay, "x")
    hay.append(0)
    hay.pop()


def test_finder_keeps_the_flag():
    finder = qarvo.Finder(bytearray(b"NeEdle"), ignore_case=True)
    assert finder.ignore_case is True and finder.needle == b"NeEdle"
    assert qarvo.Finder(b"x").ignore_case is False
    with pytest.raises(AttributeError):
        finder.ignore_case = False
    assert repr(finder) == "qarvo.Finder(b'NeEdle', ignore_case=True)"
    assert repr(qarvo.Finder(b"x")) == "qarvo.Finder(b'x')"
    for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
        again = pickle.loads(pickle.dumps(finder, protocol))
        assert type(again) is qarvo.Finder and again.ignore_case is True
        assert again.needle == b"NeEdle" and again.find(b"a NEEDLE") == 2
        plain = pickle.loads(pickle.dumps(qarvo.Finder(b"ab"), protocol))
        assert plain.ignore_case is False and plain.find(b"AB") is None
    assert copy.deepcopy(finder).ignore_case is True
    assert finder.find(b"a needle") == 2 and qarvo.Finder(b"NeEdle").find(b"a needle") is None


def test_one_folding_finder_serves_many_threads():
    finder = qarvo.Finder(b"NeEdLe", ignore_case=True)
    data = [b"x" * (i * 37 % 500) + b"nEeDlE" + b"y" * i for i in range(100)]
    errors = []

    def work():
        for _ in range(10):
            for i, hay in enumerate(data):
                if finder.find(hay) != i * 37 % 500 or finder.count(hay) != 1:
                    errors.append(i)

    threads = [threading.Thread(target=work) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert errors == []
