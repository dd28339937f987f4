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


class _Cell:
    """Warm-up, plan and samples of one call."""

    def __init__(self, fn: Callable[[Any], Any], arg: Any, budget: Budget) -> None:
        self.fn, self.arg = fn, arg
        clock = time.perf_counter
        estimate = float("inf")
        for _ in range(max(1, budget.warmup_calls)):
            start = clock()
            fn(arg)
            estimate = min(estimate, clock() - start)
        self.batch, self.wanted = plan(estimate, budget)
        self.per_call: list[float] = []

    def sample(self) -> None:
        fn, arg, clock = self.fn, self.arg, time.perf_counter
        start = clock()
        for _ in range(self.batch):
            fn(arg)
        self.per_call.append((clock() - start) / self.batch)


def measure_all(calls: list[tuple[Callable[[Any], Any], Any]], budget: Budget) -> list[Timing | Exception]:
    """Time each fn(arg). The samples of the calls take turns, so that a burst
    of load elsewhere on the machine hits all of them alike and their ratios
    stay meaningful. A call that raises gets its exception as its result."""
    # The collector stays on, since decoders pay for it in real use too, but
    # the harness's own objects (every document, parsed) are frozen out of it:
    # otherwise a full collection would walk them and charge that to
    # whichever call happened to trigger it.
    gc.collect()
    gc.freeze()
    try:
        results: list[_Cell | Exception] = []
        for fn, arg in calls:
            try:
                results.append(_Cell(fn, arg, budget))
            except Exception as error:
                results.append(error)
        running = [i for i, r in enumerate(results) if isinstance(r, _Cell)]
        while running:
            for i in running:
                try:
                    results[i].sample()
                except Exception as error:
                    results[i] = error
            running = [i for i in running if isinstance(results[i], _Cell)
                       and len(results[i].per_call) < results[i].wanted]
        return [summarise(r.per_call, r.batch) if isinstance(r, _Cell) else r for r in results]
    finally:
        gc.unfreeze()
