"""Short messages, as processes trade them: the time of one call, where what a
call costs before and after its data counts as much as the data.

Each vesk function against the fastest peer doing the same work: dumps
against orjson.loads then ormsgpack.packb, emit against ormsgpack.packb,
loads against ormsgpack.unpackb of ormsgpack's own bytes.
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


def message_table(vesk: dict[str, Callable], budget: Budget) -> tuple[str, list[str]]:
    """The table, and a summary line per function with the geometric mean of its ratios."""
    functions = ("dumps", "emit", "loads")
    texts = {name: json.dumps(value, separators=(",", ":")) for name, value in MESSAGES.items()}
    calls = []
    for name, value in MESSAGES.items():
        text = texts[name]
        container, packed = vesk["dumps"](text), ormsgpack.packb(value)
        calls += [(vesk["dumps"], text), (lambda t: ormsgpack.packb(orjson.loads(t)), text),
                  (vesk["emit"], value), (ormsgpack.packb, value),
                  (vesk["loads"], container), (ormsgpack.unpackb, packed)]
    # Every vesk call beside its peer's, in the order the rows read them.
    timings = iter(measure_all(calls, budget))
    rows, ratios = [], {function: [] for function in functions}
    for name in MESSAGES:
        row = [name, str(len(texts[name]))]
        for function in functions:
            mine, peer = next(timings).median, next(timings).median
            ratios[function].append(mine / peer)
            row += [f"{mine * 1e9:,.0f}", f"{peer * 1e9:,.0f}", f"{mine / peer:.2f}"]
        rows.append(row)
    header = ["message", "JSON bytes"]
    for function in ratios:
        header += [f"{function} ns", "peer ns", "ratio"]
    summary = [f"short messages: vesk.{function} time / peer time, geometric mean {geometric_mean(values):.2f}"
               for function, values in ratios.items()]
    parts = ["== Short messages: nanoseconds per call ==",
             "   peers: dumps ~ ormsgpack.packb(orjson.loads), emit ~ ormsgpack.packb, loads ~ ormsgpack.unpackb",
             "", grid(header, rows)]
    return "\n".join(parts) + "\n", summary
