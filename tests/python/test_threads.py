"""Several threads calling every function on shared haystacks get the right results."""

import random
import sys
import threading
import time

import qarvo
from conftest import int_conversion_error

RUN_SECONDS = 1.5
THREADS = 4


class Index:
    """An element converted by Python code, so that threads can switch inside a call."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


def find(data: bytes, needle: bytes):
    index = data.find(needle)
    return None if index < 0 else index


FAILURES = [
    (qarvo.search_one, 1.5, TypeError, "argument 'needle': " + int_conversion_error(1.5)[1]),
    (
        qarvo.search_two,
        5,
        TypeError,
        "argument 'needle': 'int' object cannot be converted to 'Sequence'",
    ),
    (qarvo.search_three, [1, 2], ValueError, "expected a sequence of length 3 (got 2)"),
    (qarvo.search_n, "x", TypeError, "Can't extract `str` to `Vec`"),
    (
        qarvo.search_n,
        [Index(300)],
        OverflowError,
        "out of range integral type conversion attempted",
    ),
]


def outcome(fn, haystack, needle):
    try:
        return fn(haystack, needle)
    except Exception as exc:  # noqa: BLE001 - the outcome is compared, whatever it is
        return (type(exc), str(exc))


def make_tasks():
    rng = random.Random(1234)
    datas = [bytes(rng.choice(b"abc") for _ in range(n)) for n in (0, 15, 64, 300, 1031, 4099)]
    shared = []
    for data in datas:
        shared += [data, bytearray(data), memoryview(b"#" + data)[1:]]
    tasks = []
    for haystack in shared:
        data = bytes(haystack)
        for m in range(1, 9):
            for _ in range(3):
                if data and rng.random() < 0.7:
                    start = rng.randrange(len(data))
                    needle = data[start : start + m]
                else:
                    needle = bytes(rng.choice(b"abcd") for _ in range(m))
                expected = find(data, needle)
                if len(needle) == 1:
                    tasks.append((qarvo.search_one, haystack, needle[0], expected))
                elif len(needle) == 2:
                    tasks.append((qarvo.search_two, haystack, needle, expected))
                elif len(needle) == 3:
                    tasks.append((qarvo.search_three, haystack, list(needle), expected))
                tasks.append((qarvo.search_n, haystack, needle, expected))
                tasks.append((qarvo.search_n, haystack, [Index(b) for b in needle], expected))
        # Failing calls too: wrapping a needle's error lets other threads run meanwhile.
        for fn, needle, exc_type, message in FAILURES:
            tasks.append((fn, haystack, needle, (exc_type, message)))
    return tasks


def test_concurrent_calls_give_correct_results():
    tasks = make_tasks()
    mismatches = []
    calls = [0] * THREADS
    deadline = time.monotonic() + RUN_SECONDS
    start = threading.Barrier(THREADS)

    def worker(slot):
        order = list(tasks)
        random.Random(slot).shuffle(order)
        start.wait()
        while time.monotonic() < deadline:
            for fn, haystack, needle, expected in order:
                got = outcome(fn, haystack, needle)
                if got != expected:
                    mismatches.append((fn.__name__, bytes(haystack)[:20], needle, got, expected))
            calls[slot] += len(order)

    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-5)
    try:
        threads = [threading.Thread(target=worker, args=(slot,)) for slot in range(THREADS)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
    finally:
        sys.setswitchinterval(interval)
    assert mismatches == []
    assert all(count >= len(tasks) for count in calls)
