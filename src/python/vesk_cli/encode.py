"""vesk encode: JSON files to .vesk, several at a time, here or on a Dask cluster."""

from __future__ import annotations

import argparse
import sys
from dataclasses import dataclass
from pathlib import Path
from typing import TextIO

import vesk
from vesk_cli.arguments import add_jobs_option, add_progress_option, add_scheduler_option
from vesk_cli.output import count, describe_error, fail, percent, size
from vesk_cli.progress import Progress
from vesk_cli.sources import (STDIO, MissingExtra, expand, in_directory, is_url, read_bytes, reason, same_place,
                              shown, size_of, stem, url_filesystem, with_suffix)
from vesk_cli.tasks import SchedulerUnreachable, run_tasks

DESCRIPTION = """\
Compile JSON files to VESK. Each IN.json becomes IN.vesk beside it, or DIR/IN.vesk with --out-dir, or OUT
with -o (one input only); '-' reads standard input or writes standard output, and fsspec URLs (s3://...,
memory://...) name files and directories elsewhere. An existing output is left alone unless --force. Files
are compiled in parallel, one process per core unless -j says otherwise, or on a Dask cluster with
--scheduler. A summary follows, with the files whose numbers are narrowed so that they read back changed
(integers that wrap, floats that become infinite or zero); --strict refuses such files instead. Exit
status: 0 when every file was written, 1 when any failed, 2 for arguments that do not work together."""


def add_parser(commands: argparse._SubParsersAction) -> None:
    parser = commands.add_parser("encode", help="compile JSON files to .vesk", description=DESCRIPTION)
    parser.add_argument("inputs", nargs="+", metavar="IN.json", help="JSON files (UTF-8), '-' or URLs")
    target = parser.add_mutually_exclusive_group()
    target.add_argument("-o", "--output", metavar="OUT", help="output file, '-' or URL (one input only)")
    target.add_argument("--out-dir", metavar="DIR", help="directory or URL for the .vesk files")
    parser.add_argument("--force", action="store_true", help="overwrite outputs that exist")
    parser.add_argument("--strict", action="store_true",
                        help="refuse a file with a number that would not read back as written (vesk.LossError)")
    add_jobs_option(parser)
    add_scheduler_option(parser)
    add_progress_option(parser)
    parser.set_defaults(run=run)


@dataclass(frozen=True)
class Outcome:
    input_bytes: int
    output_bytes: int
    error: str | None
    narrowed: int = 0  # numbers that read back changed, which --strict refuses
    first_narrowed: str | None = None  # the JSON path of the first


def encode_file(source: str, target: str, force: bool, strict: bool = False) -> Outcome:
    """Compiles one file. Runs in a worker process or on a cluster's worker, so it returns its error as text.
    The container is made before the output is touched: text that fails leaves no file behind."""
    input_bytes = 0
    try:
        raw = read_bytes(source)
    except Exception as error:  # noqa: BLE001 - fsspec's back ends raise their own kinds
        return Outcome(0, 0, reason(error))
    input_bytes = len(raw)
    narrowed, first_narrowed = 0, None
    try:
        if strict:
            container = vesk.dumps(raw.decode("utf-8"), strict=True)
        else:
            container, narrowed, first_narrowed = vesk._dumps_counting(raw.decode("utf-8"))
    except UnicodeDecodeError as error:
        return Outcome(input_bytes, 0, f"not UTF-8 text: {error}")
    except (ValueError, TypeError, MemoryError, RecursionError) as error:
        return Outcome(input_bytes, 0, describe_error(error))
    try:
        write_output(target, container, force)
    except FileExistsError:
        return Outcome(input_bytes, 0, f"{target} exists; --force overwrites it")
    except Exception as error:  # noqa: BLE001
        return Outcome(input_bytes, 0, f"{target}: {reason(error)}")
    return Outcome(input_bytes, len(container), None, narrowed, first_narrowed)


def write_output(target: str, container: bytes, force: bool) -> None:
    if target == STDIO:
        sys.stdout.buffer.write(container)
        sys.stdout.buffer.flush()
    elif is_url(target):
        fs, path = url_filesystem(target)
        if not force and fs.exists(path):
            raise FileExistsError(target)
        fs.makedirs(fs._parent(path), exist_ok=True)
        with fs.open(path, "wb") as file:
            file.write(container)
    elif force:
        Path(target).write_bytes(container)
    else:
        # Exclusive creation: no other run slips in between a check and the write.
        with open(target, "xb") as file:
            file.write(container)


def targets_for(args: argparse.Namespace, inputs: list[str]) -> list[str] | str:
    """Where each input goes, or why the arguments do not work together."""
    if args.output is not None:
        if len(inputs) != 1:
            return "-o takes one input; use --out-dir for several"
        targets = [args.output]
    elif args.out_dir is not None:
        if STDIO in inputs:
            return "standard input has no name to put in --out-dir; use -o"
        targets = [in_directory(args.out_dir, stem(source) + ".vesk") for source in inputs]
    else:
        targets = [STDIO if source == STDIO else with_suffix(source, ".vesk") for source in inputs]
    if inputs.count(STDIO) > 1:
        return "standard input can be read only once"
    if STDIO in targets and sys.stdout.isatty():
        return "will not write binary VESK to a terminal; use -o FILE or redirect standard output"
    seen: dict[str, str] = {}
    for source, target in zip(inputs, targets):
        if target == STDIO:
            continue
        if source != STDIO and same_place(source, target):
            return f"{source}: output would overwrite the input"
        key = target if is_url(target) else str(Path(target).resolve())
        other = seen.setdefault(key, source)
        if other != source:
            return f"{shown(other)} and {shown(source)} would both be written to {target}"
    return targets


def run(args: argparse.Namespace) -> int:
    try:
        inputs = expand(args.inputs)
        targets = targets_for(args, inputs)
        if isinstance(targets, str):
            fail("encode", targets)
            return 2
        if args.out_dir is not None and not is_url(args.out_dir):
            try:
                Path(args.out_dir).mkdir(parents=True, exist_ok=True)
            except OSError as error:
                fail("encode", f"{args.out_dir}: {error.strerror or error}")
                return 2
        jobs = list(zip(inputs, targets))
        outcomes = run_jobs(jobs, args)
    except (MissingExtra, SchedulerUnreachable) as error:
        fail("encode", str(error))
        return 2
    # The summary keeps out of the way of a container written to standard output.
    return report(jobs, outcomes, sys.stderr if STDIO in targets else sys.stdout)


def run_jobs(jobs: list[tuple[str, str]], args: argparse.Namespace) -> list[Outcome]:
    sizes = [size_of(source) for source, _ in jobs]
    total_bytes = None if args.scheduler or None in sizes else sum(s or 0 for s in sizes)
    progress = Progress(len(jobs), total_bytes, "encode", not args.no_progress)
    outcomes: list[Outcome] = [Outcome(0, 0, "not run")] * len(jobs)
    arguments = [(source, target, args.force, args.strict) for source, target in jobs]
    in_process = [STDIO in job for job in jobs]
    try:
        for i, result in run_tasks(encode_file, arguments, args.jobs, args.scheduler, in_process):
            outcomes[i] = result if isinstance(result, Outcome) else Outcome(0, 0, f"worker failed: "
                                                                                    f"{describe_error(result)}")
            progress.advance(outcomes[i].input_bytes)
    finally:
        progress.close()
    return outcomes


def report(jobs: list[tuple[str, str]], outcomes: list[Outcome], out: TextIO) -> int:
    failures = [(source, outcome.error) for (source, _), outcome in zip(jobs, outcomes) if outcome.error]
    done = [outcome for outcome in outcomes if outcome.error is None]
    bytes_in = sum(outcome.input_bytes for outcome in done)
    bytes_out = sum(outcome.output_bytes for outcome in done)
    line = f"encoded {len(done):,} of {count(len(jobs), 'file')}: {size(bytes_in)} of JSON -> {size(bytes_out)} of VESK"
    if bytes_in:
        line += f" ({percent(bytes_out, bytes_in)} of the input)"
    print(line, file=out)
    narrowing = [(source, outcome) for (source, _), outcome in zip(jobs, outcomes) if outcome.narrowed]
    if narrowing:
        print(f"{count(len(narrowing), 'file')} with numbers that read back changed (--strict refuses them):",
              file=out)
        for source, outcome in narrowing:
            print(f"  {shown(source)}: {count(outcome.narrowed, 'value')}, the first at {outcome.first_narrowed}",
                  file=out)
    if failures:
        print(f"{count(len(failures), 'file')} failed:", file=sys.stderr)
        for source, error in failures:
            print(f"  {shown(source)}: {error}", file=sys.stderr)
        return 1
    return 0
