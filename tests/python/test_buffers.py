"""Haystack and needle buffers: which exporters are accepted, which are refused and why."""

import array
import ctypes
import mmap
import operator
import subprocess
import sys
import textwrap

import pytest
import qarvo
from conftest import FUNCTIONS, error_of, expect_error, naive_find, needle_arg

np = pytest.importorskip("numpy")
try:
    import _testbuffer
except ImportError:  # an interpreter built without its test modules
    _testbuffer = None

needs_testbuffer = pytest.mark.skipif(_testbuffer is None, reason="needs CPython's _testbuffer")
every_function = pytest.mark.parametrize("fn", FUNCTIONS, ids=lambda f: f.__name__)

INCOMPATIBLE = "buffer contents are not compatible with u8"
HAYSTACK_NOT_CONTIGUOUS = "haystack buffer must be contiguous"


def expect_haystack_error(message, fn, haystack):
    """Asserts that fn raises BufferError `message` for `haystack`, given a good needle."""
    expect_error(
        BufferError, message, fn, haystack, needle_arg(fn, b"abc"[: 1 + FUNCTIONS.index(fn)])
    )


NEEDLE_NOT_CONTIGUOUS = "needle buffer must be contiguous"

DATA = b"xyzabcabdxyz\x00\xffab"  # the bytes that every accepted haystack below exposes
NEEDLES = [b"a", b"\xff", b"q", b"ab", b"bd", b"zq", b"abd", b"\x00\xffa", b"xyz", b"abdx", b""]


def buffer_of_format(data, fmt, **kwargs):
    items = [bytes([b]) for b in data] if fmt.endswith("c") else list(data)
    return _testbuffer.ndarray(items, shape=[len(items)], format=fmt, **kwargs)


def ctypes_array(kind, data):
    return (kind * len(data)).from_buffer_copy(data)


def file_mmap(tmp_path, data, access):
    path = tmp_path / "haystack.bin"
    path.write_bytes(data)
    with open(path, "r+b") as f:
        return mmap.mmap(f.fileno(), 0, access=access)


# Exporters whose buffer reads as DATA (or the stated part of it) and that every function accepts.
ACCEPTED = {
    "bytes": lambda d: d,
    "bytearray": bytearray,
    "memoryview": memoryview,
    "memoryview-odd-slice": lambda d: memoryview(b"?" + d + b"??")[1:-2],
    "memoryview-cast-c": lambda d: memoryview(d).cast("c"),
    "memoryview-cast-@B": lambda d: memoryview(d).cast("@B"),
    "memoryview-2d": lambda d: memoryview(d).cast("B", (2, len(d) // 2)),
    "array-B": lambda d: array.array("B", d),
    "numpy-uint8": lambda d: np.frombuffer(d, dtype=np.uint8),
    "numpy-little-u1": lambda d: np.frombuffer(d, dtype="<u1").copy(),
    "numpy-big-u1": lambda d: np.frombuffer(d, dtype=">u1").copy(),
    "numpy-2d": lambda d: np.frombuffer(d, dtype=np.uint8).reshape(2, -1),
    "numpy-rows-of-2d": lambda d: np.frombuffer(b"\x00" * 8 + d, dtype=np.uint8).reshape(-1, 8)[1:],
    "memoryview-of-ctypes-<B": lambda d: memoryview(ctypes_array(ctypes.c_ubyte, d)),
    "memoryview-of-ctypes-<c": lambda d: memoryview(ctypes_array(ctypes.c_char, d)),
}


def check_every_function(haystack, data):
    for needle in NEEDLES:
        expected = naive_find(data, needle)
        assert qarvo.search_n(haystack, needle) == expected, needle
        if 1 <= len(needle) <= 3:
            fn = FUNCTIONS[len(needle) - 1]
            assert fn(haystack, needle_arg(fn, needle)) == expected, needle


@pytest.mark.parametrize("make", ACCEPTED.values(), ids=ACCEPTED.keys())
def test_accepted_haystacks(make):
    assert len(DATA) % 8 == 0
    check_every_function(make(DATA), DATA)


@pytest.mark.parametrize("access", [mmap.ACCESS_READ, mmap.ACCESS_WRITE, mmap.ACCESS_COPY])
def test_file_backed_mmap(tmp_path, access):
    mm = file_mmap(tmp_path, DATA, access)
    check_every_function(mm, DATA)
    assert qarvo.search_n(DATA, mm) == 0
    assert qarvo.search_n(b"--" + DATA, mm) == 2
    # Every export has been released, or close() would raise BufferError.
    mm.close()


@pytest.mark.parametrize(
    "haystack",
    [
        b"",
        bytearray(),
        memoryview(b"abc")[1:1],
        memoryview(b"")[::2],
        memoryview(b"abcdef")[4:2:2],
        np.empty(0, dtype=np.uint8),
        np.zeros((0, 5), dtype=np.uint8),
        array.array("B"),
    ],
    ids=[
        "bytes",
        "bytearray",
        "slice",
        "empty-strided",
        "empty-reverse",
        "numpy",
        "numpy-2d",
        "array",
    ],
)
def test_empty_haystacks(haystack):
    assert qarvo.search_one(haystack, 0) is None
    assert qarvo.search_two(haystack, b"\x00\x00") is None
    assert qarvo.search_three(haystack, b"\x00\x00\x00") is None
    assert qarvo.search_n(haystack, b"\x00") is None
    assert qarvo.search_n(haystack, b"") == 0
    assert qarvo.search_n(haystack, []) == 0


def test_single_element_strided_view_counts_as_contiguous():
    view = memoryview(b"abc")[::5]
    assert view.strides == (5,)
    assert qarvo.search_one(view, 97) == 0
    assert qarvo.search_n(b"xa", view) == 1


@every_function
@pytest.mark.parametrize(
    "haystack",
    [
        memoryview(b"ab").cast("b"),
        memoryview(b"abcd").cast("H"),
        array.array("b", b"abc"),
        array.array("H", b"abcd"),
        np.frombuffer(b"abc", dtype=np.int8),
        np.zeros(3, dtype=bool),
        np.zeros(3, dtype=np.uint16),
        np.frombuffer(b"abcdef", dtype=np.int8)[::2],
        memoryview(ctypes_array(ctypes.c_byte, b"abc")),
    ],
    ids=[
        "cast-b",
        "cast-H",
        "array-b",
        "array-H",
        "numpy-int8",
        "numpy-bool",
        "numpy-uint16",
        "numpy-int8-strided",
        "memoryview-of-ctypes-<b",
    ],
)
def test_haystack_with_wrong_items(fn, haystack):
    # A wrong item type is reported before any contiguity problem.
    expect_haystack_error(INCOMPATIBLE, fn, haystack)


@every_function
@pytest.mark.parametrize(
    "haystack",
    [
        memoryview(b"abcdef")[::2],
        memoryview(b"abcdef")[::-1],
        np.frombuffer(b"abcdef", dtype=np.uint8)[::2],
        np.arange(12, dtype=np.uint8).reshape(3, 4)[:, :2],
        np.asfortranarray(np.arange(6, dtype=np.uint8).reshape(2, 3)),
        np.arange(6, dtype=np.uint8).reshape(2, 3).T,
    ],
    ids=["step-2", "reversed", "numpy-step", "numpy-columns", "numpy-fortran", "numpy-transposed"],
)
def test_haystack_not_contiguous(fn, haystack):
    expect_haystack_error(HAYSTACK_NOT_CONTIGUOUS, fn, haystack)


def test_haystack_not_contiguous_example():
    expect_error(
        BufferError, HAYSTACK_NOT_CONTIGUOUS, qarvo.search_one, memoryview(b"abcdef")[::2], 99
    )


@every_function
@pytest.mark.parametrize(
    "haystack",
    [
        memoryview(b"a").cast("B", ()),
        np.array(97, dtype=np.uint8),
        ctypes.c_ubyte(97),
        ctypes.c_byte(97),  # the missing shape is reported before the wrong item type
    ],
    ids=["memoryview-0d", "numpy-0d", "ctypes-ubyte", "ctypes-byte"],
)
def test_haystack_without_shape(fn, haystack):
    expect_haystack_error("shape is null", fn, haystack)


@every_function
@pytest.mark.parametrize(
    "haystack",
    [ctypes_array(ctypes.c_ubyte, b"abc"), ctypes_array(ctypes.c_byte, b"abc")],
    ids=["ctypes-ubyte-array", "ctypes-byte-array"],
)
def test_haystack_without_strides(fn, haystack):
    # ctypes exports arrays without strides even when strides are requested.
    expect_haystack_error("strides is null", fn, haystack)


ACCEPTED_FORMATS = ["B", "c", "@B", "@c", "=B", "=c", "<B", "<c", ">B", ">c", "!B", "!c"]
REFUSED_FORMATS = ["b", "?", "@b", "<b", ">?", "1B", "@1B", "=1c", "H", "<H"]


@needs_testbuffer
@pytest.mark.parametrize("fmt", ACCEPTED_FORMATS)
def test_accepted_formats(fmt):
    haystack = buffer_of_format(DATA, fmt)
    assert memoryview(haystack).format == fmt
    check_every_function(haystack, DATA)
    # As a needle the buffer is read in place: for "c" items the element-wise path
    # would fail, since the elements are bytes objects.
    assert qarvo.search_n(b"__xyzabcabd", buffer_of_format(b"xyzabcabd", fmt)) == 2
    assert qarvo.search_n(b"xyz", buffer_of_format(b"yz", fmt)) == 1


@needs_testbuffer
@every_function
@pytest.mark.parametrize("fmt", REFUSED_FORMATS)
def test_refused_formats(fn, fmt):
    data = b"abc" if fmt not in ("?", ">?") else b"\x01\x00\x01"
    haystack = buffer_of_format(data, fmt)
    assert memoryview(haystack).format == fmt
    expect_haystack_error(INCOMPATIBLE, fn, haystack)


@needs_testbuffer
@every_function
def test_haystack_with_suboffsets_or_fortran_order(fn):
    pil = _testbuffer.ndarray(list(b"abcd"), shape=[2, 2], format="B", flags=_testbuffer.ND_PIL)
    fortran = _testbuffer.ndarray(
        list(b"abcdef"), shape=[2, 3], format="B", flags=_testbuffer.ND_FORTRAN
    )
    for haystack in (pil, fortran):
        expect_haystack_error(HAYSTACK_NOT_CONTIGUOUS, fn, haystack)


@needs_testbuffer
@every_function
def test_haystack_buffer_request_failure_is_unchanged(fn):
    failing = buffer_of_format(b"abc", "B", flags=_testbuffer.ND_GETBUF_FAIL)
    expect_haystack_error("ND_GETBUF_FAIL: forced test exception", fn, failing)


# ---- needle buffers of search_n ------------------------------------------------------------

HAY = b"--xyzabcabd\x00\xff--abcd"


@pytest.mark.parametrize(
    ("needle", "expected"),
    [
        (bytearray(b"abd"), 8),
        (memoryview(b"?abd?")[1:-1], 8),
        (memoryview(b"abd").cast("c"), 8),
        (memoryview(b"abcd").cast("B", (2, 2)), 15),
        (np.frombuffer(b"abd", dtype=np.uint8), 8),
        (np.frombuffer(b"\x00\xff--", dtype=np.uint8).reshape(2, 2), 11),
        (memoryview(ctypes_array(ctypes.c_char, b"abd")), 8),
        (memoryview(b"")[::3], 0),
        (memoryview(b"zab")[1:][::7], 5),
    ],
    ids=[
        "bytearray",
        "slice",
        "cast-c",
        "memoryview-2d",
        "numpy",
        "numpy-2d",
        "memoryview-of-ctypes-<c",
        "empty-strided",
        "single-strided",
    ],
)
def test_needle_buffers_are_read_in_place(needle, expected):
    assert naive_find(HAY, memoryview(needle).tobytes()) == expected
    assert qarvo.search_n(HAY, needle) == expected


@pytest.mark.parametrize(
    "needle",
    [
        memoryview(b"xlxl")[1::2],
        memoryview(b"ll")[::-1],
        np.frombuffer(b"lxl", dtype=np.uint8)[::2],
        np.frombuffer(b"llll", dtype=np.uint8).reshape(2, 2)[:, :1],
        np.asfortranarray(np.frombuffer(b"llll", dtype=np.uint8).reshape(2, 2)),
    ],
    ids=["step-2", "reversed", "numpy-step", "numpy-column", "numpy-fortran"],
)
def test_non_contiguous_needle_buffer_has_no_fallback(needle):
    # All of these would also iterate as sequences of small ints; the buffer decides.
    expect_error(BufferError, NEEDLE_NOT_CONTIGUOUS, qarvo.search_n, b"hello", needle)


def test_non_contiguous_needle_example():
    expect_error(
        BufferError, NEEDLE_NOT_CONTIGUOUS, qarvo.search_n, b"hello", memoryview(b"xlxl")[1::2]
    )


@needs_testbuffer
def test_needle_with_suboffsets_is_not_contiguous():
    pil = _testbuffer.ndarray(list(b"llll"), shape=[2, 2], format="B", flags=_testbuffer.ND_PIL)
    expect_error(BufferError, NEEDLE_NOT_CONTIGUOUS, qarvo.search_n, b"hello", pil)


@pytest.mark.parametrize(
    ("needle", "expected"),
    [
        (array.array("H", [108, 108]), 2),
        (array.array("b", b"lo"), 3),
        (array.array("I", [101, 108, 108]), 1),
        (memoryview(b"lo").cast("b"), 3),
        (np.frombuffer(b"ll", dtype=np.int8), 2),
        (np.frombuffer(b"lxlxo", dtype=np.int8)[::2], 2),
        (np.array([104, 101], dtype=np.uint16), 0),
        (np.array([101, 108], dtype=np.int64)[::1], 1),
        (ctypes_array(ctypes.c_ubyte, b"llo"), 2),
        (ctypes_array(ctypes.c_byte, b"lo"), 3),
        (np.array([], dtype=np.uint16), 0),
    ],
    ids=[
        "array-H",
        "array-b",
        "array-I",
        "cast-b",
        "numpy-int8",
        "numpy-int8-strided",
        "numpy-uint16",
        "numpy-int64",
        "ctypes-no-strides",
        "ctypes-byte",
        "numpy-empty-uint16",
    ],
)
def test_needles_without_usable_buffer_are_read_as_sequences(needle, expected):
    assert qarvo.search_n(b"hello", needle) == expected


@pytest.mark.parametrize(
    "needle",
    [
        np.zeros(2, dtype=bool),
        np.array([[108, 108]], dtype=np.int8),
        ctypes_array(ctypes.c_char, b"ll"),
    ],
    ids=["numpy-bool", "numpy-int8-2d", "ctypes-char-array"],
)
def test_sequence_fallback_errors_are_the_interpreters(needle):
    # Each element goes through the interpreter's integer conversion, unchanged.
    exc_type, message = error_of(operator.index, needle[0])
    expect_error(exc_type, message, qarvo.search_n, b"hello", needle)


def test_numpy_int8_needle_with_negative_element():
    expect_error(
        OverflowError,
        "out of range integral type conversion attempted",
        qarvo.search_n,
        b"hello",
        np.array([108, -1], dtype=np.int8),
    )


def test_same_object_as_haystack_and_needle():
    data = bytearray(b"abcabc")
    assert qarvo.search_n(data, data) == 0
    view = memoryview(data)
    assert qarvo.search_n(view, view[3:]) == 0
    assert qarvo.search_n(view[1:], view[3:5]) == 2
    view.release()
    data.extend(b"!")  # no export is left behind


# ---- reads stay inside the buffer -----------------------------------------------------------

GUARD_PAGE_SCRIPT = textwrap.dedent(
    """
    import ctypes, mmap, sys
    import qarvo

    page = mmap.PAGESIZE
    area = mmap.mmap(-1, 3 * page)
    base = ctypes.addressof(ctypes.c_char.from_buffer(area))
    libc = ctypes.CDLL(None, use_errno=True)
    libc.mprotect.argtypes = [ctypes.c_void_p, ctypes.c_size_t, ctypes.c_int]
    # Only the middle page stays readable: a read before or after it faults.
    for guard in (base, base + 2 * page):
        if libc.mprotect(guard, page, 0) != 0:
            sys.exit("mprotect failed: %d" % ctypes.get_errno())
    view = memoryview(area)
    view[page : 2 * page] = b"a" * page

    def naive(hay, needle):
        hay = bytes(hay)
        for start in range(len(hay) - len(needle) + 1):
            if hay[start : start + len(needle)] == needle:
                return start
        return None

    needles = [b"b", b"ab", b"ba", b"aab", b"baa", b"aaab", b"aaaab"]
    needles += [b"a" * 17 + b"b", b"a" * 70 + b"b"]
    lengths = list(range(0, 301)) + list(range(1020, 1030)) + list(range(page - 20, page + 1))
    checked = 0
    for n in lengths:
        for start in (page, 2 * page - n):
            hay = view[start : start + n]
            for needle in needles:
                for place in (None, 0, n - len(needle)):
                    if place is not None and not 0 <= place <= n - len(needle):
                        continue
                    if place is not None:
                        view[start + place : start + place + len(needle)] = needle
                    expected = naive(hay, needle)
                    got = [qarvo.search_n(hay, needle)]
                    if len(needle) == 1:
                        got.append(qarvo.search_one(hay, needle[0]))
                    elif len(needle) == 2:
                        got.append(qarvo.search_two(hay, needle))
                    elif len(needle) == 3:
                        got.append(qarvo.search_three(hay, needle))
                    if place is not None:
                        view[start + place : start + place + len(needle)] = b"a" * len(needle)
                    if any(g != expected for g in got):
                        sys.exit(f"n={n} start={start} needle={needle!r}: {got} != {expected}")
                    checked += 1
    print(checked)
    """
)


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="uses mprotect through libc")
def test_reads_stay_between_guard_pages():
    # Run apart, so that a read outside the buffer shows up as a crash of that process only.
    result = subprocess.run(
        [sys.executable, "-c", GUARD_PAGE_SCRIPT],
        capture_output=True,
        text=True,
        timeout=120,
        check=False,
    )
    assert result.returncode == 0, (result.returncode, result.stdout, result.stderr[-2000:])
    assert int(result.stdout) > 10_000


def test_readme_ctypes_example():
    # The README's claim, word for word: a c_ubyte array exports "<B" without
    # strides and is refused; a memoryview of it is accepted.
    arr = (ctypes.c_ubyte * 5).from_buffer_copy(b"hello")
    assert memoryview(arr).format == "<B"
    assert qarvo.search_n(memoryview(arr), b"ll") == 2
    expect_error(BufferError, "strides is null", qarvo.search_n, arr, b"ll")
