"""Print every line of a file that holds a literal, like `grep -F`.

    python3 examples/grep_fixed.py [-n] [-c] [-i] LITERAL FILE

The file is mapped, not read: qarvo.finditer finds each occurrence, qarvo.rfind
finds the newline before it (the start of its line) and qarvo.find the one
after it. Lines print once however often they hold the literal, as grep
prints them, and with -n their numbers are counted with qarvo.count. -i
matches ASCII letters in either case: the file and the literal are lowered
first, so this flag reads the file into memory.
"""

from __future__ import annotations

import argparse
import mmap
import sys

import qarvo


def matching_lines(data, literal: bytes):
    """(line number, start, end) of every line holding `literal`, in order."""
    line_number = 1
    counted_to = 0
    next_line = 0  # where the line after the last one reported starts
    for offset in qarvo.finditer(data, literal):
        if offset < next_line:
            continue  # the line holding it was reported already
        newline = qarvo.rfind(data, b"\n", 0, offset)
        start = 0 if newline is None else newline + 1
        end = qarvo.find(data, b"\n", offset + len(literal))
        end = len(data) if end is None else end
        line_number += qarvo.count(data, b"\n", counted_to, start)
        counted_to = start
        yield line_number, start, end
        next_line = end + 1


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("-n", "--line-number", action="store_true")
    parser.add_argument("-c", "--count", action="store_true")
    parser.add_argument("-i", "--ignore-case", action="store_true")
    parser.add_argument("literal")
    parser.add_argument("file")
    args = parser.parse_args(argv)
    literal = args.literal.encode()
    out = sys.stdout.buffer
    with open(args.file, "rb") as f:
        if f.seek(0, 2) == 0:
            return 1  # mmap cannot map an empty file; it holds no line
        with mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ) as mapped:
            data = mapped
            if args.ignore_case:
                data, literal = bytes(mapped).lower(), literal.lower()
            found = 0
            for number, start, end in matching_lines(data, literal):
                found += 1
                if not args.count:
                    prefix = b"%d:" % number if args.line_number else b""
                    out.write(prefix + mapped[start:end] + b"\n")
            if args.count:
                out.write(b"%d\n" % found)
            del data
    return 0 if found else 1


if __name__ == "__main__":
    sys.exit(main())
