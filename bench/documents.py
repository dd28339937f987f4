"""The benchmark documents: the shared corpus, read once, in a few forms."""

from __future__ import annotations

import json
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any

DEFAULT_CORPUS = Path(__file__).resolve().parent.parent.parent / "shared" / "data" / "corpus"


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


def load_document(path: Path) -> Document:
    raw = path.read_bytes()
    text = raw.decode("utf-8")
    value = json.loads(text)
    stripped = without_none(value)
    return Document(
        name=path.name,
        text=text,
        size=len(raw),
        value=value,
        value_without_none=stripped,
        size_without_none=len(minified(stripped)),
    )


def corpus_paths(directory: Path, only: list[str] | None = None) -> list[Path]:
    paths = sorted(p for p in directory.iterdir() if p.suffix == ".json")
    if only:
        wanted = set(only)
        unknown = wanted - {p.name for p in paths} - {p.stem for p in paths}
        if unknown:
            raise SystemExit(f"no such document in {directory}: {', '.join(sorted(unknown))}")
        paths = [p for p in paths if p.name in wanted or p.stem in wanted]
    return paths
