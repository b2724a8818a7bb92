"""count and find_all of two builds of qarvo, loaded into one process and timed
in turns, on the dense needles of compare_matches.py and a sparse one.

    python3 bench/python/matches_two_builds.py OLD.so NEW.so

OLD.so and NEW.so are the extension modules of two builds (e.g. one of main and
one of a branch, each built as one_python.sh builds it). Both answers are
checked against each other before they are timed. A row's ratio is the new
build's best time over the old one's (below 1: the new build is faster); the
two are timed in alternating order, six turns of many calls each.
"""

from __future__ import annotations

import argparse
import importlib.util
import math
import time

import realdata
from compare_matches import SOURCES
from workloads import KIB, MIB

NEEDLES = {
    "english": (b"the", b" of liver an"),
    "russian": ("что".encode(),),
    "chinese": ("，".encode(), "的".encode()),
    "python": (b"self.",),
    "md5": (b"\n",),
    "binary": (b"\x00\x00\x00\x00",),
}


def load(path: str):
    location = importlib.util.spec_from_file_location("qarvo", path)
    module = importlib.util.module_from_spec(location)
    location.loader.exec_module(module)
    return module


def best_ns(call, args, reps: int) -> float:
    best = math.inf
    for _ in range(reps):
        start = time.perf_counter_ns()
        call(*args)
        best = min(best, time.perf_counter_ns() - start)
    return best


def plain(answer):
    return answer if isinstance(answer, int) else list(answer)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("old")
    parser.add_argument("new")
    parser.add_argument("--sizes", default=f"{KIB},{100 * KIB},{MIB}")
    args = parser.parse_args()
    old, new = load(args.old), load(args.new)
    sizes = [int(s) for s in args.sizes.split(",")]
    print("| operation | corpus | size | needle | matches | old (us) | new (us) | new/old |")
    print("|---|---|---|---|---|---|---|---|")
    ratios: dict[tuple[str, bool], list[float]] = {}
    for corpus, needles in NEEDLES.items():
        source = realdata.Source(corpus, getattr(realdata, SOURCES[corpus])())
        for size in sizes:
            haystack = source.haystack(size)
            for needle in needles:
                for operation in ("count", "find_all"):
                    calls = getattr(old, operation), getattr(new, operation)
                    assert plain(calls[0](haystack, needle)) == plain(calls[1](haystack, needle))
                    reps = max(5, min(2000, 2_000_000 // size))
                    best = [math.inf, math.inf]
                    for turn in range(6):
                        for which in (0, 1) if turn % 2 == 0 else (1, 0):
                            t = best_ns(calls[which], (haystack, needle), reps)
                            best[which] = min(best[which], t)
                    ratio = best[1] / best[0]
                    short = 2 <= len(needle) <= 16
                    ratios.setdefault((operation, short), []).append(ratio)
                    print(
                        f"| {operation} | {corpus} | {size} | {needle[:12]!r} "
                        f"| {haystack.count(needle)} | {best[0] / 1000:.2f} "
                        f"| {best[1] / 1000:.2f} | {ratio:.2f} |",
                        flush=True,
                    )
    for (operation, short), values in sorted(ratios.items()):
        mean = math.exp(sum(map(math.log, values)) / len(values))
        kind = "needles of 2 to 16 bytes" if short else "other needles"
        print(f"{operation}, {kind}: geometric mean new/old {mean:.2f} over {len(values)} rows")


if __name__ == "__main__":
    main()
