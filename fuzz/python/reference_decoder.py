"""A second container reader, in plain Python and written from the byte
layout alone, against which the fuzzers check `vesk.loads`: both must accept
the same inputs with equal results and refuse the same inputs with the same
message.

`decode(data)` returns the Python value or raises Refused with the text that
follows "Failed to parse VESK: ". `fields` (a list), when given, collects
(position, width, kind) of every count, length, offset, index and tag read,
for the structure-aware mutator.
"""

import struct

MAX_ENTRIES = 1048576
MAX_DEPTH = 128
PRIMITIVES = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05}
ARRAY, OBJECT = 0x10, 0x11
KNOWN_TAGS = PRIMITIVES | {ARRAY, OBJECT}


class Refused(Exception):
    pass


class StrRef:
    def __init__(self, index):
        self.index = index


def utf8(raw, place):
    try:
        return raw.decode("utf-8")
    except UnicodeDecodeError as error:
        if error.reason == "unexpected end of data":
            detail = f"incomplete utf-8 byte sequence from index {error.start}"
        else:
            detail = f"invalid utf-8 sequence of {error.end - error.start} bytes from index {error.start}"
        raise Refused(f"Invalid UTF-8 {place}: {detail}") from None


class Reader:
    def __init__(self, data, fields):
        self.data = data
        self.fields = fields

    def note(self, position, width, kind):
        if self.fields is not None:
            self.fields.append((position, width, kind))

    def u8(self, position, kind="tag"):
        self.note(position, 1, kind)
        return self.data[position]

    def u16(self, position, kind="index"):
        self.note(position, 2, kind)
        return struct.unpack_from("<H", self.data, position)[0]

    def u32(self, position, kind="count"):
        self.note(position, 4, kind)
        return struct.unpack_from("<I", self.data, position)[0]


def read_definitions(reader, start, end):
    size = end - start
    if size < 2:
        raise Refused(f"Definition block too short: {size} bytes")
    count = reader.u16(start, "count")
    if size < 3 * count + 2:
        raise Refused(f"Definition block has {size} bytes but {count} defs require {3 * count + 2}")
    definitions = []  # (kind, index, elem_type, fields)
    p = 2
    for entry in range(count):
        if p >= size:
            raise Refused(f"Truncated definition block at entry {entry}")
        kind = reader.u8(start + p)
        if kind not in KNOWN_TAGS:
            raise Refused(f"Unknown VESK type tag: 0x{kind:02X}")
        if p + 3 > size:
            raise Refused("Truncated definition index")
        index = reader.u16(start + p + 1)
        elem_type, fields = None, None
        if kind == ARRAY:
            if p + 3 >= size:
                raise Refused("Truncated array elem_type")
            elem_type = reader.u8(start + p + 3)
            if elem_type not in KNOWN_TAGS:
                raise Refused(f"Unknown VESK type tag: 0x{elem_type:02X}")
            p += 4
        elif kind == OBJECT:
            if p + 5 > size:
                raise Refused("Truncated object field count")
            field_count = reader.u16(start + p + 3, "count")
            fields = []
            q = p + 5
            for j in range(field_count):
                if q >= size:
                    raise Refused(f"Truncated field {j} name length")
                length = reader.u8(start + q, "length")
                if q + length + 1 >= size:
                    raise Refused(f"Truncated field {j} name data")
                name = utf8(reader.data[start + q + 1 : start + q + 1 + length], "in field name")
                field_type = reader.u8(start + q + length + 1)
                if field_type not in KNOWN_TAGS:
                    raise Refused(f"Unknown VESK type tag: 0x{field_type:02X}")
                fields.append((name, field_type))
                q += length + 2
            p = q
        else:
            p += 3
        definitions.append((kind, index, elem_type, fields))
    return definitions


def read_dictionary(reader, start, end):
    size = end - start
    if size == 0:
        return []
    if size < 4:
        raise Refused("Dict block too short for entry count")
    count = reader.u32(start)
    strings = []
    p = 4
    for _ in range(count):
        if p == size:
            raise Refused("Truncated dict string")
        first = reader.u8(start + p, "length")
        if first == 0xFF or 0xC0 <= first <= 0xFD:
            raise Refused(f"Invalid dict string encoding byte: 0x{first:02X}")
        if first < 0x80:
            length, head = first, 1
        elif first <= 0xBF:
            if size - p == 1:
                raise Refused("Truncated medium dict string")
            length, head = ((first & 0x3F) << 8) | reader.data[start + p + 1], 2
        else:
            if size - p < 4:
                raise Refused("Truncated long dict string")
            length, head = int.from_bytes(reader.data[start + p + 1 : start + p + 4], "little"), 4
        if size - p < head + length:
            raise Refused("Truncated dict string data")
        strings.append(utf8(reader.data[start + p + head : start + p + head + length], "in dict"))
        p += head + length
    return strings


def decode_value(reader, position, end, type_tag, definitions, depth):
    """(value, consumed) for a value of `type_tag` at `position`."""
    if type_tag == ARRAY:
        return decode_array(reader, position, end, definitions, depth + 1)
    if type_tag == OBJECT:
        return decode_object(reader, position, end, definitions, depth + 1)
    return decode_primitive(reader, position, end, type_tag)


def decode_array(reader, position, end, definitions, depth):
    if depth > MAX_DEPTH:
        raise Refused("Max recursion depth")
    remaining = end - position
    if remaining < 2:
        raise Refused("Truncated array self_def_index")
    own = reader.u16(position)
    if own >= len(definitions):
        raise Refused(f"Unknown definition index: {own}")
    elem_type = definitions[own][2]
    if elem_type is None:
        raise Refused(f"Array #{own} has no elem_type")
    if remaining < 4:
        raise Refused("Truncated array elem_def_index")
    if remaining < 6:
        raise Refused("Truncated array count")
    reader.u16(position + 2)
    count = reader.u16(position + 4, "count")
    items, p = [], position + 6
    for _ in range(count):
        item, used = decode_value(reader, p, end, elem_type, definitions, depth)
        items.append(item)
        p += used
    return ("array", items), p - position


def decode_object(reader, position, end, definitions, depth):
    if depth > MAX_DEPTH:
        raise Refused(f"Max recursion depth {MAX_DEPTH} exceeded at Object")
    if end - position < 2:
        raise Refused("Truncated object self_def_index")
    own = reader.u16(position)
    if own >= len(definitions):
        raise Refused(f"Unknown definition index: {own}")
    fields = definitions[own][3]
    if fields is None:
        raise Refused(f"Object #{own} has no fields")
    values, p = [], position + 2
    for _, field_type in fields:
        value, used = decode_value(reader, p, end, field_type, definitions, depth)
        values.append(value)
        p += used
    return ("object", own, values), p - position


def decode_primitive(reader, position, end, type_tag):
    data, remaining = reader.data, end - position
    if type_tag == 0x00:
        return None, 0
    if type_tag == 0x01:
        if remaining == 0:
            raise Refused("Expected bool byte")
        return data[position] != 0, 1
    if type_tag in (0x02, 0x03, 0x04):
        if remaining < 4:
            name = {0x02: "int32", 0x03: "uint32", 0x04: "float32"}[type_tag]
            raise Refused(f"Expected {name} (4 bytes)")
        code = {0x02: "<i", 0x03: "<I", 0x04: "<f"}[type_tag]
        return struct.unpack_from(code, data, position)[0], 4
    if type_tag == 0x05:
        if remaining == 0:
            raise Refused("Expected string/StrRef byte")
        first = reader.u8(position, "length")
        if first < 0x80:
            length, head = first, 1
            if remaining < length + 1:
                raise Refused(f"Truncated short string: need {length + 1} bytes, got {remaining}")
        elif first <= 0xFD:
            if remaining == 1:
                raise Refused("Truncated medium string length")
            length, head = ((first & 0x3F) << 8) | data[position + 1], 2
            if remaining < length + 2:
                raise Refused(f"Truncated medium string: need {length + 2} bytes, got {remaining}")
        elif first == 0xFE:
            if remaining < 4:
                raise Refused("Truncated long string length")
            length, head = int.from_bytes(data[position + 1 : position + 4], "little"), 4
            if remaining < length + 4:
                raise Refused(f"Truncated long string: need {length + 4} bytes, got {remaining}")
        else:
            if remaining < 5:
                raise Refused("Truncated StrRef dict index")
            return StrRef(reader.u32(position + 1, "index")), 5
        return utf8(data[position + head : position + head + length], "string"), head + length
    raise Refused("Unexpected compound type in primitive decode path")


def read_document(data, fields=None):
    reader = Reader(data, fields)
    n = len(data)
    if n <= 12:
        raise Refused(f"Header requires 13 bytes, got {n}")
    version = reader.u8(0, "version")
    def_offset, dict_offset, data_offset = (reader.u32(p, "offset") for p in (1, 5, 9))
    if version != 1:
        raise Refused(f"Unsupported VESK version: {version}")
    if def_offset < 13:
        raise Refused(f"Def block offset {def_offset} before header")
    if dict_offset < def_offset:
        raise Refused(f"Dict block offset {dict_offset} before defs")
    if data_offset < dict_offset:
        raise Refused(f"Data block offset {data_offset} before dict")
    if data_offset > n:
        raise Refused(f"Data block offset {data_offset} exceeds buffer length {n}")
    definitions = read_definitions(reader, def_offset, dict_offset)
    strings = read_dictionary(reader, dict_offset, data_offset)
    size = n - data_offset
    if size < 4:
        raise Refused(f"Data block too short: {size} bytes")
    count = reader.u32(data_offset)
    if count > MAX_ENTRIES:
        raise Refused(f"Data entry count {count} exceeds max {MAX_ENTRIES}")
    chunks, p = [], data_offset + 4
    for entry in range(count):
        if p + 6 > n:
            raise Refused(f"Truncated entry {entry} header")
        def_index = reader.u16(p)
        payload = reader.u32(p + 2, "length")
        if p + 6 + payload > n:
            raise Refused(f"Entry {entry} payload ({payload} bytes) exceeds buffer")
        if def_index >= len(definitions):
            raise Refused(f"Unknown definition index: {def_index}")
        kind = definitions[def_index][0]
        value, used = decode_value(reader, p + 6, p + 6 + payload, kind, definitions, 0)
        if used != payload:
            raise Refused(f"Mismatch entry {entry}: consumed {used} of {payload}")
        chunks.append(value)
        p += 6 + payload
    return definitions, strings, chunks


def to_python(value, definitions, strings, top):
    if isinstance(value, StrRef):
        if value.index < len(strings):
            return strings[value.index]
        if top:
            raise Refused(f"StrRef index {value.index} out of bounds (dict len {len(strings)})")
        raise Refused(f"StrRef index {value.index} out of bounds")
    if isinstance(value, tuple) and value[0] == "array":
        return [to_python(item, definitions, strings, False) for item in value[1]]
    if isinstance(value, tuple):
        _, own, values = value
        found = None
        if own < len(definitions) and definitions[own][1] == own:
            found = definitions[own]
        else:
            found = next((d for d in definitions if d[1] == own), None)
        if found is None:
            raise Refused(f"Unknown definition index: {own}")
        fields = found[3]
        if fields is None:
            raise Refused(f"Object #{own}: no field definitions")
        if len(values) != len(fields):
            raise Refused(f"Object #{own}: expected {len(fields)} fields, got {len(values)}")
        members = {}
        for (name, _), item in zip(fields, values):
            members[name] = to_python(item, definitions, strings, False)
        return {name: members[name] for name in sorted(members, key=lambda key: key.encode("utf-8"))}
    return value


def decode(data, fields=None):
    definitions, strings, chunks = read_document(bytes(data), fields)
    if not chunks:
        return None
    values = [to_python(chunk, definitions, strings, True) for chunk in chunks]
    return values[0] if len(values) == 1 else values


def same(a, b):
    """Equal values of equal types, dict keys in the same order, floats bit
    for bit (so NaN equals NaN and -0.0 differs from 0.0)."""
    if type(a) is not type(b):
        return False
    if isinstance(a, float):
        return struct.pack("<d", a) == struct.pack("<d", b) or (a != a and b != b)
    if isinstance(a, list):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    if isinstance(a, dict):
        return list(a) == list(b) and all(same(a[k], b[k]) for k in a)
    return a == b
