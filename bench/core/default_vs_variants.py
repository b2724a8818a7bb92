"""The default route against each variant, row by row, from qarvo_bench_core's JSON.

Usage: python3 bench/core/default_vs_variants.py RESULTS.json [MORE.json ...]
           [--against avx2] [--from 1024] [--below 1.0]

`qarvo` (the routines the dispatcher chose for this CPU) is compared with
`qarvo.<variant>` on every row where both ran: the searches
(`<case>/m=<m>/qarvo/n=<n>`) and the byte-set searches
(`set/k=<k>/qarvo.<routine>/n=<n>`). A ratio is the default's throughput over
the variant's: below 1, the variant was faster on that row. Rows with
haystacks shorter than --from bytes are left out (the 16 to 64-byte rows take
a few nanoseconds, where a placement of the code moves them by a tenth).
Prints the rows below --below, then per case and needle length the lowest
ratio and the geometric mean, then the totals. Reads the median of each
benchmark when the run had repetitions.
"""

from __future__ import annotations

import argparse
import json
import math
import re
from collections import defaultdict

SEARCH = re.compile(r"^(?P<case>[a-z_]+)/m=(?P<m>\d+)/(?P<who>qarvo(\.[a-z0-9]+)?)/n=(?P<n>\d+)$")
SET = re.compile(
    r"^set/k=(?P<k>\d+)/qarvo\.(?:(?P<variant>[a-z0-9]+)\.)?(?P<routine>[a-z_]+)/n=(?P<n>\d+)$"
)


def speeds(paths: list[str]) -> dict[str, float]:
    """GB/s by run name: the median where there were repetitions."""
    out: dict[str, float] = {}
    for path in paths:
        with open(path, encoding="utf-8") as f:
            benchmarks = json.load(f)["benchmarks"]
        aggregated = any(b.get("run_type") == "aggregate" for b in benchmarks)
        for b in benchmarks:
            if aggregated and b.get("aggregate_name") != "median":
                continue
            if "error_occurred" in b or "bytes_per_second" not in b:
                continue
            out[b["run_name"]] = b["bytes_per_second"] / 1e9
    return out


def rows(speed: dict[str, float], variant: str) -> dict[tuple[str, str, int], tuple[float, float]]:
    """(group, label, n) -> (default GB/s, variant GB/s)."""
    default: dict[tuple[str, str, int], float] = {}
    other: dict[tuple[str, str, int], float] = {}
    for name, gbs in speed.items():
        if match := SEARCH.match(name):
            key = (match["case"], f"m={match['m']}", int(match["n"]))
            who = match["who"]
            if who == "qarvo":
                default[key] = gbs
            elif who == f"qarvo.{variant}":
                other[key] = gbs
        elif match := SET.match(name):
            key = (f"set {match['routine']}", f"k={match['k']}", int(match["n"]))
            if match["variant"] is None:
                default[key] = gbs
            elif match["variant"] == variant:
                other[key] = gbs
    return {key: (default[key], other[key]) for key in default.keys() & other.keys()}


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("results", nargs="+")
    parser.add_argument("--against", default="avx2", help="the variant to compare with")
    parser.add_argument("--from", dest="least", type=int, default=1024, help="shortest haystack")
    parser.add_argument("--below", type=float, default=1.0, help="print rows below this ratio")
    args = parser.parse_args()
    table = {
        k: v for k, v in rows(speeds(args.results), args.against).items() if k[2] >= args.least
    }
    if not table:
        raise SystemExit(f"no row has both qarvo and qarvo.{args.against}")
    groups: dict[tuple[str, str], list[float]] = defaultdict(list)
    print(f"Rows where qarvo.{args.against} was faster than the default (ratio < {args.below}):\n")
    for (case, label, n), (mine, theirs) in sorted(table.items()):
        ratio = mine / theirs
        groups[(case, label)].append(ratio)
        if ratio < args.below:
            print(f"  {case}/{label}/n={n}: {ratio:.3f} ({mine:.1f} against {theirs:.1f} GB/s)")
    print("\n| case | needle | lowest | geometric mean |\n|---|---|---|---|")
    for (case, label), ratios in sorted(groups.items()):
        mean = math.exp(sum(map(math.log, ratios)) / len(ratios))
        print(f"| {case} | {label} | {min(ratios):.3f} | {mean:.3f} |")
    every = [r for ratios in groups.values() for r in ratios]
    mean = math.exp(sum(map(math.log, every)) / len(every))
    below = sum(r < args.below for r in every)
    print(
        f"\n{len(every)} rows from {args.least} B: {below} below {args.below}, "
        f"lowest {min(every):.3f}, geometric mean {mean:.3f}"
    )


if __name__ == "__main__":
    main()
