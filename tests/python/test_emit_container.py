"""emit(obj): the containers it writes, byte for byte and shape by shape,
the refusal of lists that mix types, the size limits, and round trips."""

import collections
import decimal
import struct

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import vesk
from emit_model import emit_model
from expected_values import float32, float32_of_int
from test_emit import Floaty, Index, MyFloat, MyInt, MyStr

NULL, BOOL, INT32, UINT32, FLOAT32, STRING, ARRAY, OBJECT = 0, 1, 2, 3, 4, 5, 0x10, 0x11
PRIMITIVES = [(i, "prim", i) for i in range(6)]


def read_text(blob, pos):
    head = blob[pos]
    if head < 0x80:
        size, pos = head, pos + 1
    elif head < 0xC0:
        size, pos = ((head & 0x3F) << 8) | blob[pos + 1], pos + 2
    else:
        assert head == 0xFE
        size, pos = blob[pos + 1] | blob[pos + 2] << 8 | blob[pos + 3] << 16, pos + 4
    return blob[pos : pos + size].decode("utf-8"), pos + size


def parse(blob):
    """(definitions, dictionary, [(def_index, payload)]) of a container.

    Definitions are (index, "prim", kind), (index, "arr", element type) or
    (index, "obj", ((name, type), ...)).
    """
    version, def_offset, dict_offset, data_offset = struct.unpack_from("<BIII", blob, 0)
    assert (version, def_offset) == (1, 13)
    (count,) = struct.unpack_from("<H", blob, 13)
    pos, definitions = 15, []
    for _ in range(count):
        kind, index = struct.unpack_from("<BH", blob, pos)
        pos += 3
        if kind == ARRAY:
            definitions.append((index, "arr", blob[pos]))
            pos += 1
        elif kind == OBJECT:
            (field_count,) = struct.unpack_from("<H", blob, pos)
            pos += 2
            fields = []
            for _ in range(field_count):
                size = blob[pos]
                fields.append((blob[pos + 1 : pos + 1 + size].decode(), blob[pos + 1 + size]))
                pos += size + 2
            definitions.append((index, "obj", tuple(fields)))
        else:
            definitions.append((index, "prim", kind))
    assert pos == dict_offset
    (count,) = struct.unpack_from("<I", blob, pos)
    pos, dictionary = pos + 4, []
    for _ in range(count):
        text, pos = read_text(blob, pos)
        dictionary.append(text)
    assert pos == data_offset
    (count,) = struct.unpack_from("<I", blob, pos)
    pos, entries = pos + 4, []
    for _ in range(count):
        def_index, size = struct.unpack_from("<HI", blob, pos)
        entries.append((def_index, blob[pos + 6 : pos + 6 + size]))
        pos += 6 + size
    assert pos == len(blob)
    return definitions, dictionary, entries


def obj_fields(*types):
    return tuple((f"f{i}", t) for i, t in enumerate(types))


def u16(value):
    return struct.pack("<H", value)


def u32(value):
    return struct.pack("<I", value)


def test_single_item_dict_worked_example():
    expected = (
        b"\x01" + u32(13) + u32(46) + u32(52)
        + u16(7) + b"".join(bytes([k]) + u16(k) for k in range(6))
        + bytes([OBJECT]) + u16(6) + u16(2) + b"\x02f0" + bytes([STRING]) + b"\x02f1" + bytes([INT32])
        + u32(1) + b"\x01a"
        + u32(1) + u16(6) + u32(8) + u16(6) + b"\x01a" + struct.pack("<i", 1)
    )
    assert len(expected) == 70
    assert vesk.emit({"a": 1}) == expected


def test_bare_integer_worked_example():
    expected = (
        b"\x01" + u32(13) + u32(33) + u32(37)
        + u16(6) + b"".join(bytes([k]) + u16(k) for k in range(6))
        + u32(0)
        + u32(1) + u16(2) + u32(4) + struct.pack("<i", 5)
    )
    assert len(expected) == 51
    assert vesk.emit(5) == expected


def arr(self_index, count, items=b""):
    return u16(self_index) + u16(self_index) + u16(count) + items


def i32(value):
    return struct.pack("<i", value)


def s(text):
    data = text.encode()
    return bytes([len(data)]) + data


# Shapes are numbered in walk order (an array before its items, an object
# after its values), strings enter the dictionary at first sight, key before
# value, and every string in the data stays inline.
@pytest.mark.parametrize(
    "value, shapes, dictionary, root, payload",
    [
        (True, [], [], BOOL, b"\x01"),
        (1.5, [], [], FLOAT32, struct.pack("<f", 1.5)),
        ("x", [], ["x"], STRING, s("x")),
        ([1, 2, 3], [(6, "arr", INT32)], [], 6, arr(6, 3, i32(1) + i32(2) + i32(3))),
        ([], [(6, "arr", NULL)], [], 6, arr(6, 0)),
        ({}, [(6, "obj", ())], [], 6, u16(6)),
        (["a", "a", "b"], [(6, "arr", STRING)], ["a", "b"], 6, arr(6, 3, s("a") + s("a") + s("b"))),
        (
            [{"a": 1, "b": 2}, {"x": 3, "y": 4}],
            [(6, "arr", OBJECT), (7, "obj", obj_fields(STRING, INT32, STRING, INT32))],
            ["a", "b", "x", "y"],
            6,
            arr(6, 2, u16(7) + s("a") + i32(1) + s("b") + i32(2) + u16(7) + s("x") + i32(3) + s("y") + i32(4)),
        ),
        (
            {"o": {"k": 1}},
            [(6, "obj", obj_fields(STRING, INT32)), (7, "obj", obj_fields(STRING, OBJECT))],
            ["o", "k"],
            7,
            u16(7) + s("o") + u16(6) + s("k") + i32(1),
        ),
        (
            {"l": [True]},
            [(6, "arr", BOOL), (7, "obj", obj_fields(STRING, ARRAY))],
            ["l"],
            7,
            u16(7) + s("l") + arr(6, 1, b"\x01"),
        ),
        (
            [[1], ["x"]],
            [(6, "arr", ARRAY), (7, "arr", INT32), (8, "arr", STRING)],
            ["x"],
            6,
            arr(6, 2, arr(7, 1, i32(1)) + arr(8, 1, s("x"))),
        ),
        (
            {"b": "v", "a": ["b", "z"]},
            [(6, "arr", STRING), (7, "obj", obj_fields(STRING, STRING, STRING, ARRAY))],
            ["b", "v", "a", "z"],
            7,
            u16(7) + s("b") + s("v") + s("a") + arr(6, 2, s("b") + s("z")),
        ),
    ],
    ids=["bool", "float", "str", "ints", "empty-list", "empty-dict", "repeated-strings", "two-dicts-one-shape",
         "dict-in-dict", "list-in-dict", "lists-of-lists", "dict-order-and-dictionary"],
)
def test_shapes_dictionary_and_payload(value, shapes, dictionary, root, payload):
    definitions, strings, entries = parse(vesk.emit(value))
    assert definitions == PRIMITIVES + shapes
    assert strings == dictionary
    assert entries == [(root, payload)]


def test_equal_input_gives_equal_bytes():
    def make():
        return [{"n": [1.5, 2], "s": ["x", "y", "x"]}, {"n": [], "s": {}}]

    assert vesk.emit(make()) == vesk.emit(make())


# Dict keys come back as values of synthetic fields f0, f1, ...
@pytest.mark.parametrize(
    "value, loaded",
    [
        (5, 5),
        (-1, -1),
        (True, True),
        (1.5, 1.5),
        (0.1, 0.10000000149011612),
        ("héllo", "héllo"),
        ([1, 2, 3], [1, 2, 3]),
        ([], []),
        ({}, {}),
        ({"a": 1}, {"f0": "a", "f1": 1}),
        ({"b": 1, "a": "x"}, {"f0": "b", "f1": 1, "f2": "a", "f3": "x"}),
        ([{"a": [True]}, {"b": [False, True]}], [{"f0": "a", "f1": [True]}, {"f0": "b", "f1": [False, True]}]),
        ([[1], ["x"], []], [[1], ["x"], []]),
        ([1, 2.5, 3], [1.0, 2.5, 3.0]),
        (2**31, -(2**31)),
    ],
    ids=repr,
)
def test_round_trip_through_loads(value, loaded):
    result = vesk.loads(vesk.emit(value))
    assert result == loaded
    assert type(result) is type(loaded)


def test_many_items_come_back_under_byte_ordered_names():
    loaded = vesk.loads(vesk.emit({f"k{i}": i for i in range(6)}))
    assert list(loaded) == ["f0", "f1", "f10", "f11", "f2", "f3", "f4", "f5", "f6", "f7", "f8", "f9"]
    assert [loaded[f"f{2 * i + 1}"] for i in range(6)] == list(range(6))
    assert [loaded[f"f{2 * i}"] for i in range(6)] == [f"k{i}" for i in range(6)]


# --- Lists of mixed item types.


def float_items(blob):
    definitions, _, [(root, payload)] = parse(blob)
    assert definitions[root] == (6, "arr", FLOAT32)
    (count,) = struct.unpack_from("<H", payload, 4)
    return list(struct.unpack_from(f"<{count}f", payload, 6))


# ints and floats together make a Float32 array; each int becomes the binary32
# nearest to its own value, not to its wrapped 32-bit form nor to a double.
@pytest.mark.parametrize(
    "value, expected",
    [
        ([1, 2.5], [1.0, 2.5]),
        ([2.5, 1], [2.5, 1.0]),
        ([2**40, 0.5], [2.0**40, 0.5]),
        ([-(2**63), 0.5], [-(2.0**63), 0.5]),
        ([2**63, 1], [2.0**63, 1.0]),
        ([16777217, 0.5], [16777216.0, 0.5]),
        ([16777219, 0.5], [16777220.0, 0.5]),
        # Through a double this would round twice and land on 2**60.
        ([2**60 + 2**36 + 1, 0.5], [2.0**60 + 2.0**37, 0.5]),
        ([0.5, Index(2**33 + 1)], [0.5, 2.0**33]),
        ([[1, 0.5], [0.5, 1]], None),
    ],
    ids=repr,
)
def test_ints_and_floats_mix_into_a_float_array(value, expected):
    blob = vesk.emit(value)
    if expected is None:
        assert vesk.loads(blob) == [[1.0, 0.5], [0.5, 1.0]]
        definitions, _, _ = parse(blob)
        assert definitions[6:] == [(6, "arr", ARRAY), (7, "arr", FLOAT32)]
    else:
        assert float_items(blob) == expected


@pytest.mark.parametrize(
    "value, message",
    [
        ([True, 1], "array item 1 is Int32, expected Bool"),
        ([1, True], "array item 1 is Bool, expected Int32"),
        ([1, 2.5, "x"], "array item 2 is String, expected Int32"),
        ([1.5, 2, [3]], "array item 2 is Array, expected Float32"),
        (["a", 1], "array item 1 is Int32, expected String"),
        ([[1], {}], "array item 1 is Object, expected Array"),
        ([{}, []], "array item 1 is Array, expected Object"),
        ([True, False, 0.5], "array item 2 is Float32, expected Bool"),
        ({"deep": [[1, 2, "three"]]}, "array item 2 is String, expected Int32"),
        ([True, 1, None], "array item 1 is Int32, expected Bool"),
    ],
    ids=repr,
)
def test_other_mixtures_are_refused(value, message):
    with pytest.raises(ValueError) as caught:
        vesk.emit(value)
    assert str(caught.value) == "Unsupported data type: " + message


# Items are converted in order, each completely before its type is checked:
# the first failure in that order is the one reported.
@pytest.mark.parametrize(
    "value, error",
    [
        ([True, None], TypeError),
        ([True, [None]], TypeError),
        ([True, 1, None], ValueError),
        ([1, {2: 3}], TypeError),
        ([1, "x", {2: 3}], ValueError),
    ],
    ids=repr,
)
def test_first_failure_in_item_order_wins(value, error):
    with pytest.raises(error):
        vesk.emit(value)


# --- Limits of the container.


# Long lists of numbers, written in blocks across chunks of the data: where
# the first item of another kind turns up decides how the rest is written.
@pytest.mark.parametrize(
    "value",
    [
        list(range(-300, 700)) + [0.5],
        [7] * 900 + [2**40] + [1] * 300 + [0.25],
        [1.5] * 1000 + [3] + [2**50, 1.0],
        [2] * 600 + [MyInt(3), Index(4)] + [5] * 400 + [MyFloat(0.5)],
        [0.5] * 513 + [MyFloat(1.5), Floaty(2.5)] + [0.25] * 300,
        [1] * 1030 + ["s"],
        [0.5] * 257 + [True],
    ],
    ids=["ints-then-float", "wide-int-mid-run", "floats-then-ints", "int-subclass-mid-run",
         "float-subclass-mid-run", "ints-then-str", "floats-then-bool"],
)
def test_long_number_lists_give_what_the_model_gives(value):
    assert outcome(vesk.emit, value) == outcome(emit_model, value)


def test_key_objects_met_again_across_many_dicts_give_what_the_model_gives():
    # More distinct key objects than the first table of keys met holds, each
    # met again in other dicts and in other orders, some also as values; a
    # few long enough to be copied from the str itself.
    keys = [f"key{i}" * (60 if i % 100 == 0 else 1) for i in range(1500)]
    dicts = [{key: i for i, key in enumerate(keys[start::step])} for start, step in ((0, 1), (7, 3), (1, 2))]
    value = {"dicts": dicts, "values": keys[::-5]}
    assert vesk.emit(value) == emit_model(value)


def test_a_long_text_in_strs_of_several_classes_is_one_dictionary_entry():
    # Long texts are copied from the str itself, a subclass's too.
    text = "q" * 256
    value = {"a": MyStr(text), text: [MyStr(text), text], "o": {MyStr(text): 1}}
    assert vesk.emit(value) == emit_model(value)


def test_list_of_65535_items_round_trips():
    value = list(range(65535))
    assert vesk.loads(vesk.emit(value)) == value


def test_list_of_65536_items_is_refused():
    with pytest.raises(ValueError) as caught:
        vesk.emit([0] * 65536)
    assert str(caught.value) == "Failed to parse VESK: Array has 65536 items (max 65535)"


def test_nested_list_over_the_limit_is_refused():
    with pytest.raises(ValueError) as caught:
        vesk.emit({"a": [[True] * 70000]})
    assert str(caught.value) == "Failed to parse VESK: Array has 70000 items (max 65535)"


def test_dict_of_32767_items_is_written():
    definitions, strings, _ = parse(vesk.emit({f"k{i}": i for i in range(32767)}))
    assert len(definitions[6][2]) == 65534
    assert len(strings) == 32767


def test_dict_of_32768_items_is_refused():
    with pytest.raises(ValueError) as caught:
        vesk.emit({"x": {f"k{i}": i for i in range(32768)}})
    assert str(caught.value) == "Failed to parse VESK: Object #6 has 65536 fields (max 65535)"


def test_more_than_65535_definitions_are_refused():
    # 4**8 = 65536 distinct object shapes, one per choice of 8 value types,
    # plus the list and the six primitives.
    kinds = [True, 1, 1.5, "s"]
    value = [{f"k{p}": kinds[(n >> (2 * p)) & 3] for p in range(8)} for n in range(4**8)]
    with pytest.raises(ValueError) as caught:
        vesk.emit(value)
    assert str(caught.value) == "Failed to parse VESK: Too many definitions (65543), max 65535"


def test_string_over_the_inline_limit_is_refused():
    with pytest.raises(ValueError) as caught:
        vesk.emit(["x" * 16777216])
    assert str(caught.value) == "Failed to parse VESK: String exceeds maximum inline length (16 777 215 bytes)"


# --- Random values against a model of the rules, within what loads accepts.


def wrap32(number):
    return (number + 2**31) % 2**32 - 2**31


def number_kind(item):
    # Ints beyond 64 bits are Float32 items already, so they count as floats.
    if type(item) is int:
        return "int" if -(2**63) <= item < 2**63 else "float"
    return type(item).__name__


def model(value):
    if isinstance(value, bool) or isinstance(value, str):
        return value
    if isinstance(value, int):
        return wrap32(value) if -(2**63) <= value < 2**63 else float32(float(value))
    if isinstance(value, float):
        return float32(value)
    if isinstance(value, dict):
        result = {}
        for position, (key, item) in enumerate(value.items()):
            result[f"f{2 * position}"] = key
            result[f"f{2 * position + 1}"] = model(item)
        return result
    if {number_kind(item) for item in value} == {"int", "float"}:
        # Ints within 64 bits are rounded once, from their full value.
        return [float32_of_int(item) if number_kind(item) == "int" else float32(float(item)) for item in value]
    return [model(item) for item in value]


def random_value(rng, depth):
    choice = rng.randrange(8 if depth < 4 else 5)
    if choice == 0:
        return rng.random() < 0.5
    if choice == 1:
        return rng.choice([0, -1, 7, 2**31, -(2**31) - 1, 2**40 + 5, 2**63 - 1, 2**63, -(2**70)])
    if choice == 2:
        return rng.choice([0.0, -0.0, 0.1, 1e30, -3.5e-40, 16777217.0, 3.4e38])
    if choice in (3, 4):
        return rng.choice(["", "a", "é", "x" * 130, "日本"])
    if choice == 5:
        return {rng.choice("abcxyz") + str(i): random_value(rng, depth + 1) for i in range(rng.randrange(4))}
    template = random_value(rng, depth + 1)
    items = []
    for _ in range(rng.randrange(5)):
        item = random_value(rng, depth + 1)
        same = type(item) is type(template) or {type(item), type(template)} == {int, float}
        items.append(item if same else template)
    return items


@pytest.mark.parametrize("seed", range(8))
def test_random_values_load_back_as_the_rules_say(seed):
    import random

    rng = random.Random(seed)
    for _ in range(60):
        value = random_value(rng, 0)
        assert vesk.loads(vesk.emit(value)) == model(value), value


# --- Random values against the byte-level model of the rules: the container,
# or the exception with its message.


def outcome(call, value):
    try:
        return call(value)
    except (TypeError, ValueError, RecursionError) as error:
        return type(error), str(error)


def nest(value, depth, in_dicts):
    for _ in range(depth):
        value = {"k": value} if in_dicts else [value]
    return value


texts = st.text(max_size=6) | st.sampled_from(["\ud800", "x\udfff", "é" * 70, "k" * 200, "k" * 255, "q" * 256,
                                                "ü" * 150])
numbers = (st.integers(-(2**70), 2**70) | st.floats() | st.builds(MyInt, st.integers(-5, 5))
           | st.builds(MyFloat, st.floats(-1e3, 1e3)) | st.builds(Index, st.integers(-(2**65), 2**65))
           | st.builds(Floaty, st.floats()) | st.sampled_from([decimal.Decimal("1.5"), decimal.Decimal("sNaN")]))
scalars = (st.booleans() | numbers | texts | st.builds(MyStr, texts)
           | st.sampled_from([None, (), b"x", 1j, 10**400]))
keys = texts | st.sampled_from([1, None, MyStr("k")])


def containers(children):
    # Lists of one kind of item, ints and floats together, or anything.
    same_kind = st.one_of(st.lists(st.booleans()), st.lists(numbers), st.lists(texts),
                          st.lists(st.dictionaries(texts, children, max_size=3), max_size=3))
    return (same_kind | st.lists(children, max_size=4) | st.dictionaries(keys, children, max_size=4)
            | st.builds(collections.OrderedDict, st.dictionaries(texts, children, max_size=3)))


emit_values = (st.recursive(scalars, containers, max_leaves=24)
               | st.builds(nest, scalars, st.integers(125, 130), st.booleans())
               | st.sampled_from([[0] * 65536, {"a": [[True] * 65535, [0] * 70000]}]))


@settings(max_examples=400, deadline=None)
@given(emit_values)
def test_emit_gives_what_the_model_of_its_rules_gives(value):
    assert outcome(vesk.emit, value) == outcome(emit_model, value)
