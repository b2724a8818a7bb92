"""MultiFinder against Python's re on the escaped alternation of the needles, in their order."""

import array
import copy
import gc
import pickle
import re
import sys
import threading
import tracemalloc

import pytest
import qarvo
from conftest import buffer_request_error, error_of, examples, expect_error
from test_ownership import assert_no_reference_leak

hypothesis = pytest.importorskip("hypothesis")
from hypothesis import HealthCheck, given, settings  # noqa: E402
from hypothesis import strategies as st  # noqa: E402

np = pytest.importorskip("numpy")


def reference(needles, data, start=None, end=None, ignore_case=False):
    """(offset, index) of every match re.finditer reports, offsets into the whole haystack.

    A start past the end leaves no range at all, not even for an empty needle, as in
    bytes.find and bytes.count (where re would see an empty slice).
    """
    pattern = b"|".join(b"(" + re.escape(bytes(n)) + b")" for n in needles)
    flags = re.IGNORECASE if ignore_case else 0
    base = slice(start, end).indices(len(data))[0]
    if bytes(data).find(b"", start, end) < 0:
        return []
    window = data[start:end]
    return [(base + m.start(), m.lastindex - 1) for m in re.finditer(pattern, window, flags)]


def check(finder, haystack, data, start=None, end=None):
    want = reference(finder.needles, data, start, end, finder.ignore_case)
    assert finder.find_all(haystack, start, end) == want
    assert list(finder.finditer(haystack, start, end)) == want
    assert finder.count(haystack, start, end) == len(want)
    assert finder.find(haystack, start, end) == (want[0] if want else None)


quick = settings(
    max_examples=examples(200),
    deadline=None,
    derandomize=True,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large],
)

alphabets = st.sampled_from([b"ab", b"aAbB", b"abc", b"\x00\xff", bytes(range(256))])
bounds = st.one_of(st.none(), st.integers(-400, 400), st.sampled_from([-(2**70), 2**70]))


@st.composite
def cases(draw):
    alphabet = draw(alphabets)
    data = bytes(draw(st.lists(st.sampled_from(alphabet), max_size=300)))
    needles = []
    for _ in range(draw(st.integers(1, 8))):
        if data and draw(st.booleans()):
            a = draw(st.integers(0, len(data) - 1))
            needles.append(data[a : a + draw(st.integers(0, 9))])
        elif needles and draw(st.booleans()):
            # A prefix or an extension of an earlier needle, or the same again.
            earlier = draw(st.sampled_from(needles))
            extra = bytes(draw(st.lists(st.sampled_from(alphabet), max_size=3)))
            needles.append(draw(st.sampled_from([earlier[:-1], earlier + extra, earlier])))
        else:
            needles.append(bytes(draw(st.lists(st.sampled_from(alphabet), max_size=5))))
    return data, needles, draw(st.booleans()), draw(bounds), draw(bounds)


@quick
@given(cases())
def test_every_method_matches_re(case):
    data, needles, ignore_case, start, end = case
    check(qarvo.MultiFinder(needles, ignore_case=ignore_case), data, data, start, end)


KINDS = {
    "bytes": bytes,
    "bytearray": bytearray,
    "memoryview-slice": lambda d: memoryview(b"\xaa" * 3 + d + b"\xbb")[3:-1],
    "numpy": lambda d: np.frombuffer(d, dtype=np.uint8),
    "array": lambda d: array.array("B", d),
}


@pytest.mark.parametrize("kind", KINDS)
@settings(quick, max_examples=examples(60))
@given(cases())
def test_every_haystack_kind_gives_the_same_answers(kind, case):
    data, needles, ignore_case, start, end = case
    finder = qarvo.MultiFinder(needles, ignore_case=ignore_case)
    check(finder, KINDS[kind](data), data, start, end)


PLANTED_SETS = [
    [b"needle", b"need", b"dle!", b"\xff\x00q"],  # overlapping and prefix-sharing
    [b"need", b"needle"],  # the prefix first: the longer one never matches
    [b"ab", b"ab", b"b"],  # duplicates
    [b"xyz", b"", b"e"],  # an empty needle between
    [b"ERROR", b"Warn"],  # with ignore_case below
]


@pytest.mark.parametrize("needles", PLANTED_SETS)
@pytest.mark.parametrize("ignore_case", [False, True])
def test_planted_around_block_boundaries(needles, ignore_case):
    finder = qarvo.MultiFinder(needles, ignore_case=ignore_case)
    for n in (63, 64, 65, 129, 1000):
        for near in [*range(0, 8), *range(56, 72), *range(120, 136), n - 7]:
            data = bytearray(b"e" * n)
            planted = needles[near % len(needles)] or b"x"
            at = max(0, min(near, n - len(planted)))
            data[at : at + len(planted)] = planted.swapcase() if ignore_case else planted
            check(finder, bytes(data), bytes(data))


def leftmost_first(needles, data):
    """re's matches for non-empty needles, by a dictionary: at each offset, the first-listed
    needle among those of each length that start there. For sets too large for re to search
    in reasonable time; itself checked against re on a small set below."""
    first = {}
    for index, needle in enumerate(needles):
        first.setdefault(needle, index)
    lengths = sorted({len(n) for n in needles})
    out, p = [], 0
    while p < len(data):
        here = [first[w] for w in (data[p : p + m] for m in lengths) if w in first]
        if here:
            index = min(here)
            out.append((p, index))
            p += len(needles[index])
        else:
            p += 1
    return out


def test_many_needles_against_a_dictionary_model():
    small = [b"ab", b"abc", b"b", b"ab", b"ca"]
    assert leftmost_first(small, b"abcabca" * 3) == reference(small, b"abcabca" * 3)
    words = [f"w{k:x}z".encode() for k in range(0, 6000, 3)] + [b"w1", b"1z"]
    data = b" ".join(f"w{k:x}z".encode() for k in range(0, 3000)) * 3
    assert qarvo.MultiFinder(words).find_all(data) == leftmost_first(words, data)
    binary = [bytes([k % 256, (k * 7) % 256, (k * 13) % 251, 1])[: 2 + k % 3] for k in range(5000)]
    hay = b"".join(binary[k] for k in range(0, 5000, 37)) + bytes(range(256)) * 8
    assert qarvo.MultiFinder(binary).find_all(hay) == leftmost_first(binary, hay)


@st.composite
def larger_sets(draw):
    """9 to 64 needles (several to a bucket of the small sets' filter) or 65 to 700 (the
    larger sets' start filter), cut from the haystack or drawn from its alphabet, with a
    shortest length of 1 to 4 so that every width of either filter is taken."""
    alphabet = draw(st.sampled_from([b"abcdefgh", b"aAbBcC@`", bytes(range(256))]))
    data = bytes(draw(st.lists(st.sampled_from(alphabet), min_size=1, max_size=1500)))
    shortest = draw(st.integers(1, 4))
    count = draw(st.sampled_from([draw(st.integers(9, 64)), draw(st.integers(65, 700))]))
    rng = draw(st.randoms(use_true_random=False))
    needles = []
    for _ in range(count):
        length = shortest + rng.randrange(6)
        if rng.random() < 0.5 and len(data) >= length:
            a = rng.randrange(len(data) - length + 1)
            needles.append(data[a : a + length])
        else:
            needles.append(bytes(rng.choice(alphabet) for _ in range(length)))
    return data, needles, draw(st.booleans())


@settings(quick, max_examples=examples(60))
@given(larger_sets())
def test_larger_sets_match_the_dictionary_model(case):
    data, needles, ignore_case = case
    finder = qarvo.MultiFinder(needles, ignore_case=ignore_case)
    if ignore_case:
        want = leftmost_first([n.lower() for n in needles], data.lower())
    else:
        want = leftmost_first(needles, data)
    assert finder.find_all(data) == want
    assert finder.count(data) == len(want)


def test_long_ranges_searched_without_the_lock_give_the_same_answers():
    finder = qarvo.MultiFinder([b"needle", b"pin", b"e"])
    data = bytearray(600 * 1024)
    data[1000:1006] = b"needle"
    data[400_000:400_003] = b"pin"
    data[-1] = ord("e")
    want = [(1000, 0), (400_000, 1), (len(data) - 1, 2)]
    for haystack in (bytes(data), data):
        assert finder.find_all(haystack) == want
        assert list(finder.finditer(haystack)) == want
        assert finder.count(haystack) == 3
        assert finder.find(haystack, 2000) == (400_000, 1)


@pytest.mark.parametrize("delta", [-8, -5, -4, -1, 0, 1])
def test_find_answers_on_either_side_of_the_part_searched_with_the_lock_held(delta):
    """find searches the starts in the first 256 KiB of a long range with the lock held,
    then the rest without it: needles planted to start just before and just after that
    part's end, straddling it, with a shorter needle listed later at the same start and a
    longer one listed later that starts earlier, and within a window that starts
    elsewhere."""
    near = 256 * 1024
    finder = qarvo.MultiFinder([b"xyzwvu", b"yzw", b"x", b"qqqqqqqqxy"])
    data = bytearray(b"a" * (near + 50_000))
    at = near + delta
    data[at : at + 6] = b"xyzwvu"
    data[at - 8 : at] = b"qqqqqqqq"
    for haystack in (bytes(data), data, memoryview(data)[3:]):
        raw = bytes(haystack)
        for start in (None, 10, at - 9, at - 7, at + 1):
            want = reference(finder.needles, raw, start)
            assert finder.find(haystack, start) == (want[0] if want else None), start


def test_needles_of_every_accepted_form():
    def generated():
        yield b"ab"
        yield 0x63
        yield [0x64, 0x65]
        yield bytearray(b"f")
        yield memoryview(b"gh")
        yield array.array("B", b"ij")

    for needles in (generated(), tuple(generated()), list(generated())):
        finder = qarvo.MultiFinder(needles)
        assert finder.needles == (b"ab", b"c", b"de", b"f", b"gh", b"ij")
        assert all(type(n) is bytes for n in finder.needles)
    assert qarvo.MultiFinder([b"x"]).find_all(b"axbx") == [(1, 0), (3, 0)]


def test_attributes_are_read_only_and_repr_rebuilds():
    finder = qarvo.MultiFinder([b"a", b"bc"], ignore_case=True)
    assert finder.ignore_case is True
    assert qarvo.MultiFinder([b"a"]).ignore_case is False
    for name in ("needles", "ignore_case"):
        with pytest.raises(AttributeError):
            setattr(finder, name, None)
    assert repr(finder) == "qarvo.MultiFinder((b'a', b'bc'), ignore_case=True)"
    assert repr(qarvo.MultiFinder([b"a"])) == "qarvo.MultiFinder((b'a',))"


@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
def test_pickled_and_copied_finders_search_alike(protocol):
    for ignore_case in (False, True):
        finder = qarvo.MultiFinder([b"Ab", b"", b"c"], ignore_case=ignore_case)
        again = pickle.loads(pickle.dumps(finder, protocol))
        assert type(again) is qarvo.MultiFinder
        assert (again.needles, again.ignore_case) == (finder.needles, ignore_case)
        assert again.find_all(b"xaBcab") == finder.find_all(b"xaBcab")
    assert copy.deepcopy(finder).find_all(b"ABC") == finder.find_all(b"ABC")


def test_errors_are_those_of_the_same_mistake_elsewhere():
    # A needle the searches refuse: bytes.find's own error.
    for needle in ("x", 1.5, 300, object()):
        want_type, want_message = error_of(b"".find, needle)
        expect_error(want_type, want_message, qarvo.MultiFinder, [b"ok", needle])
    # A lone needle where the iterable of needles belongs.
    for lone in ("ab", b"ab", bytearray(b"ab"), 7):
        message = f"needles must be an iterable of needles, not '{type(lone).__name__}'"
        expect_error(TypeError, message, qarvo.MultiFinder, lone)
    want_type, want_message = error_of(iter, None)
    expect_error(want_type, want_message, qarvo.MultiFinder, None)
    expect_error(ValueError, "MultiFinder() needs at least one needle", qarvo.MultiFinder, [])
    expect_error(ValueError, "MultiFinder() needs at least one needle", qarvo.MultiFinder, iter(()))


def MultiFinder(needles, *, ignore_case=False):  # noqa: N802 - the name is the message's
    """The constructor's signature as a Python function: the reference for its messages."""


class MultiFinderModel:
    """The methods' signature as a Python method."""

    def find(self, haystack, start=None, end=None):
        pass


def test_signature_errors_are_those_of_a_python_function():
    for args, kwargs in [((), {}), (([b"a"], True), {}), (([b"a"],), {"case": 1})]:
        expect_error(
            TypeError,
            str(raised_by(MultiFinder, *args, **kwargs)),
            qarvo.MultiFinder,
            *args,
            **kwargs,
        )
    finder = qarvo.MultiFinder([b"a"])
    model = MultiFinderModel()
    for name in ("find", "count", "finditer", "find_all"):
        for args, kwargs in [((), {}), ((b"", 1, 2, 3), {}), ((b"",), {"haystack": b""})]:
            want = str(raised_by(model.find, *args, **kwargs)).replace(
                "MultiFinderModel.find()", f"MultiFinder.{name}()"
            )
            expect_error(TypeError, want, getattr(finder, name), *args, **kwargs)


def raised_by(fn, *args, **kwargs):
    try:
        fn(*args, **kwargs)
    except TypeError as exc:
        return exc
    raise AssertionError("no TypeError")


@pytest.mark.parametrize("name", ["find", "count", "finditer", "find_all"])
def test_bad_haystacks_and_bounds_raise_bytes_find_errors_and_release_buffers(name):
    finder = qarvo.MultiFinder([b"a"])
    method = getattr(finder, name)
    want_type, want_message = error_of(b"".find, b"", "x")
    data = bytearray(b"abc")
    expect_error(want_type, want_message, method, data, "x")
    expect_error(want_type, want_message, method, data, None, 1.5)
    data.append(1)  # a buffer still exported would make this a BufferError
    want_type, want_message = buffer_request_error("text")
    expect_error(want_type, want_message, method, "text")


def test_finditer_holds_the_buffer_until_exhausted():
    data = bytearray(b"xaxa")
    iterator = qarvo.MultiFinder([b"a"]).finditer(data)
    assert next(iterator) == (1, 0)
    with pytest.raises(BufferError):
        data.append(1)
    assert list(iterator) == [(3, 0)]
    data.append(1)


def test_finditer_keeps_the_finder_alive():
    iterator = qarvo.MultiFinder([b"a", b"b"]).finditer(b"ab" * 100)
    gc.collect()
    assert len(list(iterator)) == 200


def test_one_finder_serves_many_threads():
    finder = qarvo.MultiFinder([b"needle", b"pin", b"ne"], ignore_case=True)
    data = (b"x" * 997 + b"NeedLe" + b"p" * 50 + b"PIN") * 400
    want = reference(finder.needles, data, ignore_case=True)
    results = []

    def work():
        for _ in range(5):
            results.append(finder.find_all(data) == want and finder.count(data) == len(want))

    threads = [threading.Thread(target=work) for _ in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert results == [True] * 20


LEAK_CASES = {
    "build and every method": lambda: (
        [
            getattr(qarvo.MultiFinder([b"ab", b"", 99]), name)(bytearray(b"xabcab"), 1)
            for name in ("find", "count", "find_all")
        ]
        + list(qarvo.MultiFinder([b"ab"], ignore_case=True).finditer(b"xABab"))
    ),
    "finditer dropped half-way": lambda: next(qarvo.MultiFinder([b"a"]).finditer(b"aaa")),
    "pickle": lambda: pickle.loads(pickle.dumps(qarvo.MultiFinder([b"a"], ignore_case=True))),
    "a needle refused": lambda: qarvo.MultiFinder([b"a", "x"]),
    "no needles": lambda: qarvo.MultiFinder(iter([])),
    "a bound refused": lambda: qarvo.MultiFinder([b"a"]).find_all(bytearray(b"a"), 1.5),
    "a haystack refused": lambda: qarvo.MultiFinder([b"a"]).count("text"),
}


@pytest.mark.parametrize("name", LEAK_CASES)
def test_no_reference_or_memory_leak(name):
    call = LEAK_CASES[name]

    def run(times):
        for _ in range(times):
            try:  # noqa: SIM105 - cheaper than contextlib.suppress in this loop
                call()
            except (TypeError, ValueError):
                pass

    gc.freeze()
    try:
        run(200)
        if hasattr(sys, "gettotalrefcount"):
            assert_no_reference_leak(run)
        python = []
        tracemalloc.start()
        try:
            run(100)
            for _ in range(3):
                gc.collect()
                before = tracemalloc.get_traced_memory()[0]
                run(1000)
                gc.collect()
                python.append(tracemalloc.get_traced_memory()[0] - before)
        finally:
            tracemalloc.stop()
        # A leak holds at least one 8-byte pointer per call: 8000 bytes per 1000 calls.
        # Below half of that, what grew is the interpreter's own (pickling under
        # qemu's aarch64 emulation grew by 1462 to 5898 bytes in three rounds).
        assert min(python) < 4000, python
    finally:
        gc.unfreeze()
