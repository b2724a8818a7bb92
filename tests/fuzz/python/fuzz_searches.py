"""Coverage-guided fuzzing of find, rfind, count, finditer, find_all, Finder and the
byte-set searches.

Every input becomes one haystack (bytes, bytearray, memoryview slice, NumPy,
array), one needle (bytes, an int, a list of ints, a bytearray), start and end
from the whole range bytes.find accepts, an overlapping flag and an
ignore_case flag. Every function's answer must equal bytes' own methods or a
plain scan (of the lowered haystack and needle, ignoring case), a finditer
dropped half-way must give its buffer back, and no buffer may stay exported.

    python fuzz_searches.py [libFuzzer options] CORPUS_DIR...
    python fuzz_searches.py --replay FILE_OR_DIR...   (no atheris needed)
"""

import array

import numpy as np
import qarvo
from harness import check_released, run

BOUNDS = [None, 0, 1, -1, 2, -2, 15, 16, 17, 63, 64, 65, -64, 2**63, -(2**63), 2**80]


class Input:
    def __init__(self, data):
        self.data = data
        self.at = 0

    def byte(self):
        if self.at >= len(self.data):
            return 0
        self.at += 1
        return self.data[self.at - 1]

    def pick(self, options):
        return options[self.byte() % len(options)]

    def blob(self, limit):
        n = self.byte() % (limit + 1)
        chunk = self.data[self.at : self.at + n]
        self.at += len(chunk)
        return chunk


def adjusted(start, end, n):
    end = n if end is None or end > n else (max(end + n, 0) if end < 0 else end)
    start = 0 if start is None else (max(start + n, 0) if start < 0 else start)
    return start, end


def plain_offsets(data, needle, start, end, overlapping):
    start, end = adjusted(start, end, len(data))
    if start > end:
        return []
    m = len(needle)
    found, p = [], start
    while p + m <= end:
        if data[p : p + m] == needle:
            found.append(p)
            p += 1 if overlapping else max(m, 1)
        else:
            p += 1
    return found


def check_byte_sets(haystack, data, members, start, end):
    lo, hi = adjusted(start, end, len(data))
    inside = [i for i in range(lo, hi) if data[i] in members]
    outside = [i for i in range(lo, hi) if data[i] not in members]
    byteset = bytes(sorted(members))
    assert qarvo.find_any(haystack, byteset, start, end) == (inside[0] if inside else None)
    assert qarvo.rfind_any(haystack, byteset, start, end) == (inside[-1] if inside else None)
    assert qarvo.find_not_any(haystack, byteset, start, end) == (outside[0] if outside else None)
    assert qarvo.rfind_not_any(haystack, byteset, start, end) == (outside[-1] if outside else None)


def one_input(raw):
    inp = Input(raw)
    # A small alphabet, stretched, makes matches and near misses frequent.
    alphabet = inp.pick([b"ab", b"a", b"\x00\xff", bytes(range(256)), b"aA@`[{\xc1\xe1"])
    body = bytes(alphabet[b % len(alphabet)] for b in inp.blob(64))
    data = body * (1 + inp.byte() % 40)
    needle_bytes = bytes(alphabet[b % len(alphabet)] for b in inp.blob(9))
    kind = inp.byte() % 5
    haystack = [
        lambda: data,
        lambda: bytearray(data),
        lambda: memoryview(b"\x01" + data + b"\x02")[1:-1],
        lambda: np.frombuffer(data, dtype=np.uint8),
        lambda: array.array("B", data),
    ][kind]()
    form = inp.byte() % 4
    if form == 0 and len(needle_bytes) == 1:
        needle = needle_bytes[0]
    elif form == 1:
        needle = list(needle_bytes)
    elif form == 2:
        needle = bytearray(needle_bytes)
    else:
        needle = needle_bytes
    start, end = inp.pick(BOUNDS), inp.pick(BOUNDS)
    overlapping = bool(inp.byte() & 1)
    use_finder = bool(inp.byte() & 1)
    ignore_case = bool(inp.byte() & 1)

    # Ignoring case, the reference is the same search of both lowered.
    ref = data.lower() if ignore_case else data
    ref_needle = needle_bytes.lower() if ignore_case else needle_bytes
    want_find = ref.find(ref_needle, start, end)
    want_rfind = ref.rfind(ref_needle, start, end)
    want_all = plain_offsets(ref, ref_needle, start, end, overlapping)
    target = qarvo.Finder(needle, ignore_case=ignore_case) if use_finder else None

    def call(name, *extra, **kw):
        if target is not None:
            return getattr(target, name)(haystack, start, end, *extra, **kw)
        return getattr(qarvo, name)(
            haystack, needle, start, end, *extra, **kw, ignore_case=ignore_case
        )

    context = (data, needle, start, end, overlapping, kind, use_finder, ignore_case)
    assert call("find") == (None if want_find < 0 else want_find), context
    assert call("rfind") == (None if want_rfind < 0 else want_rfind), context
    assert call("count", overlapping=overlapping) == len(want_all), context
    if not overlapping:
        assert len(want_all) == ref.count(ref_needle, start, end), context
    assert list(call("find_all", overlapping=overlapping)) == want_all, context
    iterator = call("finditer", overlapping=overlapping)
    taken = [offset for _, offset in zip(range(inp.byte() % 4), iterator, strict=False)]
    assert taken == want_all[: len(taken)], context
    del iterator  # dropped half-way: the buffer must come back
    check_byte_sets(haystack, data, set(needle_bytes) | set(inp.blob(4)), start, end)
    check_released(*(o for o in (haystack, needle) if isinstance(o, bytearray)))


def main():
    run(one_input, plain_offsets)


if __name__ == "__main__":
    main()
