"""vesk inspect: what a container holds and where its bytes go."""

from __future__ import annotations

import argparse
import json
from typing import Any

import vesk
from vesk_cli.arguments import add_jobs_option, whole_number
from vesk_cli.output import count, describe_error, fail, percent
from vesk_cli.sources import STDIO, read_bytes, reason, shown
from vesk_cli.tasks import run_tasks

DESCRIPTION = """\
Show the parts of a VESK container: the header; how its bytes split between the definition block (every
object and array shape, stored once), the dictionary block (strings stored once and referenced) and the
data block; the shapes with their fields and types and how many values use each; the most referenced
dictionary strings; the values by type; and the size against the same data as minified JSON."""


def add_parser(commands: argparse._SubParsersAction) -> None:
    parser = commands.add_parser("inspect", help="show what .vesk files hold", description=DESCRIPTION)
    parser.add_argument("inputs", nargs="+", metavar="IN.vesk", help="VESK files or '-'")
    parser.add_argument("--top", type=whole_number(0), default=10, metavar="N",
                        help="list the N most used shapes and strings (default 10; 0 lists all)")
    parser.add_argument("--json", action="store_true", help="print everything as JSON, one object per line and file")
    add_jobs_option(parser)
    parser.set_defaults(run=run)


def inspect_file(source: str) -> dict[str, Any] | str:
    """The report of one file, or why there is none."""
    try:
        data = read_bytes(source)
    except Exception as error:  # noqa: BLE001
        return reason(error)
    try:
        report = inspect_container(data)
    except (ValueError, MemoryError) as error:
        return describe_error(error)
    report["file"] = shown(source)
    return report


def run(args: argparse.Namespace) -> int:
    if args.inputs.count(STDIO) > 1:
        fail("inspect", "standard input can be read only once")
        return 2
    pending: dict[int, dict[str, Any] | str] = {}
    next_out = 0
    status = 0
    in_process = [source == STDIO for source in args.inputs]
    arguments = [(source,) for source in args.inputs]
    for index, result in run_tasks(inspect_file, arguments, args.jobs, None, in_process):
        pending[index] = result if isinstance(result, (dict, str)) else describe_error(result)
        while next_out in pending:
            done = pending.pop(next_out)
            if isinstance(done, str):
                fail("inspect", f"{shown(args.inputs[next_out])}: {done}")
                status = 1
            elif args.json:
                print(json.dumps(done, ensure_ascii=False))
            else:
                print(("\n" if next_out else "") + render(done, args.top if args.top > 0 else None))
            next_out += 1
    return status


def inspect_container(data: bytes) -> dict[str, Any]:
    """Everything inspect shows, as plain data (the --json output)."""
    described = vesk._describe(data)
    offsets = described["offsets"]
    size = described["size"]
    header = described["header_size"]
    blocks = [
        {"block": "header", "offset": 0, "bytes": header},
        {"block": "unused", "offset": header, "bytes": offsets["definitions"] - header},
        {"block": "definitions", "offset": offsets["definitions"],
         "bytes": offsets["dictionary"] - offsets["definitions"]},
        {"block": "dictionary", "offset": offsets["dictionary"], "bytes": offsets["data"] - offsets["dictionary"]},
        {"block": "data", "offset": offsets["data"], "bytes": size - offsets["data"]},
    ]
    blocks = [block for block in blocks if block["block"] != "unused" or block["bytes"] > 0]
    try:
        # Infinities count as Python's json writes them: the size, not validity, is the point.
        json_size: int | None = len(vesk.to_json(data, allow_nan=True).encode())
        json_note = None
    except (ValueError, TypeError) as error:
        json_size, json_note = None, describe_error(error)
    dictionary = described["dictionary"]
    return {
        "version": described["version"],
        "size": size,
        "entries": described["entries"],
        "blocks": blocks,
        "definitions": described["definitions"],
        "dictionary": {
            "strings": len(dictionary),
            "text_bytes": sum(len(text.encode()) for text, _ in dictionary),
            "references": sum(uses for _, uses in dictionary),
            "entries": [{"string": text, "references": uses} for text, uses in dictionary],
        },
        "values": described["values"],
        "inline_string_bytes": described["inline_string_bytes"],
        "minified_json_bytes": json_size,
        "minified_json_note": json_note,
    }


SHAPE_WIDTH = 72


def shape_lines(definition: dict[str, Any]) -> list[str]:
    """An object shape as {name: Type, ...}, broken between fields; an array shape as [Type]."""
    if definition["fields"] is None:
        return [f"[{definition['elem_type']}]" if definition["elem_type"] is not None else definition["kind"]]
    parts = [f"{name}: {kind}" for name, kind in definition["fields"]]
    lines: list[str] = []
    current = "{"
    for i, part in enumerate(parts):
        piece = part + ("}" if i == len(parts) - 1 else ",")
        if len(current) > 1 and len(current) + 1 + len(piece) > SHAPE_WIDTH:
            lines.append(current)
            current = " " + piece
        else:
            current += ("" if current == "{" else " ") + piece
    lines.append(current if parts else "{}")
    return lines


def render(report: dict[str, Any], top: int | None) -> str:
    size = report["size"]
    lines = [f"{report['file']}: {size:,} bytes, VESK version {report['version']}, "
             f"{count(report['entries'], 'entry', 'entries')}"]
    if report["minified_json_bytes"] is not None:
        json_size = report["minified_json_bytes"]
        lines.append(f"  the same data as minified JSON: {json_size:,} bytes; this container is "
                     f"{percent(size, json_size)} of that")
    else:
        lines.append(f"  no JSON size: loads refuses the data ({report['minified_json_note']})")

    lines += ["", f"  {'block':<12} {'offset':>10} {'bytes':>12} {'share':>7}"]
    for block in report["blocks"]:
        lines.append(f"  {block['block']:<12} {block['offset']:>10,} {block['bytes']:>12,} "
                     f"{percent(block['bytes'], size):>7}")

    definitions = report["definitions"]
    compound = [d for d in definitions if d["fields"] is not None or d["elem_type"] is not None]
    objects = sum(1 for d in compound if d["fields"] is not None)
    lines += ["", f"definitions: {len(definitions):,} ({count(objects, 'object shape')}, "
                  f"{count(len(compound) - objects, 'array shape')}, "
                  f"{len(definitions) - len(compound):,} primitive)"]
    ranked = sorted(compound, key=lambda d: (-d["uses"], d["index"]))
    shown = ranked if top is None else ranked[:top]
    if shown:
        lines.append(f"  {'#':>5} {'kind':<6} {'uses':>10}  shape" +
                     ("" if len(shown) == len(ranked) else f"   (the {len(shown)} most used of {len(ranked)})"))
    for definition in shown:
        first, *rest = shape_lines(definition)
        lines.append(f"  {definition['index']:>5} {definition['kind']:<6} {definition['uses']:>10,}  {first}")
        lines += [" " * 27 + line for line in rest]

    dictionary = report["dictionary"]
    lines += ["", f"dictionary: {count(dictionary['strings'], 'string')} ({dictionary['text_bytes']:,} bytes "
                  f"of text), {count(dictionary['references'], 'reference')} from the data"]
    entries = sorted(dictionary["entries"], key=lambda e: -e["references"])
    shown_entries = entries if top is None else entries[:top]
    if shown_entries:
        lines.append(f"  {'references':>10}  string" + ("" if len(shown_entries) == len(entries)
                                                        else f"   (the {len(shown_entries)} most referenced)"))
    for entry in shown_entries:
        text = json.dumps(entry["string"], ensure_ascii=False)
        lines.append(f"  {entry['references']:>10,}  {text if len(text) <= 70 else text[:67] + '...'}")

    values = report["values"]
    strings = values["String"] + values["StrRef"]
    lines += ["", f"data: {count(sum(values.values()), 'value')}",
              f"  {values['Object']:,} objects, {values['Array']:,} arrays, {count(strings, 'string')} "
              f"({values['String']:,} inline with {report['inline_string_bytes']:,} bytes of text, "
              f"{values['StrRef']:,} dictionary references)",
              f"  {values['Int32']:,} Int32, {values['Uint32']:,} Uint32, {values['Float32']:,} Float32, "
              f"{values['Bool']:,} Bool, {values['Null']:,} Null"]
    return "\n".join(lines)
