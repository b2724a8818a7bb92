"""Side-by-side benchmark of qarvo against bytes.find, re, StringZilla and hyperscan.

    python bench/python/compare.py                 # full run, about 5 minutes
    python bench/python/compare.py --quick         # smoke run, under a minute

Writes RESULTS.md, results.json, throughput.png and adversarial.png to --out.
See bench/python/README.md for what the columns mean.
"""

import argparse
import json
import os
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass
from pathlib import Path

import timing
import workloads as wl
from contenders import load_qarvo, peer_contenders, qarvo_contenders
from environment import backends_to_compare, describe, load_average
from results import write_results
from runner import Row, WrongAnswer, run_cases

RESULTS_DIR = Path(__file__).resolve().parent.parent / "results"
GROUPS = ("no-match", "rare-byte", "match-at-end", "per-call", "adversarial")
BACKENDS = "backends"  # the per-variant table, run in subprocesses


@dataclass(frozen=True)
class Plan:
    budget: timing.Budget
    sizes: list[int]  # no-match haystack sizes
    end_sizes: list[int]  # match-at-end haystack sizes
    rare_lengths: tuple[int, ...]
    adversarial_sizes: list[int]
    adversarial_lengths: tuple[int, ...]
    backend_sizes: list[int]  # English no-match sizes of the backend comparison


FULL = Plan(
    budget=timing.FULL,
    sizes=[64, 4 * wl.KIB, wl.MIB, 64 * wl.MIB],
    end_sizes=[4 * wl.KIB, wl.MIB],
    rare_lengths=(4, 8, 16, 32),
    adversarial_sizes=wl.doubling(64 * wl.KIB, 16 * wl.MIB),
    adversarial_lengths=(8, 64, 600, 4096),
    backend_sizes=[4 * wl.KIB, wl.MIB],
)
QUICK = Plan(
    budget=timing.QUICK,
    sizes=[64, 4 * wl.KIB, wl.MIB],
    end_sizes=[4 * wl.KIB],
    rare_lengths=(8, 32),
    adversarial_sizes=wl.doubling(64 * wl.KIB, wl.MIB),
    adversarial_lengths=(8, 64, 600),
    backend_sizes=[wl.MIB],
)


def parse_args(argv: list[str]) -> argparse.Namespace:
    parser = argparse.ArgumentParser(
        description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter
    )
    parser.add_argument(
        "--out", type=Path, help="output directory (default bench/results, or bench/results/quick)"
    )
    parser.add_argument(
        "--quick", action="store_true", help="fewer sizes and shorter samples, no 64 MiB"
    )
    parser.add_argument(
        "--backend", help="set QARVO_BACKEND to this variant before importing qarvo"
    )
    parser.add_argument(
        "--backends",
        help="variants to compare, comma-separated, or 'none' (default: all the CPU runs)",
    )
    parser.add_argument(
        "--only", help=f"comma-separated subset of {', '.join((*GROUPS, BACKENDS))}"
    )
    parser.add_argument(
        "--backend-probe", type=Path, help=argparse.SUPPRESS
    )  # child mode, see below
    return parser.parse_args(argv)


def build_cases(group: str, plan: Plan, english: bytes, random: bytes):
    texts = {"english": english, "random": random}
    if group == "no-match":
        return wl.no_match_cases(texts, plan.sizes)
    if group == "rare-byte":
        return wl.rare_first_byte_cases(english[: wl.MIB], plan.rare_lengths)
    if group == "match-at-end":
        return wl.match_at_end_cases(texts, plan.end_sizes)
    if group == "per-call":
        return wl.per_call_cases(english)
    return wl.adversarial_cases(plan.adversarial_sizes, plan.adversarial_lengths)


def run_groups(groups: list[str], plan: Plan, contenders) -> dict[str, list[Row]]:
    largest = max(plan.sizes + plan.end_sizes + [wl.MIB])
    english, random = wl.corpus.english(largest), wl.corpus.random_bytes(largest)
    return {
        g: run_cases(build_cases(g, plan, english, random), contenders, plan.budget) for g in groups
    }


def backend_probe(plan: Plan, out: Path) -> None:
    """Child mode: qarvo (with QARVO_BACKEND as the parent set it) and
    bytes.find on English no-match cases, written as JSON."""
    qarvo = load_qarvo()
    if qarvo is None:
        raise SystemExit("qarvo is not importable")
    contenders = [qarvo_contenders(qarvo)[0], peer_contenders()[0]]
    english = wl.corpus.english(max(plan.backend_sizes))
    rows = run_cases(
        wl.no_match_cases({"english": english}, plan.backend_sizes), contenders, plan.budget
    )
    out.write_text(
        json.dumps({"qarvo": describe(qarvo)["qarvo"], "rows": [r.to_json() for r in rows]})
    )


def compare_backends(backends: list[str], quick: bool) -> tuple[dict[str, list[Row]], dict]:
    """One subprocess per variant: the variant is chosen once per process.
    Returns the rows per variant and what each subprocess could tell of it."""
    results, described = {}, {}
    for backend in backends:
        with tempfile.TemporaryDirectory() as tmp:
            out = Path(tmp) / "rows.json"
            command = [sys.executable, __file__, "--backend", backend, "--backend-probe", str(out)]
            if subprocess.run(command + (["--quick"] if quick else []), check=False).returncode:
                raise WrongAnswer(f"the {backend} variant failed (its error is above)")
            probe = json.loads(out.read_text())
            results[backend] = [Row(**r) for r in probe["rows"]]
            described[backend] = probe["qarvo"]["backend"]
    return results, described


def selected_groups(only: str | None) -> list[str]:
    groups = only.split(",") if only else [*GROUPS, BACKENDS]
    unknown = set(groups) - {*GROUPS, BACKENDS}
    if unknown:
        raise SystemExit(f"unknown groups: {', '.join(sorted(unknown))}")
    return groups


def run_probe(args: argparse.Namespace, plan: Plan) -> int:
    try:
        backend_probe(plan, args.backend_probe)
    except WrongAnswer as error:
        print(f"error: wrong answer with QARVO_BACKEND={args.backend}: {error}", file=sys.stderr)
        return 1
    return 0


def main(argv: list[str]) -> int:
    args = parse_args(argv)
    if args.backend:
        os.environ["QARVO_BACKEND"] = args.backend
    plan = QUICK if args.quick else FULL
    if args.backend_probe:
        return run_probe(args, plan)
    groups = selected_groups(args.only)

    load_before = load_average()
    if load_before > 0.3:
        print(f"warning: load average {load_before:.2f}; numbers will be noisy", file=sys.stderr)
    started = time.perf_counter()
    qarvo = load_qarvo()
    if qarvo is None:
        print("qarvo is not importable: timing the peers only", file=sys.stderr)
    contenders = (qarvo_contenders(qarvo) if qarvo else []) + peer_contenders()
    try:
        rows = run_groups([g for g in groups if g != BACKENDS], plan, contenders)
        backends = backends_to_compare(args.backends) if qarvo and BACKENDS in groups else []
        by_backend, variants = compare_backends(backends, args.quick) if backends else ({}, {})
    except WrongAnswer as error:
        print(f"error: wrong answer, no results written: {error}", file=sys.stderr)
        return 1

    info = describe(qarvo)
    if variants:
        info["variant table"] = variants
    info["run"] = {
        "command": " ".join([Path(sys.executable).name, *sys.argv]),
        "mode": "quick" if args.quick else "full",
        "load average before / after": f"{load_before:.2f} / {load_average():.2f}",
        "wall time": f"{time.perf_counter() - started:.0f} s",
    }
    out = args.out or (RESULTS_DIR / "quick" if args.quick else RESULTS_DIR)
    write_results(out, info, rows, by_backend, [c.name for c in contenders if c.is_peer])
    print(f"wrote {out}/RESULTS.md", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
