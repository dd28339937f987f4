"""What a refusal costs against a success on the same input.

Each case spoils a corpus document's input at its end, where every byte
before the fault has been read by the time it is found, and times the
refused call against the call on the intact input. Both are called through
the same wrapper, which swallows the refusal's ValueError.
"""

from __future__ import annotations

import sys
from pathlib import Path
from typing import Any, Callable

from documents import Document
from report import grid
from timing import Budget, measure_all

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "fuzz" / "python"))
import reference_decoder  # noqa: E402  the Python model of the reader locates the values to spoil

TARGET = 1.2
DATA_BLOCK_OFFSET_AT = 9
ENTRY_COUNT_SIZE = 4


def cut_at_the_end(container: bytes) -> bytes:
    """The last byte goes, and the only entry's payload length with it: its
    last value is cut short."""
    data_block = int.from_bytes(container[DATA_BLOCK_OFFSET_AT:DATA_BLOCK_OFFSET_AT + 4], "little")
    length_at = data_block + ENTRY_COUNT_SIZE + 2
    payload = int.from_bytes(container[length_at:length_at + 4], "little")
    return container[:length_at] + (payload - 1).to_bytes(4, "little") + container[length_at + 4:-1]


def data_fields(container: bytes) -> list[tuple[int, int, str]]:
    fields: list[tuple[int, int, str]] = []
    reference_decoder.read_document(container, fields)
    data_block = int.from_bytes(container[DATA_BLOCK_OFFSET_AT:DATA_BLOCK_OFFSET_AT + 4], "little")
    return [field for field in fields if field[0] >= data_block]


def bad_text_at_the_end(container: bytes) -> bytes | None:
    """The last inline short string of the data ends in a byte that is never UTF-8."""
    for position, _, kind in reversed(data_fields(container)):
        if kind == "length" and 0 < container[position] < 0x80:
            last = position + container[position]
            return container[:last] + b"\xff" + container[last + 1:]
    return None


def dangling_reference_at_the_end(container: bytes) -> bytes | None:
    """The last dictionary reference of the data points past the dictionary."""
    for position, width, kind in reversed(data_fields(container)):
        if kind == "index" and width == 4 and container[position - 1] == 0xFF:
            return container[:position] + b"\xff\xff\xff\xff" + container[position + 4:]
    return None


def trailing_comma_at_the_end(text: str) -> str | None:
    """A comma before the closing bracket of the root."""
    body = text.rstrip()
    return body[:-1] + "," + body[-1] if body[-1:] in ("]", "}") else None


def mixed_array_at_the_end(text: str) -> str | None:
    """An array of an integer and a string, last in the root (a root object
    gets it under a name that comes after every other in byte order)."""
    body = text.rstrip()
    if body[-1:] not in ("]", "}"):
        return None
    item = '"~~": [1, "a"]' if body[-1] == "}" else '[1, "a"]'
    return body[:-1] + ", " + item + body[-1]


DUMPS_FAULTS: list[tuple[str, Callable[[str], str | None]]] = [
    ("trailing comma", trailing_comma_at_the_end),
    ("mixed array", mixed_array_at_the_end),
]

LOADS_FAULTS: list[tuple[str, Callable[[bytes], bytes | None]]] = [
    ("last value cut short", cut_at_the_end),
    ("last inline string not UTF-8", bad_text_at_the_end),
    ("last reference past the dictionary", dangling_reference_at_the_end),
]


def refusing(function: Callable[[Any], Any]) -> Callable[[Any], Any]:
    def call(argument: Any) -> None:
        try:
            function(argument)
        except ValueError:
            pass
    return call


def refusal_table(documents: list[Document], vesk: dict[str, Callable], budget: Budget) -> tuple[str, list[str]]:
    """The table, and a summary line per function with its highest ratio."""
    cases = []
    for doc in documents:
        try:
            container = vesk["dumps"](doc.text)
        except ValueError:
            continue
        for fault, spoil_text in DUMPS_FAULTS:
            spoiled_text = spoil_text(doc.text)
            if spoiled_text is not None:
                cases.append(("dumps", doc.name, fault, doc.text, spoiled_text))
        for fault, spoil in LOADS_FAULTS:
            spoiled = spoil(container)
            if spoiled is not None:
                cases.append(("loads", doc.name, fault, container, spoiled))
    calls = {function: refusing(vesk[function]) for function in ("dumps", "loads")}
    timings = iter(measure_all([call for function, *_, good, bad in cases
                                for call in ((calls[function], good), (calls[function], bad))], budget))
    rows, ratios = [], {}
    for function, name, fault, _, _ in cases:
        success, refusal = next(timings), next(timings)
        if isinstance(success, Exception) or isinstance(refusal, Exception):
            rows.append([f"{function} {name}", fault, "-", "-", "-"])
            continue
        ratio = refusal.median / success.median
        ratios.setdefault(function, []).append((ratio, name, fault))
        rows.append([f"{function} {name}", fault, f"{success.median * 1e6:,.0f}", f"{refusal.median * 1e6:,.0f}",
                     f"{ratio:.2f}"])
    summary = []
    for function, measured in ratios.items():
        worst, name, fault = max(measured)
        summary.append(f"refusals: vesk.{function} refusal time / success time on the same input, highest {worst:.2f} "
                       f"({name}, {fault}) (target <= {TARGET})")
    parts = ["== Refusals: a fault at the end of the input against the intact input, microseconds per call ==",
             "", grid(["input", "fault", "success us", "refusal us", "ratio"], rows)]
    return "\n".join(parts) + "\n", summary
