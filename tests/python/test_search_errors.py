"""What find, rfind, count, finditer, find_all and Finder raise, and what they give back."""

import contextlib
import pickle
import sys
import threading

import pytest
import qarvo
from conftest import Index, RaisesFresh, error_of
from test_ownership import assert_no_reference_leak, frozen_gc  # noqa: F401 - a fixture

FUNCTIONS = [qarvo.find, qarvo.rfind, qarvo.count, qarvo.finditer, qarvo.find_all]
MATCHES = [qarvo.count, qarvo.finditer, qarvo.find_all]


def run(fn, *args, **kwargs):
    """Calls fn and drains an iterator, so that every function does all of its work."""
    result = fn(*args, **kwargs)
    return list(result) if fn is qarvo.finditer else result


# ---- the same mistakes as bytes.find, the same errors ----------------------------------------

BYTES_MISTAKES = [
    ("str needle", ("x",)),
    ("float needle", (1.5,)),
    ("dict needle", ({},)),
    ("byte above 255", (256,)),
    ("negative byte", (-1,)),
    ("huge byte", (2**80,)),
    ("Index above 255", (Index(300),)),
    ("str start", (b"a", "x")),
    ("float end", (b"a", None, 1.5)),
    ("list start", (b"a", [1])),
]


@pytest.mark.parametrize("fn", FUNCTIONS, ids=lambda f: f.__name__)
@pytest.mark.parametrize(("what", "args"), BYTES_MISTAKES, ids=[m[0] for m in BYTES_MISTAKES])
def test_mistakes_bytes_find_refuses_raise_its_error(fn, what, args):
    want = error_of(b"abc".find, *args)
    with pytest.raises(BaseException) as info:
        run(fn, b"abc", *args)
    assert (type(info.value), str(info.value)) == want


def test_errors_of_the_callers_own_code_come_back_unchanged():
    for fn in FUNCTIONS:
        for args in [(RaisesFresh(KeyError("index")),), (b"a", RaisesFresh(ZeroDivisionError()))]:
            with pytest.raises((KeyError, ZeroDivisionError)):
                run(fn, b"abc", *args)

    class Falsy:
        def __bool__(self):
            raise ArithmeticError("truth")

    for fn in MATCHES:
        with pytest.raises(ArithmeticError, match="truth"):
            run(fn, b"abc", b"a", overlapping=Falsy())


def test_needles_that_only_search_n_takes_raise_its_errors():
    # A sequence of integers is a needle bytes.find does not take; its errors are search_n's.
    for needle in ([1, 300], [1, "x"]):
        want = error_of(qarvo.search_n, b"abc", needle)
        for fn in FUNCTIONS:
            with pytest.raises(BaseException) as info:
                run(fn, b"abc", needle)
            assert (type(info.value), str(info.value)) == want


def test_haystack_errors_are_search_n_s():
    for haystack in ("abc", 5, memoryview(b"abcd")[::2], memoryview(b"ab").cast("b")):
        want = error_of(qarvo.search_n, haystack, b"a")
        for fn in FUNCTIONS:
            with pytest.raises(BaseException) as info:
                run(fn, haystack, b"a")
            assert (type(info.value), str(info.value)) == want
        with pytest.raises(BaseException) as info:
            qarvo.Finder(b"a").find(haystack)
        assert (type(info.value), str(info.value)) == want


# ---- argument binding: the messages of a Python function with the same signature --------------


def find(haystack, needle, start=None, end=None, *, ignore_case=False):
    pass


def count(haystack, needle, start=None, end=None, *, overlapping=False, ignore_case=False):
    pass


class Finder:
    def find(self, haystack, start=None, end=None):
        pass

    def count(self, haystack, start=None, end=None, *, overlapping=False):
        pass


CALLS = [
    ((), {}),
    ((1,), {}),
    ((1, 2, 3, 4, 5), {}),
    ((1, 2, 3, 4, 5, 6), {}),
    ((1, 2), {"x": 1}),
    ((1, 2, 3, 4, 5), {"x": 1}),
    ((1, 2), {"needle": 1}),
    ((1, 2, 3), {"start": 1}),
    ((1,), {"end": 1}),
    ((), {"start": 1, "end": 2}),
]
MATCH_CALLS = [
    ((1, 2, 3, 4, 5), {"overlapping": True}),
    ((1,), {"overlapping": True}),
    ((1, 2, 3), {"overlapping": True, "x": 1}),
]
CASE_CALLS = [
    ((1, 2, 3, 4, 5), {"ignore_case": True}),
    ((1,), {"ignore_case": True}),
    ((1, 2), {"ignore_case": True, "x": 1}),
    ((1, 2, 3, 4, 5, 6), {"ignore_case": True, "overlapping": True}),
]


def binding_error(fn, args, kwargs):
    with pytest.raises(TypeError) as info:
        fn(*args, **kwargs)
    return str(info.value)


@pytest.mark.parametrize(("args", "kwargs"), CALLS + MATCH_CALLS + CASE_CALLS)
def test_binding_messages_are_those_of_a_python_function(args, kwargs):
    matches = "overlapping" in kwargs
    for fn in FUNCTIONS:
        if matches and fn in (qarvo.find, qarvo.rfind):
            continue
        model = count if fn in MATCHES else find
        want = binding_error(model, args, kwargs).replace(
            model.__name__ + "(", fn.__name__ + "(", 1
        )
        assert binding_error(fn, args, kwargs) == want


@pytest.mark.parametrize(("args", "kwargs"), CALLS[:6] + MATCH_CALLS)
def test_finder_method_messages_are_those_of_a_python_method(args, kwargs):
    args = args[1:]  # the methods have no needle
    kwargs = {k: v for k, v in kwargs.items() if k != "needle"}
    finder = qarvo.Finder(b"a")
    for name in ("find", "rfind", "count", "finditer", "find_all"):
        model = getattr(Finder(), "count" if name in ("count", "finditer", "find_all") else "find")
        if "overlapping" in kwargs and model.__name__ == "find":
            continue
        want = binding_error(model, args, kwargs).replace(f".{model.__name__}(", f".{name}(", 1)
        assert binding_error(getattr(finder, name), args, kwargs) == want


def test_finder_construction_errors():
    with pytest.raises(
        TypeError, match=r"^Finder\(\) missing 1 required positional argument: 'needle'$"
    ):
        qarvo.Finder()
    with pytest.raises(
        TypeError, match=r"^Finder\(\) takes 1 positional argument but 2 were given$"
    ):
        qarvo.Finder(b"a", b"b")
    with pytest.raises(TypeError, match=r"^Finder\(\) got an unexpected keyword argument 'x'$"):
        qarvo.Finder(x=1)
    assert qarvo.Finder(needle=b"ab").needle == b"ab"
    assert error_of(qarvo.Finder, "x") == error_of(b"".find, "x")
    assert error_of(qarvo.Finder, 300) == error_of(b"".find, 300)


# ---- Finder as an object ----------------------------------------------------------------------


def test_finder_is_immutable_and_picklable():
    finder = qarvo.Finder(bytearray(b"needle"))
    assert type(finder.needle) is bytes and finder.needle == b"needle"
    with pytest.raises(AttributeError):
        finder.needle = b"other"
    assert repr(finder) == "qarvo.Finder(b'needle')"
    for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
        copy = pickle.loads(pickle.dumps(finder, protocol))
        assert type(copy) is qarvo.Finder and copy.needle == b"needle"
        assert copy.find(b"a needle") == 2
    with pytest.raises(TypeError):

        class Sub(qarvo.Finder):  # final: not a base type
            pass


def test_one_finder_serves_many_threads():
    finder = qarvo.Finder(b"needle")
    data = [bytes(b"x" * (i * 37 % 500)) + b"needle" + b"y" * i for i in range(200)]
    errors = []

    def work():
        for _ in range(20):
            for i, hay in enumerate(data):
                if finder.find(hay) != i * 37 % 500 or finder.count(hay) != 1:
                    errors.append(i)

    threads = [threading.Thread(target=work) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert errors == []


# ---- buffers: held while needed, released on every path --------------------------------------


def resizable_after(array):
    """Whether no export of the bytearray is left (a resize succeeds, then is undone)."""
    try:
        array.append(0)
    except BufferError:
        return False
    array.pop()
    return True


@pytest.mark.parametrize("fn", FUNCTIONS, ids=lambda f: f.__name__)
def test_every_error_path_releases_the_buffers(fn):
    hay = bytearray(b"abcabc")
    needle = bytearray(b"bc")
    for args in [
        (needle, "x"),
        (needle, 0, 1.5),
        ("x",),
        (300,),
        ([1, 300],),
        (needle, RaisesFresh(KeyError())),
    ]:
        with pytest.raises((TypeError, ValueError, OverflowError, KeyError)):
            run(fn, hay, *args)
        assert resizable_after(hay) and resizable_after(needle)
    assert run(fn, hay, needle) is not None
    assert resizable_after(hay) and resizable_after(needle)


def test_finditer_holds_the_haystack_until_exhausted_or_deleted():
    hay = bytearray(b"ab" * 100)
    it = qarvo.finditer(hay, b"ab")
    assert next(it) == 0
    with pytest.raises(BufferError):
        hay.append(0)
    hay[2:4] = b"zz"  # writes in place are allowed; the iterator sees them
    assert next(it) == 4
    del it
    assert resizable_after(hay)
    it = qarvo.finditer(hay, b"ab")
    assert len(list(it)) == 99  # one pair was overwritten above
    assert resizable_after(hay)  # exhausted: released before the iterator goes away
    it = qarvo.Finder(b"ab").finditer(hay, 10**6)  # an empty window holds nothing
    assert resizable_after(hay) and list(it) == []


def test_the_iterator_cannot_be_made_directly():
    it_type = type(qarvo.finditer(b"a", b"a"))
    with pytest.raises(TypeError):
        it_type()


@pytest.mark.skipif(not hasattr(sys, "gettotalrefcount"), reason="needs a debug interpreter")
@pytest.mark.parametrize(
    "case",
    [
        lambda: qarvo.find(b"x" * 300 + b"ab", b"ab", 1, None),
        lambda: qarvo.rfind(bytearray(b"x" * 300 + b"ab"), 98),
        lambda: qarvo.count(b"ab" * 200, [97, 98], overlapping=1),
        lambda: qarvo.find_all(memoryview(b"ab" * 200), b"ab"),
        lambda: list(qarvo.finditer(b"ab" * 600, b"ab")),
        lambda: next(qarvo.finditer(bytearray(b"ab" * 600), b"b", 300)),  # dropped half-way
        lambda: qarvo.Finder(b"ab").find_all(b"ab" * 400),
        lambda: pickle.loads(pickle.dumps(qarvo.Finder(b"ab"))),
        lambda: qarvo.find(b"abc", "x"),
        lambda: qarvo.count(b"abc", b"a", Index(1), "x"),
        lambda: qarvo.finditer(b"abc", [1, 300]),
        lambda: qarvo.Finder(b"a").count(b"abc", x=1),
        lambda: qarvo.rfind_any(bytearray(b"x" * 300 + b"<"), [60, 62], -200),
        lambda: qarvo.find_not_any(b"abc", "x"),
    ],
)
def test_no_reference_leaks(case, frozen_gc):  # noqa: F811 - the fixture
    def repeat(times):
        for _ in range(times):
            with contextlib.suppress(TypeError, ValueError, OverflowError):
                case()

    assert_no_reference_leak(repeat)
