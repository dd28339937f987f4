"""The contract users see: what is written reads back, which fault is reported
when several are present, and outcomes pinned byte for byte by a golden file."""

import json
import math

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import vesk
from container_bytes import (ARRAY, INT32, OBJECT, STRING, array_definition, array_value, container, i32,
                             object_definition, object_value, primitive_definitions, single, str_ref)
from contract import (change_outcomes, document_outcomes, documents, mutation_containers, outcome, prefix_outcomes,
                      read_golden, digest)
from test_emit_container import model as emitted_model

GOLDEN = read_golden()

# --- Whatever dumps or emit returns, loads reads back.

EMIT_LIMIT = 128  # lists and dicts, the outermost counting as 1
JSON_LIMIT = 127  # open containers in JSON text

keys = st.text(max_size=6)
finite = st.floats(allow_nan=False, allow_infinity=False)
json_scalars = (st.none() | st.booleans() | st.text(max_size=8) | st.integers(-(2**63), 2**64 - 1) | finite
                # Finite doubles beyond binary32's range are written as infinities.
                | st.sampled_from([3.5e38, -1e39, 1.7976931348623157e308]))
emit_scalars = (st.booleans() | st.text(max_size=8) | st.integers(-(2**63), 2**63 - 1)
                | st.floats(allow_nan=True, allow_infinity=True))


def nested(leaf, depth, use_dicts):
    for level in range(depth):
        leaf = {"k": leaf} if use_dicts and level % 2 else [leaf]
    return leaf


def documents_of(scalars, limit):
    wide = st.integers(200, 1500).map(lambda n: {f"k{i:04}": i for i in range(n)})
    values = st.recursive(scalars, lambda children: st.lists(children, max_size=5)
                          | st.dictionaries(keys, children, max_size=5), max_leaves=20)
    deep = st.builds(nested, scalars, st.integers(limit - 3, limit), st.booleans())
    return values | wide | deep


@settings(max_examples=250, deadline=None)
@given(documents_of(json_scalars, JSON_LIMIT))
def test_what_dumps_writes_loads_back(value):
    try:
        data = vesk.dumps(json.dumps(value))
    except ValueError as refusal:
        # Only arrays whose items disagree are refused here.
        assert str(refusal).startswith("Unsupported data type: array item")
        return
    vesk.loads(data)


def canonical(value):
    """repr with keys sorted: shows types, NaN and the sign of zero, not key order."""
    if isinstance(value, dict):
        return "{" + ", ".join(f"{k!r}: {canonical(v)}" for k, v in sorted(value.items())) + "}"
    if isinstance(value, list):
        return "[" + ", ".join(map(canonical, value)) + "]"
    return repr(value)


@settings(max_examples=250, deadline=None)
@given(documents_of(emit_scalars, EMIT_LIMIT))
def test_what_emit_writes_loads_back_as_its_rules_say(value):
    try:
        data = vesk.emit(value)
    except ValueError as refusal:
        assert str(refusal).startswith("Unsupported data type: array item")
        return
    assert canonical(vesk.loads(data)) == canonical(emitted_model(value))


@pytest.mark.parametrize("count", [65535])
def test_widest_object_reads_back(count):
    members = {f"m{i}": i for i in range(count)}
    assert vesk.loads(vesk.dumps(json.dumps(members))) == dict(sorted(members.items()))


def test_most_definitions_read_back():
    # Six primitives, the array, and an object shape per item: 65535 in all.
    items = [{f"k{i}": i} for i in range(65535 - 7)]
    data = vesk.dumps(json.dumps(items))
    assert int.from_bytes(data[13:15], "little") == 65535
    assert vesk.loads(data) == items
    with pytest.raises(ValueError, match=r"Too many definitions \(65536\), max 65535"):
        vesk.dumps(json.dumps(items + [{"one more": 0}]))


@pytest.mark.parametrize("value,expected", [
    (math.inf, "inf"), (-math.inf, "-inf"), (math.nan, "nan"), ([1.0, math.inf], "[1.0, inf]"),
])
def test_non_finite_floats_read_back(value, expected):
    assert repr(vesk.loads(vesk.emit(value))) == expected


# --- Which fault is reported when a value holds several.

OBJECT_SB = object_definition(6, [("s", STRING), ("n", INT32)])
PRECEDENCE_LOADS = [
    # A reader fault anywhere beats a fault the decompiler would find earlier.
    ("StrRef out of range, then a cut int32", single([OBJECT_SB], [], 6, object_value(6, [str_ref(99), b"\x01\x02"])),
     "Expected int32 (4 bytes)"),
    ("StrRef chunk, then a bad second entry", container(primitive_definitions(), [],
                                                        [(STRING, str_ref(7)), (INT32, b"\x01")]),
     "Expected int32 (4 bytes)"),
    ("StrRef in an array, then extra payload", single([array_definition(6, STRING)], [], 6,
                                                      array_value(6, 5, [str_ref(3)]) + b"\x00"),
     "Mismatch entry 0: consumed 11 of 12"),
    ("unnumbered shape, then a cut string", container(
        primitive_definitions() + [object_definition(9, [("n", INT32)]), array_definition(7, OBJECT)], [],
        [(7, array_value(7, 6, [object_value(6, [i32(1)])])), (STRING, b"\x05ab")]),
     "Truncated short string: need 6 bytes, got 3"),
    # Without the reader fault, the decompiler's own message.
    ("StrRef out of range alone", single([OBJECT_SB], [], 6, object_value(6, [str_ref(99), i32(1)])),
     "StrRef index 99 out of bounds"),
    ("unnumbered shape alone", container(
        primitive_definitions() + [object_definition(9, [("n", INT32)]), array_definition(7, OBJECT)], [],
        [(7, array_value(7, 6, [object_value(6, [i32(1)])]))]),
     "Unknown definition index: 6"),
    ("array shape named as an object", container(
        primitive_definitions() + [object_definition(7, []), array_definition(6, INT32)], [], [(6, object_value(6, []))]),
     "Object #6: no field definitions"),
]


@pytest.mark.parametrize("data,message", [c[1:] for c in PRECEDENCE_LOADS], ids=[c[0] for c in PRECEDENCE_LOADS])
def test_loads_reports_the_first_fault_of_the_first_stage(data, message):
    with pytest.raises(ValueError) as raised:
        vesk.loads(data)
    assert str(raised.value) == "Failed to parse VESK: " + message


LONG = "[" + ",".join(["0"] * 70000) + "]"
PRECEDENCE_WRITE = [
    # A compile fault late in the value beats a writer fault early in it.
    (vesk.dumps, f'[{LONG}, [1, "a"]]', "Unsupported data type: array item 1 is String, expected Int32"),
    (vesk.emit, [[0] * 70000, [1, "a"]], "Unsupported data type: array item 1 is String, expected Int32"),
    (vesk.dumps, '{"' + "k" * 300 + '": [true, 1]}', "Unsupported data type: array item 1 is Int32, expected Bool"),
    # A JSON syntax error beats everything.
    (vesk.dumps, f'[{LONG}, [1, "a"],]', "Failed to parse VESK: trailing comma at line 1 column 140014"),
    # Alone, the writer's own fault.
    (vesk.dumps, f"[{LONG}]", "Failed to parse VESK: Array has 70000 items (max 65535)"),
    (vesk.emit, [[0] * 70000], "Failed to parse VESK: Array has 70000 items (max 65535)"),
]


@pytest.mark.parametrize("call,argument,message", PRECEDENCE_WRITE,
                         ids=[f"{c.__name__}-{i}" for i, (c, _, _) in enumerate(PRECEDENCE_WRITE)])
def test_writing_reports_the_first_fault_of_the_first_stage(call, argument, message):
    with pytest.raises(ValueError) as raised:
        call(argument)
    assert str(raised.value) == message


# --- Outcomes pinned before the pipelines were rewritten.


def test_golden_covers_every_document():
    assert sorted(name for name, _ in documents()) == sorted(GOLDEN["documents"])


@pytest.mark.parametrize("name,text", list(documents()), ids=lambda v: v if v.endswith(".json") else "")
def test_documents_give_their_golden_outcomes(name, text):
    assert document_outcomes(text) == GOLDEN["documents"][name]


CONTAINERS = list(mutation_containers())


@pytest.mark.parametrize("name,data", CONTAINERS, ids=[name for name, _ in CONTAINERS])
def test_every_prefix_fails_as_recorded(name, data):
    golden = GOLDEN["containers"][name]
    assert digest(data) == golden["bytes"]
    runs = prefix_outcomes(data)
    assert all(result.startswith("ValueError: Failed to parse VESK: ") for _, _, result in runs)
    assert runs == golden["prefixes"]
    assert outcome(vesk.loads, data).startswith("value")


@pytest.mark.parametrize("name,data", CONTAINERS, ids=[name for name, _ in CONTAINERS])
def test_single_byte_changes_give_recorded_outcomes(name, data):
    assert change_outcomes(name, data) == GOLDEN["containers"][name]["changes"]
