"""Write RESULTS.md, results.json and the plots into the output directory."""

import json
import time
from pathlib import Path

import plots
import report
from runner import Row

SECTIONS = {
    "no-match": (
        "No match",
        "Scans of the whole haystack for a needle that does not occur. English needles are "
        "ordinary words around a trigram the text never holds; random needles carry the one "
        "byte value the random corpus never holds, in their middle.",
        "GB/s",
    ),
    "rare-byte": (
        "Rare first byte, frequent later bytes",
        "English, 1 MiB, no match. `english q...` starts with the rare 'q' followed by common "
        "text; `english ...q` is the mirror image, common text ending in 'q'.",
        "GB/s",
    ),
    "match-at-end": (
        "Match at the end",
        "The needle's only occurrence is the last m bytes of the haystack.",
        "GB/s",
    ),
    "per-call": (
        "Per-call cost",
        "16- and 64-byte English haystacks, no match: the time of one call, most of it "
        "argument handling and call overhead.",
        "ns/call",
    ),
    "adversarial": (
        "Adversarial inputs",
        "The haystack is N bytes of 'a'. `a^(m-1) b` differs from the run only in its last "
        "byte; `a^k b a^k` only in its middle byte, so a filter on the first, second and "
        "last needle bytes passes at every offset. Values are microseconds per call.",
        "µs/call",
    ),
}

# Group plotted -> picture name (plots.<name>_plot draws it).
PLOTS = {"no-match": "throughput", "adversarial": "adversarial"}

LEGEND = """\
How to read the tables: GB/s is haystack bytes divided by the best time of one call
(10^9 bytes per second). `qarvo` is the function made for the needle length
(`qarvo fn`); `qarvo search_n` is the general function, run again for needles of one to
three bytes. `best peer` is the fastest of bytes.find, re.search, StringZilla and
hyperscan (the last when installed) on that row. `vs best` and `vs bytes.find` are
speedups: the peer's time divided by qarvo's (above 1: qarvo is faster). ¹ marks a call
too slow to repeat, timed once; `skipped` means a smaller haystack of the same series was
already that slow. Every contender's answer was
checked against bytes.find before it was timed."""


def environment_lines(info: dict[str, dict[str, str]]) -> list[str]:
    lines = []
    for section, values in info.items():
        lines.append(
            f"- **{section}**: " + "; ".join(f"{key}: {value}" for key, value in values.items())
        )
    return lines


def markdown(
    info, rows: dict[str, list[Row]], by_backend: dict[str, list[Row]], peers: list[str]
) -> str:
    parts = [
        "# qarvo side by side with bytes.find, re and StringZilla",
        "",
        f"Recorded {time.strftime('%Y-%m-%d %H:%M UTC', time.gmtime())}.",
        "",
        *environment_lines(info),
        "",
        LEGEND,
    ]
    for group, group_rows in rows.items():
        title, text, unit = SECTIONS[group]
        first = "needle" if group == "adversarial" else "corpus"
        parts += ["", f"## {title}", "", text, "", report.table(group_rows, peers, unit, first)]
        if group == "adversarial":
            names = ["qarvo", *peers]
            parts += [
                "",
                "Growth of the time with N (1.00 = linear):",
                "",
                report.growth_table(group_rows, names),
            ]
    if by_backend:
        parts += [
            "",
            "## Search-core variants",
            "",
            "qarvo's specialised function per variant, each in its own process with QARVO_BACKEND "
            "set; English, no match, values in GB/s.",
            "",
            report.backend_table(by_backend),
        ]
    pictures = [f"![{name}]({name}.png)" for group, name in PLOTS.items() if group in rows]
    if pictures:
        parts += ["", "## Plots", "", *pictures]
    return "\n".join(parts) + "\n"


def write_results(
    out: Path, info, rows: dict[str, list[Row]], by_backend, peers: list[str]
) -> None:
    out.mkdir(parents=True, exist_ok=True)
    (out / "RESULTS.md").write_text(markdown(info, rows, by_backend, peers))
    raw = {
        "environment": info,
        "rows": {group: [r.to_json() for r in group_rows] for group, group_rows in rows.items()},
        "backends": {b: [r.to_json() for r in group_rows] for b, group_rows in by_backend.items()},
    }
    (out / "results.json").write_text(json.dumps(raw, indent=1) + "\n")
    for group, name in PLOTS.items():
        if group in rows:
            getattr(plots, f"{name}_plot")(rows[group], out / f"{name}.png")
