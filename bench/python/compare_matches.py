"""Counting, every match, the last match, a prepared needle and two threads:
qarvo beside bytes, re, StringZilla and hyperscan on the real-data corpora.

    PYTHONPATH=build/<dir>/bindings python3 bench/python/compare_matches.py [--quick] [--json]

Every contender's answer is checked against bytes' own methods before it is
timed. A ratio is the best peer's time over qarvo's (above 1: qarvo faster),
from one process with the contenders sampled in turns (timing.py).
"""

from __future__ import annotations

import argparse
import functools
import json
import math
import re
import sys
import threading
import time
from dataclasses import dataclass

import realdata
from contenders import load_qarvo
from environment import describe
from timing import FULL, QUICK, AgainstPeers, Timed, time_side_by_side
from workloads import KIB, MIB

try:
    import stringzilla
except ImportError:
    stringzilla = None
try:
    import hyperscan
except ImportError:
    hyperscan = None

# Dense needles: a space (a newline in digests and binaries), and the class's
# first common fragment; sparse: one held-out needle planted once near the end.
DENSE = {
    "english": (b" ", b"\n", b"the"),
    "russian": (b" ", "что".encode()),
    "chinese": ("，".encode(), "的".encode()),
    "python": (b" ", b"self."),
    "md5": (b"\n",),
    "binary": (b"\x00", b"\x00\x00\x00\x00"),
}
SIZES = (32, KIB, 100 * KIB, MIB, 64 * MIB)


@dataclass
class Row(AgainstPeers):
    operation: str
    corpus: str
    size: int
    needle: bytes
    matches: int
    times: dict[str, float]


def hyperscan_offsets(needle: bytes):
    database = hyperscan.Database(mode=hyperscan.HS_MODE_BLOCK)
    database.compile(expressions=[b"".join(b"\\x%02x" % b for b in needle)], flags=0)
    scratch = hyperscan.Scratch(database)
    length = len(needle)

    def offsets(haystack):
        found = []
        append = found.append

        def on_match(_id, _start, end, _flags, _context):
            append(end - length)

        database.scan(haystack, match_event_handler=on_match, scratch=scratch)
        return found

    return offsets


def overlaps_itself(needle: bytes) -> bool:
    return any(needle[k:] == needle[: len(needle) - k] for k in range(1, len(needle)))


def find_loop(find, needle: bytes):
    step = max(len(needle), 1)

    def offsets(haystack):
        found = []
        at = find(haystack, needle, 0)
        while at >= 0:
            found.append(at)
            at = find(haystack, needle, at + step)
        return found

    return offsets


def contenders(qarvo, operation: str, haystack: bytes, needle: bytes):
    """name -> (call, args, answer normaliser)."""
    text = stringzilla.Str(haystack) if stringzilla else None
    pattern = re.compile(re.escape(needle))
    plain = not overlaps_itself(needle)  # hyperscan reports overlapping matches too
    out = {}
    if operation == "count":
        out["qarvo"] = (qarvo.count, (haystack, needle), int)
        out["bytes.count"] = (haystack.count, (needle,), int)
        out["re.finditer"] = (lambda h: sum(1 for _ in pattern.finditer(h)), (haystack,), int)
        if text is not None:
            out["StringZilla"] = (text.count, (needle,), int)
        if hyperscan and plain:
            offsets = hyperscan_offsets(needle)
            out["hyperscan"] = (lambda h: len(offsets(h)), (haystack,), int)
    elif operation == "find_all":
        out["qarvo"] = (qarvo.find_all, (haystack, needle), list)
        out["re.finditer"] = (lambda h: [m.start() for m in pattern.finditer(h)], (haystack,), list)
        out["bytes.find loop"] = (find_loop(bytes.find, needle), (haystack,), list)
        if text is not None:
            sz_find = find_loop(lambda h, n, s: text.find(n, s), needle)
            out["StringZilla loop"] = (sz_find, (haystack,), list)
        if hyperscan and plain:
            out["hyperscan"] = (hyperscan_offsets(needle), (haystack,), list)
    elif operation == "rfind":
        out["qarvo"] = (qarvo.rfind, (haystack, needle), lambda r: -1 if r is None else r)
        out["qarvo.find"] = (qarvo.find, (haystack, needle), lambda r: -1 if r is None else r)
        out["bytes.rfind"] = (haystack.rfind, (needle,), int)
        if text is not None:
            out["StringZilla"] = (text.rfind, (needle,), int)
    return out


def expected(operation, haystack, needle):
    if operation == "count":
        return haystack.count(needle)
    if operation == "find_all":
        return find_loop(bytes.find, needle)(haystack)
    return haystack.rfind(needle)


def measure(qarvo, operation, corpus, haystack, needle, *, budget) -> Row:
    want = expected(operation, haystack, needle)
    timed = {}
    for name, (call, args, normalise) in contenders(qarvo, operation, haystack, needle).items():
        start = time.perf_counter_ns()
        got = call(*args)
        elapsed = time.perf_counter_ns() - start
        if name == "qarvo.find":
            want_find = haystack.find(needle)
            assert normalise(got) == want_find, (name, corpus, needle)
        else:
            assert normalise(got) == want, (name, operation, corpus, len(haystack), needle)
        timed[name] = Timed(call, args, elapsed)
    if operation == "count":
        matches = want
    elif operation == "find_all":
        matches = len(want)
    else:
        matches = int(want >= 0)
    return Row(operation, corpus, len(haystack), needle, matches, time_side_by_side(timed, budget))


def real_rows(qarvo, classes, sizes, budget):
    for corpus in classes:
        source = realdata.Source(corpus, getattr(realdata, SOURCES[corpus])())
        for size in sizes:
            haystack = source.haystack(size)
            sparse = realdata.absent(source, 16)
            once = realdata.planted(haystack, sparse) if size > 64 else haystack
            needles = [n for n in DENSE[corpus] if len(n) < size]
            if size >= 64 * MIB:
                needles = needles[:1]
            for operation in ("count", "find_all"):
                for needle in needles:
                    yield measure(qarvo, operation, corpus, haystack, needle, budget=budget)
                yield measure(qarvo, operation, corpus, once, sparse, budget=budget)
            # Absent needles of several lengths: rfind and find both read the
            # whole range, the rows that compare their throughput.
            for length in ABSENT_LENGTHS:
                absent = sparse if length == len(sparse) else realdata.absent(source, length)
                yield measure(qarvo, "rfind", corpus, haystack, absent, budget=budget)
            for needle in needles:
                yield measure(qarvo, "rfind", corpus, haystack, needle, budget=budget)


ABSENT_LENGTHS = (4, 8, 16, 32)

SOURCES = {
    "english": "english",
    "russian": "russian",
    "chinese": "chinese",
    "python": "python_source",
    "md5": "hex_digests",
    "binary": "shared_libraries",
}


def per_record(qarvo, budget):
    """One needle against a million 64-byte records, per record."""
    source = realdata.Source("english", realdata.english())
    body = source.haystack(64 * 1_000_000)
    records = [body[i : i + 64] for i in range(0, len(body), 64)]
    needle = b"the "
    finder = qarvo.Finder(needle)

    def qarvo_loop(rs):
        find = finder.find
        return sum(1 for r in rs if find(r) is not None)

    def bytes_loop(rs):
        return sum(1 for r in rs if r.find(needle) >= 0)

    out = {
        "qarvo Finder": Timed(qarvo_loop, (records,), 0),
        "bytes.find": Timed(bytes_loop, (records,), 0),
    }
    if stringzilla:
        sz_find = stringzilla.find

        def sz_loop(rs):
            return sum(1 for r in rs if sz_find(r, needle) >= 0)

        out["StringZilla"] = Timed(sz_loop, (records,), 0)
    assert len({t.call(records) for t in out.values()}) == 1
    times = time_side_by_side(out, budget)
    return {k: v / len(records) for k, v in times.items()}


def per_call(qarvo, budget):
    """find(h, n, start, end) on 16- and 64-byte haystacks, against h.find."""
    out = {}
    for size in (16, 64):
        haystack = (b"abcdefghijklmnopqrstuvwxyz" * 4)[:size]
        needle = haystack[size - 5 : size - 2]
        start, end = 1, size - 1
        assert qarvo.find(haystack, needle, start, end) == haystack.find(needle, start, end)
        times = time_side_by_side(
            {
                "qarvo.find": Timed(
                    functools.partial(qarvo.find, haystack, needle, start), (end,), 0
                ),
                "bytes.find": Timed(functools.partial(haystack.find, needle, start), (end,), 0),
            },
            budget,
        )
        out[size] = times
    return out


def two_threads(qarvo):
    """Two 64 MiB searches on two threads against the same two one after the other."""
    buffers = [bytearray(64 * MIB) for _ in range(2)]

    def search(b):
        qarvo.count(b, b"needle")

    def sequential():
        for b in buffers:
            search(b)

    def parallel():
        threads = [threading.Thread(target=search, args=(b,)) for b in buffers]
        for t in threads:
            t.start()
        for t in threads:
            t.join()

    best = {"sequential": math.inf, "threads": math.inf}
    for _ in range(15):
        for name, run in (("sequential", sequential), ("threads", parallel)):
            start = time.perf_counter_ns()
            run()
            best[name] = min(best[name], time.perf_counter_ns() - start)
    return best


def geo_mean(values):
    return math.exp(sum(math.log(v) for v in values) / len(values)) if values else float("nan")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--json", action="store_true")
    parser.add_argument("--classes", default="english,russian,chinese,python,md5,binary")
    parser.add_argument("--sizes", default=",".join(map(str, SIZES)))
    args = parser.parse_args()
    qarvo = load_qarvo()
    budget = QUICK if args.quick else FULL
    classes = [c for c in args.classes.split(",") if c]
    realdata.install_missing(classes)
    sizes = tuple(int(s) for s in args.sizes.split(","))
    rows = list(real_rows(qarvo, classes, sizes, budget))
    record = per_record(qarvo, budget)
    calls = per_call(qarvo, budget)
    threads = two_threads(qarvo)
    result = {
        "environment": describe(qarvo),
        "rows": [
            {
                "operation": r.operation,
                "corpus": r.corpus,
                "size": r.size,
                "needle": r.needle.hex(),
                "matches": r.matches,
                "times_ns": r.times,
            }
            for r in rows
        ],
        "per_record_ns": record,
        "per_call_ns": calls,
        "threads_ns": threads,
    }
    if args.json:
        json.dump(result, sys.stdout, indent=1)
        return
    print(json.dumps(result["environment"], indent=1))
    print("| operation | corpus | size | needle | matches | best peer | ratio |")
    print("|---|---|---|---|---|---|---|")
    for r in rows:
        name, _ = r.best_peer()
        extra = ""
        if r.operation == "rfind":
            extra = f" (rfind/find time {r.times['qarvo'] / r.times['qarvo.find']:.2f})"
        print(
            f"| {r.operation} | {r.corpus} | {r.size} | {r.needle[:12]!r} | {r.matches} "
            f"| {name} | {r.ratio():.2f}{extra} |"
        )
    for op in ("count", "find_all", "rfind"):
        ratios = [r.ratio() for r in rows if r.operation == op]
        if ratios:
            mean, lowest = geo_mean(ratios), min(ratios)
            print(f"{op}: geometric mean {mean:.2f}, lowest {lowest:.2f}, rows {len(ratios)}")
    print("per record (ns):", {k: round(v, 1) for k, v in record.items()})
    for size, times in calls.items():
        ratio = times["qarvo.find"] / times["bytes.find"]
        print(f"per call, {size} B: qarvo.find/h.find time {ratio:.2f}")
    print(f"two threads / one after the other: {threads['threads'] / threads['sequential']:.2f}")


if __name__ == "__main__":
    main()
