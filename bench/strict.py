"""What strict=True costs: each call with strict=True against the same call
without, on the same input. A document whose numbers would not read back
as written is refused under strict (LossError); its row shows the refusal's
time, and it is left out of the overhead, which is about the check that
passes."""

from __future__ import annotations

import math
from typing import Any, Callable

from documents import Document
from report import grid
from timing import Budget, measure_all

TARGET = 0.03

# The function, and what it takes from a document.
CALLS: list[tuple[str, Callable[[Document], Any]]] = [
    ("dumps", lambda doc: doc.text),
    ("pack", lambda doc: doc.value),
    ("emit", lambda doc: doc.value_without_none),
]


def swallowing(function: Callable[..., Any], **keywords: Any) -> Callable[[Any], Any]:
    def call(argument: Any) -> None:
        try:
            function(argument, **keywords)
        except ValueError:
            pass
    return call


def outcome(function: Callable[..., Any], argument: Any) -> str | None:
    """None when the strict call passes, else what refuses it."""
    try:
        function(argument, strict=True)
    except ValueError as error:
        return f"{type(error).__name__} at {getattr(error, 'path', None)}"
    return None


def strict_table(documents: list[Document], module: Any, budget: Budget) -> tuple[str, list[str]]:
    cases = []
    for doc in documents:
        for name, argument_of in CALLS:
            function = getattr(module, name)
            argument = argument_of(doc)
            try:
                function(argument)
            except ValueError:
                continue
            cases.append((name, doc.name, function, argument, outcome(function, argument)))
    timings = iter(measure_all([call for _, _, function, argument, _ in cases
                                for call in ((swallowing(function), argument),
                                             (swallowing(function, strict=True), argument))], budget))
    rows, overheads = [], {}
    for name, doc, _, _, refused in cases:
        plain, strict = next(timings), next(timings)
        if isinstance(plain, Exception) or isinstance(strict, Exception):
            rows.append([f"{name} {doc}", "-", "-", "-", "-"])
            continue
        ratio = strict.median / plain.median
        if refused is None:
            overheads.setdefault(name, []).append(ratio)
        rows.append([f"{name} {doc}", f"{plain.median * 1e6:,.0f}", f"{strict.median * 1e6:,.0f}", f"{ratio:.3f}",
                     refused or "passes"])
    summary = []
    for name, ratios in overheads.items():
        mean = math.exp(sum(map(math.log, ratios)) / len(ratios)) - 1
        summary.append(f"strict overhead: vesk.{name}(strict=True) time / vesk.{name} time - 1, geometric mean over "
                       f"the {len(ratios)} documents that pass: {mean:+.1%}, highest {max(ratios) - 1:+.1%} "
                       f"(target <= {TARGET:.0%})")
    parts = ["== strict=True against the same call without, microseconds per call ==",
             "", grid(["call", "plain us", "strict us", "ratio", "under strict"], rows)]
    return "\n".join(parts) + "\n", summary
