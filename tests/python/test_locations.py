"""Where a refusal is: the JSON path of the value refused, and the line, column
and byte position of a JSON syntax error; and strict=True, which refuses the
first number that would not read back as written.

The strict property holds the codec against a model of its documented rules
(expected_values): a number is lost when what reads back differs from what
was written, except for the rounding of a float to binary32 precision.
"""

import json
import math
import re

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import vesk
from conftest import corpus_names, corpus_text
from expected_values import Refused, expected_round_trip


def path_step(path, key):
    if isinstance(key, int):
        return f"{path}[{key}]"
    if re.fullmatch(r"[A-Za-z_][A-Za-z0-9_]*", key):
        return f"{path}.{key}"
    return f"{path}[{json.dumps(key, ensure_ascii=False)}]"


def lost(given, stored):
    if isinstance(given, bool) or not isinstance(given, (int, float)):
        return False
    if isinstance(given, int) and -(2**63) <= given < 2**64:
        return stored != given
    # Floats, and integers beyond 64 bits, which take the float path.
    finite = math.isfinite(float(given))
    return finite and given != 0 and (stored == 0 or math.isinf(stored))


def first_loss(given, stored, path="$"):
    """(path, given, stored) of the first lost number in the order given, or None."""
    if isinstance(given, dict):
        items = ((key, value, stored[key]) for key, value in given.items())
    elif isinstance(given, list):
        items = ((index, value, stored[index]) for index, value in enumerate(given))
    else:
        return (path, given, stored) if lost(given, stored) else None
    for key, value, back in items:
        found = first_loss(value, back, path_step(path, key))
        if found:
            return found
    return None


texts = st.text(alphabet=st.characters(blacklist_categories=("Cs",)), max_size=6)
keys = st.sampled_from(["a", "b", "id", "x y", "é", "0", 'q"\n']) | texts
integers = (st.integers(-(2**24), 2**24) | st.integers(-(2**63), 2**64 - 1) | st.integers(-(2**70), 2**70)
            | st.sampled_from([2**31 - 1, 2**31, -(2**31), -(2**31) - 1, 2**24 + 1, 2**32, 2**63, 2**64 - 1]))
floats = st.floats(allow_nan=False, allow_infinity=False) | st.sampled_from([1e39, -1e39, 1e-46, -1e-46, 3.4e38, 1e-45])
values = st.recursive(
    st.none() | st.booleans() | texts | integers | floats,
    lambda children: (st.lists(children, max_size=4) | st.dictionaries(keys, children, max_size=5)
                      | st.lists(integers | floats, max_size=5)),
    max_leaves=25,
)


@settings(max_examples=400, deadline=None)
@given(values)
def test_strict_refuses_exactly_the_first_number_that_does_not_read_back(value):
    text = json.dumps(value, ensure_ascii=False)
    try:
        stored = expected_round_trip(text)
    except Refused:
        return
    expected = first_loss(value, stored)
    for compile_strictly in (lambda: vesk.dumps(text, strict=True), lambda: vesk.pack(value, strict=True)):
        if expected is None:
            assert compile_strictly() == vesk.dumps(text)
            continue
        with pytest.raises(vesk.LossError) as raised:
            compile_strictly()
        path, given, back = expected
        error = raised.value
        assert (error.path, error.value, error.stored) == (path, given, back)
        assert str(error) == f"Value not kept: {path} is {given!r}, stored as {back!r}"


@pytest.mark.parametrize("name", corpus_names())
def test_corpus_strict_agrees_with_the_model(name):
    text = corpus_text(name)
    try:
        stored = expected_round_trip(text)
    except Refused:
        return
    expected = first_loss(json.loads(text), stored)
    if expected is None:
        assert vesk.dumps(text, strict=True) == vesk.dumps(text)
    else:
        with pytest.raises(vesk.LossError) as raised:
            vesk.dumps(text, strict=True)
        assert (raised.value.path, raised.value.value) == expected[:2]


def test_a_dropped_repeated_key_loses_nothing_and_dump_writes_nothing(tmp_path):
    assert vesk.dumps('{"a": 3000000000, "a": 1}', strict=True) == vesk.dumps('{"a": 1}')
    target = tmp_path / "out.vesk"
    target.write_bytes(b"old")
    with pytest.raises(vesk.LossError):
        vesk.dump('{"a": 3000000000}', str(target), strict=True)
    assert target.read_bytes() == b"old"


@pytest.mark.parametrize("value, expected", [
    ({"a": [1, 2, 3000000000]}, ("$.a[2]", 3000000000, -1294967296)),
    ({"a": [1, 0.5, 2**40 + 1]}, ("$.a[2]", 2**40 + 1, 2.0**40)),
    ({"a": [2**40, 0.5], "b": [16777216, 0.5]}, None),
    ([[1e39, 2.0], [3000000000]], ("$[0][0]", 1e39, math.inf)),
    ([[1.0, 2.0], [3000000000]], ("$[1][0]", 3000000000, -1294967296)),
    ({"b": 2**40, "a": 1}, ("$.b", 2**40, 0)),
    ({"x y": {"é": -1e-50}}, ('$["x y"]["é"]', -1e-50, -0.0)),
    (2**31, ("$", 2**31, -(2**31))),
    ([16777217, 0.5, 3e39], ("$[0]", 16777217, 16777216.0)),
    ([0.5, 3e39, 16777217], ("$[1]", 3e39, math.inf)),
])
def test_emit_strict_refuses_the_first_number_that_does_not_read_back(value, expected):
    if expected is None:
        assert vesk.emit(value, strict=True) == vesk.emit(value)
        return
    with pytest.raises(vesk.LossError) as raised:
        vesk.emit(value, strict=True)
    error = raised.value
    assert (error.path, error.value, error.stored) == expected
    assert math.copysign(1, error.stored) == math.copysign(1, expected[2])


def test_emit_refuses_a_mixed_list_with_its_path():
    error = refusal(lambda: vesk.emit({"x": [{"a": [1, 2]}, {"a": [True, "s"]}]}))
    assert type(error) is vesk.UnsupportedTypeError and error.path == "$.x[1].a"


def refusal(call):
    with pytest.raises(vesk.VeskError) as raised:
        call()
    return raised.value


@pytest.mark.parametrize("text, cls, path", [
    ('{"statuses": [{"a": 1}, {"entities": {"urls": [1, null]}}]}', vesk.UnsupportedTypeError,
     "$.statuses[1].entities.urls"),
    ('[[1, "x"]]', vesk.UnsupportedTypeError, "$[0]"),
    ('{"b": [true, 1], "a": [1, "x"]}', vesk.UnsupportedTypeError, "$.a"),
    ('{"x y": {"\\"q\\"\\n": ["s", 1]}}', vesk.UnsupportedTypeError, '$["x y"]["\\"q\\"\\n"]'),
    ('{"é": {"_a1": {"0": [null, 2]}}}', vesk.UnsupportedTypeError, '$["é"]._a1["0"]'),
    (json.dumps({"k": [0] * 65536}), vesk.ParseError, "$.k"),
    (json.dumps({"k": [{"n" * 256: 1}]}), vesk.ParseError, "$.k[0]"),
    (json.dumps({"a": [{"f%d" % i: 1 for i in range(65536)}]}), vesk.ParseError, "$.a[0]"),
    (json.dumps([{"n%d" % i: 1} for i in range(65531)]), vesk.ParseError, "$[65529]"),
])
def test_refusals_name_the_path_of_the_value_refused(text, cls, path):
    for error in (refusal(lambda: vesk.dumps(text)), refusal(lambda: vesk.pack(json.loads(text)))):
        assert type(error) is cls and error.path == path
        if cls is vesk.ParseError:
            assert (error.line, error.column, error.pos) == (None, None, None)


def test_refusals_about_no_one_value_have_no_path():
    assert refusal(lambda: vesk.loads(b"")).path is None


@pytest.mark.parametrize("text", ["", "x", "[1] x", '{"a":\n [1,}', '{"é":\n\n  [1,]}', '["名前", 1 2]',
                                  '{"😀": tru}', '"\\u12"', "[" * 200,
                                  # Long enough for the byte count's vector steps, in each width of units.
                                  "[" + '"aé\x7f\x80ÿ",\n' * 70 + "1 2]", "[" + '"aé名\u07ff\u0800",\n' * 70 + "1 2]",
                                  "[" + '"aé名😀\U0010ffff",\n' * 70 + "tru]"])
def test_syntax_errors_say_line_column_and_byte_position(text):
    error = refusal(lambda: vesk.dumps(text))
    assert type(error) is vesk.ParseError and error.path is None
    line, column = map(int, re.search(r"at line (\d+) column (\d+)$", str(error)).groups())
    assert (error.line, error.column) == (line, column)
    before = sum(len(part) + 1 for part in text.encode().split(b"\n")[: line - 1])
    assert error.pos == before + column

