"""Check, then time, every contender on every case."""

import sys
from collections.abc import Iterable
from dataclasses import asdict, dataclass, field
from time import perf_counter_ns

from contenders import Contender
from timing import Budget, Timed, time_side_by_side
from workloads import Case


class WrongAnswer(Exception):
    """A contender disagreed with bytes.find: the run has no valid numbers."""


@dataclass
class Row:
    group: str
    corpus: str
    size: int
    needle_len: int
    expected: int | None
    ns: dict[str, float] = field(default_factory=dict)  # contender -> ns per call
    timed_once: list[str] = field(default_factory=list)  # too slow for min-of-k
    skipped: list[str] = field(default_factory=list)  # slower series cut short

    def to_json(self) -> dict:
        return asdict(self)


def check(contender: Contender, case: Case, call, args, normalize) -> int:
    """Run the call once and compare with bytes.find; returns its duration."""
    start = perf_counter_ns()
    raw = call(*args)
    elapsed = perf_counter_ns() - start
    got = normalize(raw)
    if got != case.expected:
        raise WrongAnswer(
            f"{contender.name} returned {raw!r} (read as {got!r}), bytes.find says "
            f"{case.expected!r}: {case.group}/{case.corpus}, haystack {case.size} bytes, "
            f"needle {case.needle[:80]!r} ({len(case.needle)} bytes)"
        )
    return elapsed


def series_key(case: Case, name: str) -> tuple:
    """Cases that differ only in haystack size form one series."""
    return case.group, case.corpus, case.needle, name


def run_cases(cases: Iterable[Case], contenders: list[Contender], budget: Budget) -> list[Row]:
    """Cases of one series must come in increasing size: once a contender
    needs more than the slow-call limit, its larger sizes are skipped."""
    rows = []
    too_slow: set[tuple] = set()
    for case in cases:
        row = Row(case.group, case.corpus, case.size, len(case.needle), case.expected)
        timed = {}
        for contender in contenders:
            prepared = contender.prepare(case)
            if prepared is None:
                continue
            if series_key(case, contender.name) in too_slow:
                row.skipped.append(contender.name)
                continue
            first = check(contender, case, prepared.call, prepared.args, prepared.normalize)
            timed[contender.name] = Timed(prepared.call, prepared.args, first)
            if first >= budget.slow_call_ns:
                row.timed_once.append(contender.name)
                too_slow.add(series_key(case, contender.name))
        row.ns = time_side_by_side(timed, budget)
        print(progress_line(row), file=sys.stderr, flush=True)
        rows.append(row)
    return rows


def progress_line(row: Row) -> str:
    times = "  ".join(f"{name} {ns / 1e3:,.1f}us" for name, ns in row.ns.items())
    return f"{row.group:>12} {row.corpus:<12} {row.size:>10} B  m={row.needle_len:<4} {times}"
