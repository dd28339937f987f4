"""A minimal container writer for tests, written from the byte layout alone,
so that results of the module are checked against bytes it did not make."""

import struct

NULL, BOOL, INT32, UINT32, FLOAT32, STRING, ARRAY, OBJECT = 0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x10, 0x11


def u16(value):
    return struct.pack("<H", value)


def u32(value):
    return struct.pack("<I", value)


def i32(value):
    return struct.pack("<i", value)


def f32(value):
    return struct.pack("<f", value)


def text(value):
    data = value.encode("utf-8") if isinstance(value, str) else value
    size = len(data)
    if size < 128:
        head = bytes([size])
    elif size < 16384:
        head = bytes([0x80 | (size >> 8), size & 0xFF])
    else:
        head = bytes([0xFE, size & 0xFF, (size >> 8) & 0xFF, size >> 16])
    return head + data


def str_ref(index):
    return b"\xff" + u32(index)


def primitive_definitions():
    return [bytes([kind]) + u16(kind) for kind in range(6)]


def array_definition(index, elem_type):
    return bytes([ARRAY]) + u16(index) + bytes([elem_type])


def object_definition(index, fields):
    record = bytes([OBJECT]) + u16(index) + u16(len(fields))
    for name, field_type in fields:
        encoded = name.encode("utf-8")
        record += bytes([len(encoded)]) + encoded + bytes([field_type])
    return record


def array_value(self_index, elem_index, items):
    return u16(self_index) + u16(elem_index) + u16(len(items)) + b"".join(items)


def object_value(self_index, values):
    return u16(self_index) + b"".join(values)


def container(definitions, strings, entries, version=1):
    """entries: (definition index, payload bytes) pairs."""
    definition_block = u16(len(definitions)) + b"".join(definitions)
    dictionary_block = u32(len(strings)) + b"".join(text(s) for s in strings)
    data_block = u32(len(entries)) + b"".join(u16(index) + u32(len(payload)) + payload for index, payload in entries)
    dict_offset = 13 + len(definition_block)
    data_offset = dict_offset + len(dictionary_block)
    header = bytes([version]) + u32(13) + u32(dict_offset) + u32(data_offset)
    return header + definition_block + dictionary_block + data_block


def single(definitions, strings, def_index, payload):
    """A container of one chunk after the six primitive definitions."""
    return container(primitive_definitions() + definitions, strings, [(def_index, payload)])
