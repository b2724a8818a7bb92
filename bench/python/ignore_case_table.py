"""One table from several compare_ignore_case.py --json results, one column per
interpreter.

    python3 bench/python/ignore_case_table.py build/ignore_case/*.json

"ratio" is the best peer's time over qarvo's `find(..., ignore_case=True)` (above 1:
qarvo faster; the peers are re.IGNORECASE, lower().find and hyperscan's caseless flag
where it is installed); "vs exact" is qarvo's case-sensitive find of the same bytes
lowered over the case-insensitive one (its throughput relative to the case-sensitive
search's).
"""

import sys

from matches_table import geo_mean, print_columns, ratio


def vs_exact(row):
    return row["times_ns"]["qarvo case-sensitive"] / row["times_ns"]["qarvo"]


def label(row):
    return f"{row['corpus']}, {bytes.fromhex(row['needle'])[:16]!r}, {row['size']} B"


def summary(result):
    rows = result["rows"]
    ratios = [ratio(r) for r in rows]
    exact = [vs_exact(r) for r in rows]
    behind = min(rows, key=ratio)
    slowest = min(rows, key=vs_exact)
    return {
        "peers timed": ", ".join(
            sorted({n for r in rows for n in r["times_ns"] if not n.startswith("qarvo")})
        ),
        "ahead / rows, geo. mean": (
            f"{sum(1 for x in ratios if x >= 1)} / {len(ratios)}, {geo_mean(ratios):.2f}×"
        ),
        "lowest row": f"{ratio(behind):.2f}× ({label(behind)})",
        "vs exact: geo. mean, rows under 0.7": (
            f"{geo_mean(exact):.2f}, {sum(1 for x in exact if x < 0.7)}"
        ),
        "vs exact: lowest row": f"{vs_exact(slowest):.2f} ({label(slowest)})",
    }


def main():
    print_columns(sys.argv[1:], summary)


if __name__ == "__main__":
    main()
