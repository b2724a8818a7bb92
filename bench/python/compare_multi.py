"""Many needles at once: qarvo.MultiFinder beside hyperscan, pyahocorasick, ahocorasick-rs,
re's alternation and qarvo.find once per needle, on text and binary haystacks.

    PYTHONPATH=build/<dir>/bindings python3 bench/python/compare_multi.py [--quick] [--short]
        [--json] [--data text,binary,russian,chinese,code]

Peers (pip install hyperscan pyahocorasick ahocorasick-rs into the interpreter that runs
this) are skipped when missing. Each contender returns every match of the set in the
haystack. Matches follow re's rule (leftmost, then the needle listed first, then on after
the match) for qarvo, re, ahocorasick-rs (MatchKind.LeftmostFirst) and qarvo.find per needle
(each needle's own non-overlapping matches, merged), and these answers are checked against
qarvo's before timing; hyperscan (HS_FLAG_SOM_LEFTMOST) and pyahocorasick (iter) report every
occurrence of every needle, overlapping ones included, which is at least as many, so their
answer is only checked to be a superset. A ratio is the best peer's time over qarvo's (above
1: qarvo faster), contenders sampled in turns in one process (timing.py).
"""

from __future__ import annotations

import argparse
import functools
import json
import math
import random
import re
import sys
import time

import corpus
from environment import describe
from timing import FULL, QUICK, Timed, time_side_by_side
from workloads import KIB, MIB

try:
    import hyperscan
except ImportError:
    hyperscan = None
try:
    import ahocorasick
except ImportError:
    ahocorasick = None
try:
    import ahocorasick_rs
except ImportError:
    ahocorasick_rs = None

SET_SIZES = (2, 8, 64, 500, 5000)
SIZES = (KIB, 64 * KIB, MIB, 64 * MIB)
QUICK_SIZES = (KIB, 64 * KIB, MIB)


def text_needles(count: int, seed: int = 7) -> list[bytes]:
    """Words of the corpus's vocabulary, then two-word phrases once the words run out."""
    rng = random.Random(seed)
    words = list(dict.fromkeys(w.encode() for w in corpus.VOCABULARY))
    rng.shuffle(words)
    if count <= len(words):
        return words[:count]
    phrases = {a + b" " + b for a in words for b in words[:40]}
    return words + rng.sample(sorted(phrases), count - len(words))


def binary_needles(count: int, seed: int = 11) -> list[bytes]:
    rng = random.Random(seed)
    return [bytes(rng.randrange(256) for _ in range(rng.randrange(4, 9))) for _ in range(count)]


# The real-data classes --data can add: Debian's fortunes in Russian and Chinese, and the
# CPython standard library's source (bench/python/realdata.py; haystacks repeat the class's
# text up to the size asked for).
REAL_DATA = {"russian": "russian", "chinese": "chinese", "code": "python_source"}


def real_needles(data: bytes, count: int, seed: int = 13) -> list[bytes]:
    """Distinct pieces of the text itself, 3 to 12 bytes, cut at UTF-8 character starts: a
    few common (short pieces of frequent words) and most rare, so that both few and many
    matches occur."""
    rng = random.Random(seed)
    window = data[: 4 * MIB]
    out: dict[bytes, None] = {}
    while len(out) < count:
        at = rng.randrange(len(window) - 16)
        while at > 0 and 0x80 <= window[at] < 0xC0:
            at -= 1
        end = at + rng.randrange(3, 13)
        while end < len(window) and 0x80 <= window[end] < 0xC0:
            end += 1
        piece = window[at:end]
        if piece.strip():
            out[piece] = None
    return list(out)


@functools.lru_cache(maxsize=4)
def real_haystack(name: str, size: int) -> bytes:
    import realdata

    text = getattr(realdata, REAL_DATA[name])()
    if not text:
        raise SystemExit(f"compare_multi: no {name} text on this machine")
    return (text * (size // len(text) + 1))[:size]


def binary_haystack(size: int, needles: list[bytes]) -> bytes:
    """Random bytes with a needle of the set planted every 4 KiB."""
    data = bytearray(corpus.random_bytes(size))
    for k, at in enumerate(range(1000, size - 16, 4096)):
        needle = needles[k % len(needles)]
        data[at : at + len(needle)] = needle
    return bytes(data)


def hyperscan_matches(needles: list[bytes]):
    database = hyperscan.Database(mode=hyperscan.HS_MODE_BLOCK)
    expressions = [b"".join(b"\\x%02x" % b for b in n) for n in needles]
    database.compile(
        expressions=expressions,
        ids=list(range(len(needles))),
        flags=[hyperscan.HS_FLAG_SOM_LEFTMOST] * len(needles),
    )
    scratch = hyperscan.Scratch(database)

    def matches(haystack):
        found = []
        append = found.append

        def on_match(index, start, _end, _flags, _context):
            append((start, index))

        database.scan(haystack, match_event_handler=on_match, scratch=scratch)
        return found

    return matches


def pyahocorasick_matches(needles: list[bytes]):
    automaton = ahocorasick.Automaton()
    for index, needle in enumerate(needles):
        key = needle.decode("latin-1") if ahocorasick.unicode else needle
        if key not in automaton:
            automaton.add_word(key, (index, len(needle)))
    automaton.make_automaton()

    def matches(haystack):
        return [(end - length + 1, index) for end, (index, length) in automaton.iter(haystack)]

    return matches


def re_matches(needles: list[bytes]):
    pattern = re.compile(b"|".join(b"(" + re.escape(n) + b")" for n in needles))

    def matches(haystack):
        return [(m.start(), m.lastindex - 1) for m in pattern.finditer(haystack)]

    return matches


def per_needle_matches(qarvo, needles: list[bytes]):
    """qarvo.find_all once per needle, the results merged by re's rule. Every start of
    each needle, overlapping ones too: a needle's start inside its own earlier match
    may be where an earlier-listed needle wins over a later one (two box-drawing
    characters against one in the Chinese text at 64 MiB)."""
    finders = [qarvo.Finder(n) for n in needles]

    def matches(haystack):
        starts = {}
        for index, finder in enumerate(finders):
            for offset in finder.find_all(haystack, overlapping=True):
                starts.setdefault(offset, index)
        out, next_free = [], 0
        for offset in sorted(starts):
            if offset >= next_free:
                index = starts[offset]
                out.append((offset, index))
                next_free = offset + len(needles[index])
        return out

    return matches


def contenders(qarvo, needles: list[bytes], haystack: bytes, size: int):
    """name -> (call, argument, how its answer is checked: 'exact' or 'superset')."""
    finder = qarvo.MultiFinder(needles)
    found = {"qarvo": (finder.find_all, haystack, "exact")}
    if hyperscan is not None:
        found["hyperscan"] = (hyperscan_matches(needles), haystack, "superset")
    if ahocorasick is not None:
        argument = haystack.decode("latin-1") if ahocorasick.unicode else haystack
        found["pyahocorasick"] = (pyahocorasick_matches(needles), argument, "superset")
    if ahocorasick_rs is not None:
        rs = ahocorasick_rs.BytesAhoCorasick(
            needles, matchkind=ahocorasick_rs.MatchKind.LeftmostFirst
        )
        found["ahocorasick-rs"] = (
            lambda h: [(start, index) for index, start, _ in rs.find_matches_as_indexes(h)],
            haystack,
            "exact",
        )
    # re and one search per needle grow with the set: left out where a call would take
    # minutes.
    if len(needles) * size <= 64 * MIB:
        found["re"] = (re_matches(needles), haystack, "exact")
    if len(needles) <= 64:
        found["qarvo.find per needle"] = (per_needle_matches(qarvo, needles), haystack, "exact")
    return found


def measure(qarvo, data_name, needles, haystack, budget):
    want = qarvo.MultiFinder(needles).find_all(haystack)
    timed = {}
    for name, (call, argument, check) in contenders(
        qarvo, needles, haystack, len(haystack)
    ).items():
        start = time.perf_counter_ns()
        got = call(argument)
        elapsed = time.perf_counter_ns() - start
        if check == "exact":
            assert got == want, (name, data_name, len(needles), len(haystack))
        else:
            assert set(want) <= set(got), (name, data_name, len(needles), len(haystack))
        timed[name] = Timed(call, (argument,), elapsed)
    times = time_side_by_side(timed, budget)
    return {"matches": len(want), "times": times}


def prepare_times(qarvo, budget):
    """The cost of preparing a set, qarvo's build beside the peers' compilers."""
    rows = []
    for data_name, make in (("text", text_needles), ("binary", binary_needles)):
        for count in (64, 5000):
            needles = make(count)
            timed = {"qarvo": Timed(qarvo.MultiFinder, (needles,), 0)}
            if hyperscan is not None:
                timed["hyperscan"] = Timed(hyperscan_matches, (needles,), 0)
            if ahocorasick is not None:
                timed["pyahocorasick"] = Timed(pyahocorasick_matches, (needles,), 0)
            if ahocorasick_rs is not None:
                timed["ahocorasick-rs"] = Timed(
                    lambda n: ahocorasick_rs.BytesAhoCorasick(
                        n, matchkind=ahocorasick_rs.MatchKind.LeftmostFirst
                    ),
                    (needles,),
                    0,
                )
            for name, t in timed.items():
                start = time.perf_counter_ns()
                t.call(*t.args)
                timed[name] = Timed(t.call, t.args, time.perf_counter_ns() - start)
            rows.append(
                {"data": data_name, "needles": count, "times": time_side_by_side(timed, budget)}
            )
    return rows


def installed_version(distribution: str) -> str:
    from importlib.metadata import PackageNotFoundError, version

    try:
        return version(distribution)
    except PackageNotFoundError:
        return "installed, version unknown"


def data_and_needles(name: str, count: int, size: int) -> tuple[bytes, list[bytes]]:
    """The haystack of `size` bytes of one --data class, and a set of `count` needles."""
    if name == "text":
        return corpus.english(size), text_needles(count)
    if name == "binary":
        needles = binary_needles(count)
        return binary_haystack(size, needles), needles
    if name in REAL_DATA:
        data = real_haystack(name, size)
        return data, real_needles(data, count)
    raise SystemExit(f"compare_multi: no data '{name}'")


def geo_mean(values):
    return math.exp(sum(math.log(v) for v in values) / len(values)) if values else float("nan")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="haystacks up to 1 MiB only")
    parser.add_argument("--short", action="store_true", help="shorter samples")
    parser.add_argument("--json", action="store_true", help="print the rows as JSON")
    parser.add_argument(
        "--data",
        default="text,binary",
        help="comma-separated: text (English-like), binary, and the real-data classes "
        + ", ".join(REAL_DATA),
    )
    parser.add_argument(
        "--sizes", help="comma-separated haystack sizes in bytes (instead of --quick's or all)"
    )
    parser.add_argument(
        "--sets",
        default=",".join(map(str, SET_SIZES)),
        help="comma-separated numbers of needles",
    )
    args = parser.parse_args()
    import qarvo

    budget = QUICK if args.short else FULL
    sizes = QUICK_SIZES if args.quick else SIZES
    if args.sizes:
        sizes = tuple(int(s) for s in args.sizes.split(","))
    rows = []
    for data_name in args.data.split(","):
        for count in map(int, args.sets.split(",")):
            data, needles = data_and_needles(data_name, count, max(sizes))
            for size in sizes:
                haystack = data[:size]
                row = measure(qarvo, data_name, needles, haystack, budget)
                row.update(data=data_name, needles=count, size=size)
                rows.append(row)
                peers = {k: v for k, v in row["times"].items() if k != "qarvo"}
                best = min(peers, key=peers.get) if peers else None
                ratio = peers[best] / row["times"]["qarvo"] if best else float("nan")
                print(
                    f"{data_name:6} {count:5} needles {size:>9} B  {row['matches']:>8} matches  "
                    f"qarvo {size / row['times']['qarvo']:.3f} GB/s  best peer {best} "
                    f"{ratio:.2f}x",
                    file=sys.stderr,
                )
    prepared = prepare_times(qarvo, budget)
    if args.json:
        environment = describe(qarvo)
        environment["peers"].pop("StringZilla", None)
        for name, module in (("pyahocorasick", ahocorasick), ("ahocorasick-rs", ahocorasick_rs)):
            environment["peers"][name] = (
                installed_version(name) if module is not None else "not installed"
            )
        print(json.dumps({"environment": environment, "rows": rows, "prepare": prepared}))
        return
    print("| data | needles | haystack | matches | qarvo GB/s | best peer | its GB/s | ratio |")
    print("|---|---|---|---|---|---|---|---|")
    small, large = [], []
    for row in rows:
        t = row["times"]
        peers = {k: v for k, v in t.items() if k != "qarvo"}
        best = min(peers, key=peers.get)
        ratio = peers[best] / t["qarvo"]
        (small if row["needles"] <= 64 else large).append(ratio)
        print(
            f"| {row['data']} | {row['needles']} | {row['size']} | {row['matches']} | "
            f"{row['size'] / t['qarvo']:.3f} | {best} | {row['size'] / peers[best]:.3f} | "
            f"{ratio:.2f}x |"
        )
    print(f"\nGeometric mean of the ratios, sets of 2 to 64 needles: {geo_mean(small):.2f}x")
    print(f"Geometric mean of the ratios, sets of 500 and 5,000 needles: {geo_mean(large):.2f}x")
    print("\nPreparing a set, ms:\n")
    names = list(prepared[0]["times"])
    print("| data | needles | " + " | ".join(names) + " |")
    print("|---|---|" + "---|" * len(names))
    for row in prepared:
        cells = " | ".join(f"{row['times'][n] / 1e6:.2f}" for n in names)
        print(f"| {row['data']} | {row['needles']} | {cells} |")


if __name__ == "__main__":
    main()
