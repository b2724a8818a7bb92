"""Per-call cost of qarvo's four functions against bytes.find, on short haystacks.

At 16 to 64 bytes the search itself takes a few nanoseconds; what a call costs
is the interpreter's call machinery plus the function's argument handling. This
times, in one process, each qarvo function on a `bytes` and on a `memoryview`
haystack against `bytes.find` with the same needle on the `bytes` haystack:

    python3 bench/python/percall.py            # table on stdout
    python3 bench/python/percall.py --json     # one JSON object, for every_python.sh

Every contender runs the same loop, `for _ in repeat(None, n): f(a, b)`, each
from its own compiled copy so that the interpreter's specialisation of the call
site is never shared between contenders. `bytes.find` is timed twice: as
`bytes.find(h, x)` in that same loop, and as `h.find(x)`, the way it is usually
written; the faster of the two is the baseline of the ratios. Samples are taken
in rounds, each round starting with the next contender, and the fastest sample
of each contender counts. The times include the loop itself (about a tenth of a
call); it is the same for every contender.
"""

import argparse
import gc
import json
import operator
import os
import platform
import sys
from dataclasses import dataclass
from itertools import repeat
from time import perf_counter_ns

# Ratio limits (qarvo's time / bytes.find's) that the table checks.
TARGET_BYTES = 0.90
TARGET_MEMORYVIEW = 1.00

TEXT = b"the quick brown fox jumps over a lazy dog while five boxing wizards jump "
# Bytes absent from TEXT, so a needle built from them never matches early.
ABSENT = b"QZXJKVWY"

_LOOP_SOURCE = """
def loop(f, a, b, n):
    start = perf_counter_ns()
    for _ in repeat(None, n):
        f(a, b)
    return perf_counter_ns() - start

def method_loop(a, b, n):
    start = perf_counter_ns()
    for _ in repeat(None, n):
        a.find(b)
    return perf_counter_ns() - start
"""


def _fresh_loops():
    """A new copy of both loops, with call sites no other contender has run."""
    namespace = {"perf_counter_ns": perf_counter_ns, "repeat": repeat}
    exec(compile(_LOOP_SOURCE, "<percall loop>", "exec"), namespace)
    return namespace["loop"], namespace["method_loop"]


@dataclass(frozen=True)
class Case:
    function: str  # qarvo function name
    size: int  # haystack length
    match: bool  # needle occurs once, at the end of the haystack
    needle: object  # int for search_one, bytes otherwise
    haystack: bytes

    @property
    def needle_length(self) -> int:
        return 1 if isinstance(self.needle, int) else len(self.needle)


def _needle_bytes(length: int) -> bytes:
    return (ABSENT * (length // len(ABSENT) + 1))[:length]


def make_case(function: str, size: int, needle_length: int, match: bool) -> Case:
    text = (TEXT * (size // len(TEXT) + 1))[:size]
    raw = _needle_bytes(needle_length)
    if match:
        text = text[: size - needle_length] + raw
    needle = raw[0] if function == "search_one" else raw
    return Case(function, size, match, needle, text)


def all_cases(sizes: list[int], n_lengths: list[int], n_sizes: list[int]) -> list[Case]:
    cases = []
    for function, length in (("search_one", 1), ("search_two", 2), ("search_three", 3)):
        for size in sizes:
            for match in (False, True):
                cases.append(make_case(function, size, length, match))
    for length in n_lengths:
        for size in n_sizes:
            for match in (False, True):
                if match and length > size:
                    continue
                cases.append(make_case("search_n", size, length, match))
    return cases


def _check(case: Case, function) -> None:
    """Every contender must give bytes.find's answer before it is timed."""
    expected = case.haystack.find(case.needle)
    expected = None if expected == -1 else expected
    for haystack in (case.haystack, memoryview(case.haystack)):
        got = function(haystack, case.needle)
        if got != expected:
            raise SystemExit(
                f"{case.function}({type(haystack).__name__} of {case.size}, {case.needle!r})"
                f" returned {got!r}, bytes.find says {expected!r}"
            )


def _calibrate(sample, target_ns: int) -> int:
    loops = 100
    while True:
        elapsed = max(sample(loops), 1)
        if elapsed * 4 >= target_ns:
            return max(1, round(loops * target_ns / elapsed))
        loops *= 4


def time_case(case: Case, qarvo, rounds: int, sample_ns: int) -> dict[str, float]:
    """Best ns per call of each contender on one case."""
    function = getattr(qarvo, case.function)
    _check(case, function)
    view = memoryview(case.haystack)
    samples = {}
    loop, _ = _fresh_loops()
    samples["qarvo bytes"] = lambda n, f=function, loop=loop: loop(f, case.haystack, case.needle, n)
    loop, _ = _fresh_loops()
    samples["qarvo memoryview"] = lambda n, f=function, loop=loop: loop(f, view, case.needle, n)
    loop, _ = _fresh_loops()
    samples["bytes.find(h, x)"] = lambda n, loop=loop: loop(
        bytes.find, case.haystack, case.needle, n
    )
    _, method_loop = _fresh_loops()
    samples["h.find(x)"] = lambda n, loop=method_loop: loop(case.haystack, case.needle, n)
    names = list(samples)
    loops = {name: _calibrate(samples[name], sample_ns) for name in names}
    best = {name: float("inf") for name in names}
    for round_ in range(rounds):
        start = round_ % len(names)
        for name in names[start:] + names[:start]:
            best[name] = min(best[name], samples[name](loops[name]) / loops[name])
    return best


def time_call_floor(rounds: int, sample_ns: int) -> float:
    """ns per call of operator.is_ in the same loop: what any call of a
    built-in function with two arguments costs on this interpreter, before the
    function does anything."""
    loop, _ = _fresh_loops()
    haystack = make_case("search_one", 16, 1, False).haystack

    def sample(n: int) -> int:
        return loop(operator.is_, haystack, 126, n)

    loops = _calibrate(sample, sample_ns)
    return min(sample(loops) / loops for _ in range(rounds))


def _describe_interpreter() -> dict:
    return {
        "python": platform.python_version(),
        "implementation": platform.python_implementation(),
        "debug": hasattr(sys, "gettotalrefcount"),
        "executable": sys.executable,
    }


def _cpu_name() -> str:
    try:
        with open("/proc/cpuinfo", encoding="utf-8") as info:
            for line in info:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown"


def run(args: argparse.Namespace) -> dict:
    import qarvo

    cases = all_cases(args.sizes, args.n_lengths, args.n_sizes)
    rows = []
    sample_ns = round(args.sample_ms * 1_000_000)
    gc_was_enabled = gc.isenabled()
    gc.disable()
    try:
        floor = time_call_floor(args.rounds, sample_ns)
        for case in cases:
            best = time_case(case, qarvo, args.rounds, sample_ns)
            baseline = min(best["bytes.find(h, x)"], best["h.find(x)"])
            rows.append(
                {
                    "function": case.function,
                    "size": case.size,
                    "needle_length": case.needle_length,
                    "match": case.match,
                    "ns": best,
                    "ratio_bytes": best["qarvo bytes"] / baseline,
                    "ratio_memoryview": best["qarvo memoryview"] / baseline,
                }
            )
            if args.progress:
                print(".", end="", file=sys.stderr, flush=True)
    finally:
        if gc_was_enabled:
            gc.enable()
    if args.progress:
        print(file=sys.stderr)
    return {
        "interpreter": _describe_interpreter(),
        "cpu": _cpu_name(),
        "qarvo": getattr(qarvo, "__file__", "?"),
        "load": os.getloadavg() if hasattr(os, "getloadavg") else None,
        "call_floor_ns": floor,
        "rows": rows,
    }


def _mark(ratio: float, limit: float) -> str:
    return f"{ratio:.2f}x" + ("" if ratio <= limit else " !")


def format_table(result: dict) -> str:
    interp = result["interpreter"]
    lines = [
        f"CPython {interp['python']}{' (debug build)' if interp['debug'] else ''}"
        f" on {result['cpu']}; qarvo from {result['qarvo']}",
        f"call floor (operator.is_ in the same loop): {result['call_floor_ns']:.1f} ns",
        "ns per call (fastest sample, loop included); ratio = qarvo / faster bytes.find;"
        f" '!' marks a ratio above {TARGET_BYTES:.2f} (bytes) or"
        f" {TARGET_MEMORYVIEW:.2f} (memoryview)",
        "",
        "| function | haystack | m | match | qarvo bytes | qarvo memoryview"
        " | bytes.find(h, x) | h.find(x) | ratio bytes | ratio memoryview |",
        "|---|--:|--:|---|--:|--:|--:|--:|--:|--:|",
    ]
    for row in result["rows"]:
        ns = row["ns"]
        lines.append(
            f"| {row['function']} | {row['size']} | {row['needle_length']}"
            f" | {'end' if row['match'] else 'none'}"
            f" | {ns['qarvo bytes']:.1f} | {ns['qarvo memoryview']:.1f}"
            f" | {ns['bytes.find(h, x)']:.1f} | {ns['h.find(x)']:.1f}"
            f" | {_mark(row['ratio_bytes'], TARGET_BYTES)}"
            f" | {_mark(row['ratio_memoryview'], TARGET_MEMORYVIEW)} |"
        )
    worst_bytes = max(row["ratio_bytes"] for row in result["rows"])
    worst_view = max(row["ratio_memoryview"] for row in result["rows"])
    lines.append("")
    lines.append(
        f"worst ratio: bytes {worst_bytes:.2f}x (target <= {TARGET_BYTES:.2f}),"
        f" memoryview {worst_view:.2f}x (target <= {TARGET_MEMORYVIEW:.2f})"
    )
    return "\n".join(lines)


def _int_list(text: str) -> list[int]:
    return [int(part) for part in text.split(",") if part]


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n", 1)[0])
    parser.add_argument("--json", action="store_true", help="print one JSON object instead")
    parser.add_argument("--rounds", type=int, default=30, help="samples per contender")
    parser.add_argument("--sample-ms", type=float, default=1.0, help="length of one sample")
    parser.add_argument("--sizes", type=_int_list, default=[16, 64], help="haystack sizes")
    parser.add_argument(
        "--n-lengths", type=_int_list, default=[4, 8, 16, 32], help="search_n needle lengths"
    )
    parser.add_argument(
        "--n-sizes", type=_int_list, default=[16, 32, 64], help="search_n haystack sizes"
    )
    parser.add_argument("--quiet", dest="progress", action="store_false", help="no progress dots")
    args = parser.parse_args()
    result = run(args)
    print(json.dumps(result) if args.json else format_table(result))


if __name__ == "__main__":
    main()
