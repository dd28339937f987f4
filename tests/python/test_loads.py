import gc
import json
import math
import os
import subprocess
import sys
import threading

import pytest

import vesk
from container_bytes import (ARRAY, BOOL, FLOAT32, INT32, NULL, OBJECT, STRING, UINT32, array_definition,
                             array_value, container, f32, i32, object_definition, object_value,
                             primitive_definitions, single, str_ref, text, u32)
from expected_values import same

NAN_F32 = b"\x00\x00\xc0\x7f"

# Hand-built containers and the Python object loads must make of each.
DECODED = [
    ("empty container is None", container([], [], []), None),
    ("null", single([], [], NULL, b""), None),
    ("true", single([], [], BOOL, b"\x01"), True),
    ("any non-zero bool byte", single([], [], BOOL, b"\x07"), True),
    ("false", single([], [], BOOL, b"\x00"), False),
    ("int32 min", single([], [], INT32, i32(-2147483648)), -2147483648),
    ("int32 max", single([], [], INT32, i32(2147483647)), 2147483647),
    ("uint32 max", single([], [], UINT32, u32(4294967295)), 4294967295),
    ("uint32 zero", single([], [], UINT32, u32(0)), 0),
    ("float stays float", single([], [], FLOAT32, f32(2.0)), 2.0),
    ("float widened exactly", single([], [], FLOAT32, f32(0.1)), 0.10000000149011612),
    ("negative zero", single([], [], FLOAT32, f32(-0.0)), -0.0),
    ("infinity", single([], [], FLOAT32, f32(math.inf)), math.inf),
    ("NaN", single([], [], FLOAT32, NAN_F32), math.nan),
    ("non-finite items", single([array_definition(6, FLOAT32)], [], 6, array_value(6, 4, [f32(1.0), f32(-math.inf)])),
     [1.0, -math.inf]),
    ("inline string", single([], [], STRING, text("héllo")), "héllo"),
    ("medium string", single([], [], STRING, text("z" * 5000)), "z" * 5000),
    ("dictionary reference", single([], ["shared"], STRING, str_ref(0)), "shared"),
    ("empty array", single([array_definition(6, NULL)], [], 6, array_value(6, 0, [])), []),
    ("empty object", single([object_definition(6, [])], [], 6, object_value(6, [])), {}),
    ("keys in byte order", single([object_definition(6, [("b", INT32), ("a", INT32)])], [], 6,
                                  object_value(6, [i32(1), i32(2)])), {"a": 2, "b": 1}),
    ("upper, lower, non-ascii", single([object_definition(6, [("á", INT32), ("a", INT32), ("B", INT32)])], [], 6,
                                       object_value(6, [i32(1), i32(2), i32(3)])), {"B": 3, "a": 2, "á": 1}),
    ("prefix before extension", single([object_definition(6, [("ab", INT32), ("a", INT32)])], [], 6,
                                       object_value(6, [i32(1), i32(2)])), {"a": 2, "ab": 1}),
    ("repeated field keeps later value", single([object_definition(6, [("k", INT32), ("k", STRING)])], [], 6,
                                                object_value(6, [i32(1), text("v")])), {"k": "v"}),
    ("repeated field drops a list", single([array_definition(6, INT32), object_definition(7, [("k", ARRAY), ("k", INT32)]),
                                            array_definition(8, OBJECT)], [], 8,
                                           array_value(8, 7, [object_value(7, [array_value(6, INT32, [i32(1)]), i32(2)])]
                                                       * 3)),
     [{"k": 2}] * 3),
    ("two chunks become a list", container(primitive_definitions(), ["s"], [(INT32, i32(1)), (STRING, str_ref(0))]),
     [1, "s"]),
    ("objects sharing keys", single([object_definition(6, [("id", INT32), ("tag", STRING)]),
                                     array_definition(7, OBJECT)], ["t"], 7,
                                    array_value(7, 6, [object_value(6, [i32(n), str_ref(0)]) for n in range(50)])),
     [{"id": n, "tag": "t"} for n in range(50)]),
]


def nested_arrays(depth):
    value = array_value(6, 0, [])
    for _ in range(depth - 1):
        value = array_value(6, 0, [value])
    return single([array_definition(6, ARRAY)], [], 6, value)


class BytesSubclass(bytes):
    pass


class TestLoads:
    @pytest.mark.parametrize("data,expected", [(d, e) for _, d, e in DECODED], ids=[n for n, _, _ in DECODED])
    def test_decoded_objects(self, data, expected):
        assert same(vesk.loads(data), expected)

    def test_bytes_subclass_accepted(self):
        data = BytesSubclass(single([], [], INT32, i32(7)))
        assert vesk.loads(data) == 7

    def test_deepest_readable_nesting(self):
        value = vesk.loads(nested_arrays(128))
        depth = 0
        while value:
            value = value[0]
            depth += 1
        assert depth == 127

    def test_dicts_with_shared_keys_are_independent(self):
        data = vesk.dumps('[{"k": 1}, {"k": 2}, {"k": 3}]')
        first, second, third = vesk.loads(data)
        first["k"] = 99
        del second["k"]
        assert third == {"k": 3}
        assert vesk.loads(data) == [{"k": 1}, {"k": 2}, {"k": 3}]

    def test_collector_never_sees_a_list_with_empty_slots(self):
        # Building many dicts runs the cyclic collector, whose callbacks are
        # Python code that can reach every young list. A list whose length
        # counts slots not yet filled would crash such code; the collector's
        # own view of the items (which skips empty slots) exposes it safely.
        data = vesk.dumps("[" + ", ".join(['{"k": [1]}'] * 3000) + "]")
        gaps = []

        def inspect(phase, info):
            if phase == "start":
                gaps.extend(len(o) - len(gc.get_referents(o)) for o in gc.get_objects(0) if type(o) is list)

        was_enabled = gc.isenabled()
        gc.enable()
        gc.callbacks.append(inspect)
        try:
            result = vesk.loads(data)
        finally:
            gc.callbacks.remove(inspect)
            if not was_enabled:
                gc.disable()
        assert len(result) == 3000
        assert gaps, "the collector did not run while the result was built"
        assert max(gaps) == 0

    @pytest.mark.parametrize("data,message", [
        (b"", "Header requires 13 bytes, got 0"),
        (b"\x01" * 12, "Header requires 13 bytes, got 12"),
        (b"\x02" + b"\x00" * 12, "Unsupported VESK version: 2"),
        (single([], ["a", "b"], STRING, str_ref(2)), "StrRef index 2 out of bounds (dict len 2)"),
        (nested_arrays(129), "Max recursion depth"),
    ])
    def test_refused_containers(self, data, message):
        with pytest.raises(ValueError) as raised:
            vesk.loads(data)
        assert type(raised.value) is vesk.ParseError
        assert raised.value.args == ("Failed to parse VESK: " + message,)
        assert raised.value.__cause__ is None

    @pytest.mark.parametrize("json_text,keys", [
        ('{"b": 1, "a": 2}', ["a", "b"]),
        ('{"á": 1, "b": 2, "a": 3, "A": 4, "ab": 5}', ["A", "a", "ab", "b", "á"]),
    ])
    def test_round_trip_orders_keys(self, json_text, keys):
        assert list(vesk.loads(vesk.dumps(json_text))) == keys


class TestLoad:
    def test_load_after_dump(self, tmp_path):
        json_text = '{"z": [1.5, 2.5], "a": {"k": ["v", "v"]}, "n": null}'
        target = str(tmp_path / "doc.vesk")
        vesk.dump(json_text, target)
        assert same(vesk.load(target), vesk.loads(vesk.dumps(json_text)))

    def test_reads_large_file(self, tmp_path):
        json_text = "[" + ",".join(f'{{"id": {n}, "name": "item {n}"}}' for n in range(20000)) + "]"
        target = tmp_path / "big.vesk"
        target.write_bytes(vesk.dumps(json_text))
        result = vesk.load(str(target))
        assert len(result) == 20000 and result[-1] == {"id": 19999, "name": "item 19999"}

    def test_reads_past_reported_size(self, tmp_path):
        # A FIFO reports size 0, so the whole container arrives through growth.
        source = tmp_path / "doc.vesk"
        source.write_bytes(vesk.dumps('{"w": "' + "w" * 100000 + '", "n": 1}'))
        fifo = tmp_path / "fifo"
        os.mkfifo(fifo)
        writer = subprocess.Popen(["sh", "-c", 'cat "$0" > "$1"', str(source), str(fifo)])
        try:
            result = vesk.load(str(fifo))
        finally:
            writer.wait(timeout=30)
        assert result == {"n": 1, "w": "w" * 100000}

    def test_empty_file(self, tmp_path):
        target = tmp_path / "empty.vesk"
        target.write_bytes(b"")
        with pytest.raises(ValueError) as raised:
            vesk.load(str(target))
        assert str(raised.value) == "Failed to parse VESK: Header requires 13 bytes, got 0"

    def test_nul_in_path(self, tmp_path):
        with pytest.raises(ValueError) as raised:
            vesk.load(str(tmp_path) + "/a\0b")
        assert raised.value.args == ("IO error: file name contained an unexpected NUL byte",)

    @pytest.mark.parametrize("relative,number", [("missing.vesk", 2), ("", 21), ("missing/x.vesk", 2)])
    def test_os_errors(self, tmp_path, relative, number):
        path = str(tmp_path / relative) if relative else str(tmp_path)
        with pytest.raises(ValueError) as raised:
            vesk.load(path)
        assert type(raised.value) is vesk.FileError
        assert raised.value.args == (f"IO error: {os.strerror(number)} (os error {number})",)
        assert (raised.value.errno, raised.value.filename) == (number, path)


# Run under a 1 GiB address-space limit: a container of null arrays whose
# result would need far more is refused before anything is built, while one
# whose result fits loads. The crafted container is built inside the child.
MEMORY_LIMIT_CHILD = """
import resource, sys, tracemalloc
sys.path[:0] = {path!r}
from container_bytes import ARRAY, NULL, array_definition, array_value, single
import vesk
arrays = {arrays}
data = single([array_definition(6, NULL), array_definition(7, ARRAY)], [], 7,
              array_value(7, 6, [array_value(6, 0, [])[:4] + (65535).to_bytes(2, "little")] * arrays))
resource.setrlimit(resource.RLIMIT_AS, (1 << 30, 1 << 30))
tracemalloc.start()
try:
    value = vesk.loads(data)
except MemoryError as error:
    print("MemoryError", tracemalloc.get_traced_memory()[1] < (16 << 20), error)
else:
    print("loaded", len(value), {{len(item) for item in value}})
"""


@pytest.mark.parametrize("arrays,expected", [
    (65535, "MemoryError True reading this container takes about"),
    (100, "loaded 100 {65535}"),
])
def test_results_beyond_the_memory_limit_are_refused_before_building(arrays, expected):
    child = MEMORY_LIMIT_CHILD.format(path=[str(p) for p in (os.path.dirname(__file__),)], arrays=arrays)
    completed = subprocess.run([sys.executable, "-c", child], capture_output=True, text=True, timeout=120)
    assert completed.returncode == 0, completed.stderr
    assert completed.stdout.startswith(expected)


# Documents sharing their keys, which loads keeps from call to call: short
# ASCII ones, a non-ASCII one, one too long to keep, one that is also a value,
# in definitions of different layouts (other orders, a repeated name), small
# and one large enough to be scanned with the interpreter lock released.
SHARED_KEYS = ["id", "name", "é", "k" * 100, "tags"]


def shared_key_documents():
    first = {"id": 1, "name": "tags", "é": [1.5], "k" * 100: {"id": "x"}, "tags": ["id", "name"]}
    second = {"tags": 7, "k" * 100: "é", "id": {"name": None, "tags": True}, "é": "id", "name": [0.25]}
    repeated = '{"name": 1, "id": 2, "name": "later", "é": {"é": {"é": 3}}, "tags": [], "k%s": -1}' % ("k" * 99)
    large = [dict(first, id=n) if n % 2 else dict(second, tags=n) for n in range(2000)]
    texts = [json.dumps(first), json.dumps(second), repeated, json.dumps(large)]
    return [(vesk.dumps(text), json.loads(text)) for text in texts]


def in_key_order(value):
    """The value as loads gives it: keys in byte order, the later of repeated ones."""
    if isinstance(value, dict):
        return {k: in_key_order(value[k]) for k in sorted(value, key=lambda k: k.encode())}
    if isinstance(value, list):
        return [in_key_order(item) for item in value]
    return value


def test_state_kept_between_calls_never_changes_a_result():
    documents = [(data, in_key_order(value)) for data, value in shared_key_documents()]
    failures = []

    def read_in_turn(offset):
        for turn in range(20):
            data, expected = documents[(offset + turn) % len(documents)]
            for argument in (data, memoryview(data), bytearray(data)):
                result = vesk.loads(argument)
                if result != expected or json.dumps(result) != json.dumps(expected):
                    failures.append((offset, turn))

    threads = [threading.Thread(target=read_in_turn, args=(offset,)) for offset in range(6)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert failures == []


def test_a_call_made_while_another_builds_its_value_gets_its_own_tables():
    # A collection during the build runs the callback, whose loads finds
    # the kept tables lent out.
    (small, small_value), _, _, (large, large_value) = shared_key_documents()
    seen = []

    def read_during_collection(phase, info):
        if phase == "start":
            seen.append(vesk.loads(small) == in_key_order(small_value))

    threshold, was_enabled = gc.get_threshold(), gc.isenabled()
    gc.callbacks.append(read_during_collection)
    gc.set_threshold(10)
    gc.enable()
    try:
        result = vesk.loads(large)
    finally:
        gc.set_threshold(*threshold)
        gc.callbacks.remove(read_during_collection)
        if not was_enabled:
            gc.disable()
    assert result == in_key_order(large_value) and seen and all(seen)
