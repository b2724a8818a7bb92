"""find_any and find_not_any beside StringZilla's find_first_of and find_first_not_of
and re.search with a character class, on the real-data corpora.

    PYTHONPATH=build/<dir>/bindings python3 bench/python/compare_byte_sets.py [--quick] [--json]

Rows, per corpus and size:
- find_any with sets of 1, 2, 3, 4, 8, 16 and 64 bytes: the bytes the corpus holds
  least (for text, bytes it never holds), the first of them planted once near the
  end, so that every contender scans nearly the whole haystack; where the corpus
  holds every byte (binaries) the first member comes early instead. With up to four
  bytes, a loop of bytes.find over the members joins the peers.
- find_not_any with the set of every byte the haystack holds (a parser skipping what
  it expects), and one byte it does not hold planted near the end; corpora that hold
  all 256 byte values have no such row.
Every contender's answer is checked against a plain scan first. "ratio" is the best
peer's time over qarvo's (above 1: qarvo faster). Contenders are sampled in turns in
one process (timing.py).
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
    import stringzilla
except ImportError:
    stringzilla = None

SET_SIZES = (1, 2, 3, 4, 8, 16, 64)
SIZES = (32, KIB, 100 * KIB, MIB, 64 * MIB)
CLASSES = ("english", "russian", "chinese", "python", "md5", "binary")
SOURCES = {
    "english": "english",
    "russian": "russian",
    "chinese": "chinese",
    "python": "python_source",
    "md5": "hex_digests",
    "binary": "shared_libraries",
}


@dataclass
class Row(AgainstPeers):
    operation: str
    corpus: str
    size: int
    members: int
    found: int
    times: dict[str, float]


def byte_class(members: bytes, negated: bool) -> re.Pattern[bytes]:
    escaped = b"".join(b"\\x%02x" % b for b in sorted(members))
    return re.compile(b"[" + (b"^" if negated else b"") + escaped + b"]")


def plain_first(haystack: bytes, members: bytes, inside: bool) -> int:
    """The first offset whose byte is (or is not) a member, by looking at each."""
    table = bytes(b in members for b in range(256))
    return bytes(haystack).translate(table).find(1 if inside else 0)


def offset(found) -> int:
    return -1 if found is None else found


def match_start(match) -> int:
    return -1 if match is None else match.start()


def contenders(qarvo, operation: str, haystack: bytes, members: bytes):
    """name -> (call, args, answer normaliser)."""
    inside = operation == "find_any"
    out = {
        "qarvo": (getattr(qarvo, operation), (haystack, members), offset),
        "re": (byte_class(members, not inside).search, (haystack,), match_start),
    }
    if stringzilla:
        name = "find_first_of" if inside else "find_first_not_of"
        out["StringZilla"] = (getattr(stringzilla, name), (haystack, members), int)
    if inside and len(members) <= 4:
        singles = [bytes([b]) for b in members]

        def each_byte(h):
            found = [i for i in map(h.find, singles) if i >= 0]
            return min(found) if found else -1

        out["bytes.find per byte"] = (each_byte, (haystack,), int)
    return out


def measure(qarvo, operation, corpus, haystack, members, *, budget) -> Row:
    want = plain_first(haystack, members, operation == "find_any")
    timed = {}
    for name, (call, args, normalise) in contenders(qarvo, operation, haystack, members).items():
        got = normalise(call(*args))
        assert got == want, (name, operation, corpus, len(haystack), members, got, want)
        timed[name] = Timed(call, args, 0)
    return Row(
        operation, corpus, len(haystack), len(members), want, time_side_by_side(timed, budget)
    )


def rarest_bytes(sample: bytes) -> bytes:
    """Every byte value, those the sample holds least first."""
    return bytes(sorted(range(256), key=lambda b: (sample.count(b), b)))


def rows(qarvo, classes, sizes, budget):
    for corpus in classes:
        source = realdata.Source(corpus, getattr(realdata, SOURCES[corpus])())
        ranked = rarest_bytes(source.haystack(MIB))
        for size in sizes:
            haystack = source.haystack(size)
            for k in SET_SIZES:
                members = ranked[:k]
                planted = realdata.planted(haystack, members[:1])
                yield measure(qarvo, "find_any", corpus, planted, members, budget=budget)
            held = bytes(b for b in range(256) if haystack.count(b))
            if len(held) < 256:
                outsider = bytes(b for b in range(256) if b not in held)[:1]
                planted = realdata.planted(haystack, outsider)
                yield measure(qarvo, "find_not_any", corpus, planted, held, budget=budget)


def geo_mean(values):
    return math.exp(sum(math.log(v) for v in values) / len(values)) if values else float("nan")


def summary(measured: list[Row]) -> list[str]:
    """One line per operation and set size, then one for all rows."""
    lines = []
    groups: dict[tuple[str, int | str], list[float]] = {}
    for r in measured:
        key = (r.operation, r.members if r.operation == "find_any" else "held")
        groups.setdefault(key, []).append(r.ratio())
    groups[("all", "")] = [r.ratio() for r in measured]
    for (operation, members), ratios in groups.items():
        ahead = sum(x >= 1 for x in ratios)
        lines.append(
            f"| {operation} | {members} | {ahead} / {len(ratios)} "
            f"| {geo_mean(ratios):.2f} | {min(ratios):.2f} |"
        )
    return lines


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--json", action="store_true")
    parser.add_argument("--classes", default=",".join(CLASSES))
    parser.add_argument("--sizes", default=",".join(map(str, SIZES)))
    args = parser.parse_args()
    qarvo = load_qarvo()
    budget = QUICK if args.quick else FULL
    classes = [c for c in args.classes.split(",") if c]
    realdata.install_missing(classes)
    sizes = tuple(int(s) for s in args.sizes.split(","))
    measured = list(rows(qarvo, classes, sizes, budget))
    if args.json:
        json.dump(
            {
                "environment": describe(qarvo),
                "rows": [
                    {
                        "operation": r.operation,
                        "corpus": r.corpus,
                        "size": r.size,
                        "members": r.members,
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
    print("| operation | corpus | size | set | found at | qarvo GB/s | best peer | ratio |")
    print("|---|---|---|---|---|---|---|---|")
    for r in measured:
        name, _ = r.best_peer()
        scanned = (r.found + 1 if r.found >= 0 else r.size) / r.times["qarvo"]  # bytes per ns
        print(
            f"| {r.operation} | {r.corpus} | {r.size} | {r.members} | {r.found} "
            f"| {scanned:.2f} | {name} | {r.ratio():.2f} |"
        )
    print()
    print("| operation | set | rows ahead | geo. mean | lowest |")
    print("|---|---|---|---|---|")
    print("\n".join(summary(measured)))


if __name__ == "__main__":
    main()
