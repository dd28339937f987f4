"""Peak memory of dumps and loads on a large document, each call in its own process."""

from __future__ import annotations

import json
import subprocess
import sys
import tempfile
from dataclasses import dataclass
from pathlib import Path
from typing import Callable

import msgpack

from documents import Document
from report import describe_error, grid, shorten

PROBE = Path(__file__).resolve().parent / "memory_probe.py"


@dataclass(frozen=True)
class Group:
    """A vesk function and the peers it is set beside, all probed on one document:
    the largest that the vesk function accepts."""

    vesk_probe: str
    peer_probes: tuple[str, ...]


GROUPS = (
    Group("vesk.dumps", ("orjson.loads", "msgpack.packb(orjson.loads)")),
    Group("vesk.loads", ("msgpack.unpackb",)),
)

# loads is also probed on this document, whose figure every run repeats in
# its summary: numbers in small arrays, the most objects per byte of text.
SUMMARY_DOCUMENT = "canada.json"
SUMMARY_TARGET = "3"


def _probe(function: str, path: Path, mode: str) -> dict:
    completed = subprocess.run(
        [sys.executable, str(PROBE), function, str(path), mode],
        capture_output=True, text=True, timeout=300, check=False,
    )
    lines = completed.stdout.strip().splitlines()
    if completed.returncode != 0 or not lines:
        return {"error": shorten(f"probe exited {completed.returncode}: {completed.stderr.strip()[-300:]}")}
    return json.loads(lines[-1])


def _input_file(function: str, doc: Document, directory: Path, vesk_dumps: Callable[[str], bytes]) -> Path:
    """The file the probe reads: the JSON text, or the function's own encoding."""
    if function == "vesk.loads":
        path, data = directory / f"{doc.name}.vesk", None
        try:
            data = vesk_dumps(doc.text)
        except Exception as error:
            raise RuntimeError(f"no input, dumps failed: {describe_error(error)}") from error
        path.write_bytes(data)
    elif function == "msgpack.unpackb":
        path = directory / f"{doc.name}.msgpack"
        path.write_bytes(msgpack.packb(doc.value))
    else:
        path = directory / doc.name
        path.write_text(doc.text, encoding="utf-8")
    return path


# loads against the decoders it is set beside, each on its own encoding of
# every document: peak memory over the memory of the objects returned.
LOADS_PEERS = {
    "msgspec.msgpack.decode": lambda value: __import__("msgspec").msgpack.encode(value),
    "ormsgpack.unpackb": lambda value: __import__("ormsgpack").packb(value),
    "marshal.loads": lambda value: __import__("marshal").dumps(value),
    "pickle.loads": lambda value: __import__("pickle").dumps(value, protocol=5),
}
LOADS_OBJECTS_TARGET = 1.2


def loads_objects_table(documents: list[Document], directory: Path, vesk_dumps) -> tuple[str, list[str]]:
    """Peak RSS growth of each decoder over its result's own objects
    (sys.getsizeof, each object once), per document, and the summary lines."""
    labels = ["vesk.loads", *LOADS_PEERS]
    rows, highest, refused = [], {label: None for label in labels}, []
    for doc in sorted(documents, key=lambda d: d.size, reverse=True):
        row = [doc.name, f"{doc.size / 1e6:.1f}"]
        for label in labels:
            path = directory / f"{doc.name}.{label}"
            try:
                path.write_bytes(vesk_dumps(doc.text) if label == "vesk.loads" else LOADS_PEERS[label](doc.value))
            except Exception as error:
                row.append("-")
                refused.append(f"  {label} on {doc.name}: no input: {describe_error(error)}")
                continue
            outcome = _probe(label, path, "rss")
            path.unlink()
            if "error" in outcome or not outcome.get("objects"):
                row.append("-")
                refused.append(f"  {label} on {doc.name}: {outcome.get('error', 'no objects')}")
                continue
            multiple = outcome["peak"] / outcome["objects"]
            row.append(f"{multiple:.2f}")
            if highest[label] is None or multiple > highest[label][0]:
                highest[label] = (multiple, doc.name)
        rows.append(row)

    def described(label):
        return "-" if highest[label] is None else f"{highest[label][0]:.2f} on {highest[label][1]}"

    line = (f"peak memory of loads over its result's own objects: highest {described('vesk.loads')} "
            f"(target <= {LOADS_OBJECTS_TARGET}); peers' highest: "
            + ", ".join(f"{label} {described(label)}" for label in LOADS_PEERS))
    parts = ["== Peak memory of loads over the memory of the objects it returns ==",
             "   each call in a fresh process that already holds its input; RSS growth during the call over",
             "   sys.getsizeof of every object of the result, each counted once (the peers each on their own",
             "   encoding of the document)", "", grid(["document", "JSON MB", *labels], rows), "", f"   {line}"]
    if refused:
        parts += ["", "   refused:", *refused]
    return "\n".join(parts) + "\n", [line]


def _measure(function: str, doc: Document, directory: Path, vesk_dumps) -> dict:
    try:
        path = _input_file(function, doc, directory, vesk_dumps)
    except RuntimeError as error:
        return {"error": str(error)}
    outcome = _probe(function, path, "rss")
    if "error" in outcome:
        return outcome
    traced = _probe(function, path, "tracemalloc")
    if "error" in traced:
        return traced
    return {"rss": outcome["peak"], "traced": traced["peak"], "methods": {outcome["method"], traced["method"]}}


def _row(function: str, doc: Document, outcome: dict) -> list[str]:
    return [function, doc.name, f"{doc.size / 1e6:.1f}",
            f"{outcome['rss'] / 1e6:.1f}", f"{outcome['rss'] / doc.size:.1f}x",
            f"{outcome['traced'] / 1e6:.1f}", f"{outcome['traced'] / doc.size:.1f}x"]


# Peak memory of dumps on each document, as a multiple of the JSON text.
DUMPS_MEMORY_TARGET = 2.0


def dumps_memory_by_document(documents: list[Document], directory: Path, vesk_dumps) -> tuple[list[list[str]], str]:
    """Rows of vesk.dumps on every document it accepts, and a summary line on the highest."""
    rows, highest = [], None
    for doc in sorted(documents, key=lambda d: d.size, reverse=True):
        outcome = _measure("vesk.dumps", doc, directory, vesk_dumps)
        if "error" in outcome:
            continue
        rows.append(_row("vesk.dumps", doc, outcome))
        multiple = max(outcome["rss"], outcome["traced"]) / doc.size
        if highest is None or multiple > highest[0]:
            highest = (multiple, doc.name)
    if highest is None:
        return rows, "   vesk.dumps peak memory: no document measured"
    return rows, (f"   vesk.dumps peak memory: highest {highest[0]:.1f}x of the JSON text (RSS or traced, whichever "
                  f"is larger) on {highest[1]} (target <= {DUMPS_MEMORY_TARGET:.0f}x), over {len(rows)} documents")


def memory_table(documents: list[Document], vesk_dumps: Callable[[str], bytes]) -> tuple[str, list[str]]:
    """The table, and the summary lines: loads on SUMMARY_DOCUMENT, dumps on every document."""
    by_size = sorted(documents, key=lambda d: d.size, reverse=True)
    rows, refusals, methods, lines = [], [], set(), []
    with tempfile.TemporaryDirectory(prefix="vesk-bench-") as tmp:
        directory = Path(tmp)
        for group in GROUPS:
            chosen = None
            for doc in by_size:
                outcome = _measure(group.vesk_probe, doc, directory, vesk_dumps)
                if "error" in outcome:
                    refusals.append(f"  {group.vesk_probe} on {doc.name}: {outcome['error']}")
                    continue
                chosen = doc
                rows.append(_row(group.vesk_probe, doc, outcome))
                methods |= outcome["methods"]
                break
            for peer in group.peer_probes:
                doc = chosen or by_size[0]
                outcome = _measure(peer, doc, directory, vesk_dumps)
                if "error" in outcome:
                    refusals.append(f"  {peer} on {doc.name}: {outcome['error']}")
                    continue
                rows.append(_row(peer, doc, outcome))
                methods |= outcome["methods"]
        for doc in documents:
            if doc.name != SUMMARY_DOCUMENT:
                continue
            outcome = _measure("vesk.loads", doc, directory, vesk_dumps)
            if "error" in outcome:
                refusals.append(f"  vesk.loads on {doc.name}: {outcome['error']}")
                continue
            rows.append(_row("vesk.loads", doc, outcome))
            methods |= outcome["methods"]
            lines.append(f"peak memory of loads on {doc.name}: RSS {outcome['rss'] / doc.size:.1f}x, traced "
                         f"{outcome['traced'] / doc.size:.1f}x the JSON text (target <= {SUMMARY_TARGET}x)")
        by_document, dumps_summary = dumps_memory_by_document(documents, directory, vesk_dumps)
        lines.append(dumps_summary.strip())
        objects_table, objects_lines = loads_objects_table(documents, directory, vesk_dumps)
        lines += objects_lines

    parts = ["== Peak memory of dumps and loads on the largest document each accepts ==",
             "   each call in a fresh process that already holds its input; x: multiple of the JSON text size",
             "   RSS: growth of the resident set during the call (Python and native memory alike; pages",
             "   touched), traced: tracemalloc peak during the call (bytes requested from Python's",
             "   allocators, touched or not; not the C++ heap)",
             f"   methods used: {', '.join(sorted(methods)) or '-'}",
             "", grid(["call", "document", "JSON MB", "RSS MB", "RSS x", "traced MB", "traced x"], rows),
             "", "   vesk.dumps on every document it accepts (RSS counts whole pages: below about 0.1 MB it is coarse)",
             "", grid(["call", "document", "JSON MB", "RSS MB", "RSS x", "traced MB", "traced x"], by_document),
             "", dumps_summary]
    if refusals:
        parts += ["", "   refused:", *refusals]
    parts += ["", objects_table]
    return "\n".join(parts) + "\n", lines
