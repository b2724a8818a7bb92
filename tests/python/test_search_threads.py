"""The interpreter lock around long searches: given up, with every buffer still held."""

import functools
import sys
import threading
import time

import pytest
import qarvo

LONG = 32 * 1024 * 1024  # well past the size from which the lock is given up
SHORT = 4 * 1024  # well below it


@pytest.fixture
def no_forced_switches():
    """Other threads run only when the running one gives the lock up by itself."""
    saved = sys.getswitchinterval()
    sys.setswitchinterval(100.0)
    yield
    sys.setswitchinterval(saved)


def sample_until(stop, samples):
    while not stop.is_set():
        samples.append(time.perf_counter_ns())
        time.sleep(0)


def runs_beside(call, attempts=50):
    """Whether another thread ran Python code while `call` was running.

    With forced switches off, the other thread, which only samples the clock and then
    gives the lock up by itself (time.sleep(0)), can take a sample between the two
    taken around the call only if the call gave the lock up. On a loaded machine
    the other thread may not be scheduled while the lock is free, so a True needs
    only one of many attempts (the first success ends the loop).
    """
    for _ in range(attempts):
        samples = []
        stop = threading.Event()
        sample = functools.partial(sample_until, stop, samples)
        sampler = threading.Thread(target=sample)
        sampler.start()
        while not samples:
            time.sleep(0)
        before = time.perf_counter_ns()
        call()
        after = time.perf_counter_ns()
        stop.set()
        sampler.join()
        if any(before < t < after for t in samples):
            return True
    return False


@pytest.mark.parametrize(
    "search",
    [
        lambda h: qarvo.find(h, b"needle"),
        lambda h: qarvo.rfind(h, b"needle"),
        lambda h: qarvo.count(h, b"needle"),
        lambda h: qarvo.find_all(h, b"\x01"),
        lambda h: list(qarvo.finditer(h, b"needle")),
        lambda h: qarvo.Finder(b"needle").count(h, overlapping=True),
        lambda h: qarvo.find_any(h, b"<>&"),
        lambda h: qarvo.find(h, b"NEEDLE", ignore_case=True),
        lambda h: qarvo.rfind(h, b"NEEDLE", ignore_case=True),
        lambda h: qarvo.count(h, b"Needle", ignore_case=True),
        lambda h: qarvo.Finder(b"nEEDLE", ignore_case=True).find(h),
        lambda h: qarvo.MultiFinder([b"needle", b"\x01x"]).count(h),
        lambda h: qarvo.MultiFinder([b"needle", b"pin"]).find(h),
        lambda h: qarvo.MultiFinder([b"needle", b"pin"]).find_all(h),
        lambda h: list(qarvo.MultiFinder([b"needle", b"pin"]).finditer(h)),
    ],
    ids=[
        "find",
        "rfind",
        "count",
        "find_all",
        "finditer",
        "Finder.count",
        "find_any",
        "find ignoring case",
        "rfind ignoring case",
        "count ignoring case",
        "Finder.find ignoring case",
        "MultiFinder.count",
        "MultiFinder.find",
        "MultiFinder.find_all",
        "MultiFinder.finditer",
    ],
)
def test_long_searches_give_the_lock_up_and_short_ones_keep_it(search, no_forced_switches):
    # A bytearray is held by its export; an exact bytes, read in place, by
    # the caller's reference and its immutability.
    assert runs_beside(lambda: search(bytearray(LONG)))
    assert runs_beside(lambda: search(bytes(LONG)))
    assert not runs_beside(lambda: search(bytearray(SHORT)), attempts=2)
    assert not runs_beside(lambda: search(bytes(SHORT)), attempts=2)


def test_the_four_first_occurrence_functions_keep_the_lock(no_forced_switches):
    haystack = bytes(LONG)
    assert not runs_beside(lambda: qarvo.search_n(haystack, b"needle"), attempts=2)


def test_a_second_thread_stepping_a_busy_iterator_is_refused(no_forced_switches):
    # The other thread must be woken and scheduled while the first step searches;
    # on a loaded machine that takes longer than a search of LONG bytes, so this
    # step searches four times as much.
    far = 4 * LONG
    haystack = bytes(far) + b"needle"

    def attempt():
        iterator = qarvo.finditer(haystack, b"needle")
        started = []
        seen = []

        def step_meanwhile():
            while not started:
                time.sleep(0)  # waits for the lock, which only the search gives up
            try:
                seen.append(next(iterator))
            except (ValueError, StopIteration) as exc:
                seen.append(f"{type(exc).__name__}: {exc}")

        other = threading.Thread(target=step_meanwhile)
        other.start()
        started.append(True)
        assert next(iterator) == far
        other.join()
        assert list(iterator) == []
        # It stepped either during the first step's search, or (on a busy machine,
        # scheduled too late) after it.
        assert seen in (["ValueError: iterator already executing"], ["StopIteration: "])
        return seen[0].startswith("ValueError")

    # any() stops at the first success; a loaded machine can schedule the
    # other thread too late many times in a row.
    assert any(attempt() for _ in range(200))


def test_buffers_stay_held_while_other_threads_resize_and_write_them():
    size = 1024 * 1024
    arrays = [bytearray(b"ab" * (size // 2)) for _ in range(2)]
    stop = threading.Event()
    failures = []
    refused = [0]

    def search(array):
        while not stop.is_set():
            n = len(array)
            for got in (
                qarvo.count(array, b"ab"),
                len(qarvo.find_all(array, b"b")),
                sum(1 for _ in qarvo.finditer(array, b"ab", n - 64)),
            ):
                if not 0 <= got <= n:
                    failures.append(got)
            found = qarvo.rfind(array, b"ab")
            if found is not None and not 0 <= found <= n:
                failures.append(found)

    def mutate(array):
        for i in range(2000):
            try:
                array.extend(b"ab")  # refused while a search holds the buffer
                del array[-2:]
            except BufferError:
                refused[0] += 1
            array[(i * 7919) % size] = 0x61 + i % 2  # writes in place are allowed

    searchers = [threading.Thread(target=search, args=(a,)) for a in arrays]
    for t in searchers:
        t.start()
    mutate(arrays[0])
    mutate(arrays[1])
    stop.set()
    for t in searchers:
        t.join()
    assert failures == []
    assert refused[0] > 0  # the searches did hold the buffers
    for array in arrays:
        array.extend(b"ab")  # and gave them back
        assert qarvo.count(array, b"ab") == bytes(array).count(b"ab")
