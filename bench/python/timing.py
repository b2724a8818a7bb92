"""Min-of-k timing with time.perf_counter_ns, contenders interleaved.

The k samples of the contenders on one case are taken in turns (A B C, B C A,
C A B, ...) rather than one contender after the other, so a burst of load from
another process slows every contender's sample instead of one contender's
whole measurement, and no contender always comes right after the same one.
"""

import gc
from dataclasses import dataclass
from itertools import repeat
from time import perf_counter_ns


@dataclass(frozen=True)
class Budget:
    repeats: int  # samples taken; the minimum is reported
    sample_ns: int  # each sample loops until it lasts about this long
    slow_call_ns: int  # a single call slower than this is timed once, not k times
    # Samples taken when even the fastest contender's call lasts over a
    # millisecond. Such calls scan haystacks far larger than the caches, at the
    # memory bandwidth that other tenants of the machine leave, which drifts
    # for seconds at a time; a sample holds only a few calls, so more samples
    # are needed for the minimum to settle. Each of these samples also follows
    # an untimed one of the same contender: on the KVM guest the numbers were
    # recorded on, a memory-bound scan that follows an idle or slow stretch
    # (such as re.search's sample) runs up to 40% slower for tens of
    # milliseconds, which had always penalised whichever contender came next.
    memory_bound_repeats: int


FULL = Budget(repeats=5, sample_ns=30_000_000, slow_call_ns=2_000_000_000, memory_bound_repeats=15)
QUICK = Budget(repeats=3, sample_ns=4_000_000, slow_call_ns=200_000_000, memory_bound_repeats=3)
MEMORY_BOUND_CALL_NS = 1_000_000


@dataclass(frozen=True)
class Timed:
    call: object  # the callable
    args: tuple  # its positional arguments (one or two)
    first_call_ns: int  # how long the checking call took


def _loop(call, args: tuple, loops: int) -> int:
    """Elapsed ns for `loops` calls; one specialised loop per arity keeps the
    per-call overhead the same for every contender."""
    if len(args) == 1:
        (a,) = args
        start = perf_counter_ns()
        for _ in repeat(None, loops):
            call(a)
        return perf_counter_ns() - start
    a, b = args
    start = perf_counter_ns()
    for _ in repeat(None, loops):
        call(a, b)
    return perf_counter_ns() - start


def _loops_for(timed: Timed, target_ns: int) -> int:
    """Grow the loop count tenfold until a run lasts a tenth of the target,
    then scale it to the target."""
    if timed.first_call_ns * 2 >= target_ns:
        return 1
    loops = 1
    while True:
        elapsed = max(_loop(timed.call, timed.args, loops), 1)
        if elapsed * 10 >= target_ns:
            return max(1, round(loops * target_ns / elapsed))
        loops *= 10


def time_side_by_side(contenders: dict[str, Timed], budget: Budget) -> dict[str, float]:
    """Best ns per call of each contender. One slower than the budget's
    slow-call limit is not repeated: its checking call is its time."""
    slow = budget.slow_call_ns
    best = {n: float(t.first_call_ns) for n, t in contenders.items() if t.first_call_ns >= slow}
    repeated = {n: t for n, t in contenders.items() if n not in best}
    gc_was_enabled = gc.isenabled()
    gc.disable()
    try:
        loops = {name: _loops_for(timed, budget.sample_ns) for name, timed in repeated.items()}
        memory_bound = (
            bool(repeated)
            and min(t.first_call_ns for t in repeated.values()) > MEMORY_BOUND_CALL_NS
        )
        names = list(repeated)
        rounds = budget.memory_bound_repeats if memory_bound else budget.repeats
        for round_ in range(rounds if names else 0):
            # Each round starts with the next contender, so none is always the
            # one that follows the slowest.
            start = round_ % len(names)
            for name in names[start:] + names[:start]:
                timed = repeated[name]
                if memory_bound:
                    _loop(timed.call, timed.args, loops[name])
                per_call = _loop(timed.call, timed.args, loops[name]) / loops[name]
                best[name] = min(best.get(name, per_call), per_call)
    finally:
        if gc_was_enabled:
            gc.enable()
    return {name: best[name] for name in contenders}


class AgainstPeers:
    """For a result row whose `times` holds each contender's seconds from one
    time_side_by_side call; qarvo's contenders are named "qarvo...", the rest are
    its peers."""

    times: dict[str, float]

    def best_peer(self) -> tuple[str, float]:
        peers = {k: v for k, v in self.times.items() if not k.startswith("qarvo")}
        name = min(peers, key=peers.get)
        return name, peers[name]

    def ratio(self) -> float:
        """The best peer's time over qarvo's: above 1, qarvo is faster."""
        return self.best_peer()[1] / self.times["qarvo"]
