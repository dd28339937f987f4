"""vesk decode: a .vesk file back to JSON text."""

from __future__ import annotations

import argparse
import sys
from pathlib import Path

import vesk
from vesk_cli.output import describe_error, fail, find_non_finite, json_text

DESCRIPTION = """\
Read a VESK container and write its data as JSON text (with orjson when it is installed, else with the
standard library): to OUT.json, or to standard output. Object keys come out in byte order."""


def add_parser(commands: argparse._SubParsersAction) -> None:
    parser = commands.add_parser("decode", help="write a .vesk file back as JSON", description=DESCRIPTION)
    parser.add_argument("input", metavar="IN.vesk", type=Path)
    parser.add_argument("-o", "--output", metavar="OUT.json", type=Path, help="output file (default: stdout)")
    parser.add_argument("--indent", type=int, metavar="N", help="indent by N spaces (default: minified)")
    parser.set_defaults(run=run)


def run(args: argparse.Namespace) -> int:
    try:
        value = vesk.load(args.input)
    except ValueError as error:
        fail("decode", f"{args.input}: {describe_error(error)}")
        return 1
    non_finite = find_non_finite(value)
    if non_finite is not None:
        fail("decode", f"{args.input}: {non_finite[0]} is {non_finite[1]}, which JSON cannot hold")
        return 1
    text = json_text(value, args.indent) + b"\n"
    if args.output is None:
        sys.stdout.buffer.write(text)
        return 0
    try:
        args.output.write_bytes(text)
    except OSError as error:
        fail("decode", f"{args.output}: {error.strerror or error}")
        return 1
    return 0

