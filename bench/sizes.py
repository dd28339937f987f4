"""Encoded sizes, raw and after zstd level 3."""

from __future__ import annotations

from typing import Any, Callable

import cbor2
import msgpack
import orjson
import zstandard

from documents import Document
from report import Refusals, describe_error, grid, kilobytes

ZSTD_LEVEL = 3


def encodings(vesk_dumps: Callable[[str], bytes]) -> list[tuple[str, Callable[[Document], bytes]]]:
    return [
        ("min JSON", lambda doc: orjson.dumps(doc.value)),
        ("VESK", lambda doc: vesk_dumps(doc.text)),
        ("msgpack", lambda doc: msgpack.packb(doc.value)),
        ("CBOR", lambda doc: cbor2.dumps(doc.value)),
    ]


def size_table(documents: list[Document], vesk_dumps: Callable[[str], bytes]) -> str:
    compressor = zstandard.ZstdCompressor(level=ZSTD_LEVEL)
    codecs = encodings(vesk_dumps)
    labels = [label for label, _ in codecs]
    refusals = Refusals()
    rows = []
    for doc in documents:
        raw: dict[str, Any] = {}
        packed: dict[str, Any] = {}
        for label, encode in codecs:
            try:
                data = encode(doc)
            except Exception as error:
                raw[label] = packed[label] = refusals.mark(label, describe_error(error), doc.name)
                continue
            raw[label] = len(data)
            packed[label] = len(compressor.compress(data))
        rows.append([doc.name, kilobytes(doc.size),
                     *(_show(raw[label]) for label in labels),
                     *(_show(packed[label]) for label in labels),
                     _percent(raw["VESK"], raw["min JSON"]),
                     _percent(packed["VESK"], packed["min JSON"])])
    header = ["document", "JSON", *labels, *(f"{label}+z" for label in labels), "VESK/min", "VESK+z/min+z"]
    parts = ["== Sizes (KB) ==",
             "   JSON: the file as stored; min JSON: minified (orjson.dumps); +z: after zstd level 3",
             "   VESK/min: VESK bytes as % of minified JSON; VESK narrows numbers to 32 bits, the others keep",
             "   64-bit integers and doubles, so number-heavy documents are not like for like",
             "", grid(header, rows)]
    footnotes = refusals.lines()
    if footnotes:
        parts += ["", "   refused:", *footnotes]
    return "\n".join(parts) + "\n"


def _show(value: Any) -> str:
    return kilobytes(value) if isinstance(value, int) else str(value)


def _percent(part: Any, whole: Any) -> str:
    if isinstance(part, int) and isinstance(whole, int) and whole > 0:
        return f"{100.0 * part / whole:.0f}%"
    return "-"
