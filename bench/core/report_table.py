"""Turn the JSON output of qarvo_bench_core into the Markdown tables of bench/README.md.

Usage: python3 bench/core/report_table.py RESULTS.json [MORE.json ...]

Several files (runs of parts of the program, e.g. one per --benchmark_filter)
are merged; the context is taken from the first, with the load average at the
start of every part. Reads the median of each benchmark when the run had
repetitions, the single run otherwise. GB/s are 10^9 haystack bytes per second. Ratios are qarvo's
throughput divided by the baseline's (above 1: qarvo is faster). Haystacks up to
1 KiB get a second table in nanoseconds per call, where the ratios are qarvo's
time divided by the peer's (below 1: qarvo is faster).
"""

from __future__ import annotations

import json
import sys
from collections import defaultdict

SIZE_NAMES = {
    1 << 10: "1 KiB",
    4 << 10: "4 KiB",
    100 << 10: "100 KiB",
    1 << 20: "1 MiB",
    64 << 20: "64 MiB",
}
CASES = {
    "no_match": "No match (the whole haystack is scanned)",
    "match_at_end": "Match at the very end (at offset n - m)",
    "match_early": "Match early (at offset 24 of a long haystack)",
    "run": "A run of one byte, needle of it but for one byte near its end (absent)",
}
# Haystacks up to this size also get a table in nanoseconds per call, where
# one call's fixed cost, not throughput, is what differs.
SHORT_UP_TO = 1 << 10
PEERS = ["memchr", "memmem", "string_view::find"]


def load(paths: list[str]) -> tuple[dict, dict[str, float], set[str]]:
    """Context, GB/s by run name, and the names of runs that reported an error."""
    context: dict = {}
    loads: list[str] = []
    speed: dict[str, float] = {}
    failed: set[str] = set()
    for path in paths:
        with open(path, encoding="utf-8") as f:
            data = json.load(f)
        context = context or data["context"]
        loads.append("/".join(f"{x:.2f}" for x in data["context"].get("load_avg", [])))
        file_speed, file_failed = read_runs(data)
        speed.update(file_speed)
        failed |= file_failed
    context["load_avg"] = ", ".join(loads)
    return context, speed, failed


def read_runs(data: dict) -> tuple[dict[str, float], set[str]]:
    has_aggregates = any(b.get("run_type") == "aggregate" for b in data["benchmarks"])
    speed: dict[str, float] = {}
    failed: set[str] = set()
    for b in data["benchmarks"]:
        name = b.get("run_name", b["name"])
        if b.get("error_occurred"):
            failed.add(name)
            continue
        if has_aggregates and b.get("aggregate_name") != "median":
            continue
        speed[name] = b["bytes_per_second"] / 1e9
    return speed, failed


def cell(value: float | None) -> str:
    return "" if value is None else f"{value:.2f}"


def ratio(value: float | None, base: float | None) -> str:
    return "" if value is None or base is None else f"{value / base:.2f}×"


def table(case: str, speed: dict[str, float], failed: set[str], variants: list[str]) -> str:
    rows: dict[tuple[int, int], dict[str, float]] = defaultdict(dict)
    for name, gbs in speed.items():
        parts = name.split("/")
        if parts[0] == case:
            m, contender, n = int(parts[1][2:]), parts[2], int(parts[3][2:])
            rows[(m, n)][contender] = gbs
    roof = {int(name.split("=")[1]): v for name, v in speed.items() if name.startswith("roof/")}

    variant_columns = [f"qarvo.{v}" for v in variants]
    header = ["m", "haystack", "roof", *PEERS, "qarvo", "vs memchr", "vs memmem", *variant_columns]
    lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    for (m, n), row in sorted(rows.items()):
        qarvo = row.get("qarvo")
        cells = [str(m), SIZE_NAMES.get(n, f"{n} B"), cell(roof.get(n))]
        cells += [cell(row.get(p)) for p in PEERS]
        cells += [cell(qarvo), ratio(qarvo, row.get("memchr")), ratio(qarvo, row.get("memmem"))]
        cells += [cell(row.get(c)) for c in variant_columns]
        lines.append("| " + " | ".join(cells) + " |")
    broken = sorted(name for name in failed if name.startswith(case + "/"))
    if broken:
        lines.append("")
        lines.append("Skipped for a wrong result: " + ", ".join(broken))
    return "\n".join(lines)


def ns_table(case: str, speed: dict[str, float], variants: list[str]) -> str:
    """Nanoseconds per call for haystacks up to SHORT_UP_TO bytes (GB/s is bytes per ns)."""
    rows: dict[tuple[int, int], dict[str, float]] = defaultdict(dict)
    for name, gbs in speed.items():
        parts = name.split("/")
        if parts[0] == case and int(parts[3][2:]) <= SHORT_UP_TO:
            m, contender, n = int(parts[1][2:]), parts[2], int(parts[3][2:])
            rows[(m, n)][contender] = n / gbs
    columns = ["memchr", "memmem", "qarvo", *(f"qarvo.{v}" for v in variants)]
    header = ["m", "haystack", *columns, "qarvo / memchr", "qarvo / memmem"]
    lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    for (m, n), row in sorted(rows.items()):
        qarvo = row.get("qarvo")
        cells = [str(m), SIZE_NAMES.get(n, f"{n} B"), *(cell(row.get(c)) for c in columns)]
        cells += [ratio(qarvo, row.get("memchr")), ratio(qarvo, row.get("memmem"))]
        lines.append("| " + " | ".join(cells) + " |")
    return "\n".join(lines)


def main() -> int:
    if len(sys.argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    context, speed, failed = load(sys.argv[1:])
    variants = context.get("qarvo_variants", "").split(",")
    print(
        f"Run {context.get('date', '?')} on {context.get('host_name', '?')}: "
        f"{context.get('num_cpus', '?')} CPUs at {context.get('mhz_per_cpu', '?')} MHz, "
        f"load average (1/5/15 min) at the start of each part {context.get('load_avg', '?')}; "
        f"qarvo variants {', '.join(variants)} (dispatch picks "
        f"{context.get('qarvo_active', '?')}). Values in GB/s (10^9 bytes/s), medians; "
        "`vs` columns are qarvo (the public entry) divided by the peer."
    )
    for case, title in CASES.items():
        print(f"\n### {title}\n")
        print(table(case, speed, failed, variants))
    for case, title in CASES.items():
        short = ns_table(case, speed, variants)
        if short.count("\n") > 1:
            print(f"\n### {title}: ns per call, haystacks up to {SIZE_NAMES[SHORT_UP_TO]}\n")
            print(short)
    return 0


if __name__ == "__main__":
    sys.exit(main())
