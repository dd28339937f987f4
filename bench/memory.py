"""Peak memory of dumps and loads on one document, each call in its own process."""

from __future__ import annotations

import json
import subprocess
import sys
import tempfile
from pathlib import Path
from typing import Callable

import msgpack

from documents import Document
from report import describe_error, grid, shorten

PROBE = Path(__file__).resolve().parent / "memory_probe.py"

# (function probed, which input file it reads)
PROBES = (
    ("vesk.dumps", "json"),
    ("orjson.loads", "json"),
    ("msgpack.packb(orjson.loads)", "json"),
    ("vesk.loads", "vesk"),
    ("msgpack.unpackb", "msgpack"),
)


def _probe(function: str, path: Path, mode: str) -> dict:
    completed = subprocess.run(
        [sys.executable, str(PROBE), function, str(path), mode],
        capture_output=True, text=True, timeout=300, check=False,
    )
    lines = completed.stdout.strip().splitlines()
    if completed.returncode != 0 or not lines:
        return {"error": shorten(f"probe exited {completed.returncode}: {completed.stderr.strip()[-300:]}")}
    return json.loads(lines[-1])


def _show(outcome: dict, size: int) -> tuple[str, str]:
    if "error" in outcome:
        return "refused", ""
    peak = outcome["peak"]
    return f"{peak / 1e6:.1f}", f"{peak / size:.1f}x"


def memory_table(doc: Document, vesk_dumps: Callable[[str], bytes]) -> str:
    with tempfile.TemporaryDirectory(prefix="vesk-bench-") as tmp:
        inputs = {"json": Path(tmp) / "doc.json", "vesk": Path(tmp) / "doc.vesk", "msgpack": Path(tmp) / "doc.msgpack"}
        inputs["json"].write_text(doc.text, encoding="utf-8")
        inputs["msgpack"].write_bytes(msgpack.packb(doc.value))
        missing: dict[str, str] = {}
        try:
            inputs["vesk"].write_bytes(vesk_dumps(doc.text))
        except Exception as error:
            missing["vesk"] = f"no input, dumps failed: {describe_error(error)}"

        rows, errors, methods = [], [], set()
        for function, source in PROBES:
            if source in missing:
                outcomes = [{"error": missing[source]}] * 2
            else:
                outcomes = [_probe(function, inputs[source], mode) for mode in ("rss", "tracemalloc")]
            for outcome in outcomes:
                if "error" in outcome:
                    errors.append(f"  {function}: {outcome['error']}")
                    break
            methods.update(o["method"] for o in outcomes if "method" in o)
            rss, traced = (_show(o, doc.size) for o in outcomes)
            rows.append([function, *rss, *traced])

    parts = [f"== Peak memory on the largest document: {doc.name}, {doc.size / 1e6:.1f} MB of JSON ==",
             "   each call in a fresh process that already holds its input; x: multiple of the JSON text size",
             "   RSS: growth of the resident set during the call (Python and native memory alike),",
             "   traced: tracemalloc peak during the call (Python allocators only, not the C++ heap)",
             f"   methods used: {', '.join(sorted(methods)) or '-'}",
             "", grid(["call", "RSS MB", "RSS x", "traced MB", "traced x"], rows)]
    if errors:
        parts += ["", "   refused:", *errors]
    return "\n".join(parts) + "\n"
