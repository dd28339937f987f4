"""The workload that bench/profile.sh runs under callgrind: one vesk function
on one document. Inputs are made before the profiled calls, which callgrind
collects only inside the module function itself (see profile.sh). emit takes
the document's objects without None, as the benchmark does, pack them as they are; its first call
also pays for the UTF-8 form of each non-ASCII str, which the interpreter then
keeps in the str (the benchmark's repeated calls do not see it).

Usage: profile_workload.py dumps|loads|emit|pack DOCUMENT [CALLS]

DOCUMENT names a corpus document (twitter.json or twitter).
"""

from __future__ import annotations

import sys

import vesk
from documents import DEFAULT_CORPUS, corpus_paths, load_document, read_document


def main(argv: list[str]) -> int:
    function, document = argv[0], argv[1]
    calls = int(argv[2]) if len(argv) > 2 else 1
    [path] = corpus_paths(DEFAULT_CORPUS, [document])
    text = read_document(path).decode("utf-8")
    if function == "dumps":
        fn, arg = vesk.dumps, text
    elif function == "loads":
        fn, arg = vesk.loads, vesk.dumps(text)
    elif function == "emit":
        fn, arg = vesk.emit, load_document(path).value_without_none
    elif function == "pack":
        fn, arg = vesk.pack, load_document(path).value
    else:
        raise SystemExit(f"unknown function {function!r}")
    for _ in range(calls):
        result = fn(arg)
        del result
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
