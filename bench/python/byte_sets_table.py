"""One table from several compare_byte_sets.py --json results, one column per
interpreter.

    python3 bench/python/byte_sets_table.py build/byte_sets/*.json

"ratio" is the best peer's time over qarvo's (above 1: qarvo faster); the peers are
StringZilla's find_first_of / find_first_not_of, re.search with a character class,
and for sets of up to four bytes a loop of bytes.find over the members.
"""

import sys

from matches_table import geo_mean, print_columns, ratio


def label(row):
    return f"{row['operation']}, {row['corpus']}, {row['members']} bytes, {row['size']} B"


def summary(result):
    rows = result["rows"]
    out = {
        "peers timed": ", ".join(
            sorted({n for r in rows for n in r["times_ns"] if not n.startswith("qarvo")})
        )
    }
    groups = {"all rows": rows}
    for members in sorted({r["members"] for r in rows if r["operation"] == "find_any"}):
        groups[f"find_any, {members} bytes"] = [
            r for r in rows if r["operation"] == "find_any" and r["members"] == members
        ]
    groups["find_not_any"] = [r for r in rows if r["operation"] == "find_not_any"]
    for name, group in groups.items():
        ratios = [ratio(r) for r in group]
        if ratios:
            ahead = sum(1 for x in ratios if x >= 1)
            out[f"{name}: ahead / rows, geo. mean, lowest"] = (
                f"{ahead} / {len(ratios)}, {geo_mean(ratios):.2f}×, {min(ratios):.2f}×"
            )
    behind = sorted((r for r in rows if ratio(r) < 1), key=ratio)
    out["rows behind"] = "; ".join(f"{label(r)}: {ratio(r):.2f}×" for r in behind) or "none"
    return out


def main():
    print_columns(sys.argv[1:], summary)


if __name__ == "__main__":
    main()
