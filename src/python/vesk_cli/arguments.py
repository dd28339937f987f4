"""Option parsing shared by the commands: checked numbers, -j and --scheduler."""

from __future__ import annotations

import argparse
import os
from collections.abc import Callable


def whole_number(minimum: int) -> Callable[[str], int]:
    """An argparse type: a whole number no smaller than `minimum`, else a usage error naming the value."""
    def parse(text: str) -> int:
        try:
            value = int(text)
        except ValueError:
            raise argparse.ArgumentTypeError(f"expected a whole number, got {text!r}") from None
        if value < minimum:
            raise argparse.ArgumentTypeError(f"must be {minimum} or more, got {value}")
        return value
    # argparse names the type in some messages.
    parse.__name__ = f"whole number of at least {minimum}"
    return parse


def add_jobs_option(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("-j", "--jobs", type=whole_number(1), default=os.cpu_count() or 1, metavar="N",
                        help="parallel processes (default: one per core)")


def add_scheduler_option(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--scheduler", metavar="ADDRESS",
                        help="run the files on the Dask distributed cluster whose scheduler is at ADDRESS "
                             "(tcp://host:8786); needs pip install 'vesk[dask]'")


def add_progress_option(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--no-progress", action="store_true", help="draw no progress bar")
