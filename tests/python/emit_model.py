"""What emit makes of a Python value, worked out in Python: the container's
bytes, or the exception emit raises.

A model of the rules emit has always followed, written apart from the
module: the type tests in their order, the nesting limit, lists that mix
ints and floats, dict items as alternating key and value under positional
field names, every string in the dictionary at its first occurrence, shapes
numbered in walk order (an array before its items, an object after its
values), and the container writer's refusals in the order it checks them.
Values whose own methods change the containers being converted, or call emit
again, are beyond it.
"""

import operator
import struct

import vesk
from expected_values import float32, float32_of_int

NESTING = 128
MAX_COUNT = 65535
MAX_STRING = 16777215
BOOL, INT32, FLOAT32, STRING, ARRAY, OBJECT = 1, 2, 4, 5, 0x10, 0x11
TYPE_NAMES = {BOOL: "Bool", INT32: "Int32", FLOAT32: "Float32", STRING: "String", ARRAY: "Array",
              OBJECT: "Object"}


class NoMatch(Exception):
    """The value failed a type test; the next one gets its turn."""


def _dropped(error):
    """Re-raises what ends the whole conversion; anything else only fails the test."""
    if not isinstance(error, Exception) or isinstance(error, (MemoryError, RecursionError)):
        raise error


def _integer(value):
    if isinstance(value, int):
        number = int.__index__(value)
    elif hasattr(type(value), "__index__"):
        try:
            number = operator.index(value)
        except BaseException as error:
            _dropped(error)
            raise NoMatch from None
    else:
        raise NoMatch
    if not -(2**63) <= number < 2**63:
        raise NoMatch
    return number


def _double(value):
    if type(value) is float:
        return value
    if not (hasattr(type(value), "__float__") or hasattr(type(value), "__index__")):
        raise NoMatch
    try:
        return float(value)
    except BaseException as error:
        _dropped(error)
        raise NoMatch from None


def _utf8(text):
    return str.encode(text, "utf-8")


class _Converter:
    """Python value -> tree: (type, payload). Ints carry their full value."""

    def __init__(self):
        self.levels = 0

    def enter(self):
        if self.levels >= NESTING:
            raise RecursionError(f"maximum nesting depth exceeded: more than {NESTING} lists and dicts")
        self.levels += 1

    def convert(self, value):
        if isinstance(value, dict):
            return self.convert_dict(value)
        if isinstance(value, list):
            return self.convert_list(value)
        if isinstance(value, str):
            try:
                return STRING, _utf8(value)
            except UnicodeEncodeError:
                pass
        if type(value) is bool:
            return BOOL, value
        try:
            return INT32, _integer(value)
        except NoMatch:
            pass
        try:
            return FLOAT32, float32(_double(value))
        except NoMatch:
            pass
        raise TypeError(f"Unsupported Python type: {type(value).__name__}")

    def convert_dict(self, value):
        self.enter()
        values = []
        for key, item in dict.items(value):
            if not isinstance(key, str):
                raise TypeError(f"'{type(key).__name__}' object is not an instance of 'str'")
            values.append((STRING, _utf8(key)))
            values.append(self.convert(item))
        self.levels -= 1
        return OBJECT, values

    def convert_list(self, value):
        self.enter()
        items = []
        for position in range(list.__len__(value)):
            item = self.convert(list.__getitem__(value, position))
            first = items[0][0] if items else item[0]
            numbers = {INT32, FLOAT32}
            if item[0] != first and not (item[0] in numbers and first in numbers):
                raise vesk.UnsupportedTypeError(
                    f"Unsupported data type: array item {position} is {TYPE_NAMES[item[0]]}, "
                    f"expected {TYPE_NAMES[first]}")
            items.append(item)
        if {kind for kind, _ in items} == {INT32, FLOAT32}:
            items = [(FLOAT32, float32_of_int(payload) if kind == INT32 else payload) for kind, payload in items]
        self.levels -= 1
        return ARRAY, items


def _string_bytes(text):
    size = len(text)
    if size < 0x80:
        prefix = bytes([size])
    elif size < 0x4000:
        prefix = bytes([0x80 | size >> 8, size & 0xFF])
    else:
        prefix = bytes([0xFE]) + size.to_bytes(3, "little")
    return prefix + text


def _refused(message):
    return vesk.ParseError(f"Failed to parse VESK: {message}")


class _Compiler:
    """Tree -> definitions, dictionary and data, numbered in walk order."""

    def __init__(self):
        self.shapes = {}  # shape -> number
        self.definitions = []  # (kind, element type or field types)
        self.strings = {}  # text -> position
        self.long_arrays = []  # item counts, in data order

    def number(self, shape):
        if shape not in self.shapes:
            self.shapes[shape] = 6 + len(self.definitions)
            self.definitions.append(shape)
        return self.shapes[shape]

    def data(self, node):
        kind, payload = node
        if kind == BOOL:
            return bytes([payload])
        if kind == INT32:
            return struct.pack("<i", (payload + 2**31) % 2**32 - 2**31)
        if kind == FLOAT32:
            return struct.pack("<f", payload)
        if kind == STRING:
            self.strings.setdefault(payload, len(self.strings))
            return _string_bytes(payload) if len(payload) <= MAX_STRING else b""
        if kind == ARRAY:
            number = self.number((ARRAY, payload[0][0] if payload else 0))
            if len(payload) > MAX_COUNT:
                self.long_arrays.append(len(payload))
            head = struct.pack("<HHH", number & 0xFFFF, number & 0xFFFF, len(payload) & 0xFFFF)
            return head + b"".join(self.data(item) for item in payload)
        body = b"".join(self.data(value) for value in payload)
        number = self.number((OBJECT, tuple(kind for kind, _ in payload)))
        return struct.pack("<H", number & 0xFFFF) + body


def emit_model(value):
    """The container emit returns for `value`; raises what emit raises."""
    converter = _Converter()
    if not isinstance(value, (dict, list)):
        converter.enter()
    tree = converter.convert(value)
    compiler = _Compiler()
    data = compiler.data(tree)
    root = compiler.shapes[(tree[0], tree[1][0][0] if tree[1] else 0)] if tree[0] == ARRAY else (
        struct.unpack_from("<H", data)[0] if tree[0] == OBJECT else tree[0])

    count = 6 + len(compiler.definitions)
    if count > MAX_COUNT:
        raise _refused(f"Too many definitions ({count}), max {MAX_COUNT}")
    definitions = b"".join(bytes([kind]) + struct.pack("<H", kind) for kind in range(6))
    for number, (kind, detail) in enumerate(compiler.definitions, start=6):
        definitions += bytes([kind]) + struct.pack("<H", number)
        if kind == ARRAY:
            definitions += bytes([detail])
            continue
        if len(detail) > MAX_COUNT:
            raise _refused(f"Object #{number} has {len(detail)} fields (max {MAX_COUNT})")
        definitions += struct.pack("<H", len(detail))
        for position, field_type in enumerate(detail):
            name = f"f{position}".encode()
            definitions += bytes([len(name)]) + name + bytes([field_type])
    if any(len(text) > MAX_STRING for text in compiler.strings):
        raise _refused("String exceeds maximum inline length (16 777 215 bytes)")
    if compiler.long_arrays:
        raise _refused(f"Array has {compiler.long_arrays[0]} items (max {MAX_COUNT})")

    definition_block = struct.pack("<H", count) + definitions
    dictionary_block = struct.pack("<I", len(compiler.strings)) + b"".join(map(_string_bytes, compiler.strings))
    dict_offset = 13 + len(definition_block)
    data_offset = dict_offset + len(dictionary_block)
    header = struct.pack("<BIII", 1, 13, dict_offset, data_offset)
    data_block = struct.pack("<IHI", 1, root, len(data)) + data
    return header + definition_block + dictionary_block + data_block
