"""Tests of the benchmark's own logic: input preparation, statistics, refusals, tables."""

from __future__ import annotations

import lzma

import pytest

from bench import run_cells
from documents import corpus_paths, load_document, without_none
from memory_probe import peak_traced
from peers import Contender, NoInput
from profile_report import by_function, short_name
from report import Cell, Refusals, operation_table, ratio_summary, shorten
from timing import QUICK, Budget, measure_all, plan, summarise


@pytest.mark.parametrize(
    "value, expected",
    [
        ({"a": None, "b": 1}, {"b": 1}),
        ([None, 1, None, 2], [1, 2]),
        ({"a": [None, {"x": None, "y": [None]}]}, {"a": [{"y": []}]}),
        # Falsy values that are not None stay.
        ({"f": False, "z": 0, "e": "", "l": [], "d": {}}, {"f": False, "z": 0, "e": "", "l": [], "d": {}}),
        ({"b": 2, "a": None, "c": 3}, {"b": 2, "c": 3}),
    ],
)
def test_without_none_drops_every_none_and_keeps_the_rest(value, expected):
    result = without_none(value)
    assert result == expected
    assert list(result) == list(expected)  # member order kept


def test_without_none_leaves_its_input_alone():
    value = {"a": None, "b": [None]}
    without_none(value)
    assert value == {"a": None, "b": [None]}


@pytest.mark.parametrize(
    "per_call, median, q1, q3",
    [
        ([1.0, 2.0, 3.0, 4.0, 5.0], 3.0, 2.0, 4.0),
        ([5.0, 1.0, 4.0, 2.0, 3.0], 3.0, 2.0, 4.0),
        ([2.0], 2.0, 2.0, 2.0),
        ([1.0, 3.0], 2.0, 1.5, 2.5),
    ],
)
def test_summarise_reports_median_and_quartiles(per_call, median, q1, q3):
    timing = summarise(per_call, calls_per_sample=1)
    assert (timing.median, timing.q1, timing.q3, timing.samples) == (median, q1, q3, len(per_call))


def test_spread_and_throughput_follow_from_the_quartiles():
    timing = summarise([0.9, 1.0, 1.1], calls_per_sample=1)
    assert timing.spread_percent == pytest.approx(10.0)
    assert timing.megabytes_per_second(2_000_000) == pytest.approx(2.0)


@pytest.mark.parametrize(
    "estimate, budget, batch, samples",
    [
        (1e-6, Budget(0.5, 5, 300, 1), 2000, 250),  # tiny call: batched, capped by the budget
        (1e-7, Budget(0.5, 5, 100, 1), 20000, 100),  # capped by the sample limit
        (0.05, Budget(0.5, 5, 300, 1), 1, 10),  # big call: one per sample
        (1.0, Budget(0.5, 5, 300, 1), 1, 5),  # slower than the budget: still the minimum
    ],
)
def test_plan_fills_the_budget_within_bounds(estimate, budget, batch, samples):
    assert plan(estimate, budget) == (batch, samples)


@pytest.mark.parametrize(
    "message, limit, expected",
    [
        ("short", 20, "short"),
        ("two\n  lines", 20, "two lines"),
        ("x" * 30, 10, "xxxxxxx..."),
    ],
)
def test_shorten(message, limit, expected):
    assert shorten(message, limit) == expected


def test_refusals_share_a_mark_per_contender_and_message():
    refusals = Refusals()
    assert refusals.mark("vesk.loads", "bad", "a.json") == "refused [a]"
    assert refusals.mark("vesk.loads", "bad", "b.json") == "refused [a]"
    assert refusals.mark("vesk.loads", "other", "c.json") == "refused [b]"
    assert refusals.mark("msgpack", "bad", "a.json") == "refused [c]"
    text = "\n".join(refusals.lines())
    assert "[a] vesk.loads on a.json, b.json:" in text
    assert "[b] vesk.loads on c.json:" in text


def _doc(name="d.json"):
    class Doc:
        pass

    doc = Doc()
    doc.name, doc.text = name, "[1]"
    return doc


def _fail_with(error):
    def run(_):
        raise error

    return run


@pytest.mark.parametrize(
    "contender, refusal",
    [
        (Contender("x", _fail_with(NoInput("no input, dumps failed")), len), "no input, dumps failed"),
        (Contender("x", _fail_with(KeyError("k")), len), "no input: KeyError: 'k'"),
        (Contender("x", lambda d: d.text, _fail_with(ValueError("Failed to parse VESK: eof"))),
         "ValueError: Failed to parse VESK: eof"),
        (Contender("x", lambda d: d.text, _fail_with(NotImplementedError())), "NotImplementedError"),
    ],
)
def test_a_refusing_cell_carries_the_message_and_spares_its_neighbours(contender, refusal):
    working = Contender("len", lambda d: d.text, len)
    before, cell, after = run_cells([working, contender, working], _doc(), QUICK)
    assert cell.timing is None
    assert cell.refusal == refusal
    for neighbour in (before, after):
        assert neighbour.refusal is None
        assert neighbour.timing.samples >= QUICK.min_samples


def test_a_call_failing_after_its_warm_up_is_refused():
    calls = []

    def flaky(_):
        calls.append(1)
        if len(calls) > QUICK.warmup_calls + 1:
            raise RuntimeError("gave up")

    timing, error = measure_all([(len, "x"), (flaky, None)], QUICK)
    assert timing.samples >= QUICK.min_samples
    assert isinstance(error, RuntimeError)


def test_samples_of_the_calls_take_turns():
    log = []
    budget = Budget(seconds=0.02, min_samples=4, max_samples=4, warmup_calls=1)

    def record(label):
        log.append(label)

    timings = measure_all([(record, "a"), (record, "b")], budget)
    assert [t.samples for t in timings] == [4, 4]
    sampled = log[2:]  # after one warm-up call each
    last_a = len(sampled) - 1 - sampled[::-1].index("a")
    assert sampled.index("b") < last_a


def test_operation_table_shows_ratios_and_refusals():
    def cell(seconds):
        return Cell(timing=summarise([seconds], 1))

    cells = {
        ("a.json", "vesk"): cell(2.0), ("a.json", "peer"): cell(1.0), ("a.json", "other"): cell(4.0),
        ("b.json", "vesk"): Cell(refusal="ValueError: Failed to parse VESK: x"),
        ("b.json", "peer"): cell(1.0), ("b.json", "other"): cell(1.0),
    }
    table = operation_table("T", (), [("a.json", 2_000_000), ("b.json", 1024)],
                            ["vesk", "peer", "other"], "vesk", cells)
    lines = table.splitlines()
    rates_a, ratios_a = [line.split()[1:] for line in lines if line.startswith("a.json")]
    assert rates_a == ["1,953", "1.00", "±0%", "2.00", "±0%", "0.50", "±0%"]  # MB/s of 2 MB
    assert ratios_a == ["2.00", "0.50"]
    assert any(line.startswith("b.json") and "refused [a]" in line for line in lines)
    assert any(line.startswith("b.json") and line.split()[1:] == ["-", "-"] for line in lines)
    assert "ValueError: Failed to parse VESK: x" in table
    mean = next(line for line in lines if line.startswith("geometric mean"))
    assert mean.split()[2:] == ["2.00", "0.50"]


def test_peak_traced_sees_python_allocations():
    outcome = peak_traced(lambda n: bytearray(n), 5_000_000)
    assert 5_000_000 <= outcome["peak"] < 6_000_000


def test_corpus_selection_by_name_or_stem(tmp_path):
    for name in ("a.json", "notes.txt", "notes.txt.xz"):
        (tmp_path / name).write_text("{}")
    (tmp_path / "b.json.xz").write_bytes(lzma.compress(b'{"b": 1}'))
    assert [p.name for p in corpus_paths(tmp_path)] == ["a.json", "b.json.xz"]
    assert [p.name for p in corpus_paths(tmp_path, ["b"])] == ["b.json.xz"]
    assert [p.name for p in corpus_paths(tmp_path, ["a.json", "b.json"])] == ["a.json", "b.json.xz"]
    with pytest.raises(SystemExit, match="missing"):
        corpus_paths(tmp_path, ["missing.json"])
    document = load_document(tmp_path / "b.json.xz")
    assert (document.name, document.value, document.size) == ("b.json", {"b": 1}, 8)


@pytest.mark.parametrize(
    "location, expected",
    [
        ("/work/src/a.cpp:vesk::parse_json(std::basic_string_view<char, std::char_traits<char> >) [/x/vesk.so]",
         "vesk::parse_json"),
        ("src/b.cpp:vesk::(anonymous namespace)::Converter::convert(vesk::JsonValue const&)'2 [/x/vesk.so]",
         "vesk::Converter::convert"),
        ("c.cpp:vesk::run(vesk::JsonConverter&, bool) [clone .constprop.0]", "vesk::run"),
        ("h.h:std::_Hashtable<std::string_view, std::pair<int, int> >::_M_find(unsigned long) const",
         "std::_Hashtable<>::_M_find"),
        ("???:0x0000000000012345 [/lib/ld.so]", "0x0000000000012345"),
        ("malloc.c:_int_malloc [/lib/libc.so.6]", "_int_malloc"),
    ],
)
def test_profile_names_are_shortened(location, expected):
    assert short_name(location) == expected


def test_profile_rows_merge_per_function():
    rows = [
        (50, 50.0, "a.cpp:f(int)"), (30, 30.0, "a.h:f(int)"), (20, 20.0, "a.cpp:f(int)'2"),
        (40, 40.0, "b.cpp:g()"),
    ]
    assert by_function(rows, inclusive=False) == [(100, 100.0, "f"), (40, 40.0, "g")]
    assert by_function(rows, inclusive=True) == [(50, 50.0, "f"), (40, 40.0, "g")]


def test_ratio_summary_gives_the_mean_and_the_highest_of_the_measured_documents():
    def cell(seconds):
        return Cell(timing=summarise([seconds], calls_per_sample=1))

    cells = {("a", "v"): cell(1.0), ("a", "p"): cell(4.0), ("b", "v"): cell(1.0), ("b", "p"): cell(1.0),
             ("c", "v"): Cell(refusal="no"), ("c", "p"): cell(1.0)}
    line = ratio_summary("v time / p time", ["a", "b", "c"], "v", "p", cells, 0.4, 0.6)
    assert line == ("   v time / p time: geometric mean 0.50 (target <= 0.4), highest 1.00 on b (target <= 0.6), "
                    "over 2 documents")
    line = ratio_summary("v time / p time", ["a", "b", "c"], "v", "p", cells, 0.7, None)
    assert line == "   v time / p time: geometric mean 0.50 (target <= 0.7), highest 1.00 on b, over 2 documents"


@pytest.mark.parametrize("spoil, message", [
    ("cut_at_the_end", "Failed to parse VESK: Expected int32 (4 bytes)"),
    ("bad_text_at_the_end", "Failed to parse VESK: Invalid UTF-8 string: invalid utf-8 sequence of 1 bytes from index 1"),
    ("dangling_reference_at_the_end", "Failed to parse VESK: StrRef index 4294967295 out of bounds"),
])
def test_each_spoiled_input_is_refused_for_its_fault(spoil, message):
    import refusals
    import vesk

    container = vesk.dumps('{"a": ["xy", "xy", "zz"], "b": 7}')
    with pytest.raises(ValueError) as refused:
        vesk.loads(getattr(refusals, spoil)(container))
    assert str(refused.value) == message
