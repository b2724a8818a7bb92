"""Many near-miss needles over machine-written text: qarvo against StringZilla
and bytes.find, one needle at a time.

Every needle is cut from a line of the text with one byte changed to another
of its kind that the text uses (machine_text.near_miss), so it is absent and
the whole haystack is read. Such needles share nearly every byte with the
lines around them: a filter that picks bytes by how rare they are in prose
meets them on every line. A handful of needles per size, as compare_real.py
takes, can miss the ones where a filter chooses badly; this takes dozens per
class and reports the worst ones by name.

    PYTHONPATH=build/bindings python bench/python/near_miss_sweep.py
    python bench/python/near_miss_sweep.py --sizes 65536,1048576 --needles 51 --json out.json

For each class and size it prints the needles below --flag times the best peer,
then the worst ratio, how many are below --flag, and the geometric mean.
"""

import argparse
import json
import math
import sys
from time import perf_counter_ns

import environment
import machine_text
from realdata import SOURCES, Source
from timing import QUICK, Budget, Timed, time_side_by_side

LENGTHS = tuple(range(8, 65))  # needles of 8 to 64 bytes, in turn
# Shorter samples than compare_real.py's: a sweep times hundreds of needles,
# and the minimum of five samples of 5 ms settled within a few percent on
# haystacks up to 8 MiB.
SWEEP = Budget(repeats=5, sample_ns=5_000_000, slow_call_ns=2_000_000_000, memory_bound_repeats=7)


def contenders(haystack: bytes, needle: bytes) -> dict[str, Timed]:
    """Every contender's find on this pair, checked against bytes.find."""
    import qarvo

    calls = {
        "qarvo": (qarvo.search_n, (haystack, needle)),
        "bytes.find": (haystack.find, (needle,)),
    }
    try:
        from stringzilla import Str

        calls["sz Str.find"] = (Str(haystack).find, (needle,))
    except ImportError:
        pass
    expected = haystack.find(needle)
    timed = {}
    for name, (call, args) in calls.items():
        start = perf_counter_ns()
        got = call(*args)
        elapsed = perf_counter_ns() - start
        if name == "qarvo":
            got = -1 if got is None else got
        if got != expected:
            raise AssertionError(f"{name} found {got}, bytes.find {expected} for {needle!r}")
        timed[name] = Timed(call, args, elapsed)
    return timed


def sweep(name: str, size: int, count: int, budget, flag: float) -> dict:
    source = Source(name, SOURCES[name]())
    haystack = source.haystack(size)
    rows = []
    for k in range(count):
        length = LENGTHS[k % len(LENGTHS)]
        needle = machine_text.near_miss(
            source.pool, length, source.occurs, source.alphabet, seed=k + 1
        )
        ns = time_side_by_side(contenders(haystack, needle), budget)
        peers = {c: t for c, t in ns.items() if c != "qarvo"}
        best = min(peers, key=peers.get)
        rows.append(
            {
                "needle": needle.decode("latin-1"),
                "ns": ns,
                "best": best,
                "ratio": peers[best] / ns["qarvo"],
            }
        )
    ratios = [r["ratio"] for r in rows]
    return {
        "class": name,
        "size": size,
        "rows": rows,
        "worst": min(ratios),
        "below_flag": sum(r < flag for r in ratios),
        "geomean": math.exp(sum(map(math.log, ratios)) / len(ratios)),
    }


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--classes", default="log,csv,json")
    parser.add_argument("--sizes", default="65536,1048576,8388608")
    parser.add_argument("--needles", type=int, default=153, help="needles per class and size")
    parser.add_argument("--flag", type=float, default=0.9, help="print needles below this ratio")
    parser.add_argument("--quick", action="store_true", help="short samples")
    parser.add_argument("--json", help="write every row here")
    args = parser.parse_args()
    budget = QUICK if args.quick else SWEEP
    import qarvo

    described = environment.describe(qarvo)
    print(
        described["machine"]["CPU"],
        "| Python",
        described["python"]["version"],
        "| haystacks",
        described["haystacks"]["placement"],
        "| load",
        environment.load_average(),
        file=sys.stderr,
    )
    results = []
    for name in args.classes.split(","):
        for size in map(int, args.sizes.split(",")):
            result = sweep(name, size, args.needles, budget, args.flag)
            results.append(result)
            for row in result["rows"]:
                if row["ratio"] < args.flag:
                    gbs = size / row["ns"]["qarvo"]
                    print(
                        f"  {row['ratio']:.2f}x {gbs:6.1f} GB/s vs {row['best']}: {row['needle']!r}"
                    )
            print(
                f"{name:5s} {size:>9d} B: {len(result['rows'])} needles, worst "
                f"{result['worst']:.2f}x, {result['below_flag']} below {args.flag}x, "
                f"geometric mean {result['geomean']:.2f}x",
                flush=True,
            )
    if args.json:
        with open(args.json, "w") as out:
            json.dump({"environment": described, "results": results}, out, indent=1)
    return 0


if __name__ == "__main__":
    sys.exit(main())
