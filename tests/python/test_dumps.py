import ctypes
import json
import os
import stat

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import vesk
from container_bytes import (ARRAY, BOOL, FLOAT32, INT32, NULL, OBJECT, STRING, UINT32, array_definition,
                             array_value, f32, i32, object_definition, object_value, single, str_ref, text, u32)

# JSON text and the container dumps must produce for it, built by hand.
EXPECTED_CONTAINERS = [
    ('{"a": 1, "b": "x"}', single([object_definition(6, [("a", INT32), ("b", STRING)])], [], 6,
                                  object_value(6, [i32(1), text("x")]))),
    ('{"b": ["x", "x"], "a": 1}',
     single([array_definition(6, STRING), object_definition(7, [("a", INT32), ("b", ARRAY)])], ["x"], 7,
            object_value(7, [i32(1), array_value(6, 5, [text("x"), str_ref(0)])]))),
    ('{"b": ["x", "x"], "a": {"k": 1}}',
     single([object_definition(6, [("k", INT32)]), array_definition(7, STRING),
             object_definition(8, [("a", OBJECT), ("b", ARRAY)])], ["x"], 8,
            object_value(8, [object_value(6, [i32(1)]), array_value(7, 5, [text("x"), str_ref(0)])]))),
    ("null", single([], [], NULL, b"")),
    ("true", single([], [], BOOL, b"\x01")),
    ("5", single([], [], INT32, i32(5))),
    ("1.5", single([], [], FLOAT32, f32(1.5))),
    ('"s"', single([], [], STRING, text("s"))),
    ("2147483648", single([], [], INT32, i32(-2147483648))),
    ("9223372036854775808", single([], [], UINT32, u32(0))),
    ("18446744073709551615", single([], [], UINT32, u32(4294967295))),
    ("-0", single([], [], FLOAT32, f32(-0.0))),
    ("[]", single([array_definition(6, NULL)], [], 6, array_value(6, 0, []))),
    ("[[1, 2], [3]]",
     single([array_definition(6, INT32), array_definition(7, ARRAY)], [], 7,
            array_value(7, 2, [array_value(6, 2, [i32(1), i32(2)]), array_value(6, 2, [i32(3)])]))),
    ('{"é": "' + "y" * 200 + '"}',
     single([object_definition(6, [("é", STRING)])], [], 6, object_value(6, [text("y" * 200)]))),
]


class StrSubclass(str):
    pass


class TestDumps:
    @pytest.mark.parametrize("json_text,expected", EXPECTED_CONTAINERS)
    def test_bytes_match_hand_built_container(self, json_text, expected):
        result = vesk.dumps(json_text)
        assert type(result) is bytes
        assert result == expected

    def test_worked_example_is_66_bytes(self):
        assert len(vesk.dumps('{"a": 1, "b": "x"}')) == 66

    def test_str_subclass_and_keyword_accepted(self):
        assert vesk.dumps(StrSubclass("[1]")) == vesk.dumps("[1]")
        assert vesk.dumps(json_text="[1]") == vesk.dumps("[1]")

    def test_equal_input_gives_identical_output(self):
        json_text = '{"z": [{"q": "r"}, {"q": "r"}], "a": ["s", "t", "s"], "m": {"n": null}}'
        assert len({vesk.dumps(json_text) for _ in range(5)}) == 1

    @pytest.mark.parametrize("call", [
        lambda tmp: vesk.dumps('"\ud800"'),
        lambda tmp: vesk.dump('"\udfff"', str(tmp / "out.vesk")),
        lambda tmp: vesk.dump("[1]", str(tmp / "out\ud800.vesk")),
        lambda tmp: vesk.dumps('["😀", "\udfff"]'),
        lambda tmp: vesk.dumps('[} "\ud800"'),
        lambda tmp: vesk.load(str(tmp / "in\ud800.vesk")),
    ], ids=["dumps text", "dump text", "dump path", "dumps UCS-4", "dumps refused text", "load path"])
    def test_lone_surrogate_raises_interpreters_error(self, tmp_path, call):
        with pytest.raises(UnicodeEncodeError) as raised:
            call(tmp_path)
        assert raised.value.__cause__ is None
        assert list(tmp_path.iterdir()) == []

    def test_text_without_utf8_form_reported_before_path(self, tmp_path):
        json_text = '["€\udbff"]'
        with pytest.raises(UnicodeEncodeError) as raised:
            vesk.dump(json_text, str(tmp_path / "out\ud800.vesk"))
        assert raised.value.object == json_text

    @pytest.mark.parametrize("json_text,message", [
        ("", "Failed to parse VESK: EOF while parsing a value at line 1 column 0"),
        ("x", "Failed to parse VESK: expected value at line 1 column 1"),
        ("[1] x", "Failed to parse VESK: trailing characters at line 1 column 5"),
        ("1e400", "Failed to parse VESK: number out of range at line 1 column 5"),
        ('[1, "a"]', "Unsupported data type: array item 1 is String, expected Int32"),
    ])
    def test_compile_errors_are_value_errors(self, json_text, message):
        with pytest.raises(ValueError) as raised:
            vesk.dumps(json_text)
        assert type(raised.value) is (vesk.ParseError if message.startswith("Failed") else vesk.UnsupportedTypeError)
        assert raised.value.args == (message,)
        assert raised.value.__cause__ is None


VALID = '{"name": "catalog", "items": [1, 2, 3]}'


class TestDump:
    def test_writes_what_dumps_returns(self, tmp_path):
        target = tmp_path / "out.vesk"
        assert vesk.dump(VALID, str(target)) is None
        assert target.read_bytes() == vesk.dumps(VALID)

    def test_overwrites_longer_file_completely(self, tmp_path):
        target = tmp_path / "out.vesk"
        target.write_bytes(b"\xaa" * 10000)
        vesk.dump(VALID, str(target))
        assert target.stat().st_size == len(vesk.dumps(VALID))
        assert target.read_bytes() == vesk.dumps(VALID)

    def test_new_file_mode_follows_umask(self, tmp_path):
        target = tmp_path / "out.vesk"
        previous = os.umask(0o027)
        try:
            vesk.dump(VALID, str(target))
        finally:
            os.umask(previous)
        assert stat.S_IMODE(target.stat().st_mode) == 0o640

    @pytest.mark.parametrize("bad_text", ["{", "[1, 2", '[1, "a"]'])
    def test_bad_json_leaves_existing_file_untouched(self, tmp_path, bad_text):
        target = tmp_path / "out.vesk"
        target.write_bytes(b"old content")
        with pytest.raises(ValueError):
            vesk.dump(bad_text, str(target))
        assert target.read_bytes() == b"old content"

    def test_bad_json_creates_no_file(self, tmp_path):
        target = tmp_path / "out.vesk"
        with pytest.raises(ValueError) as raised:
            vesk.dump("{", str(target))
        assert str(raised.value).startswith("Failed to parse VESK: ")
        assert not target.exists()

    def test_bad_json_reported_before_bad_path(self, tmp_path):
        with pytest.raises(ValueError) as raised:
            vesk.dump("{", str(tmp_path / "missing" / "out.vesk"))
        assert str(raised.value).startswith("Failed to parse VESK: ")

    def test_nul_in_path(self, tmp_path):
        with pytest.raises(ValueError) as raised:
            vesk.dump(VALID, str(tmp_path / "a\0b"))
        assert raised.value.args == ("IO error: file name contained an unexpected NUL byte",)
        assert list(tmp_path.iterdir()) == []

    @pytest.mark.parametrize("relative,number", [("", 21), ("missing/out.vesk", 2)])
    def test_os_errors(self, tmp_path, relative, number):
        with pytest.raises(ValueError) as raised:
            vesk.dump(VALID, str(tmp_path / relative) if relative else str(tmp_path))
        assert raised.value.args == (f"IO error: {os.strerror(number)} (os error {number})",)
        assert raised.value.__cause__ is None

    def test_full_device(self):
        try:
            mode = os.stat("/dev/full").st_mode
        except OSError:
            pytest.skip("no /dev/full")
        if not stat.S_ISCHR(mode):
            pytest.skip("/dev/full is not a character device")
        with pytest.raises(ValueError) as raised:
            vesk.dump(VALID, "/dev/full")
        assert str(raised.value) == "IO error: No space left on device (os error 28)"

    def test_pipe_receives_whole_buffer(self, tmp_path):
        # More than a pipe holds, so the write loop must continue after short
        # writes. The writer runs in a child: dump keeps the interpreter lock.
        fifo = str(tmp_path / "fifo")
        os.mkfifo(fifo)
        big = '["' + "x" * 300000 + '"]'
        pid = os.fork()
        if pid == 0:
            code = 0
            try:
                vesk.dump(big, fifo)
            except BaseException:
                code = 1
                os.close(os.open(fifo, os.O_WRONLY))  # release the waiting reader
            os._exit(code)
        received = bytearray()
        reader = os.open(fifo, os.O_RDONLY)
        try:
            while chunk := os.read(reader, 65536):
                received += chunk
        finally:
            os.close(reader)
            _, status = os.waitpid(pid, 0)
        assert os.waitstatus_to_exitcode(status) == 0
        assert bytes(received) == vesk.dumps(big)


# A str that is not ASCII is read as its own code units (Latin-1, UCS-2 or
# UCS-4) unless it already holds a UTF-8 form, which is read instead. "X"
# stands for a letter that sets the kind.
LETTERS = {"ASCII": "x", "Latin-1": "é", "UCS-2": "€", "UCS-4": "😀"}
KIND_TEXTS = [
    '{"kX": ["X", "X", "a\\u00e9X", "\\ud83d\\ude00"], "n": [1, -2, 3.5e10, 12345678901234567890, -0, 1e-7]}',
    '[{"X": null, "b": [true], "c": 0.30000000000000004}, {"b": [false], "X": null, "c": 1}]',
    '"XXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXX\\"X\\\\\\/\\b\\f\\n\\r\\tend"',
    '[123456789012345678901234567890.5e-3, -9223372036854775808, -9223372036854775809, 1E+2]',
    # One string spelled with and without escapes; and strings whose UTF-8
    # bytes are those of another's code units (U+6261 is the units 61 62).
    '["Xab", "X\\u0061b", "Xab", "\\u00e9X", "\u00e9X", "\u6261", "ab\\"", "ab\\u0000", "\u6261", "ab\\""]',
    # Refused, each with its position.
    '{"kX": [1, "X"]}', '["X", ', '[X]', '{"X": 1}X', '"X\x01"', '[1.5eX]', '{"X": 1e400}', '["X\\uD800"]',
    '["X\\q"]', '{"X" 1}', "[" * 200 + '"X"' + "]" * 200,
]


def fresh(text):
    return "".join(list(text))


def with_utf8_form(text):
    text = fresh(text)
    ctypes.pythonapi.PyUnicode_AsUTF8AndSize.restype = ctypes.c_void_p
    assert ctypes.pythonapi.PyUnicode_AsUTF8AndSize(ctypes.py_object(text), None)
    return text


def dumps_outcome(text):
    try:
        return vesk.dumps(text)
    except ValueError as error:
        return type(error), error.args


@pytest.mark.parametrize("kind", LETTERS)
@pytest.mark.parametrize("template", KIND_TEXTS)
def test_every_kind_of_str_compiles_as_its_utf8_form(template, kind):
    text = template.replace("X", LETTERS[kind])
    assert dumps_outcome(fresh(text)) == dumps_outcome(with_utf8_form(text))
    # The letter written as an escape in ASCII text is the same string.
    escaped = template.replace("X", json.dumps(LETTERS[kind])[1:-1])
    if escaped.isascii() and not isinstance(dumps_outcome(escaped), tuple):
        assert dumps_outcome(fresh(text)) == dumps_outcome(escaped)


json_values = st.recursive(st.none() | st.booleans() | st.integers() | st.floats(allow_nan=False) | st.text(),
                           lambda children: st.lists(children, max_size=4) | st.dictionaries(st.text(), children,
                                                                                          max_size=4),
                           max_leaves=12)


@settings(max_examples=300, deadline=None)
@given(json_values, st.integers(0, 40))
def test_code_unit_reading_agrees_with_utf8_reading(value, cut):
    # Whole texts, and texts cut short, which mostly fail.
    for text in (json.dumps(value, ensure_ascii=False), json.dumps(value, ensure_ascii=False)[:-cut or None]):
        if len(text) > 1:
            assert dumps_outcome(fresh(text)) == dumps_outcome(with_utf8_form(text))


class Members(list):
    """An object's members in text order, names possibly repeated."""


def render(value):
    if isinstance(value, Members):
        return "{" + ",".join(f"{json.dumps(name)}:{render(item)}" for name, item in value) + "}"
    if isinstance(value, list):
        return "[" + ",".join(render(item) for item in value) + "]"
    return json.dumps(value)


# Few names and few strings, so that names repeat within objects and strings
# and shapes recur inside and outside the values that repeats drop.
values_with_repeated_names = st.recursive(
    st.none() | st.booleans() | st.integers(-3, 3) | st.sampled_from([0.5, 1e40]) | st.sampled_from(["x", "y", "zz"]),
    lambda children: st.lists(children, max_size=3)
    | st.lists(st.tuples(st.sampled_from("abc"), children), max_size=5).map(Members),
    max_leaves=16)


@settings(max_examples=300, deadline=None)
@given(values_with_repeated_names)
def test_a_repeated_name_is_as_if_only_its_last_value_were_there(value):
    # The earlier values of a repeated name leave no trace: not their strings
    # in the dictionary, not their shapes, not their faults, however deep
    # they lie inside other such values.
    text = render(value)
    assert dumps_outcome(text) == dumps_outcome(json.dumps(json.loads(text)))
