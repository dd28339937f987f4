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
    """Counts bytes when the size of every file is known up front, else files."""

    def __init__(self, total: int, total_bytes: int | None, label: str, enabled: bool) -> None:
        self._total = total
        self._done = 0
        self._label = label
        self._by_bytes = total_bytes is not None
        self._enabled = enabled and sys.stderr.isatty()
        self._bar: Any = None
        if self._enabled and tqdm is not None:
            # No monitor thread: local worker processes may be forked after this.
            tqdm.monitor_interval = 0
            self._bar = tqdm(total=total_bytes if self._by_bytes else total, unit="B" if self._by_bytes else " files",
                             unit_scale=self._by_bytes, desc=label, file=sys.stderr, leave=False, dynamic_ncols=True)

    def advance(self, input_bytes: int) -> None:
        self._done += 1
        if self._bar is not None:
            self._bar.update(input_bytes if self._by_bytes else 1)
        elif self._enabled:
            print(f"\r{self._label}: {self._done}/{self._total} files", end="", file=sys.stderr, flush=True)

    def print(self, text: str) -> None:
        """Prints a line to standard output without tearing the bar."""
        if self._bar is not None:
            self._bar.write(text, file=sys.stdout)
        else:
            if self._enabled and sys.stdout.isatty():
                print("\r\033[K", end="", file=sys.stderr, flush=True)
            print(text)

    def close(self) -> None:
        if self._bar is not None:
            self._bar.close()
        elif self._enabled:
            print("\r\033[K", end="", file=sys.stderr, flush=True)
