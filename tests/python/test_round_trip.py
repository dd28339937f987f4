import json

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import vesk
from conftest import corpus_names, corpus_text, suite_files
from expected_values import Refused, expected_round_trip, same


def check_round_trip(json_text):
    try:
        expected = expected_round_trip(json_text)
    except Refused as refusal:
        with pytest.raises(ValueError) as raised:
            vesk.loads(vesk.dumps(json_text))
        assert str(raised.value).startswith(refusal.args[0])
        return
    assert same(vesk.loads(vesk.dumps(json_text)), expected)


@pytest.mark.parametrize("path", suite_files("y_"), ids=lambda p: p.name)
def test_accepted_suite_files(path):
    check_round_trip(path.read_bytes().decode("utf-8"))


@pytest.mark.parametrize("name", corpus_names())
def test_corpus_files(name):
    check_round_trip(corpus_text(name))


def outcome(call):
    try:
        return ("value", call())
    except ValueError as error:
        return ("error", str(error))


@pytest.mark.parametrize("name", corpus_names())
def test_corpus_files_through_a_file(name, tmp_path):
    json_text = corpus_text(name)
    target = str(tmp_path / "doc.vesk")

    def through_file():
        vesk.dump(json_text, target)
        return vesk.load(target)

    via_file = outcome(through_file)
    in_memory = outcome(lambda: vesk.loads(vesk.dumps(json_text)))
    assert via_file[0] == in_memory[0]
    assert same(via_file[1], in_memory[1])


@pytest.mark.parametrize("name", ["canada.json", "mesh.json"])
def test_mixed_number_files_are_compared_not_refused(name):
    # These files mix integers and floats inside arrays; the comparison above
    # is only meaningful if they come back as values.
    json_text = corpus_text(name)
    assert same(vesk.loads(vesk.dumps(json_text)), expected_round_trip(json_text))


texts = st.text(alphabet=st.characters(blacklist_categories=("Cs",)), max_size=12)
scalars = (st.none() | st.booleans() | texts
           | st.integers(min_value=-(2**63), max_value=2**64 - 1)
           | st.integers(min_value=-2000, max_value=2000)
           | st.floats(allow_nan=False, allow_infinity=False))
json_values = st.recursive(
    scalars,
    lambda children: st.lists(children, max_size=6) | st.dictionaries(texts, children, max_size=6)
    | st.lists(st.integers(-(2**40), 2**40) | st.floats(-1e6, 1e6), max_size=6),
    max_leaves=30,
)


@settings(max_examples=300, deadline=None)
@given(json_values)
def test_generated_values_round_trip(value):
    check_round_trip(json.dumps(value, ensure_ascii=False))


@settings(max_examples=100, deadline=None)
@given(st.lists(st.fixed_dictionaries({"id": st.integers(0, 10**6), "name": texts}), max_size=20))
def test_generated_records_round_trip_exactly(records):
    # Records of small integers and text survive unchanged.
    assert vesk.loads(vesk.dumps(json.dumps(records))) == records
