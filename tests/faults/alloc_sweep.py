"""Allocation-failure sweep over the five functions of the module.

For each function on a mid-sized input, and for every n up to the number of
allocations that the call makes, the n-th allocation is made to fail: C++
allocations through the counting operator new of the probe build
(tests/faults/allocation_probe.cpp), Python allocations through
_testcapi.set_nomemory where the interpreter has it. Every run must end in
the right result or in MemoryError: any other exception, a wrong result, a
C++ block or a Python reference left behind is a finding. Crashes end the
process (under ASan with a report).

Run through scripts/alloc_sweep.sh, which builds the probe module under
ASan+UBSan; --size makes the inputs larger, --stride tests every k-th n only.
"""

import argparse
import ctypes
import gc
import json
import os
import sys
import tempfile

import vesk

try:
    import _testcapi
except ImportError:
    _testcapi = None

probe = ctypes.CDLL(vesk.__file__)  # the very module already imported
if not hasattr(probe, "vesk_probe_arm"):
    sys.exit(f"{vesk.__file__} is not a probe build (VESK_ALLOCATION_PROBE)")
probe.vesk_probe_arm.argtypes = [ctypes.c_long]
probe.vesk_probe_arm.restype = None
probe.vesk_probe_allocations.restype = ctypes.c_long
probe.vesk_probe_live.restype = ctypes.c_long


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


def json_document(size):
    people = [
        {
            "id": i,
            "name": f"person {i % 7}",
            "score": i * 0.25,
            "tags": ["a", "bb", "ccc"][: i % 4],
            "active": i % 2 == 0,
            "note": None if i % 3 else "é" * (i % 5),
            "deep": {"x": [[i, -i], [2**31 + i]], "y": {"z": "shared"}},
        }
        for i in range(size)
    ]
    return json.dumps({"people": people, "title": "t" * 300, "empty": {"object": {}, "array": []}, "big": 2**64 - 1})


def emit_value(size):
    return {
        "rows": [{"name": f"n{i % 5}", "value": i, "weight": i / 3} for i in range(size)],
        "matrix": [[1, 2.5], [3, Index(4)]],
        "nested": {"a": {"b": [True, False], "c": "x" * 200}},
        "wide": 2**40,
    }


class Case:
    def __init__(self, name, call, check, out_of_memory=None, raises=False):
        self.name, self.call, self.check = name, call, check
        # The documented error of a call that could not get its memory, when
        # it is not MemoryError.
        self.out_of_memory = out_of_memory
        # Whether the call raises (and the case catches) an error of its own.
        # The interpreter loses such an error when it cannot allocate the
        # traceback entry of a frame it passes through, and raises SystemError
        # instead (json.loads("[x]") in the same place does too): that is the
        # interpreter running out of memory, not the module.
        self.raises = raises


INTERPRETER_LOST_ERROR = "error return without exception set"


def make_cases(directory, size):
    text = json_document(size)
    container = vesk.dumps(text)
    value = vesk.loads(container)
    emitted = vesk.emit(emit_value(size))
    stored = os.path.join(directory, "stored.vesk")
    with open(stored, "wb") as handle:
        handle.write(container)
    target = os.path.join(directory, "target.vesk")

    def written(result):
        with open(target, "rb") as handle:
            return result is None and handle.read() == container

    emit_input = emit_value(size)
    text_of = vesk.to_json(container, indent=1)
    pack_input = json.loads(text)

    def loss(call):
        """What a strict call refuses: the LossError's path and numbers."""
        try:
            call()
        except vesk.LossError as error:
            return error.path, error.value, error.stored
        return None

    text_loss = loss(lambda: vesk.dumps(text, strict=True))
    emit_loss = loss(lambda: vesk.emit(emit_input, strict=True))
    return [
        Case("dumps", lambda: vesk.dumps(text), lambda result: result == container),
        Case("dump", lambda: vesk.dump(text, target), written),
        Case("loads", lambda: vesk.loads(container), lambda result: result == value),
        # load reports a read buffer it cannot reserve as an I/O error.
        Case("load", lambda: vesk.load(stored), lambda result: result == value, "IO error: out of memory"),
        Case("emit", lambda: vesk.emit(emit_input), lambda result: result == emitted),
        Case("pack", lambda: vesk.pack(pack_input), lambda result: result == container),
        Case("dumps strict", lambda: loss(lambda: vesk.dumps(text, strict=True)), lambda result: result == text_loss,
             raises=True),
        Case("pack strict", lambda: loss(lambda: vesk.pack(pack_input, strict=True)),
             lambda result: result == text_loss, raises=True),
        Case("emit strict", lambda: loss(lambda: vesk.emit(emit_input, strict=True)),
             lambda result: result == emit_loss, raises=True),
        Case("to_json", lambda: vesk.to_json(container, indent=1), lambda result: result == text_of),
    ]


class Findings:
    def __init__(self):
        self.items = []

    def add(self, case, kind, n, what):
        self.items.append(f"{case.name} {kind} allocation {n}: {what}")


def run_once(case, arm, disarm):
    """('ok', result) or ('MemoryError', None) or ('other', exception)."""
    arm()
    try:
        result = case.call()
    except MemoryError:
        return "MemoryError", None
    except BaseException as error:  # noqa: BLE001 - anything else is a finding
        if case.out_of_memory is not None and isinstance(error, ValueError) and str(error) == case.out_of_memory:
            return "MemoryError", None
        if case.raises and isinstance(error, SystemError) and str(error) == INTERPRETER_LOST_ERROR:
            return "MemoryError", None
        return "other", error
    finally:
        disarm()
    return "ok", result


def sweep_cpp(case, stride, findings):
    probe.vesk_probe_arm(0)
    case.call()
    total = probe.vesk_probe_allocations()
    live = probe.vesk_probe_live()
    outcomes = {"ok": 0, "MemoryError": 0}
    for n in range(1, total + 1, stride):
        outcome, detail = run_once(case, lambda: probe.vesk_probe_arm(n), lambda: probe.vesk_probe_arm(0))
        if outcome == "other":
            findings.add(case, "C++", n, repr(detail))
            continue
        outcomes[outcome] += 1
        if outcome == "ok" and not case.check(detail):
            findings.add(case, "C++", n, "wrong result")
        if probe.vesk_probe_live() != live:
            findings.add(case, "C++", n, f"{probe.vesk_probe_live() - live} blocks not released")
            live = probe.vesk_probe_live()
    return total, outcomes


def python_total(case):
    """The number of Python allocations of one call: the first n from which
    on failing every allocation still lets the call succeed, less one."""
    n = 1
    while True:
        outcome, _ = run_once(case, lambda: _testcapi.set_nomemory(n - 1, 0), _testcapi.remove_mem_hooks)
        if outcome == "ok":
            return n - 1
        n += 1


def sweep_python(case, stride, findings):
    total = python_total(case)
    outcomes = {"ok": 0, "MemoryError": 0}
    for n in range(1, total + 1, stride):
        outcome, detail = run_once(case, lambda: _testcapi.set_nomemory(n - 1, n), _testcapi.remove_mem_hooks)
        if outcome == "other":
            findings.add(case, "Python", n, repr(detail))
            continue
        outcomes[outcome] += 1
        if outcome == "ok" and not case.check(detail):
            findings.add(case, "Python", n, "wrong result")
    return total, outcomes


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--stride", type=int, default=1, help="test every k-th allocation only")
    parser.add_argument("--size", type=int, default=16, help="records in the inputs")
    arguments = parser.parse_args()

    findings = Findings()
    with tempfile.TemporaryDirectory() as directory:
        cases = make_cases(directory, arguments.size)
        rows = []
        for case in cases:
            for _ in range(3):  # fill the interpreter's caches first
                case.call()
            gc.collect()
            blocks = sys.getallocatedblocks()
            refs = sys.getrefcount(case.call)
            cpp_total, cpp = sweep_cpp(case, arguments.stride, findings)
            if _testcapi is not None:
                py_total, py = sweep_python(case, arguments.stride, findings)
            else:
                py_total, py = 0, {"ok": 0, "MemoryError": 0}
            gc.collect()
            # Failed calls may leave a few blocks in the interpreter's own
            # caches; a leak per failing run shows as hundreds.
            grown = sys.getallocatedblocks() - blocks
            runs = cpp["MemoryError"] + py["MemoryError"]
            if grown > 64:
                findings.add(case, "Python", "-", f"{grown} blocks more after {runs} failed runs")
            if sys.getrefcount(case.call) != refs:
                findings.add(case, "Python", "-", "references to the call's inputs left behind")
            rows.append((case.name, cpp_total, cpp, py_total, py, grown))

    print(
        f"{'function':8} {'C++ allocs':>10} {'ok':>5} {'MemErr':>6}  "
        f"{'Py allocs':>9} {'ok':>5} {'MemErr':>6} {'blocks':>6}"
    )
    for name, cpp_total, cpp, py_total, py, grown in rows:
        print(
            f"{name:8} {cpp_total:10} {cpp['ok']:5} {cpp['MemoryError']:6}  "
            f"{py_total:9} {py['ok']:5} {py['MemoryError']:6} {grown:+6}"
        )
    if _testcapi is None:
        print("Python allocations not swept: this interpreter has no _testcapi")
    for finding in findings.items:
        print("FINDING", finding)
    print(f"{len(findings.items)} findings")
    return 1 if findings.items else 0


if __name__ == "__main__":
    sys.exit(main())
