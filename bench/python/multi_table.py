"""One table from several compare_multi.py --json results, one column per interpreter.

    python3 bench/python/multi_table.py build/multi/*.json

Ratios are the best peer's time over qarvo's (above 1: qarvo faster). Each column
summarises the sets of 2 to 64 needles and those of 500 and 5,000 apart, as their
targets differ, with the lowest row of each and the time to prepare 5,000 needles.
"""

import sys

from matches_table import geo_mean, print_columns


def ratio(row):
    peers = [t for name, t in row["times"].items() if name != "qarvo"]
    return min(peers) / row["times"]["qarvo"]


def summary(result):
    """The rows with a peer timed (re is left out of the largest ones, and an interpreter
    without the peers' wheels may have none but qarvo.find per needle)."""
    out = {}
    timed = [r for r in result["rows"] if len(r["times"]) > 1]
    out["peers timed"] = ", ".join(
        sorted({name for r in timed for name in r["times"] if name != "qarvo"})
    )
    for label, small in (("2 to 64 needles", True), ("500 and 5,000 needles", False)):
        rows = [r for r in timed if (r["needles"] <= 64) == small]
        ratios = [ratio(r) for r in rows]
        if not ratios:
            continue
        ahead = sum(1 for x in ratios if x >= 1)
        low = min(rows, key=ratio)
        out[f"{label}: ahead / rows, geo. mean"] = (
            f"{ahead} / {len(ratios)}, {geo_mean(ratios):.2f}×"
        )
        out[f"{label}: lowest row"] = (
            f"{ratio(low):.2f}× ({low['data']}, {low['needles']}, {low['size']} B)"
        )
    for row in result["prepare"]:
        if row["needles"] == 5000:
            out[f"prepare 5,000 {row['data']} needles, ms"] = f"{row['times']['qarvo'] / 1e6:.2f}"
    return out


def main():
    print_columns(sys.argv[1:], summary)


if __name__ == "__main__":
    main()
