"""A progress bar on the terminal: tqdm's when it is installed (the `cli`
extra brings it), else a one-line counter. Nothing is drawn when stderr is
not a terminal, so logs and pipes stay clean."""

from __future__ import annotations

import sys
from typing import Any

try:
    from tqdm import tqdm
except ImportError:
    tqdm = None


class Progress:
    def __init__(self, total: int, total_bytes: int, label: str, enabled: bool) -> None:
        self._total = total
        self._done = 0
        self._label = label
        self._enabled = enabled and sys.stderr.isatty()
        self._bar: Any = None
        if self._enabled and tqdm is not None:
            self._bar = tqdm(total=total_bytes, unit="B", unit_scale=True, desc=label, file=sys.stderr,
                             leave=False, dynamic_ncols=True)

    def advance(self, input_bytes: int) -> None:
        self._done += 1
        if self._bar is not None:
            self._bar.update(input_bytes)
        elif self._enabled:
            print(f"\r{self._label}: {self._done}/{self._total} files", end="", file=sys.stderr, flush=True)

    def close(self) -> None:
        if self._bar is not None:
            self._bar.close()
        elif self._enabled:
            print("\r\033[K", end="", file=sys.stderr, flush=True)
