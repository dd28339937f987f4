import pathlib
import pydoc
import shutil
import subprocess
import sys

import pytest

import vesk

FUNCTIONS = ["dumps", "loads", "dump", "load", "emit", "pack", "to_json"]
CLASSES = ["VeskError", "ParseError", "UnsupportedTypeError", "FileError", "LossError"]

DOCS = {
    "dumps": ("(json_text, *, strict=False)", "Compile a JSON string to VESK binary bytes."),
    "dump": ("(json_text, path, *, strict=False)", "Compile JSON string and write VESK binary to a file."),
    "loads": ("(bytes)", "Decompile VESK binary bytes to a Python object."),
    "load": ("(path)", "Read a VESK file and decompile to a Python object."),
    "emit": ("(obj, *, strict=False)", "Emit a Python value as VESK binary (no JSON string)."),
    "pack": ("(obj, *, strict=False)", "Compile a Python value to VESK binary bytes, as dumps() compiles its JSON text."),
    "to_json": ("(data, *, indent=None, allow_nan=False)",
                "Write the data of a VESK container as JSON text, without Python objects."),
}


class TestSurface:
    def test_all_lists_the_functions_then_the_exception_classes(self):
        assert vesk.__all__ == FUNCTIONS + CLASSES

    def test_help_names_every_function_and_exception_class(self):
        text = pydoc.render_doc(vesk, renderer=pydoc.plaintext)
        assert vesk.__doc__.startswith("JSON to VESK, a compact binary container, and back.")
        classes, functions = text.split("CLASSES", 1)[1].split("FUNCTIONS", 1)
        for name in FUNCTIONS:
            assert name in vesk.__doc__ and f"\n    {name}(" in functions
        for name in CLASSES:
            assert name in vesk.__doc__ and f"class {name}(" in classes

    def test_star_import_brings_exactly_the_public_names(self):
        namespace = {}
        exec("from vesk import *", namespace)
        assert sorted(k for k in namespace if not k.startswith("__")) == sorted(FUNCTIONS + CLASSES)

    @pytest.mark.parametrize("name", FUNCTIONS)
    def test_function_signature_and_doc(self, name):
        function = getattr(vesk, name)
        signature, doc = DOCS[name]
        assert function.__text_signature__ == signature
        summary, blank, *details = function.__doc__.split("\n")
        assert (summary, blank) == (doc, "")
        assert ">>> " in "\n".join(details)
        assert function.__name__ == name

    @pytest.mark.parametrize("name", FUNCTIONS)
    def test_function_is_bound_to_module(self, name):
        function = getattr(vesk, name)
        assert function.__module__ == "vesk"
        assert function.__self__ is vesk
        assert type(function).__name__ == "builtin_function_or_method"

    def test_only_init_function_is_exported(self):
        nm = shutil.which("nm")
        if nm is None:
            pytest.skip("nm not available")
        library = pathlib.Path(vesk.__file__)
        listing = subprocess.run([nm, "-D", "--defined-only", str(library)], capture_output=True, text=True,
                                 check=True).stdout
        names = [line.split()[-1] for line in listing.splitlines() if line.strip()]
        assert names == ["PyInit_vesk"]


# (function, args, kwargs, message) for every argument rule of every function.
ARGUMENT_ERRORS = [
    (vesk.dumps, (), {}, "dumps() missing required argument 'json_text' (pos 1)"),
    (vesk.dumps, ("{}", "{}"), {}, "dumps() takes exactly 1 positional argument (2 given)"),
    (vesk.dumps, ("{}",), {"x": 1}, "'x' is an invalid keyword argument for dumps()"),
    (vesk.dumps, ("{}",), {"json_text": "{}"}, "argument for dumps() given by name ('json_text') and position (1)"),
    (vesk.dumps, (), {"text": "{}"}, "'text' is an invalid keyword argument for dumps()"),
    (vesk.dump, (), {}, "dump() missing required argument 'json_text' (pos 1)"),
    (vesk.dump, ("{}",), {}, "dump() missing required argument 'path' (pos 2)"),
    (vesk.dump, (), {"path": "p"}, "dump() missing required argument 'json_text' (pos 1)"),
    (vesk.dump, ("{}", "p", "q"), {}, "dump() takes exactly 2 positional arguments (3 given)"),
    (vesk.dump, ("{}", "p"), {"path": "q"}, "argument for dump() given by name ('path') and position (2)"),
    (vesk.dump, ("{}",), {"json_text": "{}"}, "argument for dump() given by name ('json_text') and position (1)"),
    (vesk.dump, ("{}",), {"file": "p"}, "'file' is an invalid keyword argument for dump()"),
    (vesk.loads, (), {}, "loads() missing required argument 'bytes' (pos 1)"),
    (vesk.loads, (b"", b""), {}, "loads() takes exactly 1 argument (2 given)"),
    (vesk.loads, (), {"data": b""}, "'data' is an invalid keyword argument for loads()"),
    (vesk.loads, (b"",), {"bytes": b""}, "argument for loads() given by name ('bytes') and position (1)"),
    (vesk.load, (), {}, "load() missing required argument 'path' (pos 1)"),
    (vesk.load, ("a", "b", "c"), {}, "load() takes exactly 1 argument (3 given)"),
    (vesk.load, (), {"file": "a"}, "'file' is an invalid keyword argument for load()"),
    (vesk.load, ("a",), {"path": "a"}, "argument for load() given by name ('path') and position (1)"),
    (vesk.emit, (), {}, "emit() missing required argument 'obj' (pos 1)"),
    (vesk.emit, (1, 2), {}, "emit() takes exactly 1 positional argument (2 given)"),
    (vesk.emit, (), {"value": 1}, "'value' is an invalid keyword argument for emit()"),
    (vesk.emit, (1,), {"obj": 1}, "argument for emit() given by name ('obj') and position (1)"),
]

# A type whose name is longer than the interpreter prints in such messages.
LONG_NAMED = type("Long" * 15, (), {})

# Wrong types: the message names the parameter; the first wrong one wins.
TYPE_ERRORS = [
    (vesk.dumps, (b"{}",), "dumps() argument 'json_text' must be str, not bytes"),
    (vesk.dumps, (None,), "dumps() argument 'json_text' must be str, not None"),
    (vesk.dumps, (bytearray(b"{}"),), "dumps() argument 'json_text' must be str, not bytearray"),
    (vesk.dump, (b"{}", "p"), "dump() argument 'json_text' must be str, not bytes"),
    (vesk.dump, ("{}", 2), "dump() argument 'path' must be str, bytes, os.PathLike or a binary file object, not int"),
    (vesk.dump, ("{}", bytearray(b"p")), "dump() argument 'path' must be str, bytes, os.PathLike or a binary file object, not bytearray"),
    (vesk.dump, (1, 2), "dump() argument 'json_text' must be str, not int"),
    (vesk.loads, ("text",), "loads() argument 'bytes' must be a bytes-like object, not str"),
    (vesk.loads, ([1],), "loads() argument 'bytes' must be a bytes-like object, not list"),
    (vesk.load, (None,), "load() argument 'path' must be str, bytes, os.PathLike or a binary file object, not None"),
    (vesk.load, (memoryview(b"p"),), "load() argument 'path' must be str, bytes, os.PathLike or a binary file object, not memoryview"),
    (vesk.dumps, (LONG_NAMED(),), "dumps() argument 'json_text' must be str, not " + ("Long" * 15)[:50]),
    (vesk.loads, (LONG_NAMED(),), "loads() argument 'bytes' must be a bytes-like object, not " + ("Long" * 15)[:50]),
]


class TestArguments:
    @pytest.mark.parametrize("function,args,kwargs,message", ARGUMENT_ERRORS)
    def test_argument_count_and_names(self, function, args, kwargs, message):
        with pytest.raises(TypeError) as raised:
            function(*args, **kwargs)
        assert str(raised.value) == message

    @pytest.mark.parametrize("function,args,message", TYPE_ERRORS)
    def test_argument_types(self, function, args, message):
        with pytest.raises(TypeError) as raised:
            function(*args)
        assert str(raised.value) == message

    @pytest.mark.parametrize("function,args,message", TYPE_ERRORS)
    def test_argument_types_by_keyword(self, function, args, message):
        names = DOCS[function.__name__][0].strip("()").split(", ")
        with pytest.raises(TypeError) as raised:
            function(**dict(zip(names, args)))
        assert str(raised.value) == message

    def test_wrong_type_checked_before_file_system(self, tmp_path):
        target = tmp_path / "out.vesk"
        with pytest.raises(TypeError):
            vesk.dump(b"{}", target)
        assert not target.exists()

    def test_keywords_in_any_order(self, tmp_path):
        target = tmp_path / "out.vesk"
        vesk.dump(path=str(target), json_text="[1]")
        assert vesk.load(path=str(target)) == [1]
        assert vesk.loads(bytes=vesk.dumps(json_text="[1]")) == [1]


def fresh_text(text):
    # A str object of our own, so its reference count is not shared with
    # interned constants.
    return "".join(list(text))


class TestReferenceCounts:
    @pytest.mark.parametrize("text", ['{"a": [1, 2, "x"]}', "[1, "])
    def test_dumps_keeps_argument_count(self, text):
        argument = fresh_text(text)
        before = sys.getrefcount(argument)
        for _ in range(3):
            try:
                vesk.dumps(argument)
            except ValueError:
                pass
        assert sys.getrefcount(argument) == before

    @pytest.mark.parametrize("text", ['{"a": 1}', "nope"])
    def test_dump_and_load_keep_argument_counts(self, tmp_path, text):
        argument = fresh_text(text)
        path = fresh_text(str(tmp_path / "f.vesk"))
        before = (sys.getrefcount(argument), sys.getrefcount(path))
        for _ in range(3):
            try:
                vesk.dump(argument, path)
                vesk.load(path)
            except ValueError:
                pass
        assert (sys.getrefcount(argument), sys.getrefcount(path)) == before

    @pytest.mark.parametrize("data", [b"", b"\x01" + b"\x00" * 30])
    def test_loads_keeps_argument_count_on_failure(self, data):
        argument = bytes(bytearray(data))
        before = sys.getrefcount(argument)
        for _ in range(3):
            with pytest.raises(ValueError):
                vesk.loads(argument)
        assert sys.getrefcount(argument) == before

    def test_loads_keeps_argument_count_on_success(self):
        argument = vesk.dumps('{"k": ["v", "v"]}')
        before = sys.getrefcount(argument)
        for _ in range(3):
            vesk.loads(argument)
        assert sys.getrefcount(argument) == before

    def test_type_error_keeps_argument_count(self):
        argument = [b"{}"]
        before = sys.getrefcount(argument)
        for function in (vesk.dumps, vesk.loads, vesk.load):
            with pytest.raises(TypeError):
                function(argument)
        assert sys.getrefcount(argument) == before
