"""Markdown tables of the measured rows.

Ratios are speedups: a peer's time divided by qarvo's, so above 1 means qarvo
is faster and 2.0 means twice as fast.
"""

import math
from collections import defaultdict

from contenders import qarvo_function_name
from runner import Row

QARVO = "qarvo"
QARVO_N = "qarvo search_n"


def human_size(size: int) -> str:
    for unit, scale in (("MiB", 1 << 20), ("KiB", 1 << 10)):
        if size >= scale and size % scale == 0:
            return f"{size // scale} {unit}"
    return f"{size} B"


def best_peer(row: Row, peers: list[str]) -> tuple[str, float] | None:
    timed = [(row.ns[name], name) for name in peers if name in row.ns]
    if not timed:
        return None
    ns, name = min(timed)
    return name, ns


def speedup(other_ns: float | None, qarvo_ns: float | None) -> str:
    if other_ns is None or qarvo_ns is None:
        return "—"
    return f"{other_ns / qarvo_ns:.2f}×"


def _timed(row: Row, name: str, show) -> str:
    """`show(ns)` for a contender that ran, marked when timed once; else why not."""
    ns = row.ns.get(name)
    if ns is None:
        return "skipped" if name in row.skipped else "—"
    mark = "¹" if name in row.timed_once else ""
    return show(ns) + mark


def _gbps(row: Row, name: str) -> str:
    return _timed(row, name, lambda ns: f"{row.size / ns:.2f}")


def _nanoseconds(row: Row, name: str) -> str:
    ns = row.ns.get(name)
    return "—" if ns is None else f"{ns:,.0f}"


def _microseconds(row: Row, name: str) -> str:
    return _timed(row, name, lambda ns: f"{ns / 1e3:,.1f}")


FORMATS = {"GB/s": _gbps, "ns/call": _nanoseconds, "µs/call": _microseconds}


def table(rows: list[Row], peers: list[str], unit: str, first_column: str = "corpus") -> str:
    """One line per row: qarvo, search_n for short needles, each peer, then
    the best peer and the two speedups."""
    cell = FORMATS[unit]
    names = [QARVO, QARVO_N, *peers]
    header = [
        first_column,
        "haystack",
        "m",
        "qarvo fn",
        *names,
        "best peer",
        "vs best",
        "vs bytes.find",
    ]
    lines = [
        f"Values in {unit}; m is the needle length.",
        "",
        "| " + " | ".join(header) + " |",
        "|" + "---|" * len(header),
    ]
    for row in rows:
        best = best_peer(row, peers)
        qarvo_ns = row.ns.get(QARVO)
        cells = [
            row.corpus,
            human_size(row.size),
            str(row.needle_len),
            qarvo_function_name(row.needle_len),
            *(cell(row, name) for name in names),
            best[0] if best else "—",
            speedup(best[1] if best else None, qarvo_ns),
            speedup(row.ns.get("bytes.find"), qarvo_ns),
        ]
        lines.append("| " + " | ".join(cells) + " |")
    return "\n".join(lines)


def growth_table(rows: list[Row], names: list[str]) -> str:
    """How time grows with the haystack: the exponent k in time ~ N^k between
    the smallest and the largest size measured (1 = linear, 2 = quadratic)."""
    series: dict[tuple, dict[str, list[tuple[int, float]]]] = defaultdict(lambda: defaultdict(list))
    for row in rows:
        for name, ns in row.ns.items():
            series[(row.corpus, row.needle_len)][name].append((row.size, ns))
    header = ["needle", "m", *names]
    lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    for (family, length), by_name in series.items():
        cells = [family, str(length)]
        for name in names:
            points = sorted(by_name.get(name, []))
            if len(points) < 2:
                cells.append("—")
                continue
            (n0, t0), (n1, t1) = points[0], points[-1]
            exponent = math.log(t1 / t0) / math.log(n1 / n0)
            cells.append(f"{exponent:.2f} (to {human_size(n1)})")
        lines.append("| " + " | ".join(cells) + " |")
    return "\n".join(lines)


def backend_table(results: dict[str, list[Row]]) -> str:
    """qarvo's throughput per search-core variant, bytes.find alongside."""
    backends = list(results)
    header = [
        "corpus",
        "haystack",
        "m",
        "qarvo fn",
        *(f"{b} GB/s" for b in backends),
        "bytes.find GB/s",
    ]
    lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    first = results[backends[0]]
    for index, row in enumerate(first):
        cells = [
            row.corpus,
            human_size(row.size),
            str(row.needle_len),
            qarvo_function_name(row.needle_len),
        ]
        cells += [_gbps(results[b][index], QARVO) for b in backends]
        cells.append(_gbps(row, "bytes.find"))
        lines.append("| " + " | ".join(cells) + " |")
    return "\n".join(lines)
