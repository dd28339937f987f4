"""vesk check: what a round trip through VESK changes in a JSON document.

The document is compiled and read back by the module itself
(vesk.loads(vesk.dumps(text))), and the result is compared with what the
standard library's JSON reader makes of the same text. Every difference is
classified, so the answer follows the codec as it is, not a model of it.
"""

from __future__ import annotations

import argparse
import json
import math
from dataclasses import dataclass, field
from typing import Any

import vesk
from vesk_cli.arguments import add_jobs_option, add_progress_option, add_scheduler_option, whole_number
from vesk_cli.output import child_path, describe_error, fail, jsonable
from vesk_cli.progress import Progress
from vesk_cli.sources import STDIO, MissingExtra, expand, read_bytes, reason, shown
from vesk_cli.tasks import SchedulerUnreachable, run_tasks

DESCRIPTION = """\
Compile each JSON document to VESK, read it back, and list what changed: integers that wrap to 32 bits or
are kept unsigned, floats that lose digits or become infinity or zero, integers in arrays with floats that
become floats, objects whose keys come back in byte order, repeated keys, and documents that would be
refused, with the codec's own message. '-' reads standard input; fsspec URLs (s3://..., memory://...) name
files elsewhere; -j checks files in parallel, --scheduler on a Dask cluster. Exit status: 0 when every
document reads back with the same values (key order aside), 1 when a value changes, a document is refused
or a file cannot be read, 2 for arguments that do not work together."""

INT32 = 2**31
INT64 = 2**63
UINT64 = 2**64

# Kind of change -> what the text report calls it.
KINDS = {
    "integer-wraps": "integers beyond 32 bits, wrapped to their low 32 bits",
    "integer-unsigned": "integers from 2**63 up, kept as their low 32 bits, unsigned",
    "integer-becomes-float": "integers beyond 64 bits, read back as 32-bit floats",
    "negative-zero": "-0, read back as the float -0.0",
    "mixed-array-float": "integers in arrays that also hold floats, read back as floats",
    "float-loses-digits": "floats rounded to the nearest 32-bit float",
    "float-infinity": "floats too large for 32 bits, read back as infinity",
    "float-zero": "floats too small for 32 bits, read back as zero",
    "other": "other changes",
}
ORDER_KIND = "key-order"
DUPLICATE_KIND = "duplicate-key"


def add_parser(commands: argparse._SubParsersAction) -> None:
    parser = commands.add_parser("check", help="show what a round trip through VESK changes in JSON",
                                 description=DESCRIPTION)
    parser.add_argument("inputs", nargs="+", metavar="IN.json", help="JSON files, '-' or URLs")
    parser.add_argument("--examples", type=whole_number(0), default=3, metavar="N",
                        help="examples shown per kind of change (default 3; 0 shows all)")
    parser.add_argument("--json", action="store_true", help="print the findings as JSON, one object per line and file")
    add_jobs_option(parser)
    add_scheduler_option(parser)
    add_progress_option(parser)
    parser.set_defaults(run=run)


@dataclass
class Finding:
    kind: str
    path: str
    before: Any
    after: Any


@dataclass
class Report:
    file: str
    refused: dict[str, str] | None = None
    findings: list[Finding] = field(default_factory=list)
    reordered_objects: list[str] = field(default_factory=list)
    duplicate_keys: list[str] = field(default_factory=list)

    @property
    def status(self) -> int:
        return 1 if self.refused or self.findings else 0


def check_file(source: str) -> Report | str:
    """The report of one file, or why it cannot be read. Runs in a worker process or on a cluster."""
    try:
        text = read_bytes(source).decode("utf-8")
    except UnicodeDecodeError as error:
        return f"not UTF-8 text: {error}"
    except Exception as error:  # noqa: BLE001 - fsspec's back ends raise their own kinds
        return reason(error)
    return check_text(text, shown(source))


def run(args: argparse.Namespace) -> int:
    try:
        inputs = expand(args.inputs)
    except MissingExtra as error:
        fail("check", str(error))
        return 2
    if inputs.count(STDIO) > 1:
        fail("check", "standard input can be read only once")
        return 2
    progress = Progress(len(inputs), None, "check", not args.no_progress and not args.json)
    pending: dict[int, Report | str] = {}
    next_out = 0
    worst = 0
    in_process = [source == STDIO for source in inputs]
    try:
        for index, result in run_tasks(check_file, [(source,) for source in inputs], args.jobs, args.scheduler,
                                       in_process):
            pending[index] = result if isinstance(result, (Report, str)) else f"worker failed: " \
                                                                                 f"{describe_error(result)}"
            progress.advance(0)
            while next_out in pending:
                done = pending.pop(next_out)
                if isinstance(done, str):
                    fail("check", f"{shown(inputs[next_out])}: {done}")
                    worst = 1
                else:
                    progress.print(json.dumps(as_json(done), ensure_ascii=False, allow_nan=False) if args.json
                                   else render(done, args.examples if args.examples > 0 else None))
                    worst = max(worst, done.status)
                next_out += 1
    except (MissingExtra, SchedulerUnreachable) as error:
        fail("check", str(error))
        return 2
    finally:
        progress.close()
    return worst


def check_text(text: str, name: str) -> Report:
    """The round trip of one JSON text, compared with the standard library's reading of it."""
    report = Report(name)
    try:
        container = vesk.dumps(text)
    except ValueError as error:
        report.refused = refusal("dumps", error)
        return report
    try:
        original = json.loads(text, object_pairs_hook=DuplicateWatch(report.duplicate_keys))
    except ValueError as error:
        report.refused = {"stage": "json", "error": type(error).__name__,
                          "message": f"the standard library cannot read the text to compare: {error}", "path": None}
        return report
    try:
        result = vesk.loads(container)
    except ValueError as error:
        report.refused = refusal("loads", error)
        return report
    compare(original, result, "$", False, report)
    return report


def refusal(stage: str, error: ValueError) -> dict[str, Any]:
    """What a refusal says: its class and message, and the path of the value refused (None when it is not
    about one value: a text that is not JSON, whose message says where)."""
    return {"stage": stage, "error": type(error).__name__, "message": str(error), "path": getattr(error, "path", None)}


class DuplicateWatch:
    """object_pairs_hook that notes repeated keys; like vesk, it keeps the last value."""

    def __init__(self, found: list[str]) -> None:
        self.found = found

    def __call__(self, pairs: list[tuple[str, Any]]) -> dict[str, Any]:
        result = dict(pairs)
        if len(result) != len(pairs):
            seen: set[str] = set()
            self.found.extend(key for key, _ in pairs if key in seen or seen.add(key))  # type: ignore[func-returns-value]
        return result


def compare(before: Any, after: Any, path: str, beside_floats: bool, report: Report) -> None:
    if isinstance(before, dict) and isinstance(after, dict) and before.keys() == after.keys():
        if list(before) != list(after):
            report.reordered_objects.append(path)
        for key, value in before.items():
            compare(value, after[key], child_path(path, key), False, report)
        return
    if isinstance(before, list) and isinstance(after, list) and len(before) == len(after):
        has_float = any(isinstance(item, float) for item in before)
        for index, (item, back) in enumerate(zip(before, after)):
            compare(item, back, child_path(path, index), has_float, report)
        return
    kind = classify(before, after, beside_floats)
    if kind is not None:
        report.findings.append(Finding(kind, path, before, after))


def same_number(before: float, after: float) -> bool:
    return before == after and math.copysign(1.0, before) == math.copysign(1.0, after)


def classify(before: Any, after: Any, beside_floats: bool) -> str | None:
    """The kind of change from `before` to `after`, None when there is none."""
    if type(before) is type(after) and before == after and not isinstance(before, (dict, list)):
        return None if not isinstance(before, float) or same_number(before, after) else "float-loses-digits"
    if type(before) is int and type(after) is int:
        return "integer-unsigned" if before >= INT64 else "integer-wraps"
    if type(before) is int and type(after) is float:
        if not -INT64 <= before < UINT64:
            return "integer-becomes-float"
        if before == 0 and math.copysign(1.0, after) < 0:
            return "negative-zero"
        return "mixed-array-float" if beside_floats else "other"
    if type(before) is float and type(after) is float:
        if math.isinf(after) and not math.isinf(before):
            return "float-infinity"
        if after == 0.0 and before != 0.0:
            return "float-zero"
        return "float-loses-digits"
    return "other"


def render(report: Report, examples: int | None) -> str:
    if report.refused is not None:
        stage = {"dumps": "vesk.dumps refuses it", "loads": "vesk.loads refuses what vesk.dumps wrote",
                 "json": "cannot compare"}[report.refused["stage"]]
        text = f"{report.file}: refused: {stage}\n  {report.refused['error']}: {report.refused['message']}"
        if report.refused.get("path") is not None:
            text += f"\n      at {report.refused['path']}"
        return text
    if not report.findings and not report.reordered_objects and not report.duplicate_keys:
        return f"{report.file}: reads back unchanged"
    headline = "values change" if report.findings else "values read back unchanged"
    lines = [f"{report.file}: {headline}"]
    by_kind: dict[str, list[Finding]] = {}
    for finding in report.findings:
        by_kind.setdefault(finding.kind, []).append(finding)
    for kind, label in KINDS.items():
        found = by_kind.get(kind, [])
        if not found:
            continue
        lines.append(f"  {label}: {len(found):,}")
        for finding in found if examples is None else found[:examples]:
            lines.append(f"      {finding.path}: {show(finding.before)} -> {show(finding.after)}")
        if examples is not None and len(found) > examples:
            lines.append(f"      ... and {len(found) - examples:,} more")
    if report.reordered_objects:
        shown = report.reordered_objects if examples is None else report.reordered_objects[:examples]
        lines.append(f"  objects whose keys come back in byte order, not as written: "
                     f"{len(report.reordered_objects):,}: {', '.join(shown)}" +
                     ("" if len(shown) == len(report.reordered_objects) else ", ..."))
    if report.duplicate_keys:
        names = sorted(set(report.duplicate_keys))
        lines.append(f"  repeated keys, of which the last value is kept: {len(report.duplicate_keys):,}: "
                     f"{', '.join(json.dumps(name, ensure_ascii=False) for name in names[:10])}")
    return "\n".join(lines)


def show(value: Any) -> str:
    text = json.dumps(value, ensure_ascii=False) if not isinstance(value, float) else repr(value)
    return text if len(text) <= 60 else text[:57] + "..."


def as_json(report: Report) -> dict[str, Any]:
    counts: dict[str, int] = {}
    for finding in report.findings:
        counts[finding.kind] = counts.get(finding.kind, 0) + 1
    return {
        "file": report.file,
        "status": report.status,
        "refused": report.refused,
        "changes": counts,
        "findings": [{"kind": f.kind, "path": f.path, "before": jsonable(f.before), "after": jsonable(f.after)}
                     for f in report.findings],
        ORDER_KIND: report.reordered_objects,
        DUPLICATE_KIND: report.duplicate_keys,
    }
