"""qarvo against bytes.find, re, StringZilla and hyperscan on real data.

    python bench/python/compare_real.py            # full run, a few minutes
    python bench/python/compare_real.py --quick    # smoke run, sizes up to 1 MiB

Writes RESULTS.md and results.json to --out (default bench/results/real).
Every row lists each contender in GB/s, the best peer, and qarvo's speedup
over it; the summary gives the rows won and lost and the geometric mean.
See bench/python/README.md, "Real data".
"""

import argparse
import json
import math
import os
import sys
import time
from collections import defaultdict
from pathlib import Path

import realdata
import timing
from contenders import load_qarvo, peer_contenders, qarvo_contenders
from environment import describe, load_average
from report import human_size
from runner import Row, WrongAnswer, run_cases
from workloads import KIB, MIB

RESULTS_DIR = Path(__file__).resolve().parent.parent / "results" / "real"
CLASSES = tuple(realdata.SOURCES)
# Many short samples rather than compare.py's few long ones: there are about
# three times as many rows, and on a shared machine the minimum of 25 samples
# of 1 ms finds a quiet moment far more often than that of 5 of 30 ms. The
# 64 MiB rows take as many samples as compare.py's: with 7, the best of each
# contender, every one of them at the memory bandwidth, moved by 5% between
# runs, enough to turn a tie either way.
BUDGET = timing.Budget(
    repeats=25, sample_ns=1_000_000, slow_call_ns=2_000_000_000, memory_bound_repeats=15
)
QUICK_BUDGET = timing.QUICK


def parse_args(argv: list[str]) -> argparse.Namespace:
    parser = argparse.ArgumentParser(
        description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter
    )
    parser.add_argument("--out", type=Path, help="output directory")
    parser.add_argument("--quick", action="store_true", help="sizes up to 1 MiB, short samples")
    parser.add_argument("--backend", help="set QARVO_BACKEND before importing qarvo")
    parser.add_argument(
        "--classes", help=f"comma-separated subset of {', '.join(CLASSES)}, or none"
    )
    parser.add_argument(
        "--no-constructed", action="store_true", help="leave out the constructed inputs"
    )
    return parser.parse_args(argv)


def speedups(rows: list[Row], peers: list[str]) -> list[tuple[Row, str, float]]:
    """(row, best peer, best peer's time / qarvo's) for rows qarvo ran on."""
    out = []
    for row in rows:
        timed = [(row.ns[p], p) for p in peers if p in row.ns]
        if timed and "qarvo" in row.ns:
            ns, name = min(timed)
            out.append((row, name, ns / row.ns["qarvo"]))
    return out


def geometric_mean(values: list[float]) -> float:
    return math.exp(sum(math.log(v) for v in values) / len(values)) if values else float("nan")


def row_table(rows: list[Row], names: list[str], peers: list[str]) -> str:
    header = ["class", "haystack", "m", "found at", *names, "best peer", "vs best"]
    lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    ratios = {id(r): (p, s) for r, p, s in speedups(rows, peers)}
    for row in rows:
        cells = [
            row.corpus,
            human_size(row.size),
            str(row.needle_len),
            "—" if row.expected is None else str(row.expected),
        ]
        for name in names:
            ns = row.ns.get(name)
            cells.append("—" if ns is None else f"{row.size / ns:.2f}")
        peer, ratio = ratios.get(id(row), ("—", None))
        cells += [peer, "—" if ratio is None else f"{ratio:.2f}×"]
        lines.append("| " + " | ".join(cells) + " |")
    return "\n".join(lines)


def summary(rows: list[Row], peers: list[str]) -> list[str]:
    scored = speedups(rows, peers)
    ratios = [s for _, _, s in scored]
    won = sum(s >= 1.0 for s in ratios)
    lines = [
        f"- rows: {len(ratios)}; qarvo level or ahead of the best peer (≥ 1.00×) on {won}, "
        f"behind on {len(ratios) - won}",
        f"- geometric mean of qarvo's speedup over the best peer: {geometric_mean(ratios):.2f}×",
    ]
    by_class: dict[str, list[float]] = defaultdict(list)
    for row, _, s in scored:
        by_class[row.corpus].append(s)
    lines += ["", "| class | rows | behind | geometric mean | lowest |", "|---|---|---|---|---|"]
    for name, values in by_class.items():
        behind = sum(v < 1.0 for v in values)
        lines.append(
            f"| {name} | {len(values)} | {behind} | {geometric_mean(values):.2f}× | "
            f"{min(values):.2f}× |"
        )
    return lines


def markdown(info: dict, rows: list[Row], names: list[str], peers: list[str], skipped) -> str:
    env = [
        f"- **{section}**: " + "; ".join(f"{k}: {v}" for k, v in values.items())
        for section, values in info.items()
    ]
    parts = [
        "# qarvo on real data, side by side with bytes.find, re, StringZilla and hyperscan",
        "",
        f"Recorded {time.strftime('%Y-%m-%d %H:%M UTC', time.gmtime())}.",
        "",
        *env,
        "",
        "Values in GB/s (haystack bytes per ns of one call, best of the samples); "
        "`vs best` is the best peer's time divided by qarvo's (above 1: qarvo faster). "
        "`found at` is the first occurrence (— when absent). Every answer was checked "
        "against bytes.find before timing.",
        "",
        "## Summary",
        "",
        *summary(rows, peers),
    ]
    if skipped:
        parts += ["", f"Skipped (source not on this machine): {', '.join(skipped)}."]
    for group, title in (("real", "Real data"), ("constructed", "Constructed inputs")):
        group_rows = [r for r in rows if r.group == group]
        if group_rows:
            parts += ["", f"## {title}", "", row_table(group_rows, names, peers)]
    return "\n".join(parts) + "\n"


def main(argv: list[str]) -> int:
    args = parse_args(argv)
    if args.backend:
        os.environ["QARVO_BACKEND"] = args.backend
    if args.classes == "none":
        classes = []
    else:
        classes = args.classes.split(",") if args.classes else list(CLASSES)
    unknown = set(classes) - set(CLASSES)
    if unknown:
        raise SystemExit(f"unknown classes: {', '.join(sorted(unknown))}")
    sizes = realdata.SIZES[:-1] if args.quick else realdata.SIZES
    constructed_sizes = () if args.no_constructed else (100 * KIB, 700 * KIB if args.quick else MIB)
    load_before = load_average()
    started = time.perf_counter()
    qarvo = load_qarvo()
    if qarvo is None:
        print("qarvo is not importable: timing the peers only", file=sys.stderr)
    # search_n's second column for short needles is left out here: the row
    # count is large enough as it is.
    contenders = (qarvo_contenders(qarvo)[:1] if qarvo else []) + peer_contenders()
    peers = [c.name for c in contenders if c.is_peer]
    cases, skipped = realdata.build(classes, sizes, constructed_sizes)
    try:
        rows = run_cases(cases, contenders, QUICK_BUDGET if args.quick else BUDGET)
    except WrongAnswer as error:
        print(f"error: wrong answer, no results written: {error}", file=sys.stderr)
        return 1
    info = describe(qarvo)
    info["data"] = {
        "prose": "Debian fortunes (English), fortunes-ru, fortunes-zh",
        "source": "this interpreter's standard library, *.py",
        "hex": "/var/lib/dpkg/info/*.md5sums, digest column",
        "binary": "shared libraries (*.so*) of the system library directory",
        "log": "/var/log dpkg.log, alternatives.log, apt/term.log, then generated lines "
        "of their shapes (machine_text.py)",
        "csv, json": "generated records (machine_text.py, fixed seeds)",
        "sizes": ", ".join(human_size(s) for s in sizes),
    }
    info["run"] = {
        "command": " ".join([Path(sys.executable).name, *sys.argv]),
        "load average before / after": f"{load_before:.2f} / {load_average():.2f}",
        "wall time": f"{time.perf_counter() - started:.0f} s",
    }
    names = [c.name for c in contenders]
    out = args.out or RESULTS_DIR / ("quick" if args.quick else "")
    out.mkdir(parents=True, exist_ok=True)
    (out / "RESULTS.md").write_text(markdown(info, rows, names, peers, skipped))
    raw = {"environment": info, "rows": [r.to_json() for r in rows]}
    (out / "results.json").write_text(json.dumps(raw, indent=1) + "\n")
    print("\n".join(summary(rows, peers)[:2]), file=sys.stderr)
    print(f"wrote {out}/RESULTS.md", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
