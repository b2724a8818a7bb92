"""Sequence needles: the fixed two- and three-byte needles and the any-length needle of search_n."""

import array

import pytest
import qarvo
from conftest import OUT_OF_RANGE, Index, error_of, expect_error, int_conversion_error, raised

PREFIX = "argument 'needle': "
search_two, search_three, search_n = qarvo.search_two, qarvo.search_three, qarvo.search_n
fixed = pytest.mark.parametrize(
    ("fn", "size"), [(search_two, 2), (search_three, 3)], ids=["search_two", "search_three"]
)


def not_convertible(obj, target="Sequence"):
    return f"'{type(obj).__qualname__}' object cannot be converted to '{target}'"


class Outer:
    class Inner:
        pass


class OddName:
    pass


OddName.__qualname__ = "odd\udcffname"


class Seq:
    """A sequence built from __len__ and __getitem__ that records which elements were read."""

    def __init__(self, items, length=None):
        self.items = list(items)
        self.length = len(self.items) if length is None else length
        self.read = []

    def __len__(self):
        if isinstance(self.length, BaseException):
            raise self.length
        return self.length

    def __getitem__(self, i):
        self.read.append(i)
        if i >= len(self.items):
            raise IndexError(i)
        item = self.items[i]
        if isinstance(item, BaseException):
            raise item
        return item


class GetItemOnly:
    """A sequence without __len__: iterable through __getitem__ alone."""

    def __init__(self, items):
        self.items = items

    def __getitem__(self, i):
        return self.items[i]


# ---- search_two and search_three -------------------------------------------------------------


def test_fixed_needle_examples():
    assert search_two(b"abcabd", b"bd") == 4
    assert search_two(b"abc", [98, 99]) == 1
    assert search_two(b"abc", (99, 100)) is None
    assert search_two(b"abc", bytearray(b"ab")) == 0
    assert search_two(b"abc", memoryview(b"bc")) == 1
    assert search_three(b"xxabcabd", b"abd") == 5
    assert search_three(b"xxabc", [Index(97), True + 97, 99]) == 2
    assert search_three(b"abc", range(97, 100)) == 0
    assert search_two(b"\x00\x01", array.array("H", [0, 1])) == 0


@fixed
def test_elements_are_read_in_order_through_getitem(fn, size):
    needle = Seq(b"abc"[:size])
    assert fn(b"zzabc", needle) == 2
    assert needle.read == list(range(size))


@fixed
@pytest.mark.parametrize(
    "needle",
    [5, {0: 97, 1: 98, 2: 99}, {97, 98}, (x for x in b"abc"), None, 1.5, Outer.Inner()],
    ids=["int", "dict", "set", "generator", "none", "float", "nested-class"],
)
def test_not_a_sequence(fn, size, needle):
    expect_error(TypeError, PREFIX + not_convertible(needle), fn, b"abc", needle)


def test_not_a_sequence_uses_qualified_name():
    expect_error(
        TypeError,
        PREFIX + "'Outer.Inner' object cannot be converted to 'Sequence'",
        search_two,
        b"abc",
        Outer.Inner(),
    )
    expect_error(
        TypeError,
        PREFIX + "'int' object cannot be converted to 'Sequence'",
        search_two,
        b"abc",
        5,
    )


@fixed
def test_type_name_that_cannot_be_encoded(fn, size):
    expect_error(
        TypeError,
        PREFIX + "'<failed to extract type name>' object cannot be converted to 'Sequence'",
        fn,
        b"abc",
        OddName(),
    )


@fixed
@pytest.mark.parametrize("length", [0, 1, 4, 10])
def test_wrong_length(fn, size, length):
    if length == size:
        pytest.skip("right length")
    message = f"expected a sequence of length {size} (got {length})"
    expect_error(ValueError, message, fn, b"abc", list(range(length)))
    expect_error(ValueError, message, fn, b"abc", bytes(length))
    # The length comes from __len__, and no element is read.
    needle = Seq([97] * size, length=length)
    expect_error(ValueError, message, fn, b"abc", needle)
    assert needle.read == []


def test_wrong_length_examples():
    expect_error(
        ValueError, "expected a sequence of length 2 (got 3)", search_two, b"abc", [1, 2, 3]
    )
    expect_error(ValueError, "expected a sequence of length 3 (got 1)", search_three, b"abc", [1])


@fixed
def test_length_that_cannot_be_read(fn, size):
    expect_error(
        TypeError,
        PREFIX + "object of type 'GetItemOnly' has no len()",
        fn,
        b"abc",
        GetItemOnly([97] * size),
    )
    expect_error(
        TypeError, PREFIX + "len failed", fn, b"abc", Seq([], length=TypeError("len failed"))
    )
    error = ValueError("len value")
    assert raised(ValueError, fn, b"abc", Seq([], length=error)) is error
    expect_error(ValueError, "__len__() should return >= 0", fn, b"abc", Seq([], length=-1))


@fixed
def test_element_that_cannot_be_read(fn, size):
    lookup = LookupError("gone")
    needle = Seq([97, lookup, 99][:size])
    assert raised(LookupError, fn, b"abc", needle) is lookup
    assert needle.read == [0, 1]
    needle = Seq([TypeError("unreadable"), 98, 99][:size])
    expect_error(TypeError, PREFIX + "unreadable", fn, b"abc", needle)
    assert needle.read == [0]
    # __len__ claims more than __getitem__ delivers.
    expect_error(IndexError, "1", fn, b"abc", Seq([97], length=size))


@fixed
@pytest.mark.parametrize("element", ["a", 1.5, None, b"a"])
def test_element_not_an_integer(fn, size, element):
    _, message = int_conversion_error(element)
    for position in range(size):
        items = [97] * size
        items[position] = element
        expect_error(TypeError, PREFIX + message, fn, b"abc", items)


@fixed
def test_str_needle_fails_on_its_first_element(fn, size):
    expect_error(
        TypeError,
        PREFIX + int_conversion_error("a")[1],
        fn,
        b"abc",
        "abc"[:size],
    )


@fixed
@pytest.mark.parametrize("value", [256, -1, 2**31 - 1, -(2**31), Index(1000)])
def test_element_out_of_byte_range(fn, size, value):
    for position in range(size):
        items = [97] * size
        items[position] = value
        expect_error(OverflowError, OUT_OF_RANGE, fn, b"abc", items)


@fixed
@pytest.mark.parametrize("value", [2**31, -(2**31) - 1, 10**30])
def test_element_outside_32_bits(fn, size, value):
    items = [value] + [97] * (size - 1)
    expect_error(*int_conversion_error(value), fn, b"abc", items)


@fixed
def test_first_failing_element_decides_and_later_ones_are_not_read(fn, size):
    needle = Seq([300, 1.5, 97][:size])
    expect_error(OverflowError, OUT_OF_RANGE, fn, b"abc", needle)
    assert needle.read == [0]
    needle = Seq([1.5, 300, 97][:size])
    expect_error(TypeError, PREFIX + int_conversion_error(1.5)[1], fn, b"abc", needle)
    assert needle.read == [0]


def test_fixed_needle_examples_of_errors():
    expect_error(
        TypeError, PREFIX + "'int' object cannot be converted to 'Sequence'", search_two, b"abc", 5
    )
    assert str(raised(TypeError, search_two, b"abc", "ab")).startswith(PREFIX)
    expect_error(OverflowError, OUT_OF_RANGE, search_two, b"abc", [1, 256])


# ---- search_n ---------------------------------------------------------------------------------


def test_search_n_examples():
    assert search_n(b"hello", b"ll") == 2
    assert search_n(b"hello", [108, 108]) == 2
    assert search_n(b"hello", bytearray(b"ll")) == 2
    assert search_n(b"hello", b"") == 0
    assert search_n(b"hello", []) == 0
    assert search_n(b"", b"") == 0
    assert search_n(b"", ()) == 0
    assert search_n(b"hello", b"hello!") is None
    assert search_n(b"hello", b"hello") == 0
    assert search_n(b"hello", b"hellp") is None
    assert search_n(b"hello", array.array("H", [108, 108])) == 2
    assert search_n(b"hello", range(108, 110)) is None
    assert search_n(b"hello", (Index(108), True + 107, 111)) == 2


@pytest.mark.parametrize(
    "needle",
    [
        Seq(b"llo"),
        Seq(b"llo", length=0),
        Seq(b"llo", length=10**6),
        Seq(b"llo", length=ValueError("length unknown")),
        Seq(b"llo", length=TypeError("length unknown")),
        GetItemOnly(b"llo"),
    ],
    ids=[
        "exact",
        "len-too-small",
        "len-too-large",
        "len-valueerror",
        "len-typeerror",
        "no-len",
    ],
)
def test_search_n_reads_the_elements_whatever_the_length_says(needle):
    assert search_n(b"hello", needle) == 2


def test_search_n_str_needles():
    message = "Can't extract `str` to `Vec`"
    expect_error(TypeError, message, search_n, b"hello", "ll")
    expect_error(TypeError, message, search_n, b"hello", "")

    class Text(str):
        pass

    expect_error(TypeError, message, search_n, b"hello", Text("ll"))


@pytest.mark.parametrize(
    "needle",
    [5, {0: 1}, {1, 2}, (x for x in b"ll"), iter([108, 108]), None, 1.5, Outer.Inner()],
    ids=["int", "dict", "set", "generator", "list-iterator", "none", "float", "nested-class"],
)
def test_search_n_not_a_sequence(needle):
    expect_error(TypeError, not_convertible(needle), search_n, b"hello", needle)


def test_search_n_not_a_sequence_examples():
    expect_error(TypeError, "'int' object cannot be converted to 'Sequence'", search_n, b"hello", 5)
    expect_error(
        TypeError,
        "'generator' object cannot be converted to 'Sequence'",
        search_n,
        b"hello",
        (x for x in b"ll"),
    )
    expect_error(
        TypeError,
        "'<failed to extract type name>' object cannot be converted to 'Sequence'",
        search_n,
        b"hello",
        OddName(),
    )


def test_search_n_iteration_errors_pass_unchanged():
    class NoIter(Seq):
        def __iter__(self):
            raise TypeError("no iterator")

    expect_error(TypeError, "no iterator", search_n, b"hello", NoIter(b"ll"))

    class BadIter(Seq):
        def __iter__(self):
            return 5

    expect_error(*error_of(iter, BadIter(b"l")), search_n, b"hello", BadIter(b"l"))

    failure = ValueError("stop here")
    needle = Seq([108, failure, 108])
    assert raised(ValueError, search_n, b"hello", needle) is failure
    assert needle.read == [0, 1]

    class FailingNext(Seq):
        def __iter__(self):
            return self

        def __next__(self):
            raise TypeError("next failed")

    expect_error(TypeError, "next failed", search_n, b"hello", FailingNext(b"l"))


@pytest.mark.parametrize("element", ["l", 1.5, b"l", Index("x")])
def test_search_n_element_not_an_integer(element):
    exc_type, message = int_conversion_error(element)
    assert exc_type is TypeError
    expect_error(TypeError, message, search_n, b"hello", [108, element])
    expect_error(TypeError, message, search_n, b"hello", (element,))


def test_search_n_elements_out_of_range():
    for value in (256, -1, 2**31 - 1, -(2**31), Index(999)):
        expect_error(OverflowError, OUT_OF_RANGE, search_n, b"hello", [108, value])
    for value in (2**31, -(2**31) - 1, 2**100):
        expect_error(*int_conversion_error(value), search_n, b"hello", [value])
    expect_error(OverflowError, OUT_OF_RANGE, search_n, b"hello", array.array("H", [108, 300]))
    expect_error(OverflowError, OUT_OF_RANGE, search_n, b"hello", array.array("b", [108, -1]))


def test_search_n_stops_at_the_first_failing_element():
    needle = Seq([108, 300, 1.5])
    expect_error(OverflowError, OUT_OF_RANGE, search_n, b"hello", needle)
    assert needle.read == [0, 1]


def test_search_n_zero_dimensional_memoryview_is_read_as_a_sequence():
    # Its buffer has no shape, so the needle is iterated, which the interpreter refuses.
    scalar = memoryview(b"l").cast("B", ())
    exc_type, message = error_of(list, scalar)
    expect_error(exc_type, message, search_n, b"hello", scalar)


def test_search_n_short_needles_match_the_fixed_functions():
    hay = b"abracadabra\x00\xff\xff"
    for needle in (b"a", b"r", b"\xff", b"z"):
        assert search_n(hay, needle) == qarvo.search_one(hay, needle[0])
        assert search_n(hay, list(needle)) == qarvo.search_one(hay, needle[0])
    for needle in (b"ra", b"ca", b"\xff\xff", b"\x00\xff", b"zz"):
        assert search_n(hay, needle) == search_two(hay, needle)
        assert search_n(hay, tuple(needle)) == search_two(hay, needle)
    for needle in (b"bra", b"cad", b"\x00\xff\xff", b"abz"):
        assert search_n(hay, needle) == search_three(hay, needle)


# ---- subclasses and needles that change while they are read -----------------------------------


class ShiftedList(list):
    def __getitem__(self, i):
        return super().__getitem__(i) + 1

    def __iter__(self):
        return (value + 1 for value in super().__iter__())


class ShiftedTuple(tuple):
    def __getitem__(self, i):
        return super().__getitem__(i) + 1

    def __iter__(self):
        return (value + 1 for value in super().__iter__())


class ShortBytes(bytes):
    def __len__(self):
        return 2

    def __getitem__(self, i):
        return super().__getitem__(i) + 1


@pytest.mark.parametrize("kind", [ShiftedList, ShiftedTuple])
def test_subclass_needles_are_read_through_their_own_methods(kind):
    assert search_two(b"abc", kind([97, 98])) == 1
    assert search_three(b"abcd", kind([97, 98, 99])) == 1
    assert search_n(b"abcde", kind([98, 99, 100])) == 2


def test_bytes_subclass_needle():
    # Length and elements come from the overrides for the fixed needles...
    assert search_two(b"abcd", ShortBytes(b"bcz")) == 2
    # ...while search_n reads the buffer, which the overrides do not change.
    assert search_n(b"abcd", ShortBytes(b"bcz")) is None
    assert search_n(b"abcd", ShortBytes(b"bc")) == 1


class Changer:
    """An element whose conversion changes the list that holds it."""

    def __init__(self, value, needle, change):
        self.value = value
        self.needle = needle
        self.change = change

    def __index__(self):
        self.change(self.needle)
        return self.value


def test_search_n_iterates_a_list_that_grows():
    needle = []
    needle.append(Changer(108, needle, lambda n: n.append(111)))
    assert search_n(b"hel lo", needle) == 4
    assert len(needle) == 2


def test_search_n_iterates_a_list_that_shrinks():
    needle = []
    needle += [Changer(108, needle, list.clear), 300, 1.5]
    assert search_n(b"hel lo", needle) == 2
    assert needle == []


@pytest.mark.parametrize(("fn", "size"), [(search_two, 2), (search_three, 3)])
def test_fixed_needle_list_that_shrinks(fn, size):
    needle = []
    needle += [Changer(97, needle, list.clear)] + [98] * (size - 1)
    expect_error(IndexError, "list index out of range", fn, b"abc", needle)


def test_search_n_zero_dimensional_numpy_needle():
    np = pytest.importorskip("numpy")
    scalar = np.array(108, dtype=np.uint8)
    expect_error(*error_of(iter, scalar), search_n, b"hello", scalar)
