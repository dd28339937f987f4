"""Adaptive wall-clock timing of one call on one input.

Each cell of a table is timed the same way: a warm-up, then samples of
batched calls until the time budget is spent. Small inputs are batched so that
a sample lasts long enough for the clock to resolve it; big inputs get fewer
samples rather than a longer run.
"""

from __future__ import annotations

import gc
import statistics
import time
from dataclasses import dataclass
from typing import Any, Callable

# A sample shorter than this is dominated by clock and loop overhead.
MIN_SAMPLE_SECONDS = 0.002


@dataclass(frozen=True)
class Budget:
    seconds: float
    min_samples: int
    max_samples: int
    warmup_calls: int


FULL = Budget(seconds=0.35, min_samples=5, max_samples=300, warmup_calls=2)
QUICK = Budget(seconds=0.02, min_samples=3, max_samples=20, warmup_calls=1)


@dataclass(frozen=True)
class Timing:
    """Seconds per call: median and the quartiles over all samples."""

    median: float
    q1: float
    q3: float
    samples: int
    calls_per_sample: int

    @property
    def spread_percent(self) -> float:
        """Interquartile range as a share of the median."""
        return 100.0 * (self.q3 - self.q1) / self.median if self.median > 0 else 0.0

    def megabytes_per_second(self, size: int) -> float:
        return size / self.median / 1e6 if self.median > 0 else float("inf")


def summarise(per_call: list[float], calls_per_sample: int) -> Timing:
    if not per_call:
        raise ValueError("no samples to summarise")
    ordered = sorted(per_call)
    if len(ordered) >= 2:
        q1, _, q3 = statistics.quantiles(ordered, n=4, method="inclusive")
    else:
        q1 = q3 = ordered[0]
    return Timing(
        median=statistics.median(ordered),
        q1=q1,
        q3=q3,
        samples=len(ordered),
        calls_per_sample=calls_per_sample,
    )


def plan(estimate: float, budget: Budget) -> tuple[int, int]:
    """Calls per sample and number of samples for a call of `estimate` seconds."""
    estimate = max(estimate, 1e-9)
    batch = max(1, int(MIN_SAMPLE_SECONDS / estimate + 0.5))
    samples = round(budget.seconds / (batch * estimate))
    return batch, min(budget.max_samples, max(budget.min_samples, samples))


def measure(fn: Callable[[Any], Any], arg: Any, budget: Budget) -> Timing:
    """Time fn(arg). Exceptions from fn propagate: the caller reports them."""
    clock = time.perf_counter
    gc.collect()
    gc_was_enabled = gc.isenabled()
    # Like timeit: collector pauses would land on whichever codec happens to
    # cross a threshold, which says more about allocation history than speed.
    gc.disable()
    try:
        estimate = float("inf")
        for _ in range(max(1, budget.warmup_calls)):
            start = clock()
            fn(arg)
            estimate = min(estimate, clock() - start)
        batch, samples = plan(estimate, budget)
        per_call = []
        for _ in range(samples):
            start = clock()
            for _ in range(batch):
                fn(arg)
            per_call.append((clock() - start) / batch)
        return summarise(per_call, batch)
    finally:
        if gc_was_enabled:
            gc.enable()
