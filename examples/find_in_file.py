"""Find byte patterns in a file through mmap, without reading it into memory.

    python3 examples/find_in_file.py [FILE]

Without FILE, a 64 MiB demonstration file is written to a temporary
directory first. The program searches it with each qarvo function, checks
every answer against bytes.find, and prints timings beside it.
"""

from __future__ import annotations

import mmap
import os
import random
import sys
import tempfile
import time

import qarvo


def make_demo_file(directory: str) -> str:
    path = os.path.join(directory, "demo.log")
    rng = random.Random(2026)
    words = [b"request", b"served", b"cache", b"miss", b"hit", b"user", b"id", b"GET", b"POST"]
    line_count = 0
    with open(path, "wb") as out:
        while out.tell() < 64 * 1024 * 1024:
            line_count += 1
            out.write(b" ".join(rng.choice(words) for _ in range(12)) + b"\n")
        out.write(b"FATAL: disk quota exceeded\n")
    return path


def timed(function, *args):
    """Result and best time of three calls (the first also faults the pages in)."""
    best = float("inf")
    for _ in range(3):
        start = time.perf_counter()
        result = function(*args)
        best = min(best, time.perf_counter() - start)
    return result, best


def main() -> None:
    with tempfile.TemporaryDirectory() as scratch:
        path = sys.argv[1] if len(sys.argv) > 1 else make_demo_file(scratch)
        with open(path, "rb") as file, mmap.mmap(file.fileno(), 0, access=mmap.ACCESS_READ) as data:
            size_mb = len(data) / 1e6
            print(f"qarvo {qarvo.__version__}: searching {path} ({size_mb:.1f} MB) through mmap")
            searches = [
                ("search_one", qarvo.search_one, ord("F"), b"F"),
                ("search_two", qarvo.search_two, b"FA", b"FA"),
                ("search_three", qarvo.search_three, b"FAT", b"FAT"),
                ("search_n", qarvo.search_n, b"disk quota", b"disk quota"),
            ]
            for name, function, needle, pattern in searches:
                found, seconds = timed(function, data, needle)
                expected, reference_seconds = timed(data.find, pattern)
                assert found == (None if expected == -1 else expected), (name, found, expected)
                print(
                    f"  {name:<12} {pattern!r:<14} -> {found}"
                    f"  {size_mb / 1e3 / seconds:6.1f} GB/s"
                    f"  (bytes.find: {size_mb / 1e3 / reference_seconds:5.1f} GB/s)"
                )
            absent = qarvo.search_n(data, b"no such pattern")
            print(f"  search_n     b'no such pattern' -> {absent}")


if __name__ == "__main__":
    main()
