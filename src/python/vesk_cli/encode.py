"""vesk encode: JSON files to .vesk, several at a time."""

from __future__ import annotations

import argparse
import os
import sys
from concurrent.futures import ProcessPoolExecutor, as_completed
from dataclasses import dataclass
from pathlib import Path

import vesk
from vesk_cli.output import count, describe_error, fail, percent, size
from vesk_cli.progress import Progress

DESCRIPTION = """\
Compile JSON files to VESK. Each IN.json becomes IN.vesk beside it, or DIR/IN.vesk with --out-dir, or OUT
with -o (one input only). Several files are compiled in parallel, one process per core unless -j says
otherwise. A summary follows; the exit status is 1 when any file failed."""


def add_parser(commands: argparse._SubParsersAction) -> None:
    parser = commands.add_parser("encode", help="compile JSON files to .vesk", description=DESCRIPTION)
    parser.add_argument("inputs", nargs="+", metavar="IN.json", type=Path, help="JSON files (UTF-8)")
    target = parser.add_mutually_exclusive_group()
    target.add_argument("-o", "--output", metavar="OUT", type=Path, help="output file (one input only)")
    target.add_argument("--out-dir", metavar="DIR", type=Path, help="directory for the .vesk files")
    parser.add_argument("-j", "--jobs", type=int, default=os.cpu_count() or 1, metavar="N",
                        help="parallel processes (default: one per core)")
    parser.add_argument("--no-progress", action="store_true", help="draw no progress bar")
    parser.set_defaults(run=run)


@dataclass(frozen=True)
class Outcome:
    input_bytes: int
    output_bytes: int
    error: str | None


def encode_file(source: Path, target: Path) -> Outcome:
    """Compiles one file. Runs in a worker process, so it returns its error as text."""
    input_bytes = 0
    try:
        raw = source.read_bytes()
        input_bytes = len(raw)
        text = raw.decode("utf-8")
        vesk.dump(text, target)
        return Outcome(input_bytes, target.stat().st_size, None)
    except UnicodeDecodeError as error:
        return Outcome(input_bytes, 0, f"not UTF-8 text: {error}")
    except OSError as error:
        return Outcome(input_bytes, 0, f"{type(error).__name__}: {error.strerror or error}")
    except (ValueError, TypeError, MemoryError, RecursionError) as error:
        return Outcome(input_bytes, 0, describe_error(error))


def targets_for(args: argparse.Namespace) -> list[Path] | str:
    """Where each input goes, or why the arguments do not work together."""
    inputs: list[Path] = args.inputs
    if args.output is not None:
        if len(inputs) != 1:
            return "-o takes one input; use --out-dir for several"
        targets = [args.output]
    elif args.out_dir is not None:
        targets = [args.out_dir / (source.stem + ".vesk") for source in inputs]
    else:
        targets = [source.with_suffix(".vesk") for source in inputs]
    seen: dict[Path, Path] = {}
    for source, target in zip(inputs, targets):
        if target.resolve() == source.resolve():
            return f"{source}: output would overwrite the input"
        other = seen.setdefault(target.resolve(), source)
        if other != source:
            return f"{other} and {source} would both be written to {target}"
    return targets


def run(args: argparse.Namespace) -> int:
    targets = targets_for(args)
    if isinstance(targets, str):
        fail("encode", targets)
        return 2
    if args.jobs < 1:
        fail("encode", "-j needs at least 1")
        return 2
    if args.out_dir is not None:
        try:
            args.out_dir.mkdir(parents=True, exist_ok=True)
        except OSError as error:
            fail("encode", f"{args.out_dir}: {error.strerror or error}")
            return 2
    jobs = list(zip(args.inputs, targets))
    outcomes = run_jobs(jobs, args.jobs, not args.no_progress)
    return report(jobs, outcomes)


def run_jobs(jobs: list[tuple[Path, Path]], workers: int, show_progress: bool) -> list[Outcome]:
    total_bytes = sum(source.stat().st_size for source, _ in jobs if source.is_file())
    outcomes: list[Outcome | None] = [None] * len(jobs)
    if workers == 1 or len(jobs) == 1:
        progress = Progress(len(jobs), total_bytes, "encode", show_progress)
        for i, (source, target) in enumerate(jobs):
            outcomes[i] = encode_file(source, target)
            progress.advance(outcomes[i].input_bytes)  # type: ignore[union-attr]
        progress.close()
    else:
        with ProcessPoolExecutor(max_workers=min(workers, len(jobs))) as pool:
            # Every task is queued before the bar (and any thread of its own)
            # exists, so the workers are forked from a single-threaded process.
            futures = {pool.submit(encode_file, source, target): i for i, (source, target) in enumerate(jobs)}
            progress = Progress(len(jobs), total_bytes, "encode", show_progress)
            for future in as_completed(futures):
                outcome = future.result()
                outcomes[futures[future]] = outcome
                progress.advance(outcome.input_bytes)
            progress.close()
    return [outcome for outcome in outcomes if outcome is not None]


def report(jobs: list[tuple[Path, Path]], outcomes: list[Outcome]) -> int:
    failures = [(source, outcome.error) for (source, _), outcome in zip(jobs, outcomes) if outcome.error]
    done = [outcome for outcome in outcomes if outcome.error is None]
    bytes_in = sum(outcome.input_bytes for outcome in done)
    bytes_out = sum(outcome.output_bytes for outcome in done)
    line = f"encoded {len(done):,} of {count(len(jobs), 'file')}: {size(bytes_in)} of JSON -> {size(bytes_out)} of VESK"
    if bytes_in:
        line += f" ({percent(bytes_out, bytes_in)} of the input)"
    print(line)
    if failures:
        print(f"{count(len(failures), 'file')} failed:", file=sys.stderr)
        for source, error in failures:
            print(f"  {source}: {error}", file=sys.stderr)
        return 1
    return 0
