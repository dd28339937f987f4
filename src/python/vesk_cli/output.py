"""Small helpers shared by the commands: JSON text, messages, sizes."""

from __future__ import annotations

import json
import math
import sys
from typing import Any

import vesk


def fail(command: str, message: str) -> None:
    print(f"vesk {command}: {message}", file=sys.stderr)


def describe_error(error: BaseException) -> str:
    return f"{type(error).__name__}: {error}"


def json_document(container: bytes, indent: int | None, allow_nan: bool) -> bytes:
    """The data of a container as JSON text in UTF-8, ending in a line feed."""
    return vesk.to_json(container, indent=indent, allow_nan=allow_nan).encode() + b"\n"


def jsonable(value: Any) -> Any:
    """A value that json.dumps writes as JSON: infinities and NaNs become the strings Python's json module
    would write for them ("Infinity", "-Infinity", "NaN")."""
    if isinstance(value, float) and not math.isfinite(value):
        return json.dumps(value)
    if isinstance(value, dict):
        return {key: jsonable(item) for key, item in value.items()}
    if isinstance(value, (list, tuple)):
        return [jsonable(item) for item in value]
    return value


def child_path(path: str, key: object) -> str:
    """JSONPath of a member or item: $.name, $["odd name"], $[3], as the codec's errors write it: a name is
    plain when it is an ASCII identifier."""
    if isinstance(key, int):
        return f"{path}[{key}]"
    text = str(key)
    if text.isascii() and text.isidentifier():
        return f"{path}.{text}"
    return f"{path}[{json.dumps(text, ensure_ascii=False)}]"


def count(number: int, singular: str, plural: str | None = None) -> str:
    return f"{number:,} {singular if number == 1 else (plural or singular + 's')}"


def size(number: int) -> str:
    """Bytes with a unit a person reads at a glance."""
    if number < 10_000:
        return f"{number:,} B"
    for unit, scale in (("kB", 1e3), ("MB", 1e6), ("GB", 1e9)):
        if number < scale * 1000 or unit == "GB":
            return f"{number / scale:,.1f} {unit}"
    return f"{number:,} B"


def percent(part: int, whole: int) -> str:
    return f"{100.0 * part / whole:.1f}%" if whole else "-"
