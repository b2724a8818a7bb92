"""What a call of qarvo must do, written plainly in Python: the argument
binding, the needle and haystack conversions with their exact errors, and the
answer of bytes.find. The fuzz harness compares every call against this."""

import ctypes
import operator
import re

OUT_OF_RANGE = "out of range integral type conversion attempted"
INT_OVERFLOW = re.compile(r"Python int too large to convert to C (int|long)")
PREFIX = "argument 'needle': "
FIXED = {"search_one": 1, "search_two": 2, "search_three": 3}


class Expected(Exception):  # noqa: N818 - an outcome, not a failure of the model
    """The error a call must raise: exact type, and the message (text or pattern)."""

    def __init__(self, kind, message):
        super().__init__(kind, message)
        self.kind = kind
        self.message = message

    def matches(self, exc):
        if type(exc) is not self.kind:
            return False
        if isinstance(self.message, re.Pattern):
            return self.message.fullmatch(str(exc)) is not None
        return str(exc) == self.message


def reraise(exc):
    """The interpreter's own error, unchanged."""
    raise Expected(type(exc), str(exc)) from None


MISSING = object()

# ---- binding ------------------------------------------------------------------------------------


def bind(name, positional, keywords):
    """Slots (haystack, needle) from the argument pattern, or the binding error."""
    display = name + "()"
    if len(positional) > 2:
        raise Expected(
            TypeError, f"{display} takes 2 positional arguments but {len(positional)} were given"
        )
    slots = list(positional) + [MISSING] * (2 - len(positional))
    for key, value in keywords:
        if key not in ("haystack", "needle"):
            shown = key.encode("utf-8", "surrogatepass").decode("utf-8", "replace")
            raise Expected(TypeError, f"{display} got an unexpected keyword argument '{shown}'")
        i = 0 if key == "haystack" else 1
        if slots[i] is not MISSING:
            raise Expected(TypeError, f"{display} got multiple values for argument '{key}'")
        slots[i] = value
    missing = [f"'{n}'" for n, v in zip(("haystack", "needle"), slots, strict=True) if v is MISSING]
    if len(missing) == 1:
        raise Expected(TypeError, f"{display} missing 1 required positional argument: {missing[0]}")
    if missing:
        raise Expected(
            TypeError,
            f"{display} missing 2 required positional arguments: 'haystack' and 'needle'",
        )
    return slots


# ---- integers and needles ----------------------------------------------------------------------


def byte(obj):
    """extract_byte: the interpreter's __index__ conversion, the signed 32-bit range, 0..255."""
    try:
        value = operator.index(obj)
    except Exception as exc:  # noqa: BLE001 - whatever the conversion raised passes unchanged
        reraise(exc)
    if not -(2**31) <= value < 2**31:
        raise Expected(OverflowError, INT_OVERFLOW)
    if not 0 <= value <= 255:
        raise Expected(OverflowError, OUT_OF_RANGE)
    return value


def wrapped(expected):
    """wrap_needle_error: only TypeError itself gets the prefix."""
    if expected.kind is TypeError and not isinstance(expected.message, re.Pattern):
        return Expected(TypeError, PREFIX + expected.message)
    return expected


_sequence_check = ctypes.pythonapi.PySequence_Check
_sequence_check.argtypes = [ctypes.py_object]
_sequence_check.restype = ctypes.c_int


def is_sequence(obj):
    """The interpreter's own test (the type fills the sequence item slot, and is not a dict)."""
    return _sequence_check(obj) == 1


def not_a_sequence(obj):
    return Expected(
        TypeError, f"'{type(obj).__qualname__}' object cannot be converted to 'Sequence'"
    )


def fixed_needle(obj, n):
    if not is_sequence(obj):
        raise not_a_sequence(obj)
    try:
        length = len(obj)
    except Exception as exc:  # noqa: BLE001
        reraise(exc)
    if length != n:
        raise Expected(ValueError, f"expected a sequence of length {n} (got {length})")
    out = []
    for i in range(n):
        try:
            item = obj[i]
        except Exception as exc:  # noqa: BLE001
            reraise(exc)
        out.append(byte(item))
    return bytes(out)


def sequence_needle(obj):
    if isinstance(obj, str):
        raise Expected(TypeError, "Can't extract `str` to `Vec`")
    if not is_sequence(obj):
        raise not_a_sequence(obj)
    if isinstance(obj, memoryview):
        try:
            obj.nbytes  # noqa: B018 - raises once the view is released
        except ValueError as exc:
            # CPython 3.11's iter() of a released view returns an iterator with this error
            # set; the first next() raises it again. Later versions raise it from iter().
            reraise(exc)
    try:
        iterator = iter(obj)
    except Exception as exc:  # noqa: BLE001
        reraise(exc)
    out = []
    while True:
        try:
            item = next(iterator)
        except StopIteration:
            return bytes(out)
        except Exception as exc:  # noqa: BLE001
            reraise(exc)
        out.append(byte(item))


# ---- buffers ------------------------------------------------------------------------------------

ACCEPTED_FORMAT = re.compile(r"[@=<>!]?[Bc]")
INCOMPATIBLE = "buffer contents are not compatible with u8"


def acquire(obj):
    """(C-contiguous, bytes) of the buffer qarvo gets from obj, or its refusal."""
    try:
        view = memoryview(obj)
    except TypeError as exc:
        # The interpreter's own refusal, without memoryview's prefix.
        reraise(TypeError(str(exc).removeprefix("memoryview: ")))
    except Exception as exc:  # noqa: BLE001 - an exporter's own error passes unchanged
        reraise(exc)
    with view:
        if view.ndim == 0:
            raise Expected(BufferError, "shape is null")
        if isinstance(obj, ctypes.Array):  # ctypes never fills in strides
            raise Expected(BufferError, "strides is null")
        if view.itemsize != 1 or not ACCEPTED_FORMAT.fullmatch(view.format):
            raise Expected(BufferError, INCOMPATIBLE)
        # PyBuffer_IsContiguous: never with suboffsets; always when empty.
        empty = view.nbytes == 0 and not view.suboffsets
        return view.c_contiguous or empty, view.tobytes()


def haystack_bytes(obj):
    contiguous, data = acquire(obj)
    if not contiguous:
        raise Expected(BufferError, "haystack buffer must be contiguous")
    return data


def needle_bytes(obj):
    try:
        contiguous, data = acquire(obj)
    except Expected:
        return sequence_needle(obj)  # no usable buffer, whatever the reason
    if not contiguous:
        raise Expected(BufferError, "needle buffer must be contiguous")
    return data


# ---- the whole call -----------------------------------------------------------------------------


def find(haystack, needle):
    index = haystack.find(needle)
    return None if index < 0 else index


def call(name, positional, keywords, haystack, needle):
    """The answer of qarvo.<name>, or raises Expected.

    positional and keywords hold the roles "H" and "N"; the haystack is
    looked at as it is after the call (the fixed-needle functions convert
    the needle first, and its code may have changed the haystack), the needle
    is a fresh copy of the one the call got.
    """
    roles = {"H": haystack, "N": needle}
    slots = bind(name, [roles[r] for r in positional], [(k, roles[r]) for k, r in keywords])
    if name in FIXED:
        try:
            if name == "search_one":
                wanted = bytes([byte(slots[1])])
            else:
                wanted = fixed_needle(slots[1], FIXED[name])
        except Expected as expected:
            raise wrapped(expected) from None
        return find(haystack_bytes(slots[0]), wanted)
    data = haystack_bytes(slots[0])
    return find(data, needle_bytes(slots[1]))
