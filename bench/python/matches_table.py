"""One table from several compare_matches.py --json results, one column per interpreter.

    python3 bench/python/matches_table.py build/matches/*.json

Ratios are the best peer's time over qarvo's (above 1: qarvo faster), except
where a row says otherwise.
"""

import json
import math
import sys


def geo_mean(values):
    return math.exp(sum(math.log(v) for v in values) / len(values)) if values else float("nan")


def ratio(row):
    times = row["times_ns"]
    peers = [t for name, t in times.items() if not name.startswith("qarvo")]
    return min(peers) / times["qarvo"]


def summary(result):
    rows = result["rows"]
    out = {}
    for op in ("count", "find_all", "rfind"):
        ratios = [ratio(r) for r in rows if r["operation"] == op]
        if ratios:
            ahead = sum(1 for r in ratios if r >= 1)
            out[f"{op}: ahead / rows, geo. mean, lowest"] = (
                f"{ahead} / {len(ratios)}, {geo_mean(ratios):.2f}×, {min(ratios):.2f}×"
            )
    newline = [
        r
        for r in rows
        if r["operation"] == "count" and r["needle"] == "0a" and r["size"] == 1 << 20
    ]
    if newline:
        gbps = newline[0]["size"] / newline[0]["times_ns"]["qarvo"]
        out["count(h, b'\\n'), 1 MiB, GB/s"] = f"{gbps:.1f}"
    # Throughput compares where both read the whole range: absent needles.
    # Elsewhere find stops at the first match and rfind at the last, at other
    # distances, and the offsets past 256 that rfind returns cost a new int.
    rfind = [
        r
        for r in rows
        if r["operation"] == "rfind" and r["size"] >= 100 * 1024 and r["matches"] == 0
    ]
    if rfind:
        speed = [r["times_ns"]["qarvo.find"] / r["times_ns"]["qarvo"] for r in rfind]
        out["rfind vs find throughput, absent needles ≥ 100 KiB: geo. mean, lowest"] = (
            f"{geo_mean(speed):.2f}, {min(speed):.2f}"
        )
    calls = result["per_call_ns"]
    out["find(h, n, s, e) / h.find(n, s, e), 16 B / 64 B"] = " / ".join(
        f"{calls[k]['qarvo.find'] / calls[k]['bytes.find']:.2f}" for k in sorted(calls, key=int)
    )
    record = result["per_record_ns"]
    best = min(v for k, v in record.items() if not k.startswith("qarvo"))
    out["Finder per 64 B record, ns (best peer)"] = f"{record['qarvo Finder']:.0f} ({best:.0f})"
    threads = result["threads_ns"]
    out["two threads / one after the other"] = f"{threads['threads'] / threads['sequential']:.2f}"
    return out


def print_columns(paths, summary):
    """One column per interpreter's JSON result in `paths`, one row per key of the
    dictionaries `summary` makes of them, then the CPU and each interpreter's peers."""
    results = []
    for path in paths:
        with open(path) as f:
            results.append(json.load(f))
    labels = [r["environment"]["python"]["version"] for r in results]
    summaries = [summary(r) for r in results]
    keys = list(dict.fromkeys(k for s in summaries for k in s))
    print("| | " + " | ".join(labels) + " |")
    print("|---|" + "---|" * len(labels))
    for key in keys:
        print(f"| {key} | " + " | ".join(s.get(key, "-") for s in summaries) + " |")
    print()
    print("CPU:", results[0]["environment"]["machine"]["CPU"] if results else "-")
    for r, label in zip(results, labels, strict=True):
        print(f"{label}: peers {r['environment']['peers']}")


def main():
    print_columns(sys.argv[1:], summary)


if __name__ == "__main__":
    main()
