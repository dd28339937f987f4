"""pack(obj): a Python value compiled as dumps compiles the JSON text of it.

The reference is the text path itself: for any value json.dumps accepts (str
keys, finite floats), pack must give the bytes of dumps(json.dumps(value)), or
the same refusal. What JSON text cannot say (tuples, infinities, objects read
through __index__ or __float__) is held to the format's rules directly.
"""

import decimal
import json
import math

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import vesk
from conftest import corpus_names, corpus_text
from expected_values import Refused, expected_round_trip, same


def via_text(value):
    """dumps(json.dumps(value)), or the refusal as (class, message)."""
    try:
        return vesk.dumps(json.dumps(value, ensure_ascii=False))
    except ValueError as error:
        return type(error), str(error)


def packed(value):
    try:
        return vesk.pack(value)
    except ValueError as error:
        return type(error), str(error)


texts = st.text(alphabet=st.characters(blacklist_categories=("Cs",)), max_size=10)
keys = st.sampled_from(["a", "b", "id", "é", "名前", "a:1,b", "", "A", "ab"]) | texts
edges = [2**31 - 1, 2**31, 2**32 - 1, 2**32, 2**63 - 1, 2**63, 2**64 - 1, 2**64, 2**64 + 1, 10**30]
integers = (st.integers(-2000, 2000) | st.sampled_from(edges + [-e for e in edges])
            | st.integers(-(2**70), 2**70))
float_edges = [3.4028234663852886e38, 3.4028235677973366e38, 3.4028235677973362e38, 1e39, 1.401298464324817e-45,
               7.006492321624085e-46, 7.006492321624087e-46, 1e-46, 0.1, -0.0, 16777217.0]
floats = st.floats(allow_nan=False, allow_infinity=False) | st.sampled_from(float_edges + [-f for f in float_edges])
scalars = st.none() | st.booleans() | texts | integers | floats
json_values = st.recursive(
    scalars,
    lambda children: (st.lists(children, max_size=5) | st.dictionaries(keys, children, max_size=8)
                      | st.lists(integers | floats, max_size=6)
                      | st.lists(st.fixed_dictionaries({"id": integers, "name": texts}), max_size=4)),
    max_leaves=40,
)


@settings(max_examples=400, deadline=None)
@given(json_values)
def test_generated_values_pack_as_their_json_text_compiles(value):
    assert packed(value) == via_text(value)


@settings(max_examples=300, deadline=None)
@given(json_values)
def test_generated_values_read_back_narrowed(value):
    try:
        expected = expected_round_trip(json.dumps(value, ensure_ascii=False))
    except Refused as refusal:
        with pytest.raises(ValueError, match="^" + refusal.args[0].replace("(", r"\(").replace(")", r"\)")):
            vesk.pack(value)
        return
    assert same(vesk.loads(vesk.pack(value)), expected)


def nested(depth, leaf):
    value = leaf
    for level in range(depth):
        value = [value] if level % 2 else {"k": value}
    return value


@pytest.mark.parametrize("value", [
    nested(127, 1), {"k" * 300: 1}, [{"a": 1}, {"a": "x"}, {"b": [1.5, 2]}], list(range(70000)),
    {"b": 1, "a": [None, None], "c": {}}, [[], [None], [1, None]],
], ids=["deep", "long name", "shapes", "long array", "members", "null arrays"])
def test_edge_values_pack_as_their_json_text_compiles(value):
    assert packed(value) == via_text(value)


@pytest.mark.parametrize("name", corpus_names())
def test_corpus_documents_pack_as_dumps_compiles_their_text(name):
    text = corpus_text(name)
    try:
        expected = vesk.dumps(text)
    except ValueError as error:
        with pytest.raises(type(error), match="^" + str(error).replace("(", r"\(").replace(")", r"\)") + "$"):
            vesk.pack(json.loads(text))
        return
    assert vesk.pack(json.loads(text)) == expected


class Index:
    def __index__(self):
        return 2**40


class Key(str):
    def __hash__(self):
        return id(self)

    def __eq__(self, other):
        return self is other


@pytest.mark.parametrize("value, expected", [
    (((1, 2), ((3,), [])), [[1, 2], [[3], []]]),
    ([float("inf"), float("-inf")], [math.inf, -math.inf]),
    ({"x": Index()}, {"x": 0}),
    ([decimal.Decimal("1.5"), 2.5], [1.5, 2.5]),
    ([True, False], [True, False]),
    ({Key("a"): 1, Key("a"): 2}, {"a": 2}),
])
def test_values_json_text_cannot_say(value, expected):
    assert same(vesk.loads(vesk.pack(value)), expected)


def test_nan_reads_back_as_nan():
    assert math.isnan(vesk.loads(vesk.pack(float("nan"))))


@pytest.mark.parametrize("value, error, message", [
    ({1: 2}, TypeError, "'int' object is not an instance of 'str'"),
    ({"a": [{(1,): 2}]}, TypeError, "'tuple' object is not an instance of 'str'"),
    ([b"x"], TypeError, "Unsupported Python type: bytes"),
    ({"a": {1, 2}}, TypeError, "Unsupported Python type: set"),
    (10**400, TypeError, "Unsupported Python type: int"),
    (["\ud800"], TypeError, "Unsupported Python type: str"),
    ({"\ud800": 1}, UnicodeEncodeError, None),
    ([1, "a"], vesk.UnsupportedTypeError, "Unsupported data type: array item 1 is String, expected Int32"),
    (nested(129, 1), RecursionError, None),
])
def test_refusals(value, error, message):
    with pytest.raises(error) as raised:
        vesk.pack(value)
    if message is not None:
        assert str(raised.value) == message


def test_the_nesting_limit_is_the_one_the_reader_reads_back():
    assert vesk.loads(vesk.pack(nested(128, 1))) == nested(128, 1)


def test_a_dict_changed_by_the_conversion_is_an_internal_fault():
    data = {}

    class Grow:
        def __float__(self):
            data["more"] = 1
            return 1.0

    data["x"] = Grow()
    with pytest.raises(vesk.InternalFault, match="^dictionary changed size during iteration$"):
        vesk.pack(data)
