"""One table from several percall.py --json results, one column per interpreter.

    python3 bench/python/percall_table.py build/percall/*.json

Each cell is qarvo's time per call over bytes.find's, on a `bytes` haystack
and then on a `memoryview` haystack; `!` marks a ratio above percall.py's
targets. The closing rows give the worst ratio of each column.
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


def _key(row: dict) -> tuple:
    return (row["function"], row["needle_length"], row["size"], row["match"])


def format_results(results: list[dict]) -> str:
    cpus = sorted({r["cpu"] for r in results})
    lines = [
        f"CPU: {', '.join(cpus)}",
        "Cells: qarvo / bytes.find per call, `bytes` haystack / `memoryview` haystack"
        f" ('!': above {TARGET_BYTES:.2f} / {TARGET_MEMORYVIEW:.2f}).",
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
        cells = [_cell(rows[key]) if key in rows else "" for rows in by_key]
        lines.append(
            f"| {function} | {m} | {size} | {'end' if match else 'none'} | "
            + " | ".join(cells)
            + " |"
        )
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


if __name__ == "__main__":
    main()
