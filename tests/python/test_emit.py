"""emit(obj): how Python values become values of the container.

Scalar results are read straight out of the container bytes (a bare scalar
is the one data entry after the six primitive definitions), so these tests do
not depend on the reading side of the module.
"""

import collections
import decimal
import math
import struct
import sys

import pytest

import vesk


def scalar_entry(blob):
    """(definition index, payload) of the single data entry of `blob`."""
    (data_offset,) = struct.unpack_from("<I", blob, 9)
    count, def_index, size = struct.unpack_from("<IHI", blob, data_offset)
    assert count == 1
    payload = blob[data_offset + 10 :]
    assert len(payload) == size
    return def_index, payload


def int32_of(value):
    def_index, payload = scalar_entry(vesk.emit(value))
    assert def_index == 2
    return struct.unpack("<i", payload)[0]


def float32_bits_of(value):
    def_index, payload = scalar_entry(vesk.emit(value))
    assert def_index == 4
    return struct.unpack("<I", payload)[0]


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class Floaty:
    def __init__(self, value):
        self.value = value

    def __float__(self):
        return self.value

    def __repr__(self):
        return f"Floaty({self.value!r})"


class FailingFloat:
    def __float__(self):
        raise ArithmeticError("no float today")


class FailingIndexWorkingFloat:
    def __index__(self):
        raise ArithmeticError("no index today")

    def __float__(self):
        return 2.5


class MyInt(int):
    pass


class MyFloat(float):
    pass


class MyStr(str):
    pass


# Integers keep their low 32 bits, read as a signed number.
@pytest.mark.parametrize(
    "value, expected",
    [
        (7, 7),
        (-1, -1),
        (0, 0),
        (2**31 - 1, 2**31 - 1),
        (2**31, -(2**31)),
        (3000000000, -1294967296),
        (4294967295, -1),
        (4294967301, 5),
        (2**63 - 1, -1),
        (-(2**63), 0),
        (-(2**31) - 1, 2**31 - 1),
        (MyInt(-9), -9),
        (Index(5), 5),
        (Index(-1), -1),
        (Index(2**40 + 3), 3),
    ],
)
def test_integers_wrap_to_their_low_32_bits(value, expected):
    assert int32_of(value) == expected


def bits(number):
    return struct.unpack("<I", struct.pack("<f", number))[0]


FLT_MAX = 3.4028234663852886e38
# The point halfway between FLT_MAX and 2**128, where rounding turns to infinity.
OVERFLOW_TIE = 2.0**128 - 2.0**103


# Other numbers become the nearest binary32 value, ties to even, overflowing
# to infinity. Expected patterns are spelled out rather than computed.
@pytest.mark.parametrize(
    "value, expected_bits",
    [
        (0.1, 0x3DCCCCCD),
        (1.5, 0x3FC00000),
        (-0.0, 0x80000000),
        (16777217.0, 0x4B800000),
        (16777219.0, 0x4B800002),
        (1e39, 0x7F800000),
        (-1e39, 0xFF800000),
        (float("inf"), 0x7F800000),
        (float("-inf"), 0xFF800000),
        (FLT_MAX, 0x7F7FFFFF),
        (math.nextafter(OVERFLOW_TIE, 0.0), 0x7F7FFFFF),
        (OVERFLOW_TIE, 0x7F800000),
        (-OVERFLOW_TIE, 0xFF800000),
        (1e-46, 0x00000000),
        (1.5e-45, 0x00000001),
        (2**63, 0x5F000000),
        (-(2**63) - 1, 0xDF000000),
        (2**64 + 2**50, 0x5F800200),
        (decimal.Decimal("1.5"), 0x3FC00000),
        (MyFloat(0.5), 0x3F000000),
        (Floaty(-2.0), 0xC0000000),
        (FailingIndexWorkingFloat(), 0x40200000),
    ],
    ids=repr,
)
def test_other_numbers_round_to_binary32(value, expected_bits):
    assert float32_bits_of(value) == expected_bits


def test_nan_stays_nan():
    (number,) = struct.unpack("<f", struct.pack("<I", float32_bits_of(float("nan"))))
    assert math.isnan(number)


@pytest.mark.parametrize("value, payload", [(True, b"\x01"), (False, b"\x00")])
def test_booleans_are_not_integers(value, payload):
    assert scalar_entry(vesk.emit(value)) == (1, payload)


@pytest.mark.parametrize(
    "value, payload",
    [("x", b"\x01x"), ("", b"\x00"), (MyStr("sub"), b"\x03sub"), ("é", b"\x02\xc3\xa9")],
    ids=repr,
)
def test_strings_are_inline_utf8(value, payload):
    assert scalar_entry(vesk.emit(value)) == (5, payload)


unsupported = [
    (None, "NoneType"),
    ((), "tuple"),
    ((1, 2), "tuple"),
    ({1}, "set"),
    (frozenset(), "frozenset"),
    (b"x", "bytes"),
    (bytearray(b"x"), "bytearray"),
    (1j, "complex"),
    (object(), "object"),
    (10**400, "int"),
    (-(10**400), "int"),
    ("\ud800", "str"),
    (FailingFloat(), "FailingFloat"),
    (decimal.Decimal("sNaN"), "Decimal"),
]


def nestings(value):
    return [value, [value], {"k": value}, [1, 2, 3, value], {"a": [{"b": [[value]]}]}]


@pytest.mark.parametrize("value, name", [(v, n) for value, n in unsupported for v in nestings(value)])
def test_unsupported_values_anywhere_raise_type_error(value, name):
    with pytest.raises(TypeError) as caught:
        vesk.emit(value)
    assert str(caught.value) == f"Unsupported Python type: {name}"
    # Whatever a __float__ or codec raised on the way was dropped, not chained.
    assert caught.value.__context__ is None


@pytest.mark.parametrize(
    "value, message",
    [
        ({1: 2}, "'int' object is not an instance of 'str'"),
        ({None: 2}, "'NoneType' object is not an instance of 'str'"),
        ({b"k": 2}, "'bytes' object is not an instance of 'str'"),
        ({(1,): 2}, "'tuple' object is not an instance of 'str'"),
        ({"ok": 1, 2.5: 2}, "'float' object is not an instance of 'str'"),
        ([[{"ok": {True: 1}}]], "'bool' object is not an instance of 'str'"),
    ],
    ids=repr,
)
def test_dict_keys_must_be_str(value, message):
    with pytest.raises(TypeError) as caught:
        vesk.emit(value)
    assert str(caught.value) == message


@pytest.mark.parametrize("value", [{"\udc80": 1}, [{"a": {"\ud800x": 1}}]], ids=repr)
def test_unencodable_dict_key_raises_the_codec_error(value):
    with pytest.raises(UnicodeEncodeError):
        vesk.emit(value)


class ReorderingDict(dict):
    """Overrides every way of iterating; the stored order must still win."""

    def __iter__(self):
        return iter(sorted(super().keys(), reverse=True))

    def keys(self):
        return list(self.__iter__())

    def items(self):
        return [(k, self[k]) for k in self.keys()]

    def __len__(self):
        return 0


class LyingList(list):
    def __iter__(self):
        return iter([99])

    def __len__(self):
        return 1

    def __getitem__(self, index):
        return 99


def ordered_dict():
    result = collections.OrderedDict()
    result["b"] = 1
    result["a"] = 2
    return result


def default_dict():
    result = collections.defaultdict(list)
    result["b"] = 1
    result["a"] = 2
    return result


def reordering_dict():
    result = ReorderingDict()
    result["b"] = 1
    result["a"] = 2
    return result


# Containers are read from the stored data, never through overridden methods,
# so every one of these compiles exactly like the plain value.
@pytest.mark.parametrize(
    "value, plain",
    [
        (ordered_dict(), {"b": 1, "a": 2}),
        (default_dict(), {"b": 1, "a": 2}),
        (reordering_dict(), {"b": 1, "a": 2}),
        (LyingList([1, 2, 3]), [1, 2, 3]),
        ([LyingList([MyStr("s")])], [["s"]]),
        ({MyStr("k"): MyInt(4)}, {"k": 4}),
    ],
    ids=["OrderedDict", "defaultdict", "dict-subclass", "list-subclass", "nested-subclass", "str-int-subclass"],
)
def test_subclasses_read_like_their_base(value, plain):
    assert vesk.emit(value) == vesk.emit(plain)


def with_removed(keys, removed, key_type=str):
    result = {key_type(key): index for index, key in enumerate(keys)}
    for key in removed:
        del result[key_type(key)]
    return result


class Attributes:
    def __init__(self):
        self.b = 1
        self.a = 2


# However the interpreter holds a dict's items (removed items leaving holes,
# str-only or general keys, an instance's attributes sharing their keys),
# exactly the items left are read, in their stored order.
@pytest.mark.parametrize(
    "value, plain",
    [
        (with_removed("abcde", "a"), {"b": 1, "c": 2, "d": 3, "e": 4}),
        (with_removed("abcde", "bd"), {"a": 0, "c": 2, "e": 4}),
        (with_removed("abcde", "e"), {"a": 0, "b": 1, "c": 2, "d": 3}),
        (with_removed("ab", "ab"), {}),
        (with_removed("abcd", "ac", MyStr), {"b": 1, "d": 3}),
        (vars(Attributes()), {"b": 1, "a": 2}),
    ],
    ids=["first-removed", "inner-removed", "last-removed", "all-removed", "general-keys", "instance-attributes"],
)
def test_every_dict_table_reads_its_items_in_order(value, plain):
    assert vesk.emit(value) == vesk.emit(plain)


def test_dict_order_is_kept():
    # b before a: the stored order, not sorted.
    assert vesk.emit({"b": 1, "a": 2}) != vesk.emit({"a": 2, "b": 1})
    assert vesk.loads(vesk.emit({"b": 1, "a": 2})) == {"f0": "b", "f1": 1, "f2": "a", "f3": 2}


# --- Code that the conversion runs (__index__, __float__) may change the very
# containers being converted.


class Hook:
    """A number whose conversion runs `action` first."""

    def __init__(self, action, result=5, via="index"):
        self.action, self.result, self.via = action, result, via

    def __index__(self):
        if self.via != "index":
            raise TypeError
        self.action()
        return self.result

    def __float__(self):
        self.action()
        return float(self.result)


@pytest.mark.parametrize("via", ["index", "float"])
def test_shrinking_list_is_cut_at_its_new_length(via):
    items = [1, None, 3, 4]
    items[1] = Hook(lambda: items.__delitem__(slice(2, None)), via=via)
    expected = [1, 5] if via == "index" else [1.0, 5.0]
    assert vesk.loads(vesk.emit(items)) == expected
    assert items[0] == 1 and len(items) == 2


@pytest.mark.parametrize("via", ["index", "float"])
def test_list_emptied_by_its_own_item_keeps_the_item_alive(via):
    items = []
    items.append(Hook(items.clear, result=6, via=via))
    assert vesk.loads(vesk.emit(items)) == [6 if via == "index" else 6.0]
    assert items == []


@pytest.mark.parametrize("via", ["index", "float"])
def test_growing_list_is_read_up_to_its_starting_length(via):
    items = [None, 2]
    items[0] = Hook(lambda: items.extend(["never", "read"]), via=via)
    expected = [5, 2] if via == "index" else [5.0, 2.0]
    assert vesk.loads(vesk.emit(items)) == expected
    assert len(items) == 4


def grow(target):
    return lambda: target.__setitem__("added", 1)


def drop_first_add_other(target):
    def action():
        del target["first"]
        target["other"] = 1

    return action


def drop_all(target):
    return target.clear


@pytest.mark.parametrize("via", ["index", "float"])
@pytest.mark.parametrize(
    "build, message",
    [
        # The size differs right after the item whose conversion grew the dict.
        (lambda d, via: d.update(first=Hook(grow(d), via=via)), "dictionary changed size during iteration"),
        # A change deep inside the value is seen once the value is done.
        (
            lambda d, via: d.update(first=[{"x": [Hook(grow(d), via=via)]}]),
            "dictionary changed size during iteration",
        ),
        (lambda d, via: d.update(first=Hook(drop_all(d), via=via)), "dictionary changed size during iteration"),
        # Same size, but the removed item was visited and the added one will
        # be: more items visited than the dict ever held at once.
        (
            lambda d, via: d.update(first=Hook(drop_first_add_other(d), via=via), second=2),
            "dictionary keys changed during iteration",
        ),
    ],
    ids=["grow", "grow-deep", "clear", "swap"],
)
def test_dict_changed_during_conversion_raises_internal_fault(build, message, via):
    target = {}
    build(target, via)
    with pytest.raises(BaseException) as caught:
        vesk.emit(target)
    assert type(caught.value) is vesk.InternalFault
    assert str(caught.value) == message
    assert not isinstance(caught.value, Exception)


@pytest.mark.parametrize("via", ["index", "float"])
def test_dict_table_rebuilt_by_a_conversion_is_read_afresh(via):
    # Five items fill the table: removing one and adding another builds a new
    # table, without the old one's removed entry, while the size stays. The
    # rest is read from the new table, on from the same position.
    target = {}
    target["first"] = Hook(drop_first_add_other(target), via=via)
    target.update(second=2, third=3, fourth=4, fifth=5)
    names = list(vesk.loads(vesk.emit(target)).values())[::2]
    assert names == ["first", "third", "fourth", "fifth", "other"]


def test_internal_fault_class_is_a_private_module_member():
    assert vesk.InternalFault.__bases__ == (BaseException,)
    assert "InternalFault" not in vesk.__all__


def test_fault_class_is_the_module_own_even_when_its_attribute_goes(monkeypatch):
    fault = vesk.InternalFault
    monkeypatch.delattr(vesk, "InternalFault")
    target = {}
    target["first"] = Hook(grow(target))
    with pytest.raises(BaseException, match="^dictionary changed size during iteration$") as caught:
        vesk.emit(target)
    assert type(caught.value) is fault


def test_changing_a_nested_dict_only_reports_that_dict():
    inner = {"a": 1}
    outer = {"inner": inner, "hook": None}
    outer["hook"] = Hook(grow(inner))
    # inner was already converted when it grew: nothing to report.
    assert vesk.loads(vesk.emit(outer))["f1"] == {"f0": "a", "f1": 1}


# --- Nesting depth: ours, whatever the interpreter's recursion limit, and the
# reader's, so that whatever emit writes loads back.

MAX_NESTING = 128


def nested_lists(depth, leaf=0):
    value = leaf
    for _ in range(depth):
        value = [value]
    return value


def nested_dicts(depth):
    value = 0
    for _ in range(depth):
        value = {"k": value}
    return value


def alternating(depth):
    value = 0
    for level in range(depth):
        value = [value] if level % 2 else {"k": value}
    return value


def nesting_of(value):
    # Iterative: the tests run it under a low recursion limit.
    deepest, pending = 0, [(value, 0)]
    while pending:
        value, depth = pending.pop()
        if isinstance(value, (list, dict)):
            pending.extend((item, depth + 1) for item in (value.values() if isinstance(value, dict) else value))
        deepest = max(deepest, depth)
    return deepest


def stack_depth():
    frame, depth = sys._getframe(), 0
    while frame is not None:
        frame, depth = frame.f_back, depth + 1
    return depth


@pytest.fixture(params=["low", "high"])
def recursion_limit(request):
    saved = sys.getrecursionlimit()
    # Low: barely room for the test itself, far below the nesting allowed.
    limit = stack_depth() + 40 if request.param == "low" else 100000
    sys.setrecursionlimit(limit)
    yield limit
    sys.setrecursionlimit(saved)


@pytest.mark.parametrize("build", [nested_lists, nested_dicts, alternating])
def test_nesting_up_to_the_limit_is_emitted_and_loads_back(build, recursion_limit):
    assert nesting_of(vesk.loads(vesk.emit(build(MAX_NESTING)))) == MAX_NESTING


@pytest.mark.parametrize("build", [nested_lists, nested_dicts, alternating])
def test_nesting_beyond_the_limit_raises_recursion_error(build, recursion_limit):
    with pytest.raises(RecursionError):
        vesk.emit(build(MAX_NESTING + 1))


def self_containing_list():
    value = [1]
    value.append(value)
    return value


def self_containing_dict():
    value = {"a": 1}
    value["me"] = value
    return value


def mutually_containing():
    first, second = [], {}
    first.append(second)
    second["first"] = first
    return first


@pytest.mark.parametrize("build", [self_containing_list, self_containing_dict, mutually_containing])
def test_cycles_end_in_recursion_error(build, recursion_limit):
    with pytest.raises(RecursionError):
        vesk.emit(build())


# A number whose __index__ or __float__ calls emit again, at the bottom of
# `depth` levels (0: the number itself is the argument). All those calls
# share the 128 levels, so the chain ends in RecursionError after at most 129
# conversions whatever the recursion limit: formerly a low limit made it retry
# exponentially often and a high one ran the native stack out. Run in a child
# interpreter, where a crash is a failure rather than the end of the run.
REENTRY_SCRIPT = """
import sys, vesk
kind, via, depth, limit = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
def nested(leaf, levels):
    for _ in range(levels):
        leaf = [leaf] if kind == "list" else {"k": leaf}
    return leaf
calls = 0
class Reenter:
    def convert(self):
        global calls
        calls += 1
        return len(vesk.emit(nested(Reenter(), depth)))
    if via == "index":
        __index__ = convert
    else:
        __float__ = convert
sys.setrecursionlimit(limit)
try:
    vesk.emit(nested(Reenter(), depth))
except RecursionError:
    # The budget is whole again once the calls are over.
    print("RecursionError", calls, len(vesk.loads(vesk.emit(eval("[" * 128 + "]" * 128)))))
"""


@pytest.mark.parametrize("limit", [46, 100000])
@pytest.mark.parametrize("via", ["index", "float"])
@pytest.mark.parametrize("kind, depth", [("list", 0), ("list", 1), ("list", 120), ("dict", 120)])
def test_emit_called_from_a_conversion_shares_the_nesting_budget(kind, depth, via, limit):
    import os
    import subprocess

    env = dict(os.environ, PYTHONPATH=os.path.dirname(vesk.__file__))
    child = subprocess.run(
        [sys.executable, "-c", REENTRY_SCRIPT, kind, via, str(depth), str(limit)],
        env=env,
        capture_output=True,
        text=True,
        timeout=60,
    )
    assert child.returncode == 0, child.stderr[-2000:]
    name, calls, reloaded = child.stdout.split()
    assert name == "RecursionError" and 1 <= int(calls) <= MAX_NESTING + 1 and reloaded == "1"


class Raises:
    """A number whose __index__ or __float__ raises `error`."""

    def __init__(self, error, via):
        self.error, self.via = error, via

    def __index__(self):
        if self.via == "index":
            raise self.error
        raise TypeError("not an integer")

    def __float__(self):
        raise self.error


@pytest.mark.parametrize("via", ["index", "float"])
@pytest.mark.parametrize("place", [lambda v: v, lambda v: [1, v], lambda v: {"a": [{"b": v}]}], ids=["root", "list", "deep"])
@pytest.mark.parametrize(
    "error",
    [KeyboardInterrupt(), SystemExit(3), GeneratorExit(), MemoryError(), RecursionError("deep")],
    ids=lambda error: type(error).__name__,
)
def test_interrupts_and_resource_errors_of_conversions_propagate(error, place, via):
    with pytest.raises(type(error)) as caught:
        vesk.emit(place(Raises(error, via)))
    assert caught.value is error
    # Every level taken on the way down was given back.
    assert nesting_of(vesk.loads(vesk.emit(nested_lists(MAX_NESTING)))) == MAX_NESTING


# --- References: nothing taken during a call is kept after it.


def test_references_are_given_back_on_success_and_failure():
    key, text, number = "key-" + "x" * 20, "value-" + "y" * 20, Index(3)
    tracked = [key, text, number]
    good = {key: text, "n": [number]}
    bad = {key: text, "n": [number], "later": [None]}
    before = [sys.getrefcount(item) for item in tracked]
    for _ in range(3):
        vesk.emit(good)
        with pytest.raises(TypeError):
            vesk.emit(bad)
        with pytest.raises(RecursionError):
            vesk.emit(nested_lists(MAX_NESTING + 1, leaf=number))
    assert [sys.getrefcount(item) for item in tracked] == before


def test_items_removed_during_conversion_are_released():
    hook = Hook(lambda: None)
    baseline = sys.getrefcount(hook)
    items = [hook, 2]
    hook.action = items.clear
    vesk.emit(items)
    hook.action = lambda: None
    assert sys.getrefcount(hook) == baseline
