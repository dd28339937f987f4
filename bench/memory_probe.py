"""Peak memory of one call, measured in a fresh process.

Usage: memory_probe.py FUNCTION INPUT_FILE rss|tracemalloc
Prints one JSON object: {"peak": bytes, "method": ...} or {"error": message}.

rss: growth of the resident set above its level just before the call, from the
kernel's high-water mark (reset through /proc/self/clear_refs where allowed,
read back from /proc/self/status), or the pages the call touched for the first
time (minor page faults), whichever is smaller. Both bound the growth from
above; the kernel's resident-set counters are batched per CPU and can be off by
a few hundred KB, which on small documents the page count is not. Where the
mark cannot be reset, only the page count is used. Counts everything: Python
objects, native buffers, allocator slack. Functions that take text are called
once on a tiny text first, so that the code they run is paged in before the
measured call, and functions that take bytes on a small input of their own
encoding.
The rss mode also reports the bytes of the result's own objects (own_bytes).
tracemalloc: peak of the allocations made through Python's allocators during
the call. Counts Python objects and buffers, not the C++ heap of an extension.
"""

from __future__ import annotations

import gc
import json
import resource
import sys
import tracemalloc
from typing import Any, Callable


def resolve(name: str) -> tuple[bool, Callable[[Any], Any]]:
    """The function to probe, and whether it takes text (else bytes). Only
    the modules that this function needs are imported."""
    if name.startswith("vesk."):
        import vesk

        return name == "vesk.dumps", getattr(vesk, name.removeprefix("vesk."))
    if name in DECODERS:
        return False, DECODERS[name]()
    import msgpack
    import orjson

    if name == "orjson.loads":
        return True, orjson.loads
    if name == "msgpack.packb(orjson.loads)":
        return True, lambda text: msgpack.packb(orjson.loads(text))
    if name == "msgpack.unpackb":
        return False, msgpack.unpackb
    raise KeyError(name)


def _msgspec_decode():
    import msgspec

    return msgspec.msgpack.decode


def _ormsgpack_unpackb():
    import ormsgpack

    return ormsgpack.unpackb


def _marshal_loads():
    import marshal

    return marshal.loads


def _pickle_loads():
    import pickle

    return pickle.loads


# Decoders of bytes, set beside vesk.loads, each reading its own encoding.
DECODERS = {"msgspec.msgpack.decode": _msgspec_decode, "ormsgpack.unpackb": _ormsgpack_unpackb,
            "marshal.loads": _marshal_loads, "pickle.loads": _pickle_loads}


def warm_up_input(name: str) -> bytes:
    """A small value, with text of each width, in the encoding `name` reads."""
    small = {"a": [1, 2.5], "b": ["x", "y"], "\u00e9": {"k": "\u20ac" * 40}, "z": [{"s": "\U0001f600", "t": True}]}
    if name == "vesk.loads":
        import vesk

        return vesk.dumps(json.dumps(small))
    import msgpack

    encoders = {"msgspec.msgpack.decode": msgpack.packb, "ormsgpack.unpackb": msgpack.packb,
                "msgpack.unpackb": msgpack.packb, "marshal.loads": lambda v: __import__("marshal").dumps(v),
                "pickle.loads": lambda v: __import__("pickle").dumps(v, protocol=5)}
    return encoders[name](small)


def own_bytes(value: Any) -> int:
    """The memory of a value's own objects: sys.getsizeof of each object it
    holds, each counted once however often it is held."""
    seen, total, pending = set(), 0, [value]
    while pending:
        item = pending.pop()
        if id(item) in seen:
            continue
        seen.add(id(item))
        total += sys.getsizeof(item)
        if isinstance(item, dict):
            pending.extend(item.keys())
            pending.extend(item.values())
        elif isinstance(item, (list, tuple)):
            pending.extend(item)
    return total


def _reset_high_water_mark() -> bool:
    try:
        with open("/proc/self/clear_refs", "w") as f:
            f.write("5")
        return True
    except OSError:
        return False


def _max_rss_bytes() -> int:
    # VmHWM rather than getrusage: ru_maxrss also keeps the high-water mark of
    # the process image before exec, which for a child of a big benchmark
    # process is that parent's resident set and hides everything measured here.
    try:
        with open("/proc/self/status") as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1]) * 1024
    except OSError:
        pass
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024


def peak_rss(fn: Callable[[Any], Any], arg: Any) -> dict[str, Any]:
    gc.collect()
    exact = _reset_high_water_mark()
    before = _max_rss_bytes()
    faults_before = resource.getrusage(resource.RUSAGE_SELF).ru_minflt
    result = fn(arg)
    faults = resource.getrusage(resource.RUSAGE_SELF).ru_minflt - faults_before
    after = _max_rss_bytes()
    objects = own_bytes(result)
    del result
    high_water = after - before
    touched = faults * resource.getpagesize()
    # Without a reset high-water mark the delta is only a lower bound.
    if exact and high_water <= touched:
        return {"peak": high_water, "method": "RSS high-water mark", "objects": objects}
    return {"peak": touched, "method": "pages first touched", "objects": objects}


def peak_traced(fn: Callable[[Any], Any], arg: Any) -> dict[str, Any]:
    gc.collect()
    tracemalloc.start()
    tracemalloc.reset_peak()
    result = fn(arg)
    _, peak = tracemalloc.get_traced_memory()
    tracemalloc.stop()
    del result
    return {"peak": peak, "method": "tracemalloc peak"}


def main(argv: list[str]) -> int:
    name, path, mode = argv
    try:
        takes_text, fn = resolve(name)
        with open(path, "rb") as f:
            raw = f.read()
        arg = raw.decode("utf-8") if takes_text else raw
        del raw
        if takes_text:
            # The first call of a process pages in the code it runs, which on
            # a small document outweighs the call's own memory. A str is read
            # by different code for each width of its characters (one, two or
            # four bytes), so each width gets a call of its own.
            # Long strings are read and hashed sixteen bytes at a time, short
            # ones whole, so each text has both.
            for char in ("a", "\u00e9", "\u20ac", "\U0001f600"):
                long = char * 40 + "-" * 40
                fn('{"%s": ["%s", "x\\n%s", "%s"], "n": [1, 2], "f": -2.5, "t": true, "z": null, "o": {"k": [[]]}}'
                   % (char, char, char, long))
        else:
            # So do decoders, and some make what they keep from call to call
            # (vesk.loads its tables, ormsgpack its keys) in their first.
            fn(warm_up_input(name))
        outcome = peak_rss(fn, arg) if mode == "rss" else peak_traced(fn, arg)
    except Exception as error:
        outcome = {"error": f"{type(error).__name__}: {error}"}
    print(json.dumps(outcome))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
