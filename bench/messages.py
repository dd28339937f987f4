"""Short messages, as processes trade them: the time of one call, where what a
call costs before and after its data counts as much as the data.

Each vesk function against the fastest peer doing the same work: dumps
against orjson.loads then ormsgpack.packb, emit against ormsgpack.packb,
loads against ormsgpack.unpackb of ormsgpack's own bytes.
"""

from __future__ import annotations

import json
import statistics
import time
from typing import Callable

import orjson
import ormsgpack

from report import geometric_mean, grid
from timing import Budget

MESSAGES = {
    "ack": {"ok": True},
    "record": {"id": 12345, "name": "alice", "tags": ["x", "y"], "score": 1.5, "ok": True},
    "order": {"user": {"id": 1, "name": "bob", "email": "bob@example.com"},
              "items": [{"sku": "a1", "qty": 2, "price": 9.99}, {"sku": "b2", "qty": 1, "price": 19.5}],
              "note": "hello"},
    "page": {"page": 3, "results": [{"id": i, "title": f"item {i}", "score": i / 7, "open": i % 2 == 0}
                                    for i in range(12)]},
}


def per_call(call: Callable[[], object], budget: Budget) -> float:
    """Median seconds per call over batches of about a millisecond each."""
    for _ in range(budget.warmup_calls):
        call()
    start = time.perf_counter()
    call()
    batch = max(1, int(1e-3 / max(time.perf_counter() - start, 1e-8)))
    samples: list[float] = []
    deadline = time.perf_counter() + budget.seconds
    while len(samples) < budget.min_samples or (time.perf_counter() < deadline and len(samples) < budget.max_samples):
        start = time.perf_counter()
        for _ in range(batch):
            call()
        samples.append((time.perf_counter() - start) / batch)
    return statistics.median(samples)


def message_table(vesk: dict[str, Callable], budget: Budget) -> tuple[str, list[str]]:
    """The table, and a summary line per function with the geometric mean of its ratios."""
    rows, ratios = [], {"dumps": [], "emit": [], "loads": []}
    for name, value in MESSAGES.items():
        text = json.dumps(value, separators=(",", ":"))
        container, packed = vesk["dumps"](text), ormsgpack.packb(value)
        pairs = {
            "dumps": (lambda: vesk["dumps"](text), lambda: ormsgpack.packb(orjson.loads(text))),
            "emit": (lambda: vesk["emit"](value), lambda: ormsgpack.packb(value)),
            "loads": (lambda: vesk["loads"](container), lambda: ormsgpack.unpackb(packed)),
        }
        row = [name, str(len(text))]
        for function, (ours, theirs) in pairs.items():
            mine, peer = per_call(ours, budget), per_call(theirs, budget)
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
