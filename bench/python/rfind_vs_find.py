"""qarvo.rfind's throughput against qarvo.find's on absent needles, where both
read the whole haystack: real data of every class of compare_matches.py, needles
of 4 to 32 bytes, haystacks of 16 KiB to 1 MiB.

    PYTHONPATH=build/<dir>/bindings python3 bench/python/rfind_vs_find.py [--json OUT]

Each row times find and rfind in turns, nine turns of many calls each, and keeps
the median of the nine ratios (find's time over rfind's: at or above 1, rfind is
as fast), which holds steady where the machine's speed drifts between turns.
"""

from __future__ import annotations

import argparse
import json
import math
import time

import qarvo
import realdata
from compare_matches import SOURCES
from workloads import KIB, MIB

LENGTHS = (4, 6, 8, 12, 16, 24, 32)
SIZES = (16 * KIB, 100 * KIB, MIB)
TURNS = 9


def per_call_ns(search, haystack, needle, batches=5):
    calls = range(max(1, 2 * MIB // len(haystack)))
    best = math.inf
    for _ in range(batches):
        start = time.perf_counter_ns()
        for _ in calls:
            search(haystack, needle)
        best = min(best, (time.perf_counter_ns() - start) / len(calls))
    return best


def rows():
    for corpus, loader in SOURCES.items():
        source = realdata.Source(corpus, getattr(realdata, loader)())
        for size in SIZES:
            haystack = source.haystack(size)
            for length in LENGTHS:
                needle = realdata.absent(source, length)
                if haystack.find(needle) >= 0:
                    continue
                assert qarvo.find(haystack, needle) is None is qarvo.rfind(haystack, needle)
                ratios = sorted(
                    per_call_ns(qarvo.find, haystack, needle)
                    / per_call_ns(qarvo.rfind, haystack, needle)
                    for _ in range(TURNS)
                )
                yield {"corpus": corpus, "size": size, "needle": needle.hex(), "ratio": ratios[4]}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--json", help="write the rows here too")
    args = parser.parse_args()
    results = list(rows())
    ratios = [r["ratio"] for r in results]
    for r in results:
        if r["ratio"] < 0.9:
            print(f"{r['corpus']:8} {r['size']:8} {r['needle'][:32]:32} {r['ratio']:.2f}")
    geo = math.exp(sum(math.log(x) for x in ratios) / len(ratios))
    below = sum(1 for x in ratios if x < 0.9)
    print(f"{len(ratios)} rows: geometric mean {geo:.3f}, lowest {min(ratios):.2f}, ", end="")
    print(f"{below} below 0.9")
    if args.json:
        with open(args.json, "w") as out:
            json.dump(results, out, indent=1)


if __name__ == "__main__":
    main()
