"""What loads(dumps(text)) should give for a JSON text, worked out in Python.

The model parses with the standard json module (keeping each number's literal
class) and then applies the compiler's rules on its own: integers narrowed to
their low 32 bits, floats rounded to binary32, members in UTF-8 byte order,
arrays that mix number types turned into float arrays, and the refusals of
arrays whose items disagree and of arrays too long to write. Whatever is
written reads back: wide objects and floats beyond binary32's range included.
"""

import json
import math
import struct

U64_MAX = 2**64 - 1
I64_MIN = -(2**63)


class Refused(Exception):
    """The text cannot round-trip; args[0] is the start of the ValueError message."""


class Number:
    """A JSON number with the class the VESK parser gives it."""

    __slots__ = ("kind", "value")

    def __init__(self, kind, value):
        self.kind = kind  # "uint", "int" or "float"
        self.value = value


def _float_literal(text):
    value = float(text)
    if math.isinf(value):
        raise Refused("Failed to parse VESK: number out of range")
    return Number("float", value)


def _int_literal(text):
    value = int(text)
    if text.startswith("-"):
        if value == 0:
            return Number("float", -0.0)
        if value >= I64_MIN:
            return Number("int", value)
        return _float_literal(text)
    if value <= U64_MAX:
        return Number("uint", value)
    return _float_literal(text)


def float32(value):
    """The binary32 nearest to a binary64, as a Python float."""
    try:
        return struct.unpack("<f", struct.pack("<f", value))[0]
    except OverflowError:
        return math.copysign(math.inf, value)


def float32_of_int(value):
    """The binary32 nearest to an integer, rounded once from its full value."""
    magnitude = abs(value)
    if magnitude <= 2**53:
        return float32(float(value))
    shift = magnitude.bit_length() - 24
    quotient, remainder = divmod(magnitude, 1 << shift)
    half = 1 << (shift - 1)
    if remainder > half or (remainder == half and quotient & 1):
        quotient += 1
    return math.copysign(float(quotient << shift), value)


def _low32_signed(value):
    low = value & 0xFFFFFFFF
    return low - 2**32 if low >= 2**31 else low


def _type_of(node):
    if node is None:
        return "Null"
    if isinstance(node, bool):
        return "Bool"
    if isinstance(node, Number):
        if node.kind == "float":
            return "Float32"
        if node.kind == "uint" and node.value >= 2**63:
            return "Uint32"
        return "Int32"
    if isinstance(node, str):
        return "String"
    if isinstance(node, list):
        return "Array"
    return "Object"


NUMBER_TYPES = ("Int32", "Uint32", "Float32")


def _narrow(number):
    if number.kind == "float":
        return float32(number.value)
    if number.kind == "uint" and number.value >= 2**63:
        return number.value & 0xFFFFFFFF
    return _low32_signed(number.value)


def _as_float32(number):
    if number.kind == "float":
        return float32(number.value)
    return float32_of_int(number.value)


def _check_items(items):
    """Refuses an array whose items disagree; True when numbers must become floats."""
    types = [_type_of(item) for item in items]
    typed = [t for t in types if t != "Null"]
    if not typed:
        return False
    expected = typed[0]
    numeric = expected in NUMBER_TYPES
    for index, found in enumerate(types):
        if (numeric and found not in NUMBER_TYPES) or (not numeric and found != expected):
            raise Refused(f"Unsupported data type: array item {index} is {found}, expected {expected}")
    return numeric and len(set(types)) > 1


def _compile(node):
    if isinstance(node, Number):
        return _narrow(node)
    if isinstance(node, list):
        converted = [_compile(item) for item in node]
        to_floats = _check_items(node)
        return [_as_float32(item) for item in node] if to_floats else converted
    if isinstance(node, dict):
        keys = sorted(node, key=lambda k: k.encode("utf-8"))
        return {key: _compile(node[key]) for key in keys}
    return node


def _check_writable(value):
    """The writer refuses arrays its 16-bit count cannot hold, first in output order."""
    if isinstance(value, list):
        if len(value) > 65535:
            raise Refused(f"Failed to parse VESK: Array has {len(value)} items (max 65535)")
        for item in value:
            _check_writable(item)
    elif isinstance(value, dict):
        for item in value.values():
            _check_writable(item)


def _depth(node):
    if isinstance(node, list):
        return 1 + max((_depth(item) for item in node), default=0)
    if isinstance(node, dict):
        return 1 + max((_depth(item) for item in node.values()), default=0)
    return 0


def expected_round_trip(text):
    """The object loads(dumps(text)) returns, or Refused with the message start."""
    tree = json.loads(text, parse_int=_int_literal, parse_float=_float_literal)
    if _depth(tree) > 127:
        raise Refused("Failed to parse VESK: recursion limit exceeded")
    value = _compile(tree)
    _check_writable(value)
    return value


def same(actual, expected):
    """Deep equality that also checks types, key order and the sign of zero."""
    if type(actual) is not type(expected):
        return False
    if isinstance(expected, float):
        if math.isnan(expected):
            return math.isnan(actual)
        return actual == expected and math.copysign(1, actual) == math.copysign(1, expected)
    if isinstance(expected, list):
        return len(actual) == len(expected) and all(same(a, e) for a, e in zip(actual, expected))
    if isinstance(expected, dict):
        return list(actual) == list(expected) and all(same(actual[k], expected[k]) for k in expected)
    return actual == expected
