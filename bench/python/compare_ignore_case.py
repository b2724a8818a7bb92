"""find(..., ignore_case=True) beside re.IGNORECASE, hyperscan's caseless flag and
h.lower().find(n.lower()) on the real-data corpora, with qarvo's case-sensitive find
of the same rows (called with ignore_case=False, the same shape of call).

    PYTHONPATH=build/<dir>/bindings python3 bench/python/compare_ignore_case.py [--quick] [--json]

Rows: per corpus and size, a common fragment (found near the start) and held-out
needles of 4 and 16 bytes planted once near the end, each searched in another
case than the haystack holds it. Every contender's answer is checked against
h.lower().find(n.lower()) before it is timed. "ratio" is the best peer's time over
qarvo's (above 1: qarvo faster); "vs exact" is the time of qarvo's case-sensitive
find of the lowered needle in the lowered haystack (lowered before timing: the same
answer and the same bytes to pass) over the time of find with ignore_case=True
(1: no cost for ignoring case). Contenders are sampled in turns in one process
(timing.py).
"""

from __future__ import annotations

import argparse
import json
import math
import re
import sys
from dataclasses import dataclass

import realdata
from contenders import load_qarvo
from environment import describe
from timing import FULL, QUICK, AgainstPeers, Timed, time_side_by_side
from workloads import KIB, MIB

try:
    import hyperscan
except ImportError:
    hyperscan = None

COMMON = {
    "english": b"the",
    "russian": "что".encode(),
    "chinese": "的".encode(),
    "python": b"self.",
    "md5": b"\nab",
    "binary": b"\x00\x00\x00\x00",
}
SIZES = (KIB, 100 * KIB, MIB)
SPARSE_LENGTHS = (4, 16)


@dataclass
class Row(AgainstPeers):
    corpus: str
    size: int
    needle: bytes
    found: int
    times: dict[str, float]

    def vs_exact(self) -> float:
        return self.times["qarvo case-sensitive"] / self.times["qarvo"]


def swapped(needle: bytes) -> bytes:
    return needle.swapcase()


def absent_folded(source: realdata.Source, length: int) -> bytes | None:
    """A held-out window of `length` bytes that the body holds in no case, or the
    first of twice that length where there is none."""
    lowered = source.body.lower() * 2
    utf8 = source.name in realdata.UTF8
    step = max(1, len(source.pool) // 4096)
    for start in range(len(source.pool) // 3, len(source.pool) - length, step):
        if utf8 and 0x80 <= source.pool[start] < 0xC0:
            continue
        window = source.pool[start : start + length]
        if window.lower() not in lowered:
            return window
    return None  # every window of this length occurs (4 bytes of Russian text)


def hyperscan_caseless(needle: bytes):
    """The first match by hyperscan's caseless flag: a database compiled once, a
    scan stopped at the first report (reports come in order of their end, the
    order of their start for a literal)."""
    database = hyperscan.Database(mode=hyperscan.HS_MODE_BLOCK)
    pattern = b"".join(b"\\x%02x" % b for b in needle)
    database.compile(expressions=[pattern], flags=[hyperscan.HS_FLAG_CASELESS])
    scratch = hyperscan.Scratch(database)
    scan, terminated = database.scan, hyperscan.ScanTerminated
    found: list[int] = []
    length = len(needle)

    def on_match(_id, _start, end, _flags, _context):
        found.append(end - length)
        return True

    def search(haystack: bytes) -> int:
        found.clear()
        try:
            scan(haystack, match_event_handler=on_match, scratch=scratch)
        except terminated:
            return found[0]
        return -1

    return search


def contenders(qarvo, haystack: bytes, needle: bytes):
    """name -> (call, args, answer normaliser)."""

    def offset(r):
        return -1 if r is None else r

    lowered_haystack = haystack.lower()
    lowered_needle = needle.lower()
    pattern = re.compile(re.escape(needle), re.IGNORECASE)
    find = qarvo.find

    # Both qarvo calls through a Python function of the same shape, the
    # keyword given to both, so that "vs exact" compares the searches and not
    # the ways of passing arguments: a call with a keyword costs 8 to 16 ns
    # more than one without on 3.11 to 3.13, a tenth of a 1 KiB row
    # (functools.partial builds a dict per call).
    def find_ignoring_case(h, n):
        return find(h, n, ignore_case=True)

    def find_exactly(h, n):
        return find(h, n, ignore_case=False)

    out = {
        "qarvo": (find_ignoring_case, (haystack, needle), offset),
        "qarvo Finder": (qarvo.Finder(needle, ignore_case=True).find, (haystack,), offset),
        "qarvo case-sensitive": (find_exactly, (lowered_haystack, lowered_needle), offset),
        "re.IGNORECASE": (pattern.search, (haystack,), lambda m: -1 if m is None else m.start()),
        "lower().find": (lambda h: h.lower().find(lowered_needle), (haystack,), int),
    }
    if hyperscan:
        out["hyperscan caseless"] = (hyperscan_caseless(needle), (haystack,), int)
    return out


def measure(qarvo, corpus, haystack, needle, budget) -> Row:
    want = haystack.lower().find(needle.lower())
    timed = {}
    for name, (call, args, normalise) in contenders(qarvo, haystack, needle).items():
        got = normalise(call(*args))
        assert got == want, (name, corpus, len(haystack), needle, got, want)
        timed[name] = Timed(call, args, 0)
    return Row(corpus, len(haystack), needle, want, time_side_by_side(timed, budget))


def rows(qarvo, classes, sizes, budget):
    for corpus in classes:
        source = realdata.Source(corpus, getattr(realdata, realdata_source(corpus))())
        for size in sizes:
            haystack = source.haystack(size)
            if COMMON[corpus] in haystack:
                yield measure(qarvo, corpus, haystack, swapped(COMMON[corpus]), budget)
            for length in SPARSE_LENGTHS:
                needle = absent_folded(source, length) or absent_folded(source, 2 * length)
                once = realdata.planted(haystack, needle)
                yield measure(qarvo, corpus, once, swapped(needle), budget)


def realdata_source(corpus: str) -> str:
    return {
        "english": "english",
        "russian": "russian",
        "chinese": "chinese",
        "python": "python_source",
        "md5": "hex_digests",
        "binary": "shared_libraries",
    }[corpus]


def best_of(rounds, number, call, *args):
    """The least time of one call, over `rounds` rounds of `number` calls."""
    import timeit

    return min(timeit.timeit(lambda: call(*args), number=number) / number for _ in range(rounds))


def lower_find(haystack, lowered_needle):
    return haystack.lower().find(lowered_needle)


def sustained(qarvo, classes, rounds=15):
    """The sparse rows at 1 MiB once more, as prepared Finders timed in many short
    rounds of alternating turns (the best of each), so that a loaded machine's
    bursts skew the ratio to the case-sensitive search less than in `rows`:
    (corpus, needle, ignore_case GB/s, case-sensitive GB/s, exact / ignore_case time,
    re.IGNORECASE / qarvo, lower().find / qarvo)."""
    out = []
    for corpus in classes:
        source = realdata.Source(corpus, getattr(realdata, realdata_source(corpus))())
        base = source.haystack(MIB)
        for length in SPARSE_LENGTHS:
            needle = absent_folded(source, length) or absent_folded(source, 2 * length)
            haystack = realdata.planted(base, needle)
            other = needle.swapcase()
            lowered, lowered_needle = haystack.lower(), other.lower()
            folded = qarvo.Finder(other, ignore_case=True).find
            exact = qarvo.Finder(lowered_needle).find
            pattern = re.compile(re.escape(other), re.IGNORECASE)
            assert folded(haystack) == exact(lowered) == pattern.search(haystack).start()
            best = {"folded": math.inf, "exact": math.inf}
            for _ in range(rounds):  # in turns: a burst of load hits both alike
                best["folded"] = min(best["folded"], best_of(1, 10, folded, haystack))
                best["exact"] = min(best["exact"], best_of(1, 10, exact, lowered))
            best |= {
                "re": best_of(3, 2, pattern.search, haystack),
                "lower": best_of(3, 2, lower_find, haystack, lowered_needle),
            }
            out.append(
                (
                    corpus,
                    other,
                    len(haystack) / best["folded"] / 1e9,
                    len(haystack) / best["exact"] / 1e9,
                    best["exact"] / best["folded"],
                    best["re"] / best["folded"],
                    best["lower"] / best["folded"],
                )
            )
    return out


def geo_mean(values):
    return math.exp(sum(math.log(v) for v in values) / len(values)) if values else float("nan")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--json", action="store_true")
    parser.add_argument("--classes", default="english,russian,chinese,python,md5,binary")
    parser.add_argument("--sizes", default=",".join(map(str, SIZES)))
    parser.add_argument(
        "--sustained", action="store_true", help="only the 1 MiB sparse rows, many rounds"
    )
    args = parser.parse_args()
    qarvo = load_qarvo()
    budget = QUICK if args.quick else FULL
    classes = [c for c in args.classes.split(",") if c]
    realdata.install_missing(classes)
    sizes = tuple(int(s) for s in args.sizes.split(","))
    if args.sustained:
        print(json.dumps(describe(qarvo), indent=1))
        print(
            "| corpus | needle | ignore_case GB/s | exact GB/s | vs exact "
            "| re / qarvo | lower / qarvo |"
        )
        print("|---|---|---|---|---|---|---|")
        for corpus, needle, folded, exact, ratio, by_re, by_lower in sustained(qarvo, classes):
            print(
                f"| {corpus} | {needle[:16]!r} | {folded:.1f} | {exact:.1f} | {ratio:.2f} "
                f"| {by_re:.1f} | {by_lower:.1f} |"
            )
        return
    measured = list(rows(qarvo, classes, sizes, budget))
    if args.json:
        json.dump(
            {
                "environment": describe(qarvo),
                "rows": [
                    {
                        "corpus": r.corpus,
                        "size": r.size,
                        "needle": r.needle.hex(),
                        "found": r.found,
                        "times_ns": r.times,
                    }
                    for r in measured
                ],
            },
            sys.stdout,
            indent=1,
        )
        return
    print(json.dumps(describe(qarvo), indent=1))
    print("| corpus | size | needle | found at | best peer | ratio | vs exact | Finder ratio |")
    print("|---|---|---|---|---|---|---|---|")
    for r in measured:
        name, best = r.best_peer()
        print(
            f"| {r.corpus} | {r.size} | {r.needle[:16]!r} | {r.found} | {name} "
            f"| {r.ratio():.2f} | {r.vs_exact():.2f} | {best / r.times['qarvo Finder']:.2f} |"
        )
    ratios = [r.ratio() for r in measured]
    exact = [r.vs_exact() for r in measured]
    print(f"ratio: geometric mean {geo_mean(ratios):.2f}, lowest {min(ratios):.2f}")
    print(f"vs exact: geometric mean {geo_mean(exact):.2f}, lowest {min(exact):.2f}")


if __name__ == "__main__":
    main()
