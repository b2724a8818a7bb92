"""Several threads calling every function on shared haystacks get the right results."""

import gc
import random
import re
import sys
import threading
import time

import qarvo
from conftest import NEEDLE_FAILURES, Index

RUN_SECONDS = 1.5
THREADS = 4


def find(data: bytes, needle: bytes):
    index = data.find(needle)
    return None if index < 0 else index


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
        for fn, needle, exc_type, message in NEEDLE_FAILURES:
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


# ---- searches racing resizes and releases ------------------------------------------------------

RESIZE_REFUSED = re.escape("Existing exports of data: object cannot be re-sized")
# One export per search that holds the view at that moment.
RELEASE_REFUSED = re.compile(r"memoryview has [1-9][0-9]* exported buffers?")
RELEASED = "operation forbidden on released memoryview object"
PAD = b"\xee" * 5  # in no needle, so appending it never changes an answer
RACE_SECONDS = 1.0


def racing_tasks(datas):
    """(function, slot, needle, expected) for haystacks that are looked up by slot at call time."""
    rng = random.Random(99)
    tasks = []
    for slot, data in enumerate(datas):
        for m in (1, 2, 3, 4, 7):
            start = rng.randrange(len(data) - m)
            for needle in (data[start : start + m], bytes(rng.choice(b"abcd") for _ in range(m))):
                expected = find(data, needle)
                # Index elements run Python code while search_n holds the haystack's buffer,
                # which is when another thread's resize or release must be refused.
                tasks.append((qarvo.search_n, slot, [Index(b) for b in needle], expected))
                tasks.append((qarvo.search_n, slot, needle, expected))
                if m == 1:
                    tasks.append((qarvo.search_one, slot, Index(needle[0]), expected))
                elif m in (2, 3):
                    fn = qarvo.search_two if m == 2 else qarvo.search_three
                    tasks.append((fn, slot, [Index(b) for b in needle], expected))
    return tasks


class Race:
    """Searchers against a resizer and a releaser on the same bytearrays and memoryviews."""

    def __init__(self):
        rng = random.Random(5)
        self.datas = [bytes(rng.choice(b"abc") for _ in range(n)) for n in (40, 333, 2050)]
        self.arrays = [bytearray(d) for d in self.datas]
        self.bases = [bytes(d) for d in self.datas]
        self.views = [memoryview(b) for b in self.bases]
        self.tasks = racing_tasks(self.datas)
        self.mismatches = []
        self.refusals = {"resize": 0, "release": 0}
        self.calls = 0
        self.done = threading.Event()
        self.start = threading.Barrier(5)

    def search(self, kind, fn, slot, needle, expected):
        haystack = self.arrays[slot] if kind == "array" else self.views[slot]
        try:
            got = fn(haystack, needle)
        except ValueError as exc:  # a view that the releaser got to first
            if kind != "view" or str(exc) != RELEASED:
                self.mismatches.append((fn.__name__, kind, slot, repr(exc)))
            return
        except Exception as exc:  # noqa: BLE001 - any other error is a fault here
            self.mismatches.append((fn.__name__, kind, slot, repr(exc)))
            return
        if got != expected:
            self.mismatches.append((fn.__name__, kind, slot, needle, got, expected))

    def searcher(self, seed, seconds):
        order = list(self.tasks)
        random.Random(seed).shuffle(order)
        self.start.wait()
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            for fn, slot, needle, expected in order:
                for kind in ("array", "view"):
                    self.search(kind, fn, slot, needle, expected)
            self.calls += 2 * len(order)

    def refused(self, what, exc, message):
        if type(exc) is not BufferError or not re.fullmatch(message, str(exc)):
            self.mismatches.append((what, repr(exc)))
        else:
            self.refusals[what] += 1

    def resizer(self):
        self.start.wait()
        while not self.done.is_set():
            for array, data in zip(self.arrays, self.datas, strict=True):
                try:
                    array.extend(PAD)
                except BufferError as exc:
                    self.refused("resize", exc, RESIZE_REFUSED)
                    continue
                while len(array) > len(data):
                    try:
                        del array[len(data) :]
                    except BufferError as exc:
                        self.refused("resize", exc, RESIZE_REFUSED)

    def releaser(self):
        self.start.wait()
        while not self.done.is_set():
            for slot, view in enumerate(self.views):
                try:
                    view.release()
                except BufferError as exc:
                    self.refused("release", exc, RELEASE_REFUSED)
                    continue
                self.views[slot] = memoryview(self.bases[slot])

    def run(self, seconds):
        searchers = [
            threading.Thread(target=self.searcher, args=(seed, seconds)) for seed in range(3)
        ]
        others = [threading.Thread(target=self.resizer), threading.Thread(target=self.releaser)]
        for thread in searchers + others:
            thread.start()
        for thread in searchers:
            thread.join()
        self.done.set()
        for thread in others:
            thread.join()
        # Nothing is still exported: every array can grow, every view can be released.
        for array, data in zip(self.arrays, self.datas, strict=True):
            array.extend(PAD)
            del array[len(data) :]
            if array != data:
                self.mismatches.append(("array changed", bytes(array[:20])))
        for view in self.views:
            view.release()
        return self


def test_searches_race_resizes_and_releases():
    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-5)
    try:
        race = Race().run(RACE_SECONDS)
        assert race.mismatches == []
        # The refusals show that the races happened: a resize or release attempted while a
        # search held the buffer. Each is a BufferError with the interpreter's message.
        assert race.refusals["resize"] > 0 and race.refusals["release"] > 0, race.refusals
        if hasattr(sys, "gettotalrefcount"):
            # Debug interpreter: the references of a whole race come back. A leak of one
            # reference in ten calls would show on every attempt.
            growth = []
            for _ in range(3):
                gc.collect()
                before = sys.gettotalrefcount()
                race = Race().run(RACE_SECONDS / 4)
                calls, mismatches = race.calls, race.mismatches
                del race
                gc.collect()
                growth.append(sys.gettotalrefcount() - before)
                assert mismatches == []
            assert min(growth) < calls // 10, (growth, calls)
    finally:
        sys.setswitchinterval(interval)
