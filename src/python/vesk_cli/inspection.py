"""vesk inspect: what a container holds and where its bytes go."""

from __future__ import annotations

import argparse
import json
import sys
from pathlib import Path
from typing import Any

import vesk
from vesk_cli.output import count, describe_error, fail, minified_json, percent

HEADER_SIZE = 13

DESCRIPTION = """\
Show the parts of a VESK container: the header; how its bytes split between the definition block (every
object and array shape, stored once), the dictionary block (strings stored once and referenced) and the
data block; the shapes with their fields and types and how many values use each; the most referenced
dictionary strings; the values by type; and the size against the same data as minified JSON."""


def add_parser(commands: argparse._SubParsersAction) -> None:
    parser = commands.add_parser("inspect", help="show what a .vesk file holds", description=DESCRIPTION)
    parser.add_argument("input", metavar="IN.vesk", type=Path)
    parser.add_argument("--top", type=int, default=10, metavar="N",
                        help="list the N most used shapes and strings (default 10; 0 lists all)")
    parser.add_argument("--json", action="store_true", help="print everything as one JSON object")
    parser.set_defaults(run=run)


def run(args: argparse.Namespace) -> int:
    try:
        data = args.input.read_bytes()
        report = inspect_container(data)
    except OSError as error:
        fail("inspect", f"{args.input}: {error.strerror or error}")
        return 1
    except ValueError as error:
        fail("inspect", f"{args.input}: {describe_error(error)}")
        return 1
    report["file"] = str(args.input)
    if args.json:
        json.dump(report, sys.stdout, ensure_ascii=False, indent=2)
        print()
    else:
        print(render(report, args.top if args.top > 0 else None))
    return 0


def inspect_container(data: bytes) -> dict[str, Any]:
    """Everything inspect shows, as plain data (the --json output)."""
    described = vesk._describe(data)
    offsets = described["offsets"]
    size = described["size"]
    blocks = [
        {"block": "header", "offset": 0, "bytes": HEADER_SIZE},
        {"block": "unused", "offset": HEADER_SIZE, "bytes": offsets["definitions"] - HEADER_SIZE},
        {"block": "definitions", "offset": offsets["definitions"],
         "bytes": offsets["dictionary"] - offsets["definitions"]},
        {"block": "dictionary", "offset": offsets["dictionary"], "bytes": offsets["data"] - offsets["dictionary"]},
        {"block": "data", "offset": offsets["data"], "bytes": size - offsets["data"]},
    ]
    blocks = [block for block in blocks if block["block"] != "unused" or block["bytes"] > 0]
    try:
        json_size: int | None = len(minified_json(vesk.loads(data)))
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
