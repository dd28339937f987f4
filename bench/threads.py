"""Two threads loading large containers, or compiling large JSON texts, at once, against one thread
making the same calls in turn.

loads checks a large container without holding the interpreter lock; the
objects themselves can only be made while holding it. dumps holds the lock
only to make the result. Both keep it throughout on inputs under 32 KiB. The ratio shows how much of a call runs in
parallel: 2.0 would be all of it, 1.0 none.
"""

from __future__ import annotations

import statistics
import threading
import time
from typing import Callable

from documents import Document
from report import describe_error, grid

ROUNDS = 5
SECONDS_PER_ROUND = 0.4


def _one_thread(call: Callable[[object], object], data: object, calls: int) -> float:
    start = time.perf_counter()
    for _ in range(2 * calls):
        call(data)
    return time.perf_counter() - start


def _two_threads(call: Callable[[object], object], data: object, calls: int) -> float:
    barrier = threading.Barrier(3)

    def work() -> None:
        barrier.wait()
        for _ in range(calls):
            call(data)

    threads = [threading.Thread(target=work) for _ in range(2)]
    for thread in threads:
        thread.start()
    barrier.wait()
    start = time.perf_counter()
    for thread in threads:
        thread.join()
    return time.perf_counter() - start


def scaling(call: Callable[[object], object], data: object) -> float:
    """Throughput of two threads over that of one, median of alternating rounds."""
    start = time.perf_counter()
    call(data)
    calls = max(1, int(SECONDS_PER_ROUND / 2 / max(time.perf_counter() - start, 1e-6)))
    ratios = [_one_thread(call, data, calls) / _two_threads(call, data, calls) for _ in range(ROUNDS)]
    return statistics.median(ratios)


def thread_table(documents: list[Document], vesk: dict[str, Callable]) -> tuple[str, list[str]]:
    """The table for the three largest documents that compile, and the summary lines for the largest."""
    rows, refusals, summary = [], [], []
    for doc in sorted(documents, key=lambda d: d.size, reverse=True):
        if len(rows) == 3:
            break
        try:
            data = vesk["dumps"](doc.text)
            loads_ratio = scaling(vesk["loads"], data)
            dumps_ratio = scaling(vesk["dumps"], doc.text)
        except Exception as error:
            refusals.append(f"  {doc.name}: {describe_error(error)}")
            continue
        rows.append([doc.name, f"{len(data) / 1e6:.1f}", f"{loads_ratio:.2f}", f"{doc.size / 1e6:.1f}",
                     f"{dumps_ratio:.2f}"])
        if not summary:
            summary.append(f"two threads loading {doc.name}: {loads_ratio:.2f}x the throughput of one")
            summary.append(f"two threads compiling {doc.name} (dumps): {dumps_ratio:.2f}x the throughput of one")
    parts = ["== Two threads calling loads, or dumps, at once ==",
             "   throughput of two threads over one thread making the same calls in turn (2.00: all in parallel)",
             "", grid(["document", "container MB", "loads: 2 threads / 1", "JSON MB", "dumps: 2 threads / 1"], rows)]
    if refusals:
        parts += ["", "   refused:", *refusals]
    return "\n".join(parts) + "\n", summary
