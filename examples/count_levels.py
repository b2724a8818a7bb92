"""Count the log levels in a log file in one pass over it.

    python3 examples/count_levels.py [-i] FILE [LEVEL ...]

The levels default to DEBUG, INFO, WARNING, ERROR and CRITICAL. One
qarvo.MultiFinder holds them all, so the mapped file is scanned once however
many levels are counted; each match names the level it found by its index.
Where two levels start at the same offset the one listed first counts, as
with the regular expression DEBUG|INFO|...; -i matches ASCII letters in
either case.
"""

from __future__ import annotations

import argparse
import mmap
import sys

import qarvo

LEVELS = ("DEBUG", "INFO", "WARNING", "ERROR", "CRITICAL")


def count_levels(data, levels, ignore_case=False) -> dict[str, int]:
    """How often each level occurs in `data`, in the order given."""
    finder = qarvo.MultiFinder([level.encode() for level in levels], ignore_case=ignore_case)
    counts = dict.fromkeys(levels, 0)
    for _offset, index in finder.finditer(data):
        counts[levels[index]] += 1
    return counts


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("-i", action="store_true", help="ignore the case of ASCII letters")
    parser.add_argument("file")
    parser.add_argument("levels", nargs="*", default=list(LEVELS))
    args = parser.parse_args(argv)
    with open(args.file, "rb") as file:
        try:
            data = mmap.mmap(file.fileno(), 0, access=mmap.ACCESS_READ)
        except ValueError:  # an empty file cannot be mapped
            data = b""
        counts = count_levels(data, tuple(args.levels), ignore_case=args.i)
    for level, count in counts.items():
        print(f"{level:10} {count}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
