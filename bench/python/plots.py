"""PNG plots of the rows: throughput against haystack size, and the growth of
the adversarial inputs. Only matplotlib's file-writing Agg backend is used."""

from collections import defaultdict
from pathlib import Path

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402  (the backend must be chosen first)
from runner import Row  # noqa: E402

PLOTTED_LENGTHS = (1, 3, 8, 64)


# One colour per contender in every panel.
COLORS = {
    "qarvo": "tab:red",
    "qarvo search_n": "tab:purple",
    "bytes.find": "tab:blue",
    "re.search": "tab:orange",
    "sz Str.find": "tab:green",
}


def _color(name: str) -> str:
    return COLORS.get(name, "tab:gray")


def _series(rows: list[Row], corpus: str, length: int) -> dict[str, list[tuple[int, float]]]:
    points: dict[str, list[tuple[int, float]]] = defaultdict(list)
    for row in rows:
        if row.corpus == corpus and row.needle_len == length:
            for name, ns in row.ns.items():
                points[name].append((row.size, ns))
    return {name: sorted(p) for name, p in points.items()}


def _panel(ax, points: dict[str, list[tuple[int, float]]], value, title: str) -> None:
    """One log-log panel: value(size, ns) against size for every contender."""
    for name, series in points.items():
        sizes = [size for size, _ in series]
        values = [value(size, ns) for size, ns in series]
        ax.plot(sizes, values, marker="o", label=name, color=_color(name))
    ax.set_xscale("log", base=2)
    ax.set_yscale("log")
    ax.set_title(title, fontsize=10)
    ax.grid(True, which="both", alpha=0.3)


def _label_and_save(fig, axes, ylabel: str, xlabel: str, path: Path) -> None:
    """Axis labels on the outer panels, one legend, and the PNG."""
    for row_axes in axes:
        row_axes[0].set_ylabel(ylabel)
    for ax in axes[-1]:
        ax.set_xlabel(xlabel)
    axes[0][0].legend(fontsize=8)
    fig.tight_layout()
    fig.savefig(path, dpi=110)
    plt.close(fig)


def throughput_plot(rows: list[Row], path: Path) -> None:
    """GB/s against haystack size (log x), one panel per corpus and needle length."""
    corpora = sorted({row.corpus for row in rows})
    fig, axes = plt.subplots(
        len(corpora),
        len(PLOTTED_LENGTHS),
        figsize=(4 * len(PLOTTED_LENGTHS), 3.4 * len(corpora)),
        squeeze=False,
        sharex=True,
    )
    for r, corpus in enumerate(corpora):
        for c, length in enumerate(PLOTTED_LENGTHS):
            _panel(
                axes[r][c],
                _series(rows, corpus, length),
                lambda size, ns: size / ns,
                f"{corpus}, no match, m = {length}",
            )
    _label_and_save(fig, axes, "GB/s", "haystack bytes", path)


def adversarial_plot(rows: list[Row], path: Path) -> None:
    """Time per call against N (log-log), one panel per needle family and length."""
    families = sorted({row.corpus for row in rows})
    columns = max(len({r.needle_len for r in rows if r.corpus == f}) for f in families)
    fig, axes = plt.subplots(
        len(families),
        columns,
        figsize=(3.6 * columns, 3.2 * len(families)),
        squeeze=False,
        sharex=True,
    )
    for r, family in enumerate(families):
        family_lengths = sorted({row.needle_len for row in rows if row.corpus == family})
        for c, length in enumerate(family_lengths):
            _panel(
                axes[r][c],
                _series(rows, family, length),
                lambda size, ns: ns / 1e6,
                f"{family}, m = {length}",
            )
    _label_and_save(fig, axes, "ms per call", "haystack bytes (run of 'a')", path)
