"""vesk against the codecs a Python user would pick instead, on the test corpus.

Prints one table per operation (JSON text -> binary, binary -> objects,
objects -> binary), the encoded sizes, the peak memory of dumps and loads
on the largest document, two threads at once, and short messages.
"""

from __future__ import annotations

import argparse
import json
import os
import platform
import sys
import time
from pathlib import Path

from documents import DEFAULT_CORPUS, Document, corpus_paths, load_document
from memory import memory_table
from messages import message_table
from refusals import refusal_table
from strict import strict_table
from peers import NoInput, Operation, load_vesk, operations, peer_versions
from report import Cell, describe_error, operation_table, ratio_means, ratio_summary, shorten, summary
from sizes import encodings, size_table
from threads import thread_table
from timing import FULL, QUICK, Budget, measure_all

SECTIONS = ("dumps", "loads", "emit", "pack", "to_json", "sizes", "memory", "threads", "messages", "refusals",
            "strict")

# Ratios of a table that every run repeats in its summary, with their targets.
SUMMARY_RATIOS = {
    "loads": (("msgspec", "loads time / msgspec.msgpack.decode time", "0.8"),
              ("marshal", "loads time / marshal.loads time", "1.0")),
}
ROOT = Path(__file__).resolve().parent.parent
DEFAULT_CHART = ROOT / "docs" / "benchmark.png"


def parse_args(argv: list[str]) -> argparse.Namespace:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--quick", action="store_true",
                        help="few repetitions per cell: a smoke run, not a measurement")
    parser.add_argument("--only", action="append", metavar="NAME",
                        help="only this document (file name, with or without .json); repeatable")
    parser.add_argument("--sections", default=",".join(SECTIONS),
                        help=f"comma-separated subset of {','.join(SECTIONS)} (default: all)")
    parser.add_argument("--corpus", type=Path, default=DEFAULT_CORPUS, help="directory of JSON documents (.json or .json.xz)")
    parser.add_argument("--chart", nargs="?", const=DEFAULT_CHART, type=Path, metavar="PNG",
                        help=f"also draw the results (default {DEFAULT_CHART.relative_to(ROOT)}); the "
                             "measurements are saved beside it as .json")
    args = parser.parse_args(argv)
    args.sections = [s.strip() for s in args.sections.split(",") if s.strip()]
    unknown = set(args.sections) - set(SECTIONS)
    if unknown:
        parser.error(f"unknown section: {', '.join(sorted(unknown))}")
    return args


def prepare_input(contender, doc: Document) -> tuple[object, str | None]:
    """The contender's input, or why there is none."""
    try:
        return contender.prepare(doc), None
    except NoInput as missing:
        return None, shorten(str(missing))
    except Exception as error:
        return None, f"no input: {describe_error(error)}"


def run_cells(contenders, doc: Document, budget: Budget) -> list[Cell]:
    """Time every contender on one document, their samples interleaved."""
    inputs = [prepare_input(c, doc) for c in contenders]
    ready = [i for i, (_, refusal) in enumerate(inputs) if refusal is None]
    timings = measure_all([(contenders[i].run, inputs[i][0]) for i in ready], budget)
    cells = [Cell(refusal=refusal) for _, refusal in inputs]
    for i, timing in zip(ready, timings):
        cells[i] = Cell(refusal=describe_error(timing)) if isinstance(timing, Exception) else Cell(timing=timing)
    return cells


def run_operation(op: Operation, documents: list[Document], budget: Budget) -> tuple[str, dict, list[str]]:
    """The table of one operation, its measurements for the chart, and its summary lines."""
    cells = {}
    for doc in documents:
        for contender, cell in zip(op.contenders, run_cells(op.contenders, doc, budget)):
            cells[(doc.name, contender.label)] = cell
    vesk_label = next(c.label for c in op.contenders if c.is_vesk)
    labels = [c.label for c in op.contenders]
    target_lines = [
        ratio_summary(f"{vesk_label} time / {target.peer_label} time", [d.name for d in documents], vesk_label,
                      target.peer_label, cells, target.mean, target.each)
        for target in op.targets]
    table = operation_table(op.title, op.notes, [(d.name, op.size_of(d)) for d in documents], labels, vesk_label,
                            cells, "\n".join(target_lines))
    rates = {d.name: {label: cell.timing.megabytes_per_second(op.size_of(d)) if cell.timing else None
                      for (name, label), cell in cells.items() if name == d.name} for d in documents}
    means = ratio_means([d.name for d in documents], labels, vesk_label, cells)
    lines = [line.strip() for line in target_lines]
    for peer, what, target in SUMMARY_RATIOS.get(op.key, ()):
        mean = means.get(peer)
        lines.append(f"{what}, geometric mean: {f'{mean:.2f}' if mean is not None else '-'} (target <= {target})")
    return table, {"title": op.title, "documents": [d.name for d in documents], "vesk_label": vesk_label,
                   "labels": labels, "cells": rates}, lines


def encoded_sizes(documents: list[Document], dumps) -> dict[str, dict[str, int | None]]:
    sizes: dict[str, dict[str, int | None]] = {}
    for doc in documents:
        sizes[doc.name] = {}
        for label, encode in encodings(dumps):
            try:
                sizes[doc.name][label] = len(encode(doc))
            except Exception:
                sizes[doc.name][label] = None
    return sizes


def vesk_module():
    import vesk

    return vesk


def header(vesk_origin: str, budget: Budget) -> str:
    load = ", ".join(f"{x:.2f}" for x in os.getloadavg())
    versions = ", ".join(f"{k} {v}" for k, v in peer_versions().items())
    return "\n".join([
        f"# vesk benchmark, {time.strftime('%Y-%m-%d %H:%M:%S UTC', time.gmtime())}",
        f"# Python {platform.python_version()} on {platform.machine()}, {os.cpu_count()} CPUs, "
        f"load average {load} (1, 5, 15 min)",
        f"# vesk from {vesk_origin}",
        f"# peers: {versions}",
        f"# per cell: {budget.warmup_calls} warm-up call(s), then batched samples for about "
        f"{budget.seconds:.2f} s ({budget.min_samples} to {budget.max_samples} samples);",
        "# the samples of all codecs on one document take turns; garbage collector on, with the",
        "# harness's own objects frozen out of it",
        "",
    ])


def main(argv: list[str]) -> int:
    args = parse_args(argv)
    budget = QUICK if args.quick else FULL
    documents = [load_document(p) for p in corpus_paths(args.corpus, args.only)]
    if not documents:
        print(f"no JSON documents in {args.corpus}", file=sys.stderr)
        return 1
    vesk, origin = load_vesk()
    ops = operations(vesk)
    print(header(origin, budget), flush=True)
    measured, lines = [], []
    for section in args.sections:
        if section in ops:
            table, results, figures = run_operation(ops[section], documents, budget)
            measured.append(results)
        elif section == "sizes":
            table, figures = size_table(documents, vesk["dumps"]), []
        elif section == "memory":
            table, figures = memory_table(documents, vesk["dumps"])
        elif section == "messages":
            table, figures = message_table(vesk, budget)
        elif section == "refusals":
            table, figures = refusal_table(documents, vesk, budget)
        elif section == "strict":
            table, figures = strict_table(documents, vesk_module(), budget)
        else:
            table, figures = thread_table(documents, vesk)
        print(table, flush=True)
        lines += figures
    if lines:
        print(summary(lines), flush=True)
    if args.chart is not None:
        save_chart(args.chart, header(origin, budget).splitlines()[0:2], measured,
                   encoded_sizes(documents, vesk["dumps"]))
    return 0


def save_chart(target: Path, header_lines: list[str], measured: list[dict], sizes: dict) -> None:
    from chart import draw  # matplotlib is needed only here

    results = {"header": "  ".join(line.lstrip("# ") for line in header_lines), "operations": measured,
               "sizes": sizes}
    target.parent.mkdir(parents=True, exist_ok=True)
    target.with_suffix(".json").write_text(json.dumps(results, indent=1) + "\n")
    draw(results, target)
    print(f"chart: {target} (measurements in {target.with_suffix('.json')})", flush=True)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
