"""vesk decode: .vesk files back to JSON text."""

from __future__ import annotations

import argparse
import sys
from dataclasses import dataclass
from pathlib import Path

from vesk_cli.arguments import add_jobs_option, whole_number
from vesk_cli.output import describe_error, fail, json_document
from vesk_cli.sources import STDIO, in_directory, read_bytes, reason, shown, stem
from vesk_cli.tasks import run_tasks

DESCRIPTION = """\
Read VESK containers and write their data as JSON text: each to standard output, one document per line
when minified, or to OUT.json with -o (one input only; '-' is standard output), or to DIR/IN.json with
--out-dir. '-' as an input reads standard input. Object keys come out in byte order and each float as the
shortest decimal that reads back as the same 32-bit float. Exit status: 0 when every file was written, 1
when any failed, 2 for arguments that do not work together."""


def add_parser(commands: argparse._SubParsersAction) -> None:
    parser = commands.add_parser("decode", help="write .vesk files back as JSON", description=DESCRIPTION)
    parser.add_argument("inputs", nargs="+", metavar="IN.vesk", help="VESK files or '-'")
    target = parser.add_mutually_exclusive_group()
    target.add_argument("-o", "--output", metavar="OUT.json", help="output file (default: standard output)")
    target.add_argument("--out-dir", metavar="DIR", help="directory for the .json files")
    parser.add_argument("--indent", type=whole_number(0), metavar="N",
                        help="indent by N spaces (default: minified)")
    parser.add_argument("--allow-nan", action="store_true",
                        help="write infinities and NaNs as Infinity, -Infinity and NaN, as Python's json "
                             "module does (not JSON; without this such a file fails)")
    add_jobs_option(parser)
    parser.set_defaults(run=run)


@dataclass(frozen=True)
class Decoded:
    text: bytes | None  # for standard output; None once written to a file
    error: str | None


def decode_file(source: str, target: str, indent: int | None, allow_nan: bool) -> Decoded:
    try:
        data = read_bytes(source)
    except Exception as error:  # noqa: BLE001
        return Decoded(None, reason(error))
    try:
        text = json_document(data, indent, allow_nan)
    except (ValueError, TypeError, MemoryError) as error:
        return Decoded(None, describe_error(error))
    if target == STDIO:
        return Decoded(text, None)
    try:
        Path(target).write_bytes(text)
    except OSError as error:
        return Decoded(None, f"{target}: {reason(error)}")
    return Decoded(None, None)


def targets_for(args: argparse.Namespace) -> list[str] | str:
    inputs: list[str] = args.inputs
    if inputs.count(STDIO) > 1:
        return "standard input can be read only once"
    if args.output is not None:
        if len(inputs) != 1:
            return "-o takes one input; use --out-dir for several"
        return [args.output]
    if args.out_dir is not None:
        if STDIO in inputs:
            return "standard input has no name to put in --out-dir; use -o"
        return [in_directory(args.out_dir, stem(source) + ".json") for source in inputs]
    return [STDIO] * len(inputs)


def run(args: argparse.Namespace) -> int:
    targets = targets_for(args)
    if isinstance(targets, str):
        fail("decode", targets)
        return 2
    if args.out_dir is not None:
        try:
            Path(args.out_dir).mkdir(parents=True, exist_ok=True)
        except OSError as error:
            fail("decode", f"{args.out_dir}: {reason(error)}")
            return 2
    arguments = [(source, target, args.indent, args.allow_nan) for source, target in zip(args.inputs, targets)]
    # Documents go to standard output in input order, each as soon as those before it are out.
    pending: dict[int, Decoded] = {}
    next_out = 0
    status = 0
    in_process = [source == STDIO for source in args.inputs]
    for index, result in run_tasks(decode_file, arguments, args.jobs, None, in_process):
        pending[index] = result if isinstance(result, Decoded) else Decoded(None, describe_error(result))
        while next_out in pending:
            done = pending.pop(next_out)
            if done.error is not None:
                fail("decode", f"{shown(args.inputs[next_out])}: {done.error}")
                status = 1
            elif done.text is not None:
                sys.stdout.buffer.write(done.text)
            next_out += 1
    return status
