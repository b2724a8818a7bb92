"""Coverage-guided fuzzing of MultiFinder against a plain model of re's alternation.

Every input becomes one haystack (bytes, bytearray, memoryview slice, NumPy, array), one to
eight needles over a small alphabet (bytes, an int, a list of ints, a bytearray; duplicates,
prefixes of one another and empty ones come often), in one input of five up to 200 more cut
from the haystack, ignore_case, and start and end from the
whole range bytes.find accepts. find, count, finditer and find_all must give the model's
matches, a finditer dropped half-way must give its buffer back, and no buffer may stay
exported.

    python fuzz_multi.py [libFuzzer options] CORPUS_DIR...
    python fuzz_multi.py --replay FILE_OR_DIR...   (no atheris needed)
"""

import array

import numpy as np
import qarvo
from fuzz_searches import BOUNDS, Input, adjusted
from harness import check_released, run


def fold(data, ignore_case):
    return data.lower() if ignore_case else data


def plain_matches(data, needles, start, end, ignore_case):
    """re.finditer over the escaped alternation: at each offset the first needle listed that
    occurs there; after an empty match the same offset again, wanting a non-empty one."""
    lo, hi = adjusted(start, end, len(data))
    if lo > hi:
        return []
    window = fold(data[lo:hi], ignore_case)
    folded = [fold(n, ignore_case) for n in needles]
    out, p, must_advance = [], 0, False
    while p <= len(window):
        for index, needle in enumerate(folded):
            if must_advance and not needle:
                continue
            if window.startswith(needle, p):
                out.append((lo + p, index))
                must_advance = not needle
                p += len(needle)
                break
        else:
            must_advance = False
            p += 1
    return out


def one_input(raw):
    inp = Input(raw)
    alphabet = inp.pick([b"ab", b"aB", b"a", b"\x00\xff", bytes(range(256))])
    body = bytes(alphabet[b % len(alphabet)] for b in inp.blob(64))
    many = inp.byte() % 5 == 0
    data = body * (1 + inp.byte() % (8 if many else 40))
    needle_bytes = []
    for _ in range(1 + inp.byte() % 8):
        if needle_bytes and inp.byte() % 3 == 0:
            earlier = inp.pick(needle_bytes)
            needle_bytes.append(earlier[: inp.byte() % (len(earlier) + 1)])
        else:
            needle_bytes.append(bytes(alphabet[b % len(alphabet)] for b in inp.blob(6)))
    if many:
        # Up to 200 needles, most cut from the haystack: sets that share the small sets'
        # buckets or take the larger sets' start filters.
        for k in range(inp.byte() % 200):
            if data and k % 4 != 3:
                at = (inp.byte() * 257 + k * 7919) % len(data)
                needle_bytes.append(data[at : at + 1 + inp.byte() % 7])
            else:
                needle_bytes.append(bytes(alphabet[b % len(alphabet)] for b in inp.blob(6)))
    needles = []
    for n in needle_bytes:
        form = inp.byte() % 4
        if form == 0 and len(n) == 1:
            needles.append(n[0])
        elif form == 1:
            needles.append(list(n))
        elif form == 2:
            needles.append(bytearray(n))
        else:
            needles.append(n)
    kind = inp.byte() % 5
    haystack = [
        lambda: data,
        lambda: bytearray(data),
        lambda: memoryview(b"\x01" + data + b"\x02")[1:-1],
        lambda: np.frombuffer(data, dtype=np.uint8),
        lambda: array.array("B", data),
    ][kind]()
    start, end = inp.pick(BOUNDS), inp.pick(BOUNDS)
    ignore_case = bool(inp.byte() & 1)

    finder = qarvo.MultiFinder(needles, ignore_case=ignore_case)
    assert finder.needles == tuple(needle_bytes)
    want = plain_matches(data, needle_bytes, start, end, ignore_case)
    context = (data, needle_bytes, start, end, ignore_case, kind)
    assert finder.find_all(haystack, start, end) == want, context
    assert finder.count(haystack, start, end) == len(want), context
    assert finder.find(haystack, start, end) == (want[0] if want else None), context
    iterator = finder.finditer(haystack, start, end)
    taken = [match for _, match in zip(range(inp.byte() % 4), iterator, strict=False)]
    assert taken == want[: len(taken)], context
    del iterator  # dropped half-way: the buffer must come back
    check_released(haystack, *(n for n in needles if isinstance(n, bytearray)))


def main():
    run(one_input, plain_matches)


if __name__ == "__main__":
    main()
