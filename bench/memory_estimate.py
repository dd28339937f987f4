"""The memory guard's estimate of what loads takes against what it takes.

For each container, the corpus documents' and containers made to be costly,
prints the estimate the guard refuses on (vesk._describe's loads_memory: the
scan's tables and the value, object by object) beside the peak of loads in a
fresh process: the growth of the resident set (everything: objects, tables,
allocator slack) and the peak of the interpreter's traced allocations (the
objects alone). The guard promises the estimate within 1.5 times the peak,
both ways.

    python bench/memory_estimate.py [--json]
"""

from __future__ import annotations

import json
import lzma
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "python"))

import vesk  # noqa: E402
from container_bytes import (  # noqa: E402
    ARRAY,
    FLOAT32,
    INT32,
    STRING,
    array_definition,
    container,
    f32,
    i32,
    primitive_definitions,
    str_ref,
    text,
    u16,
)

PROBE = """
import gc, json, resource, sys, tracemalloc, vesk
data = open(sys.argv[1], "rb").read()
vesk.loads(vesk.dumps('{"warm": ["a", "\\u00e9"], "n": [1, 2.5]}'))
def high_water():
    return int(open("/proc/self/status").read().split("VmHWM:")[1].split()[0]) * 1024
gc.collect()
if sys.argv[2] == "rss":
    open("/proc/self/clear_refs", "w").write("5")
    before = high_water()
    value = vesk.loads(data)
    print(high_water() - before)
else:
    tracemalloc.start()
    value = vesk.loads(data)
    print(tracemalloc.get_traced_memory()[1])
"""


def array_of(elem_type, items):
    """A container of arrays of 65535 items, as many as `items` fills."""
    chunks = [items[i : i + 65535] for i in range(0, len(items), 65535)]
    payloads = [u16(6) + u16(elem_type) + u16(len(chunk)) + b"".join(chunk) for chunk in chunks]
    return container(primitive_definitions() + [array_definition(6, elem_type)], [], [(6, p) for p in payloads])


def hostile():
    """Containers whose values cost far more, or far less, than their bytes suggest."""
    strings = [f"name-{i}" for i in range(1000)]
    return {
        "small ints (26M below 257)": array_of(INT32, [i32(200)] * (400 * 65535)),
        "distinct ints (4M)": array_of(INT32, [i32(100000 + i) for i in range(4 * 65535)]),
        "floats (4M)": array_of(FLOAT32, [f32(i + 0.5) for i in range(4 * 65535)]),
        "1-char strs (4M, shared)": array_of(STRING, [text("x")] * (4 * 65535)),
        "ASCII text (100k x 1000)": array_of(STRING, [text("a" * 1000)] * 100_000),
        "emoji text (100k x 1001)": array_of(STRING, [text("\U0001F600" + "a" * 1000)] * 100_000),
        "CJK text (100k x 300)": array_of(STRING, [text("\u4e2d" * 300)] * 100_000),
        "one emoji text of 16M": container(primitive_definitions(), [], [(5, text("\U0001F600" * 4_000_000))]),
        "one CJK text of 15M": container(primitive_definitions(), [], [(5, text("\u4e2d" * 5_000_000))]),
        "shared dict strs (4M refs)": container(
            primitive_definitions() + [array_definition(6, STRING)],
            strings,
            [(6, u16(6) + u16(STRING) + u16(65535) + b"".join(str_ref(i % 1000) for i in range(65535)))] * 64,
        ),
        "nested null arrays (100 x 65535)": container(
            primitive_definitions() + [array_definition(6, 0), array_definition(7, ARRAY)],
            [],
            [(7, u16(7) + u16(6) + u16(100) + (u16(6) + u16(0) + u16(65535)) * 100)],
        ),
    }


def corpus():
    out = {}
    for archive in sorted((ROOT / "tests" / "data" / "corpus").glob("*.json.xz")):
        try:
            out[archive.name.removesuffix(".json.xz")] = vesk.dumps(lzma.decompress(archive.read_bytes()).decode())
        except ValueError:
            pass  # a document the format refuses
    return out


def measure(data: bytes, mode: str) -> int:
    with tempfile.NamedTemporaryFile(suffix=".vesk") as file:
        file.write(data)
        file.flush()
        done = subprocess.run([sys.executable, "-c", PROBE, file.name, mode], capture_output=True, text=True)
    if done.returncode != 0:
        raise RuntimeError(done.stderr.strip().splitlines()[-1])
    return int(done.stdout)


def main() -> None:
    rows = []
    for group, cases in (("corpus", corpus()), ("hostile", hostile())):
        for name, data in cases.items():
            estimate = vesk._describe(data)["loads_memory"]
            try:
                rss, traced = measure(data, "rss"), measure(data, "traced")
            except RuntimeError as error:
                print(f"{group}: {name}: {error}", file=sys.stderr)
                continue
            rows.append({"group": group, "name": name, "container": len(data), "estimate": estimate, "rss": rss,
                         "traced": traced})
    if "--json" in sys.argv:
        print(json.dumps(rows, indent=1))
        return
    print(f"| {'container':<34} | {'bytes':>11} | {'estimate':>13} | {'peak RSS':>13} | {'traced':>13} "
          f"| est/RSS | est/traced |")
    print("|" + "|".join("-" * width for width in (36, 13, 15, 15, 15, 9, 12)) + "|")
    for row in rows:
        print(f"| {row['group'] + ': ' + row['name']:<34} | {row['container']:>11,} | {row['estimate']:>13,} "
              f"| {row['rss']:>13,} | {row['traced']:>13,} | {row['estimate'] / max(row['rss'], 1):>7.2f} "
              f"| {row['estimate'] / max(row['traced'], 1):>10.2f} |")


if __name__ == "__main__":
    main()
