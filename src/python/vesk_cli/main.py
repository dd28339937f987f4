"""Argument parsing and dispatch for the vesk command."""

from __future__ import annotations

import argparse
import sys
from collections.abc import Sequence

import vesk
from vesk_cli import check, decode, encode, inspection

COMMANDS = (encode, decode, inspection, check)


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="vesk",
        description="Compile JSON to VESK, a compact binary container, and back; look inside a container; "
                    "check what a round trip changes in a JSON document.",
        epilog="Run 'vesk COMMAND --help' for the options of each command.",
    )
    parser.add_argument("--version", action="version", version=f"vesk {vesk.__version__}")
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")
    for command in COMMANDS:
        command.add_parser(commands)
    return parser


def main(argv: Sequence[str] | None = None) -> int:
    """Runs the command line; returns the exit status."""
    args = build_parser().parse_args(argv)
    try:
        status: int = args.run(args)
        sys.stdout.flush()
    except KeyboardInterrupt:
        return 130
    except BrokenPipeError:
        # The reader went away (vesk decode x.vesk | head): not an error of ours.
        sys.stderr.close()
        return 0
    return status
