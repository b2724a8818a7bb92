"""Argument binding, the single-byte needle, needle error wrapping and the order of checks."""

import sys

import pytest
import qarvo
from conftest import (
    FIXED_NEEDLE_FUNCTIONS,
    FUNCTIONS,
    NEEDLE_FAILURES,
    OUT_OF_RANGE,
    Index,
    Raises,
    buffer_request_error,
    expect_error,
    int_conversion_error,
    raised,
)

# A valid needle for each function, so that binding is the only thing under test.
GOOD_NEEDLE = {
    qarvo.search_one: 98,
    qarvo.search_two: b"bc",
    qarvo.search_three: b"bcd",
    qarvo.search_n: b"bcd",
}
names = pytest.mark.parametrize("fn", FUNCTIONS, ids=lambda f: f.__name__)


def surrogate_display(text: str) -> str:
    """How the module shows a text that has lone surrogates: each invalid UTF-8 byte is U+FFFD."""
    return text.encode("utf-8", "surrogatepass").decode("utf-8", "replace")


@names
def test_positional_and_keyword_mixes_bind_the_same(fn):
    needle = GOOD_NEEDLE[fn]
    assert fn(b"abcde", needle) == 1
    assert fn(b"abcde", needle=needle) == 1
    assert fn(haystack=b"abcde", needle=needle) == 1
    assert fn(needle=needle, haystack=b"abcde") == 1
    assert fn(**{"needle": needle, "haystack": b"xxx"}) is None


@names
@pytest.mark.parametrize("extra", [1, 2, 5])
def test_too_many_positional_wins_over_keywords(fn, extra):
    args = (b"abc", GOOD_NEEDLE[fn]) + (0,) * extra
    message = f"{fn.__name__}() takes 2 positional arguments but {2 + extra} were given"
    expect_error(TypeError, message, fn, *args)
    expect_error(TypeError, message, fn, *args, x=3)
    expect_error(TypeError, message, fn, *args, needle=3)


@names
def test_unexpected_keyword(fn):
    name = fn.__name__
    expect_error(
        TypeError, f"{name}() got an unexpected keyword argument 'size'", fn, b"a", b"ab", size=1
    )
    expect_error(TypeError, f"{name}() got an unexpected keyword argument 'x'", fn, x=1)
    # Names match byte for byte: no case folding and no normalisation.
    expect_error(
        TypeError,
        f"{name}() got an unexpected keyword argument 'Needle'",
        fn,
        b"a",
        Needle=1,
    )
    expect_error(
        TypeError,
        f"{name}() got an unexpected keyword argument 'ｎｅｅｄｌｅ'",
        fn,
        b"a",
        **{"ｎｅｅｄｌｅ": 1},
    )


@names
def test_first_offending_keyword_wins(fn):
    name = fn.__name__
    expect_error(
        TypeError,
        f"{name}() got an unexpected keyword argument 'x'",
        fn,
        b"a",
        1,
        x=1,
        haystack=2,
    )
    expect_error(
        TypeError,
        f"{name}() got multiple values for argument 'haystack'",
        fn,
        b"a",
        1,
        haystack=2,
        x=1,
    )
    expect_error(
        TypeError,
        f"{name}() got an unexpected keyword argument 'y'",
        fn,
        needle=1,
        y=1,
        z=2,
    )


@names
def test_multiple_values(fn):
    name = fn.__name__
    expect_error(
        TypeError, f"{name}() got multiple values for argument 'haystack'", fn, b"a", haystack=b"b"
    )
    expect_error(
        TypeError,
        f"{name}() got multiple values for argument 'needle'",
        fn,
        b"a",
        GOOD_NEEDLE[fn],
        needle=GOOD_NEEDLE[fn],
    )


@names
def test_missing_arguments(fn):
    name = fn.__name__
    expect_error(
        TypeError,
        f"{name}() missing 2 required positional arguments: 'haystack' and 'needle'",
        fn,
    )
    expect_error(TypeError, f"{name}() missing 1 required positional argument: 'needle'", fn, b"a")
    expect_error(
        TypeError,
        f"{name}() missing 1 required positional argument: 'needle'",
        fn,
        haystack=b"a",
    )
    expect_error(
        TypeError,
        f"{name}() missing 1 required positional argument: 'haystack'",
        fn,
        needle=GOOD_NEEDLE[fn],
    )


@names
@pytest.mark.parametrize("keyword", ["\udcff", "x\udcffy", "\ud83d\ude00", "\udcff\udcfe"])
def test_keyword_with_lone_surrogates(fn, keyword):
    shown = surrogate_display(keyword)
    assert shown.count("\ufffd") == 3 * sum(0xD800 <= ord(c) <= 0xDFFF for c in keyword)
    expect_error(
        TypeError,
        f"{fn.__name__}() got an unexpected keyword argument '{shown}'",
        fn,
        b"a",
        GOOD_NEEDLE[fn],
        **{keyword: 1},
    )


def test_single_lone_surrogate_becomes_three_replacement_characters():
    expect_error(
        TypeError,
        "search_one() got an unexpected keyword argument '\ufffd\ufffd\ufffd'",
        qarvo.search_one,
        **{"\udcff": 1},
    )


class ShownAs(str):
    """A keyword name whose str() differs from its text."""

    def __str__(self):
        return "shown"


class Unprintable(str):
    def __str__(self):
        raise RuntimeError("no str for you")


@names
def test_unexpected_keyword_is_displayed_through_str(fn):
    expect_error(
        TypeError,
        f"{fn.__name__}() got an unexpected keyword argument 'shown'",
        fn,
        b"a",
        1,
        **{ShownAs("zz"): 1},
    )
    # Matching and the multiple-values message use the name's own text.
    expect_error(
        TypeError,
        f"{fn.__name__}() got multiple values for argument 'needle'",
        fn,
        b"a",
        1,
        **{ShownAs("needle"): 1},
    )
    assert fn(b"abcd", **{ShownAs("needle"): GOOD_NEEDLE[fn]}) == 1


@names
def test_unexpected_keyword_whose_str_fails(fn, monkeypatch):
    reports = []
    monkeypatch.setattr(sys, "unraisablehook", reports.append)
    expect_error(
        TypeError,
        f"{fn.__name__}() got an unexpected keyword argument '<unprintable Unprintable object>'",
        fn,
        b"a",
        1,
        **{Unprintable("zz"): 1},
    )
    assert len(reports) == 1
    assert type(reports[0].exc_value) is RuntimeError
    assert str(reports[0].exc_value) == "no str for you"
    assert type(reports[0].object) is Unprintable


# ---- the byte needle of search_one ----------------------------------------------------------


class Small(int):
    pass


def test_search_one_examples():
    assert qarvo.search_one(b"abc", 98) == 1
    assert qarvo.search_one(b"", 0) is None
    assert qarvo.search_one(b"abc", 100) is None
    assert qarvo.search_one(needle=99, haystack=b"abc") == 2
    assert qarvo.search_one(bytearray(b"xyz"), True) is None
    assert qarvo.search_one(b"\x01", True) == 0
    assert qarvo.search_one(b"\x00\x01", False) == 0
    assert type(qarvo.search_one(b"abc", 98)) is int


@pytest.mark.parametrize(
    ("needle", "expected"),
    [
        (Small(99), 2),
        (Index(98), 1),
        (0, 3),
        (255, 4),
        (Small(7), None),
    ],
    ids=["int-subclass", "index", "zero", "255", "absent"],
)
def test_search_one_accepts_int_like_needles(needle, expected):
    assert qarvo.search_one(b"abc\x00\xff", needle) == expected


@pytest.mark.parametrize("value", [256, -1, 2**31 - 1, -(2**31), 1000, Index(256), Small(-5)])
def test_search_one_needle_out_of_byte_range(value):
    expect_error(OverflowError, OUT_OF_RANGE, qarvo.search_one, b"abc", value)


@pytest.mark.parametrize("value", [2**31, -(2**31) - 1, 2**40, -(2**63), 2**64, Index(2**31)])
def test_search_one_needle_outside_32_bits_keeps_interpreter_message(value):
    exc_type, message = int_conversion_error(value)
    assert exc_type is OverflowError
    assert message != OUT_OF_RANGE
    expect_error(OverflowError, message, qarvo.search_one, b"abc", value)


@pytest.mark.parametrize("needle", [1.5, "a", None, b"a", Index("x")])
def test_search_one_needle_type_error_gets_prefix(needle):
    exc_type, message = int_conversion_error(needle)
    assert exc_type is TypeError
    expect_error(TypeError, "argument 'needle': " + message, qarvo.search_one, b"abc", needle)


# ---- wrapping of needle errors --------------------------------------------------------------


class MyTypeError(TypeError):
    pass


def needle_with(fn, element):
    """A needle for `fn` whose first element is `element`."""
    if fn is qarvo.search_one:
        return element
    if fn is qarvo.search_two:
        return [element, 1]
    if fn is qarvo.search_three:
        return [element, 1, 2]
    return [element, 1, 2, 3]


fixed = pytest.mark.parametrize("fn", FIXED_NEEDLE_FUNCTIONS, ids=lambda f: f.__name__)


@fixed
def test_wrapped_type_error_keeps_cause_and_suppresses_context(fn):
    cause = ValueError("the cause")
    original = TypeError("bad element")
    original.__cause__ = cause
    exc = expect_error(
        TypeError, "argument 'needle': bad element", fn, b"abc", needle_with(fn, Raises(original))
    )
    assert exc is not original
    assert exc.__cause__ is cause
    assert exc.__suppress_context__ is True


@fixed
def test_wrapped_type_error_without_cause(fn):
    exc = expect_error(
        TypeError,
        "argument 'needle': plain",
        fn,
        b"abc",
        needle_with(fn, Raises(TypeError("plain"))),
    )
    assert exc.__cause__ is None
    assert exc.__suppress_context__ is True


@fixed
def test_wrapped_type_error_drops_the_needle_traceback(fn):
    exc = raised(TypeError, fn, b"abc", needle_with(fn, Raises(TypeError("x"))))
    frames = []
    tb = exc.__traceback__
    while tb is not None:
        frames.append(tb.tb_frame.f_code.co_name)
        tb = tb.tb_next
    assert "__index__" not in frames


@fixed
@pytest.mark.parametrize(
    ("args", "shown"),
    [
        (("a", "b"), "('a', 'b')"),
        ((), ""),
        (("bad \udcff text",), "bad \ufffd\ufffd\ufffd text"),
        ((42,), "42"),
    ],
)
def test_wrapped_message_is_str_of_the_exception(fn, args, shown):
    expect_error(
        TypeError,
        "argument 'needle': " + shown,
        fn,
        b"abc",
        needle_with(fn, Raises(TypeError(*args))),
    )


@fixed
def test_wrapped_exception_whose_str_fails(fn, monkeypatch):
    class NoStr:
        def __str__(self):
            raise RuntimeError("broken str")

    reports = []
    monkeypatch.setattr(sys, "unraisablehook", reports.append)
    original = TypeError(NoStr())
    expect_error(
        TypeError,
        "argument 'needle': <unprintable TypeError object>",
        fn,
        b"abc",
        needle_with(fn, Raises(original)),
    )
    assert len(reports) == 1
    assert type(reports[0].exc_value) is RuntimeError
    assert reports[0].object is original


@pytest.mark.parametrize("fn", FUNCTIONS, ids=lambda f: f.__name__)
@pytest.mark.parametrize(
    "original",
    [MyTypeError("sub"), ValueError("value"), KeyError("key"), OverflowError("big")],
    ids=["typeerror-subclass", "valueerror", "keyerror", "overflowerror"],
)
def test_other_needle_errors_pass_unchanged(fn, original):
    exc = raised(type(original), fn, b"abc", needle_with(fn, Raises(original)))
    assert exc is original
    assert str(exc) == str(original)


def test_search_n_never_prefixes():
    cause = ValueError("cause")
    original = TypeError("element")
    original.__cause__ = cause
    exc = raised(TypeError, qarvo.search_n, b"abc", [Raises(original)])
    assert exc is original
    assert str(exc) == "element"
    expect_error(*int_conversion_error(1.5), qarvo.search_n, b"abc", [1.5])


# ---- haystack errors and the order of checks ------------------------------------------------


@names
@pytest.mark.parametrize("haystack", ["abc", 5, None, [97, 98]], ids=["str", "int", "none", "list"])
def test_haystack_without_buffer_raises_interpreter_error(fn, haystack):
    exc_type, message = buffer_request_error(haystack)
    assert exc_type is TypeError
    expect_error(TypeError, message, fn, haystack, GOOD_NEEDLE[fn])


@names
def test_failing_buffer_request_passes_unchanged(fn):
    released = memoryview(b"abc")
    released.release()
    exc_type, message = buffer_request_error(released)
    assert exc_type is ValueError
    expect_error(ValueError, message, fn, released, GOOD_NEEDLE[fn])


@pytest.mark.parametrize(
    ("fn", "needle", "exc_type", "message"),
    [case for case in NEEDLE_FAILURES if case[0] in FIXED_NEEDLE_FUNCTIONS],
)
@pytest.mark.parametrize("haystack", ["abc", 5, memoryview(b"abcdef")[::2]])
def test_fixed_needle_error_wins_over_haystack_error(fn, needle, exc_type, message, haystack):
    expect_error(exc_type, message, fn, haystack, needle)


@pytest.mark.parametrize("needle", ["b", 5, [1, 256], memoryview(b"xlxl")[1::2]])
def test_search_n_haystack_error_wins_over_needle_error(needle):
    expect_error(*buffer_request_error("abc"), qarvo.search_n, "abc", needle)
    expect_error(
        BufferError,
        "haystack buffer must be contiguous",
        qarvo.search_n,
        memoryview(b"abcdef")[::2],
        needle,
    )


def test_examples_of_the_order_of_checks():
    expect_error(OverflowError, OUT_OF_RANGE, qarvo.search_one, "abc", 300)
    expect_error(*buffer_request_error("abc"), qarvo.search_one, "abc", 97)
    expect_error(
        TypeError,
        "argument 'needle': 'int' object cannot be converted to 'Sequence'",
        qarvo.search_two,
        5,
        5,
    )
    expect_error(*buffer_request_error("abc"), qarvo.search_n, "abc", "b")


@names
def test_binding_error_wins_before_any_conversion(fn):
    touched = []

    class Spy:
        def __index__(self):
            touched.append("index")
            return 1

        def __len__(self):
            touched.append("len")
            return 2

        def __getitem__(self, i):
            touched.append("getitem")
            return 1

    expect_error(
        TypeError,
        f"{fn.__name__}() takes 2 positional arguments but 3 were given",
        fn,
        "not a buffer",
        Spy(),
        Spy(),
    )
    expect_error(
        TypeError,
        f"{fn.__name__}() got an unexpected keyword argument 'q'",
        fn,
        "not a buffer",
        Spy(),
        q=1,
    )
    assert touched == []


needs_buffer_dunder = pytest.mark.skipif(
    sys.version_info < (3, 12), reason="__buffer__ on Python classes needs 3.12"
)


class Exporter:
    """A haystack that records every buffer request and release."""

    def __init__(self, data, log):
        self.data = bytearray(data)
        self.log = log

    def __buffer__(self, flags):
        self.log.append(("get", flags))
        return memoryview(self.data)

    def __release_buffer__(self, view):
        self.log.append(("release",))


@needs_buffer_dunder
@fixed
@pytest.mark.parametrize("bad", [300, 1.5, Raises(MyTypeError("x")), [1] * 7])
def test_fixed_needle_failure_does_not_request_the_haystack(fn, bad):
    log = []
    with pytest.raises((TypeError, ValueError, OverflowError)):
        fn(Exporter(b"abc", log), bad)
    assert log == []


@needs_buffer_dunder
@names
def test_haystack_requested_read_only_with_full_flags_and_released_once(fn):
    log = []
    assert fn(Exporter(b"abcde", log), GOOD_NEEDLE[fn]) == 1
    assert log == [("get", 0x11C), ("release",)]


@needs_buffer_dunder
@pytest.mark.parametrize("bad", ["str", 5, [1, 300], [Raises(ValueError("x"))]])
def test_search_n_requests_and_releases_the_haystack_before_a_needle_error(bad):
    log = []
    with pytest.raises((TypeError, ValueError, OverflowError)):
        qarvo.search_n(Exporter(b"abc", log), bad)
    assert log == [("get", 0x11C), ("release",)]


@needs_buffer_dunder
@names
def test_haystack_buffer_error_from_dunder_passes_unchanged(fn):
    class Refuses:
        def __buffer__(self, flags):
            raise ValueError("no buffer today")

    expect_error(ValueError, "no buffer today", fn, Refuses(), GOOD_NEEDLE[fn])
