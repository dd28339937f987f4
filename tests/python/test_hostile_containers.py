"""Containers made to cost far more than their size, each read in a child
process of its own (its peak is the child's): every one is refused before
anything is built, or loads within what the memory guard allows."""

import json
import os
import subprocess
import sys

import pytest

MiB = 1 << 20

# Run in the child: `make` builds the container (from container_bytes), then
# `limit` (an address-space limit in bytes, or None) is set and loads runs.
CHILD = """
import json, resource, sys, time
sys.path.insert(0, {tests!r})
from container_bytes import *
import vesk
data = {make}
if {limit!r} is not None:
    resource.setrlimit(resource.RLIMIT_AS, ({limit!r}, {limit!r}))
start = time.perf_counter()
try:
    value = vesk.loads(data)
    outcome, detail = "value", repr(value)[:60]
except (MemoryError, ValueError) as error:
    outcome, detail = type(error).__name__, str(error)
# VmHWM, unlike ru_maxrss, starts afresh at exec: a forked child keeps the
# parent's peak in ru_maxrss.
peak = int(open("/proc/self/status").read().split("VmHWM:")[1].split()[0]) * 1024
print(json.dumps({{"outcome": outcome, "detail": detail, "seconds": time.perf_counter() - start, "peak": peak}}))
"""

NULLS = "(u16(6) + u16(0) + u16(65535))"  # an array of 65535 nulls, 6 bytes
NULL_ARRAY = "[array_definition(6, NULL), array_definition(7, ARRAY)]"
EMOJI_TEXT = "text('\\U0001F600' + 'a' * 1000)"


def definitions_of_empty_names(count):
    # `count` object definitions of 65535 fields named "" holding null: two
    # bytes a field.
    record = "bytes([OBJECT]) + u16({index}) + u16(65535) + bytes(2 * 65535)"
    return f"[{record.format(index='6 + i')} for i in range({count})]"


# (reproducer, container, address-space limit, outcome, start of its detail, peak in MiB at most)
CASES = [
    # A dictionary reference past the dictionary's end is the reader's
    # fault: nothing of the 65 million nulls after it is built.
    ("6 KB, a bad reference before null arrays",
     f"container(primitive_definitions() + {NULL_ARRAY}, [], [(5, str_ref(0))] + [(6, {NULLS})] * 1000)",
     None, "ParseError", "Failed to parse VESK: ", 100),
    ("6 KB of null arrays", f"container(primitive_definitions() + {NULL_ARRAY}, [], [(6, {NULLS})] * 1000)",
     None, "MemoryError", "reading this container takes about 524", 100),
    ("120 KB grid of null arrays", f"single({NULL_ARRAY}, [], 7, u16(7) + u16(6) + u16(20000) + {NULLS} * 20000)",
     None, "MemoryError", "reading this container takes about 10", 100),
    # Their tables alone would take 1.3 GB: refused before they are made.
    ("131 MB of definitions of empty names under 1 GiB",
     f"container(primitive_definitions() + {definitions_of_empty_names(1000)}, [], [])",
     1 << 30, "MemoryError", "reading this container takes at least ", 600),
    # The text takes four bytes a character, not one: refused, with its
    # message, rather than failing half built.
    ("text with an emoji under 400 MiB", f"container(primitive_definitions(), [], [(5, {EMOJI_TEXT})] * 100000)",
     400 * MiB, "MemoryError", "reading this container takes about 40", 400),
    # Its str takes 16 MB, but making it 80: a buffer of a byte per byte of
    # text, then one of four.
    ("one text of 4M emoji under 100 MiB", "container(primitive_definitions(), [], [(5, text('\\U0001F600' * 4000000))])",
     100 * MiB, "MemoryError", "reading this container takes about 80", 100),
    # 26 million ints below 257 are the interpreter's shared objects: 8
    # bytes each in their lists, not 40.
    ("105 MB of small ints under 900 MiB",
     "container(primitive_definitions() + [array_definition(6, INT32)], [], "
     "[(6, u16(6) + u16(2) + u16(65535) + i32(200) * 65535)] * 400)",
     900 * MiB, "value", "[[200, 200", 600),
]


def run_child(make, limit, timeout=120):
    child = CHILD.format(tests=os.path.dirname(__file__), make=make, limit=limit)
    completed = subprocess.run([sys.executable, "-c", child], capture_output=True, text=True, timeout=timeout)
    assert completed.returncode == 0, completed.stderr[-2000:]
    return json.loads(completed.stdout)


@pytest.mark.parametrize("name,make,limit,outcome,detail,peak_mib", CASES, ids=[case[0] for case in CASES])
def test_hostile_container(name, make, limit, outcome, detail, peak_mib):
    result = run_child(make, limit)
    assert (result["outcome"], result["detail"][: len(detail)]) == (outcome, detail), result
    assert result["peak"] <= peak_mib * MiB, result


# A bytes subclass may export other memory than its own (__buffer__, from
# Python 3.12): here the end of a mapping, whose entry count another thread
# flips between 40000 and 40001 while loads runs. Read in place, a walk that
# trusted the scan's count would read past the mapping.
CHANGING_BUFFER_CHILD = """
import json, mmap, sys, threading
sys.path.insert(0, {tests!r})
from container_bytes import *
import vesk
data = container(primitive_definitions(), [], [(5, text("x" * 100))] * 40000)
count_at = int.from_bytes(data[9:13], "little")
mapping = mmap.mmap(-1, (len(data) + mmap.PAGESIZE) // mmap.PAGESIZE * mmap.PAGESIZE)
start = len(mapping) - len(data)
mapping[start:] = data

class Exported(bytes):
    def __buffer__(self, flags):
        return memoryview(mapping)[start:]

done = False
def flip():
    while not done:
        for count in (40001, 40000):
            mapping[start + count_at : start + count_at + 4] = u32(count)
sys.setswitchinterval(1e-5)
threading.Thread(target=flip).start()
outcomes = set()
try:
    for _ in range(200):
        try:
            outcomes.add(len({read}(Exported(b""))))
        except vesk.ParseError as error:
            outcomes.add(str(error))
finally:
    done = True
print(sorted(map(str, outcomes)))
"""


@pytest.mark.skipif(sys.version_info < (3, 12), reason="__buffer__ in Python classes came in 3.12")
@pytest.mark.parametrize("read", ["vesk.loads", "(lambda data: json.loads(vesk.to_json(data)))"], ids=["loads", "to_json"])
def test_a_bytes_subclass_is_not_read_while_it_can_change(read):
    # loads copies it; to_json reads it holding the interpreter lock, so
    # that no other thread runs meanwhile.
    child = CHANGING_BUFFER_CHILD.format(tests=os.path.dirname(__file__), read=read)
    completed = subprocess.run([sys.executable, "-c", child], capture_output=True, text=True, timeout=120)
    assert completed.returncode == 0, completed.stderr[-2000:]
    assert set(eval(completed.stdout)) <= {"40000", "Failed to parse VESK: Truncated entry 40000 header"}
