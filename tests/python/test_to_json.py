"""vesk.to_json: a container straight to JSON text. The text is checked
against json.dumps of what loads makes of the same container, with each
float first replaced by the double of its shortest binary32 decimal, so the
oracle writes the digits to_json must write."""

import ctypes
import json
import math
import random
import subprocess
import sys

import pytest

import vesk
from conftest import corpus_names, corpus_text, suite_files
from container_bytes import FLOAT32, array_definition, array_value, f32, single
from test_loads import DECODED


def binary32(value):
    return ctypes.c_float(value).value


def shortest(value):
    """The double written as the shortest decimal that reads back as the binary32 `value`."""
    if not math.isfinite(value):
        return value
    for digits in range(1, 10):
        candidate = float(format(value, f".{digits}g"))
        if binary32(candidate) == value:
            return candidate
    raise AssertionError(value)


def with_shortest_floats(value):
    if isinstance(value, float):
        return shortest(value)
    if isinstance(value, list):
        return [with_shortest_floats(item) for item in value]
    if isinstance(value, dict):
        return {key: with_shortest_floats(item) for key, item in value.items()}
    return value


def expected_text(container, indent=None):
    separators = (",", ":") if indent is None else (",", ": ")
    return json.dumps(with_shortest_floats(vesk.loads(container)), ensure_ascii=False, indent=indent,
                      separators=separators)


def read_back(text):
    """What json.loads reads from the text, each float narrowed to binary32 as the container holds it."""
    return json.loads(text, parse_float=lambda digits: binary32(float(digits)))


def outcome(call):
    try:
        return repr(call())
    except ValueError as error:
        return f"{type(error).__name__}: {error}"


def documents():
    for name in corpus_names():
        yield name, corpus_text(name)
    for path in suite_files("y_"):
        yield path.name, path.read_bytes().decode("utf-8")


DOCUMENTS = list(documents())


def test_every_document_reads_back_as_loads_reads_it():
    checked = 0
    for name, text in DOCUMENTS:
        try:
            container = vesk.dumps(text)
        except ValueError:
            continue
        written = vesk.to_json(container, allow_nan=True)
        assert repr(read_back(written)) == repr(vesk.loads(container)), name
        assert written == expected_text(container), name
        checked += 1
    assert checked > 90  # the corpus and the suite files dumps accepts


# Values made by emit, whose objects have more fields than sort in their
# written order (f10 sorts before f2): keys reordered at every level.
EMITTED = [
    {"k": [1.5, 0.1, -0.0], "z": {"deep": [{"a": 1, "b": "x"}] * 3, "n": -7}, "s": "é\n\x01\"\\", "e": []},
    [{str(i): {"in": float(i) / 3, "n": [i, i]} for i in range(7)}],
    {str(i): {str(j): j for j in range(6)} for i in range(6)},
    [3.4028234663852886e38, 1e-45, 1e16, 1e15, 1e-5, 1e-4, 123456.0, 2.0**24],
]


@pytest.mark.parametrize("indent", [None, 0, 1, 4])
@pytest.mark.parametrize("value", EMITTED)
def test_the_text_is_json_dumps_with_shortest_floats(value, indent):
    container = vesk.emit(value)
    assert vesk.to_json(container, indent=indent) == expected_text(container, indent)


@pytest.mark.parametrize("name,container,expected", DECODED)
def test_hand_built_containers(name, container, expected):
    written = vesk.to_json(container, allow_nan=True)
    assert written == expected_text(container)
    assert repr(read_back(written)) == repr(vesk.loads(container))


def test_damaged_containers_fail_as_loads_fails():
    source = vesk.emit({"names": ["a", "b", "a"], "x": [1.5, 2.5], "t": "text", "o": {"p": [True, False]}})
    generator = random.Random(26)
    damaged = [source[:cut] for cut in range(len(source))]
    for _ in range(400):
        data = bytearray(source)
        data[generator.randrange(len(data))] = generator.randrange(256)
        damaged.append(bytes(data))
    for data in damaged:
        expected = outcome(lambda: vesk.loads(data))
        got = outcome(lambda: read_back(vesk.to_json(data, allow_nan=True)))
        assert got == expected, data


NON_FINITE = [
    ('{"a b": [1.0, 1e39]}', '$["a b"][1] is inf'),
    ('{"x": {"y": -1e39}}', "$.x.y is -inf"),
    ("[[1.5], [2.5, 3.0e38, 1e39]]", "$[1][2] is inf"),
]


@pytest.mark.parametrize("text,where", NON_FINITE)
def test_non_finite_floats_name_their_path(text, where):
    with pytest.raises(vesk.UnsupportedTypeError) as raised:
        vesk.to_json(vesk.dumps(text))
    assert str(raised.value) == (f"Unsupported data type: {where}, which JSON cannot hold "
                                 "(allow_nan=True writes it as Python's json does)")


def test_allow_nan_writes_what_pythons_json_writes():
    container = single([array_definition(6, FLOAT32)], [], 6,
                       array_value(6, FLOAT32, [f32(math.inf), f32(-math.inf), b"\x00\x00\xc0\x7f"]))
    assert vesk.to_json(container, allow_nan=True) == json.dumps([math.inf, -math.inf, math.nan],
                                                                 separators=(",", ":"))


@pytest.mark.parametrize("arguments,error,message", [
    ({"indent": -1}, ValueError, "to_json() argument 'indent' must be from 0 to 1024, not -1"),
    ({"indent": 1025}, ValueError, "to_json() argument 'indent' must be from 0 to 1024, not 1025"),
    ({"indent": 2**70}, ValueError, "must be from 0 to 1024"),
    ({"indent": "  "}, TypeError, "to_json() argument 'indent' must be None or int, not str"),
    ({"indent": True}, TypeError, "to_json() argument 'indent' must be None or int, not bool"),
    ({"spaces": 2}, TypeError, "'spaces' is an invalid keyword argument for to_json()"),
])
def test_argument_errors(arguments, error, message):
    with pytest.raises(error) as raised:
        vesk.to_json(vesk.dumps("[1]"), **arguments)
    assert message in str(raised.value)
    with pytest.raises(TypeError, match="takes exactly 1 positional argument"):
        vesk.to_json(vesk.dumps("[1]"), 2)


@pytest.mark.parametrize("wrap", [bytes, bytearray, memoryview])
def test_any_buffer_and_the_result_type(wrap):
    container = vesk.dumps('{"é": "ü", "a": [0.1]}')
    text = vesk.to_json(data=wrap(container), allow_nan=1)
    assert (type(text), text) == (str, '{"a":[0.1],"é":"ü"}')


def test_vesk_decode_writes_the_same_bytes_with_and_without_orjson(tmp_path):
    name = "canada.json"
    vesk.dump(corpus_text(name), tmp_path / "doc.vesk")
    runs = []
    for hide in ("", "sys.modules['orjson'] = None; "):
        done = subprocess.run([sys.executable, "-c", f"import sys; {hide}from vesk_cli import main; sys.exit(main())",
                               "decode", str(tmp_path / "doc.vesk")], capture_output=True, timeout=120)
        assert done.returncode == 0, done.stderr
        runs.append(done.stdout)
    assert runs[0] == runs[1] == vesk.to_json((tmp_path / "doc.vesk").read_bytes()).encode() + b"\n"


# Under a 1 GiB address-space limit, a container of null arrays whose text
# would need far more is refused before any of it is written.
TEXT_LIMIT_CHILD = """
import resource, sys
sys.path[:0] = {path!r}
from container_bytes import ARRAY, NULL, array_definition, array_value, single
import vesk
data = single([array_definition(6, NULL), array_definition(7, ARRAY)], [], 7,
              array_value(7, 6, [array_value(6, 0, [])[:4] + (65535).to_bytes(2, "little")] * {arrays}))
resource.setrlimit(resource.RLIMIT_AS, (1 << 30, 1 << 30))
try:
    print(len(vesk.to_json(data)))
except MemoryError as error:
    print("MemoryError", error)
"""


@pytest.mark.parametrize("arrays,expected", [
    (65535, "MemoryError the JSON text of this container takes about "),
    (100, str(100 * (65535 * 5 + 1) + 101) + "\n"),
])
def test_a_text_beyond_the_memory_limit_is_refused_before_writing(arrays, expected):
    done = subprocess.run([sys.executable, "-c", TEXT_LIMIT_CHILD.format(path=sys.path, arrays=arrays)],
                          capture_output=True, text=True, timeout=120)
    assert done.stdout.startswith(expected), done.stdout + done.stderr
