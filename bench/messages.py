"""Short messages, as processes trade them: the time of one call, where what a
call costs before and after its data counts as much as the data.

Each vesk function against the fastest peer doing the same work: dumps
against orjson.loads then ormsgpack.packb, emit against ormsgpack.packb,
loads against ormsgpack.unpackb of ormsgpack's own bytes. Every message must
take at most the peer's time (TARGET).

The fixed cost of a call is its time on the smallest input, the number 0,
less the time of len(), a C function of one argument: what the call costs
around its data, beyond what calling any C function does.
"""

from __future__ import annotations

import json
from typing import Callable

import orjson
import ormsgpack

from report import geometric_mean, grid
from timing import Budget, measure_all

MESSAGES = {
    "ack": {"ok": True},
    "record": {"id": 12345, "name": "alice", "tags": ["x", "y"], "score": 1.5, "ok": True},
    "order": {"user": {"id": 1, "name": "bob", "email": "bob@example.com"},
              "items": [{"sku": "a1", "qty": 2, "price": 9.99}, {"sku": "b2", "qty": 1, "price": 19.5}],
              "note": "hello"},
    "page": {"page": 3, "results": [{"id": i, "title": f"item {i}", "score": i / 7, "open": i % 2 == 0}
                                    for i in range(12)]},
}


TARGET = 1.0
FUNCTIONS = ("dumps", "emit", "loads")
SMALLEST = ("0", 0)  # as text and as a value


def pairs(vesk: dict[str, Callable], text: str, value: object) -> list[tuple[Callable, object]]:
    """Each vesk function on the message beside its peer, in FUNCTIONS order."""
    container, packed = vesk["dumps"](text), ormsgpack.packb(value)
    return [(vesk["dumps"], text), (lambda t: ormsgpack.packb(orjson.loads(t)), text),
            (vesk["emit"], value), (ormsgpack.packb, value),
            (vesk["loads"], container), (ormsgpack.unpackb, packed)]


def message_table(vesk: dict[str, Callable], budget: Budget) -> tuple[str, list[str]]:
    """The table, and summary lines: per function the highest ratio and the
    geometric mean, and the fixed costs."""
    texts = {name: json.dumps(value, separators=(",", ":")) for name, value in MESSAGES.items()}
    calls = [(len, SMALLEST[0])]
    calls += pairs(vesk, *SMALLEST)
    for name, value in MESSAGES.items():
        calls += pairs(vesk, texts[name], value)
    # Every vesk call beside its peer's, in the order the rows read them.
    timings = iter(timing.median for timing in measure_all(calls, budget))
    bare = next(timings)
    fixed = {function: (next(timings) - bare, next(timings) - bare) for function in FUNCTIONS}
    rows, ratios = [], {function: [] for function in FUNCTIONS}
    for name in MESSAGES:
        row = [name, str(len(texts[name]))]
        for function in FUNCTIONS:
            mine, peer = next(timings), next(timings)
            ratios[function].append((mine / peer, name))
            row += [f"{mine * 1e9:,.0f}", f"{peer * 1e9:,.0f}", f"{mine / peer:.2f}"]
        rows.append(row)
    header = ["message", "JSON bytes"]
    for function in FUNCTIONS:
        header += [f"{function} ns", "peer ns", "ratio"]
    summary = []
    for function, values in ratios.items():
        highest, where = max(values)
        summary.append(f"short messages: vesk.{function} time / peer time, highest {highest:.2f} on {where} "
                       f"(target <= {TARGET:.1f}), geometric mean {geometric_mean([v for v, _ in values]):.2f}")
    summary.append("fixed cost per call, ns above len(): " + ", ".join(
        f"{function} {mine * 1e9:,.0f} (peer {peer * 1e9:,.0f})" for function, (mine, peer) in fixed.items()))
    fixed_rows = [[function, f"{mine * 1e9:,.0f}", f"{peer * 1e9:,.0f}"] for function, (mine, peer) in fixed.items()]
    parts = ["== Short messages: nanoseconds per call ==",
             "   peers: dumps ~ ormsgpack.packb(orjson.loads), emit ~ ormsgpack.packb, loads ~ ormsgpack.unpackb",
             "", grid(header, rows), "",
             f"   fixed cost: the call on the number 0, less len() ({bare * 1e9:,.0f} ns)", "",
             grid(["function", "vesk ns", "peer ns"], fixed_rows)]
    return "\n".join(parts) + "\n", summary
