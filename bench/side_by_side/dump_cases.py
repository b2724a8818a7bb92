"""Writes the real-data harness's find_n cases to a directory, for side_by_side.

    python3 bench/side_by_side/dump_cases.py OUT SIZE [SIZE ...]

For each case with a needle of 4 bytes or more (or, with --short-needles, of 1
to 3), OUT/<id>.h holds the haystack and OUT/<id>.n the needle; OUT/index.txt
lists `id class needle-length expected` per line. The haystacks and needles are
those of bench/python/compare_real.py at the given sizes in bytes (--classes:
of some of its classes only).
"""

import argparse
import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "python"))

import realdata  # noqa: E402


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out", type=pathlib.Path)
    parser.add_argument("sizes", type=int, nargs="+")
    parser.add_argument("--short-needles", action="store_true", help="needles of 1 to 3 bytes")
    parser.add_argument("--classes", help="comma-separated subset of the harness's classes")
    args = parser.parse_args()
    classes = args.classes.split(",") if args.classes else list(realdata.SOURCES)
    cases, _ = realdata.build(classes, tuple(args.sizes), ())
    args.out.mkdir(parents=True, exist_ok=True)
    lines = []
    for number, case in enumerate(cases):
        m = len(case.needle)
        if m == 0 or (m < 4) != args.short_needles:
            continue
        (args.out / f"{number}.h").write_bytes(bytes(case.haystack))
        (args.out / f"{number}.n").write_bytes(bytes(case.needle))
        lines.append(f"{number} {case.corpus.replace(' ', '_')} {m} {case.expected}\n")
    (args.out / "index.txt").write_text("".join(lines))
    print(f"{len(lines)} cases in {args.out}")


if __name__ == "__main__":
    main()
