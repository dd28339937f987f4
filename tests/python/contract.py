"""What the module does with a fixed set of inputs, reduced to short texts.

The golden file beside the tests holds these outcomes as the module gave them
before any rewrite of its pipelines; `record_contract.py` writes it and
`test_contract.py` compares. An outcome is the exception class and message, or
a digest of the result (bytes as they are, objects through their repr, which
shows types, key order, the sign of zero and NaN).
"""

import hashlib
import json
import lzma
import pathlib
import random

import vesk
from conftest import corpus_names, corpus_text, suite_files

GOLDEN_FILE = pathlib.Path(__file__).resolve().parent / "golden" / "contract.json.xz"

# Exceptions are named by the built-in class callers catch, so a finer class
# deriving from it does not count as a change.
CAUGHT = (MemoryError, RecursionError, TypeError, ValueError)


def digest(data):
    return hashlib.sha256(data).hexdigest()[:20]


def outcome(call, *args):
    try:
        result = call(*args)
    except CAUGHT as error:
        caught = next(c for c in CAUGHT if isinstance(error, c))
        return f"{caught.__name__}: {error}"
    if isinstance(result, bytes):
        return f"bytes {len(result)} {digest(result)}"
    return f"value {digest(repr(result).encode('utf-8'))}"


def without_none(value):
    if isinstance(value, dict):
        return {k: without_none(v) for k, v in value.items() if v is not None}
    if isinstance(value, list):
        return [without_none(v) for v in value if v is not None]
    return value


def documents():
    """(name, JSON text) of every corpus document and every accepted suite file."""
    for name in corpus_names():
        yield f"corpus/{name}", corpus_text(name)
    for path in suite_files("y_"):
        yield f"suite/{path.name}", path.read_bytes().decode("utf-8")


def document_outcomes(text):
    """dumps, loads of what it wrote, and emit (as is and without None) of the document."""
    results = {"dumps": outcome(vesk.dumps, text)}
    try:
        results["loads"] = outcome(vesk.loads, vesk.dumps(text))
    except ValueError:
        pass
    value = json.loads(text)
    for label, item in (("emit", value), ("emit_without_none", without_none(value))):
        results[label] = outcome(vesk.emit, item)
        if results[label].startswith("bytes"):
            results["loads_" + label] = outcome(vesk.loads, vesk.emit(item))
    return results


# Small documents whose containers together use every value encoding; with a
# mid-sized corpus document they are cut and changed byte by byte.
SMALL_DOCUMENTS = [
    '{"b": ["x", "x"], "a": 1}',
    '[{"id": 1, "tags": ["a", "b"], "ok": true, "n": null}, {"id": -2, "tags": ["b"], "ok": false, "n": null}]',
    '{"floats": [1.5, -0.0, 3], "big": 18446744073709551615, "medium": "' + "m" * 300 + '", "e": {}, "l": []}',
    '"' + "long " * 3300 + '"',
]
CUT_DOCUMENT = "corpus/github_events.json"
CHANGES_PER_CONTAINER = 1000


def mutation_containers():
    """(name, container bytes) of the containers that are cut and changed."""
    for number, text in enumerate(SMALL_DOCUMENTS):
        yield f"small/{number}", vesk.dumps(text)
    yield "emit/records", vesk.emit([{"k": [1, 2.5], "s": "é" * 70}, {"k": [3], "s": "é" * 70}])
    yield CUT_DOCUMENT, vesk.dumps(corpus_text(CUT_DOCUMENT.removeprefix("corpus/")))


def prefix_outcomes(data):
    """Runs of [first length, last length, outcome] over every proper prefix."""
    runs = []
    for length in range(len(data)):
        result = outcome(vesk.loads, data[:length])
        if runs and runs[-1][2] == result:
            runs[-1][1] = length
        else:
            runs.append([length, length, result])
    return runs


def changes(name, data):
    """Seeded single-byte changes: (position, new byte)."""
    rng = random.Random(f"{name}:{len(data)}")
    picked = []
    for _ in range(CHANGES_PER_CONTAINER):
        position = rng.randrange(len(data))
        new = rng.choice([0x00, 0xFF, 0x7F, 0x80, 0xFE, data[position] ^ 0x01, rng.randrange(256)])
        if new != data[position]:
            picked.append((position, new))
    return picked


def change_outcomes(name, data):
    results = []
    for position, new in changes(name, data):
        changed = bytearray(data)
        changed[position] = new
        results.append([position, new, outcome(vesk.loads, bytes(changed))])
    return results


def record():
    golden = {"documents": {}, "containers": {}}
    for name, text in documents():
        golden["documents"][name] = document_outcomes(text)
    for name, data in mutation_containers():
        golden["containers"][name] = {
            "bytes": digest(data),
            "prefixes": prefix_outcomes(data),
            "changes": change_outcomes(name, data),
        }
    return golden


def read_golden():
    return json.loads(lzma.decompress(GOLDEN_FILE.read_bytes()))


def write_golden(golden):
    GOLDEN_FILE.parent.mkdir(exist_ok=True)
    text = json.dumps(golden, indent=0, sort_keys=True, ensure_ascii=False)
    GOLDEN_FILE.write_bytes(lzma.compress(text.encode("utf-8"), preset=9 | lzma.PRESET_EXTREME))
