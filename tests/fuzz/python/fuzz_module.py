"""Coverage-guided fuzzing of qarvo's Python surface with atheris.

Every input is turned into one call: a function, an argument pattern
(positional, keywords, too many, missing, unknown), a haystack of one of many
kinds (bytes, bytearray, memoryview slices and casts, array, NumPy, mmap,
ctypes, CPython's _testbuffer exporters with odd formats, shapes, strides and
flags, objects without a buffer) and a needle of one of many kinds (integers in
and out of range, __index__ objects that raise or return odd values, sequences
that lie about their length, shrink themselves or resize or release the
haystack while being read, str, buffers). The result must be what model.py
says, every exception its exact type and message, the arguments' reference
counts unchanged, and every buffer released afterwards.

    python fuzz_module.py [libFuzzer options] CORPUS_DIR...
    python fuzz_module.py --replay FILE_OR_DIR...   (no atheris needed)
"""

import array
import ctypes
import mmap
import struct
import sys
import warnings

import model
import numpy as np
import qarvo
from harness import check_released, run

try:
    import _testbuffer
except ImportError:  # an interpreter built without its test modules
    _testbuffer = None

FUNCTIONS = ("search_one", "search_two", "search_three", "search_n")
RESIZE_REFUSED = "Existing exports of data: object cannot be re-sized"


class Input:
    """Draws choices from the fuzzer's bytes; past their end every choice is 0."""

    def __init__(self, data):
        self.data = data
        self.at = 0

    def byte(self):
        if self.at >= len(self.data):
            return 0
        self.at += 1
        return self.data[self.at - 1]

    def below(self, n):
        return self.byte() % n if n > 1 else 0

    def pick(self, options):
        return options[self.below(len(options))]

    def blob(self, limit):
        n = self.below(limit + 1)
        chunk = self.data[self.at : self.at + n]
        self.at += len(chunk)
        return chunk

    def integer(self):
        base = self.pick([0, 1, 97, 255, 256, -1, 2**31 - 1, 2**31, -(2**31), -(2**31) - 1, 2**64])
        return base + self.below(5) - 2 if self.byte() & 1 else base


# ---- elements and __index__ objects ------------------------------------------------------------


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class MyTypeError(TypeError):
    pass


class Raises:
    """Raises a new exception each time (a kept one would hold its traceback's frames)."""

    def __init__(self, kind):
        self.kind = kind

    def __index__(self):
        raise self.kind("raised by __index__")


class Touches:
    """An element whose __index__ tries to resize or release the haystack first."""

    def __init__(self, value, scene):
        self.value = value
        self.scene = scene

    def __index__(self):
        self.scene.touch()
        return self.value


class Owner:
    """The list that Shrinks elements shrink, held one step away so that popping a Shrinks
    does not change the list's own reference count."""

    def __init__(self):
        self.items = []


class Shrinks:
    """An element whose __index__ removes the last item of the list holding it."""

    def __init__(self, value, owner):
        self.value = value
        self.owner = owner

    def __index__(self):
        if self.owner is not None and self.owner.items:
            self.owner.items.pop()
        return self.value


ELEMENTS = [
    lambda inp, scene, owner: inp.byte(),
    lambda inp, scene, owner: inp.byte(),
    lambda inp, scene, owner: inp.byte(),
    lambda inp, scene, owner: inp.integer(),
    lambda inp, scene, owner: Index(inp.pick([inp.byte(), inp.integer(), "7", 1.5, True])),
    lambda inp, scene, owner: Raises(
        inp.pick([TypeError, MyTypeError, ValueError, KeyError, OverflowError])
    ),
    lambda inp, scene, owner: inp.pick([True, False, 1.0, "a", None, b"a"]),
    lambda inp, scene, owner: Touches(inp.byte(), scene),
    lambda inp, scene, owner: Shrinks(inp.byte(), owner),
    lambda inp, scene, owner: np.uint8(inp.byte()),
]


def element(inp, scene, owner):
    return inp.pick(ELEMENTS)(inp, scene, owner)


# ---- needles -----------------------------------------------------------------------------------


class Seq:
    """__len__ and __getitem__ only; the length may lie or raise."""

    def __init__(self, items, length):
        self.items = items
        self.length = length

    def __len__(self):
        if isinstance(self.length, type):
            raise self.length("raised by __len__")
        return self.length

    def __getitem__(self, i):
        if i >= len(self.items):
            raise IndexError(i)
        return self.items[i]


class Text(str):
    pass


def sequence_of_elements(inp, scene, make):
    owner = Owner()
    scene.owners.append(owner)  # outlives any Shrinks that pops itself
    owner.items.extend(element(inp, scene, owner) for _ in range(inp.below(6)))
    return make(owner.items)


def lying_sequence(inp, scene):
    items = [element(inp, scene, None) for _ in range(inp.below(5))]
    length = inp.pick([len(items), 0, len(items) + 1, 1 << 16, ValueError, TypeError])
    return Seq(items, length)


NEEDLES = [
    lambda inp, scene, raw: element(inp, scene, None),
    lambda inp, scene, raw: sequence_of_elements(inp, scene, list),
    lambda inp, scene, raw: sequence_of_elements(inp, scene, tuple),
    lambda inp, scene, raw: raw,
    lambda inp, scene, raw: bytearray(raw),
    lambda inp, scene, raw: lying_sequence(inp, scene),
    lambda inp, scene, raw: inp.pick([raw.decode("latin-1"), Text("ab"), ""]),
    lambda inp, scene, raw: inp.pick(
        [{1: 2}, {1, 2}, (b for b in raw), iter(raw), None, 3, 2.5, range(97, 100)]
    ),
] + [lambda inp, scene, raw: buffer_object(inp, raw)] * 4


def needle(inp, scene):
    make = inp.pick(NEEDLES)
    raw = inp.blob(6)
    if scene.raw and inp.byte() & 1:  # often a piece of the haystack, so that it is found
        start = inp.below(len(scene.raw))
        raw = scene.raw[start : start + len(raw)]
    return make(inp, scene, raw)


# ---- buffers -----------------------------------------------------------------------------------


def testbuffer_items(fmt, raw):
    """raw read as items of the struct format fmt (whole items only)."""
    size = struct.calcsize(fmt)
    return [
        item[0] if len(item) == 1 else item
        for item in struct.iter_unpack(fmt, raw[: len(raw) // size * size])
    ]


def testbuffer(inp, raw):
    """One of CPython's test exporters: odd formats, 1 or 2 dimensions, Fortran order,
    suboffsets, or a buffer request that fails."""
    fmt = inp.pick(["B", "c", "b", "<B", ">c", "!B", "=B", "@c", "?", "H", "<H", "1B", "BB"])
    items = testbuffer_items(fmt, raw * struct.calcsize(fmt) or b"\x01" * 2)
    flags = inp.pick(
        [
            0,
            _testbuffer.ND_WRITABLE,
            _testbuffer.ND_FORTRAN,
            _testbuffer.ND_PIL,
            _testbuffer.ND_GETBUF_FAIL,
        ]
    )
    shape = [len(items)]
    if len(items) % 2 == 0 and inp.byte() & 1:
        shape = [2, len(items) // 2]
    return _testbuffer.ndarray(items, shape=shape, format=fmt, flags=flags)


def mapped(raw):
    area = mmap.mmap(-1, len(raw))
    area.write(raw)
    return area


def released(raw):
    view = memoryview(raw)
    view.release()
    return view


def halves(raw):
    """raw (cut to an even length) as a 2 x n NumPy array."""
    return np.frombuffer(raw[: len(raw) // 2 * 2], np.uint8).reshape(2, -1)


# (maker, whether it can take these bytes); a maker that cannot falls back to bytes.
BUFFERS = [
    (lambda inp, raw: memoryview(raw), None),
    (lambda inp, raw: padded_view(raw, b"?" * inp.below(4)), None),
    (lambda inp, raw: memoryview(raw)[:: 1 + inp.below(3)], None),
    (lambda inp, raw: memoryview(raw).cast(inp.pick(["c", "b", "B", "@B"])), None),
    (
        lambda inp, raw: memoryview(raw).cast("B", [2, len(raw) // 2]),
        lambda r: r and not len(r) % 2,
    ),
    (lambda inp, raw: array.array(inp.pick(["B", "b", "H"]), raw[: len(raw) // 2 * 2]), None),
    (
        lambda inp, raw: np.frombuffer(
            raw, dtype=inp.pick([np.uint8, np.int8, "<u1", ">u1", np.bool_])
        ),
        None,
    ),
    (lambda inp, raw: halves(raw)[:, :: 1 + inp.below(2)], lambda r: len(r) >= 2),
    (lambda inp, raw: halves(raw).T, lambda r: len(r) >= 2),
    (lambda inp, raw: (ctypes.c_ubyte * len(raw)).from_buffer_copy(raw), None),
    (lambda inp, raw: memoryview((ctypes.c_char * len(raw)).from_buffer_copy(raw)), None),
    (
        lambda inp, raw: inp.pick(
            [ctypes.c_ubyte(7), memoryview(b"a").cast("B", []), np.array(5, np.uint8)]
        ),
        None,
    ),
    (lambda inp, raw: mapped(raw), bool),
    (lambda inp, raw: released(raw), None),
    (lambda inp, raw: np.frombuffer(raw, np.uint8)[1:], None),
    (lambda inp, raw: raw, None),
    (testbuffer, lambda r: _testbuffer is not None),
]


def padded_view(raw, pad):
    return memoryview(pad + raw + pad)[len(pad) : len(pad) + len(raw)]


def buffer_object(inp, raw):
    make, fits = BUFFERS[inp.below(len(BUFFERS) if _testbuffer else len(BUFFERS) - 1)]
    if fits is not None and not fits(raw):
        return raw
    return make(inp, raw)


class Scene:
    """The haystack, and the attempts of needle code to resize or release it."""

    def __init__(self, inp, live):
        self.live = live
        self.attempts = []
        self.owners = []
        kind = inp.below(6)
        raw = self.raw = inp.blob(40) * (1 + inp.below(3))
        if kind == 0:
            self.haystack = bytearray(raw)
        elif kind == 1:
            self.haystack = memoryview(bytes(raw))
        elif kind == 2:
            self.haystack = inp.pick([raw.decode("latin-1"), 5, None, [1, 2]])
        else:
            self.haystack = buffer_object(inp, raw)

    def touch(self):
        """Resize the bytearray or release the memoryview; record whether it was refused."""
        if not self.live:
            return
        try:
            if isinstance(self.haystack, bytearray):
                self.haystack.extend(b"\xee")
                del self.haystack[-1:]
            elif isinstance(self.haystack, memoryview):
                self.haystack.release()
            else:
                return
        except BufferError as exc:
            self.attempts.append(str(exc))
        else:
            self.attempts.append(None)


def arguments(inp):
    """(positional roles, keyword roles) of one of the argument patterns."""
    return inp.pick(
        [
            (["H", "N"], []),
            (["H", "N"], []),
            (["H"], [("needle", "N")]),
            ([], [("needle", "N"), ("haystack", "H")]),
            ([], [("haystack", "H"), ("needle", "N")]),
            (["H"], []),
            ([], []),
            ([], [("needle", "N")]),
            (["H", "N", "N"], [("size", "N")]),
            (["H", "N"], [("haystack", "H")]),
            (["H"], [("size", "N"), ("haystack", "H")]),
            (["H"], [("needle", "N"), ("needle\ud800", "N")]),
        ]
    )


def build(data, live):
    inp = Input(data)
    name = inp.pick(FUNCTIONS)
    positional, keywords = arguments(inp)
    scene = Scene(inp, live)
    return name, positional, keywords, scene, needle(inp, scene)


SHARED = (int, str, bytes, float, tuple, type(None), np.generic)  # may be cached


def reference_counts(*objects):
    """Reference counts of the objects that only this input owns (not cached constants)."""
    return [sys.getrefcount(o) for o in objects if not isinstance(o, SHARED)]


def one_input(data):
    name, positional, keywords, scene, needle_object = build(data, live=True)
    haystack = scene.haystack
    counts = reference_counts(haystack, needle_object)
    roles = {"H": haystack, "N": needle_object}
    args = [roles[r] for r in positional]
    kwargs = {k: roles[r] for k, r in keywords}
    try:
        result = getattr(qarvo, name)(*args, **kwargs)
        error = None
    except Exception as exc:  # noqa: BLE001 - every outcome is compared below
        result, error = None, exc
    del args, kwargs, roles
    # The model gets a fresh copy of the needle (whose code runs again there)
    # and the haystack as the call left it.
    _, _, _, _, model_needle = build(data, live=False)
    try:
        expected = model.call(name, positional, keywords, haystack, model_needle)
        expected_error = None
    except model.Expected as exc:
        expected, expected_error = None, exc
    context = f"{name} {positional} {keywords} {haystack!r:.80} {needle_object!r:.80}"
    if expected_error is None:
        assert error is None, f"{context}: raised {error!r}, expected {expected!r}"
        assert result == expected, f"{context}: {result!r} != {expected!r}"
    else:
        assert error is not None, f"{context}: returned {result!r}, expected {expected_error}"
        assert expected_error.matches(error), (
            f"{context}: raised {error!r}, expected {expected_error}"
        )
    error = expected_error = None
    # Needle code ran while search_n held the haystack: every resize or release
    # was refused. The other functions hold nothing while converting the needle.
    if name == "search_n":
        for attempt in scene.attempts:
            assert attempt == RESIZE_REFUSED or (attempt or "").startswith(
                "memoryview has 1 exp"
            ), f"{context}: attempt while held: {attempt!r}"
    else:
        assert all(a is None for a in scene.attempts), f"{context}: {scene.attempts}"
    assert reference_counts(haystack, needle_object) == counts, context
    check_released(haystack)
    check_released(needle_object)


def main():
    # An __index__ returning a bool is deprecated; the warning is the interpreter's, not ours.
    warnings.simplefilter("ignore", DeprecationWarning)
    run(
        one_input,
        model.bind,
        model.byte,
        model.fixed_needle,
        model.sequence_needle,
        model.acquire,
        model.needle_bytes,
        model.call,
        build,
        needle,
        element,
        buffer_object,
        testbuffer,
    )


if __name__ == "__main__":
    main()
