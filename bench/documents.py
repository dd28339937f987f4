"""The benchmark documents: the test corpus, read once, in a few forms."""

from __future__ import annotations

import json
import lzma
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any

# Kept xz-compressed (name.json.xz); a directory of plain .json files works too.
DEFAULT_CORPUS = Path(__file__).resolve().parent.parent / "tests" / "data" / "corpus"


@dataclass
class Document:
    name: str
    text: str
    size: int  # bytes of the JSON text as stored
    value: Any = field(repr=False)  # the parsed Python objects
    value_without_none: Any = field(repr=False)
    size_without_none: int  # bytes of the minified JSON text of that copy


def without_none(value: Any) -> Any:
    """A copy with every None dropped: dict members that hold None and None
    items of lists. Everything else is kept in order."""
    if isinstance(value, dict):
        return {k: without_none(v) for k, v in value.items() if v is not None}
    if isinstance(value, list):
        return [without_none(v) for v in value if v is not None]
    return value


def minified(value: Any) -> bytes:
    return json.dumps(value, separators=(",", ":"), ensure_ascii=False).encode("utf-8")


def document_name(path: Path) -> str:
    """twitter.json for twitter.json and twitter.json.xz alike."""
    return path.name.removesuffix(".xz")


def read_document(path: Path) -> bytes:
    """The JSON text as stored, decompressed if the file is .json.xz."""
    raw = path.read_bytes()
    return lzma.decompress(raw) if path.suffix == ".xz" else raw


def load_document(path: Path) -> Document:
    raw = read_document(path)
    text = raw.decode("utf-8")
    value = json.loads(text)
    stripped = without_none(value)
    return Document(
        name=document_name(path),
        text=text,
        size=len(raw),
        value=value,
        value_without_none=stripped,
        size_without_none=len(minified(stripped)),
    )


def corpus_paths(directory: Path, only: list[str] | None = None) -> list[Path]:
    paths = sorted(p for p in directory.iterdir() if document_name(p).endswith(".json"))
    if only:
        wanted = set(only)
        names = {document_name(p) for p in paths}
        unknown = wanted - names - {name.removesuffix(".json") for name in names}
        if unknown:
            raise SystemExit(f"no such document in {directory}: {', '.join(sorted(unknown))}")
        paths = [p for p in paths
                 if document_name(p) in wanted or document_name(p).removesuffix(".json") in wanted]
    return paths
