"""Plain-text tables for the terminal."""

from __future__ import annotations

import math
from dataclasses import dataclass

from timing import Timing

MESSAGE_LIMIT = 110


@dataclass(frozen=True)
class Cell:
    """One measurement, or the reason there is none."""

    timing: Timing | None = None
    refusal: str | None = None


def shorten(message: str, limit: int = MESSAGE_LIMIT) -> str:
    one_line = " ".join(message.split())
    return one_line if len(one_line) <= limit else one_line[: limit - 3] + "..."


def describe_error(error: BaseException) -> str:
    text = str(error)
    return shorten(f"{type(error).__name__}: {text}" if text else type(error).__name__)


def grid(header: list[str], rows: list[list[str]]) -> str:
    """Left-aligned first column, right-aligned others."""
    widths = [max(len(line[i]) for line in [header, *rows]) for i in range(len(header))]

    def line(cells: list[str]) -> str:
        first = cells[0].ljust(widths[0])
        rest = (cell.rjust(width) for cell, width in zip(cells[1:], widths[1:]))
        return "  ".join([first, *rest]).rstrip()

    return "\n".join([line(header), *(line(r) for r in rows)])


def kilobytes(size: int) -> str:
    return f"{size / 1024:,.0f}"


def throughput(timing: Timing, size: int) -> str:
    rate = timing.megabytes_per_second(size)
    digits = 0 if rate >= 100 else 1 if rate >= 10 else 2
    return f"{rate:.{digits}f} ±{timing.spread_percent:.0f}%"


def geometric_mean(values: list[float]) -> float | None:
    positive = [v for v in values if v > 0 and math.isfinite(v)]
    if not positive:
        return None
    return math.exp(sum(math.log(v) for v in positive) / len(positive))


class Refusals:
    """Footnotes for refused cells: one mark per distinct (contender, message)."""

    def __init__(self) -> None:
        self._marks: dict[tuple[str, str], str] = {}
        self._documents: dict[str, list[str]] = {}

    def mark(self, contender: str, message: str, document: str) -> str:
        key = (contender, message)
        if key not in self._marks:
            self._marks[key] = chr(ord("a") + len(self._marks)) if len(self._marks) < 26 else str(len(self._marks))
        mark = self._marks[key]
        self._documents.setdefault(mark, []).append(document)
        return f"refused [{mark}]"

    def lines(self) -> list[str]:
        out = []
        for (contender, message), mark in self._marks.items():
            documents = ", ".join(self._documents[mark])
            out.append(f"  [{mark}] {contender} on {documents}:")
            out.append(f"      {message}")
        return out


def ratio_means(
    documents: list[str], labels: list[str], vesk_label: str, cells: dict[tuple[str, str], Cell],
) -> dict[str, float | None]:
    """Geometric mean over the documents of vesk time / peer time, per peer."""
    peers = [label for label in labels if label != vesk_label]
    per_peer: dict[str, list[float]] = {label: [] for label in peers}
    for name in documents:
        mine = cells[(name, vesk_label)].timing
        for label in peers:
            theirs = cells[(name, label)].timing
            if mine and theirs and theirs.median > 0:
                per_peer[label].append(mine.median / theirs.median)
    return {label: geometric_mean(per_peer[label]) for label in peers}


def summary(lines: list[str]) -> str:
    """The figures every run ends with, one per line."""
    return "\n".join(["== Summary ==", *(f"   {line}" for line in lines)]) + "\n"


def ratio_summary(
    what: str, documents: list[str], vesk_label: str, peer_label: str, cells: dict[tuple[str, str], Cell],
    mean_target: float, each_target: float | None,
) -> str:
    """One line: the geometric mean and the highest of vesk time / peer time over the documents
    both handled, against the targets."""
    ratios = {}
    for name in documents:
        mine, theirs = cells[(name, vesk_label)].timing, cells[(name, peer_label)].timing
        if mine and theirs and theirs.median > 0:
            ratios[name] = mine.median / theirs.median
    if not ratios:
        return f"   {what}: no document measured"
    worst = max(ratios, key=ratios.__getitem__)
    mean = geometric_mean(list(ratios.values()))
    bound = "" if each_target is None else f" (target <= {each_target})"
    return (f"   {what}: geometric mean {mean:.2f} (target <= {mean_target}), highest {ratios[worst]:.2f} "
            f"on {worst}{bound}, over {len(ratios)} documents")


def operation_table(
    title: str,
    notes: tuple[str, ...],
    documents: list[tuple[str, int]],
    labels: list[str],
    vesk_label: str,
    cells: dict[tuple[str, str], Cell],
    summary: str = "",
) -> str:
    refusals = Refusals()
    rates = []
    for name, size in documents:
        row = [name, kilobytes(size)]
        for label in labels:
            cell = cells[(name, label)]
            row.append(throughput(cell.timing, size) if cell.timing else refusals.mark(label, cell.refusal or "?", name))
        rates.append(row)

    peers = [label for label in labels if label != vesk_label]
    ratio_rows = []
    for name, _ in documents:
        mine = cells[(name, vesk_label)].timing
        row = [name]
        for label in peers:
            theirs = cells[(name, label)].timing
            row.append(f"{mine.median / theirs.median:.2f}" if mine and theirs and theirs.median > 0 else "-")
        ratio_rows.append(row)
    means = ratio_means([name for name, _ in documents], labels, vesk_label, cells)
    ratio_rows.append(["geometric mean", *(f"{means[p]:.2f}" if means[p] is not None else "-" for p in peers)])

    parts = [f"== {title} ==", *(f"   {note}" for note in notes),
             "   cells: median MB/s ± interquartile range as % of the median", "",
             grid(["document", "KB", *labels], rates), "",
             f"   {vesk_label} time / peer time (above 1: {vesk_label} is slower)", "",
             grid(["document", *peers], ratio_rows)]
    footnotes = refusals.lines()
    if footnotes:
        parts += ["", "   refused:", *footnotes]
    if summary:
        parts += ["", summary]
    return "\n".join(parts) + "\n"
