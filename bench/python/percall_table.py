"""One table from several percall.py --json results, one column per interpreter.

    python3 bench/python/percall_table.py build/percall/*.json

The first table: each cell is qarvo's time per call over bytes.find's, on a
`bytes` haystack and then on a `memoryview` haystack; `!` marks a ratio above
percall.py's targets, and the closing row gives the worst ratio of each
column. The second: the times themselves, in ns, with the cost of a call that
does nothing (operator.is_ in the same loop) at the end.
"""

import json
import sys

from percall import TARGET_BYTES, TARGET_MEMORYVIEW


def _label(result: dict) -> str:
    interp = result["interpreter"]
    return interp["python"] + (" debug" if interp["debug"] else "")


def _cell(row: dict) -> str:
    b, m = row["ratio_bytes"], row["ratio_memoryview"]
    return (
        f"{b:.2f}{'!' if b > TARGET_BYTES else ''} / {m:.2f}{'!' if m > TARGET_MEMORYVIEW else ''}"
    )


def _ns_cell(row: dict) -> str:
    ns = row["ns"]
    baseline = min(ns["bytes.find(h, x)"], ns["h.find(x)"])
    return f"{ns['qarvo bytes']:.1f} / {ns['qarvo memoryview']:.1f} / {baseline:.1f}"


def _key(row: dict) -> tuple:
    return (row["function"], row["needle_length"], row["size"], row["match"])


def format_results(results: list[dict], ns: bool = False) -> str:
    cpus = sorted({r["cpu"] for r in results})
    if ns:
        legend = (
            "Cells: ns per call of qarvo on a `bytes` haystack / qarvo on a `memoryview`"
            " / bytes.find (the faster form), loop included."
        )
    else:
        legend = (
            "Cells: qarvo / bytes.find per call, `bytes` haystack / `memoryview` haystack"
            f" ('!': above {TARGET_BYTES:.2f} / {TARGET_MEMORYVIEW:.2f})."
        )
    runs = "; ".join(
        f"{_label(r)}: {r['interpreter']['executable']}, load {r['load'][0]:.2f}"
        if r.get("load")
        else f"{_label(r)}: {r['interpreter']['executable']}"
        for r in results
    )
    lines = [
        f"CPU: {', '.join(cpus)}",
        f"Interpreters (1-minute load average at the start of each run): {runs}",
        legend,
        "",
        "| function | m | haystack | match | " + " | ".join(_label(r) for r in results) + " |",
        "|---|--:|--:|---|" + "--:|" * len(results),
    ]
    by_key = [{_key(row): row for row in r["rows"]} for r in results]
    keys = []
    for r in results:
        for row in r["rows"]:
            if _key(row) not in keys:
                keys.append(_key(row))
    for key in keys:
        function, m, size, match = key
        show = _ns_cell if ns else _cell
        cells = [show(rows[key]) if key in rows else "" for rows in by_key]
        lines.append(
            f"| {function} | {m} | {size} | {'end' if match else 'none'} | "
            + " | ".join(cells)
            + " |"
        )
    if ns:
        floors = " | ".join(f"{r['call_floor_ns']:.1f}" for r in results)
        lines.append(f"| call floor (`operator.is_`) | | | | {floors} |")
        return "\n".join(lines)
    worst = [
        {
            "ratio_bytes": max(row["ratio_bytes"] for row in r["rows"]),
            "ratio_memoryview": max(row["ratio_memoryview"] for row in r["rows"]),
        }
        for r in results
    ]
    lines.append("| **worst** | | | | " + " | ".join(_cell(w) for w in worst) + " |")
    return "\n".join(lines)


def main() -> None:
    results = []
    for path in sys.argv[1:]:
        with open(path, encoding="utf-8") as f:
            results.append(json.load(f))
    if not results:
        raise SystemExit("usage: percall_table.py RESULT.json...")
    print(format_results(results))
    print()
    print(format_results(results, ns=True))


if __name__ == "__main__":
    main()
