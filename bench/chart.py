"""The benchmark as a picture: throughput per document and codec for the
three directions, and the encoded sizes. Drawn from the measurements that
bench.py saves next to the chart, so a chart can be redrawn without
measuring again:

    python chart.py RESULTS.json CHART.png
"""

from __future__ import annotations

import json
import sys
from pathlib import Path
from typing import Any

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

VESK_COLOR = "#d62728"
PEER_COLORS = ["#1f77b4", "#ff7f0e", "#2ca02c", "#9467bd", "#8c564b", "#e377c2", "#7f7f7f", "#bcbd22", "#17becf"]


def draw(results: dict[str, Any], target: Path) -> None:
    panels = [*results["operations"], {"title": "Sizes: bytes as % of minified JSON (lower is smaller)",
                                       "sizes": results["sizes"]}]
    figure, axes = plt.subplots(len(panels), 1, figsize=(13, 4.2 * len(panels)), constrained_layout=True)
    for axis, panel in zip(axes, panels):
        if "sizes" in panel:
            size_panel(axis, panel["sizes"], panel["title"])
        else:
            throughput_panel(axis, panel)
    figure.suptitle(results["header"], fontsize=9, x=0.01, ha="left")
    target.parent.mkdir(parents=True, exist_ok=True)
    figure.savefig(target, dpi=90)
    plt.close(figure)


def grouped_bars(axis: Any, documents: list[str], labels: list[str], value: Any, vesk_label: str) -> None:
    width = 0.8 / len(labels)
    peers = iter(PEER_COLORS)
    for i, label in enumerate(labels):
        color = VESK_COLOR if label == vesk_label else next(peers)
        heights = [value(document, label) for document in documents]
        positions = [d + (i - (len(labels) - 1) / 2) * width for d in range(len(documents))]
        axis.bar(positions, [h if h is not None else 0 for h in heights], width, label=label, color=color)
        for x, h in zip(positions, heights):
            if h is None:
                axis.text(x, 0, "×", ha="center", va="bottom", fontsize=8, color=color)
    axis.set_xticks(range(len(documents)), documents, fontsize=8)
    axis.legend(fontsize=8, loc="upper left", bbox_to_anchor=(1.0, 1.0))
    axis.grid(axis="y", alpha=0.3)


def throughput_panel(axis: Any, operation: dict[str, Any]) -> None:
    cells = operation["cells"]

    def rate(document: str, label: str) -> float | None:
        return cells[document].get(label)

    grouped_bars(axis, operation["documents"], operation["labels"], rate, operation["vesk_label"])
    axis.set_title(f"{operation['title']}: MB/s of input, median (higher is faster; × refused)", fontsize=10)
    axis.set_ylabel("MB/s")


def size_panel(axis: Any, sizes: dict[str, dict[str, int | None]], title: str) -> None:
    documents = list(sizes)
    labels = [label for label in next(iter(sizes.values())) if label != "min JSON"]

    def share(document: str, label: str) -> float | None:
        own, base = sizes[document].get(label), sizes[document].get("min JSON")
        return 100.0 * own / base if own is not None and base else None

    grouped_bars(axis, documents, labels, share, "VESK")
    axis.axhline(100, color="black", linewidth=0.8)
    axis.set_title(title + "; × refused", fontsize=10)
    axis.set_ylabel("% of minified JSON")


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    draw(json.loads(Path(sys.argv[1]).read_text()), Path(sys.argv[2]))
