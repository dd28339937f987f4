import array
import doctest
import errno
import importlib.metadata
import importlib.util
import os
import pathlib

import pytest

import vesk

DOC = '{"k": ["v", "v"], "n": 1}'
VALUE = {"k": ["v", "v"], "n": 1}


class StrPath:
    def __init__(self, path):
        self.path = str(path)

    def __fspath__(self):
        return self.path


class BytesPath(StrPath):
    def __fspath__(self):
        return os.fsencode(self.path)


class StrSubclass(str):
    pass


PATH_FORMS = [str, StrSubclass, pathlib.Path, os.fsencode, StrPath, BytesPath]


# A name that is not UTF-8 comes back from os.listdir with surrogate escapes;
# open() takes it so, and so do dump and load.
@pytest.mark.parametrize("name", ["é.vesk", os.fsdecode(b"\xff.vesk")], ids=["UTF-8", "not UTF-8"])
@pytest.mark.parametrize("form", PATH_FORMS, ids=["str", "str subclass", "Path", "bytes", "PathLike str",
                                                  "PathLike bytes"])
def test_dump_and_load_take_every_path_form(tmp_path, form, name):
    target = tmp_path / name
    vesk.dump(DOC, form(target))
    assert os.listdir(tmp_path) == [name]
    assert target.read_bytes() == vesk.dumps(DOC)
    assert vesk.load(form(target)) == VALUE


@pytest.mark.parametrize("path,error", [
    (type("Broken", (), {"__fspath__": lambda self: 1 / 0})(), ZeroDivisionError),
    (type("NotAPath", (), {"__fspath__": lambda self: 3})(), TypeError),
    ("\ud800.vesk", UnicodeEncodeError),  # no surrogate escape: os.fsencode refuses it too
])
def test_path_conversion_failures_propagate(tmp_path, monkeypatch, path, error):
    monkeypatch.chdir(tmp_path)
    for call in (lambda: vesk.load(path), lambda: vesk.dump("[]", path)):
        with pytest.raises(error):
            call()
    assert list(tmp_path.iterdir()) == []


CONTAINER = vesk.dumps(DOC)
BUFFERS = [bytearray(CONTAINER), memoryview(CONTAINER), memoryview(b"xx" + CONTAINER)[2:],
           array.array("B", CONTAINER), memoryview(bytearray(CONTAINER)).cast("c")]


@pytest.mark.parametrize("buffer", BUFFERS, ids=lambda b: type(b).__name__)
def test_loads_takes_any_contiguous_buffer(buffer):
    assert vesk.loads(buffer) == VALUE
    assert vesk.loads(bytes=buffer) == VALUE


def test_loads_refuses_strided_buffer():
    with pytest.raises(BufferError):
        vesk.loads(memoryview(CONTAINER + CONTAINER)[::2])


def test_loads_holds_the_buffer_only_during_the_call():
    data = bytearray(CONTAINER)
    vesk.loads(data)
    data.clear()  # raises BufferError while the buffer is still exported
    assert vesk.loads(bytearray(CONTAINER)) == VALUE


def test_exception_classes():
    assert issubclass(vesk.VeskError, ValueError)
    for cls in (vesk.ParseError, vesk.UnsupportedTypeError, vesk.FileError):
        assert cls.__bases__ == (vesk.VeskError,)
        assert cls.__module__ == "vesk"
        assert cls.__doc__
    assert (vesk.FileError.errno, vesk.FileError.filename) == (None, None)


def raise_from(call):
    with pytest.raises(vesk.VeskError) as raised:
        call()
    return raised.value


@pytest.mark.parametrize("call,cls,prefix", [
    (lambda tmp: vesk.dumps("[1,"), vesk.ParseError, "Failed to parse VESK: "),
    (lambda tmp: vesk.loads(b"\x01"), vesk.ParseError, "Failed to parse VESK: "),
    (lambda tmp: vesk.dump("{", tmp / "x"), vesk.ParseError, "Failed to parse VESK: "),
    (lambda tmp: vesk.dumps('[1, "a"]'), vesk.UnsupportedTypeError, "Unsupported data type: "),
    (lambda tmp: vesk.emit([1, "a"]), vesk.UnsupportedTypeError, "Unsupported data type: "),
    (lambda tmp: vesk.load(tmp / "missing"), vesk.FileError, "IO error: "),
])
def test_each_error_kind_has_its_class(tmp_path, call, cls, prefix):
    error = raise_from(lambda: call(tmp_path))
    assert type(error) is cls and isinstance(error, ValueError)
    assert str(error).startswith(prefix) and error.args == (str(error),)


@pytest.mark.parametrize("function,make_path,number", [
    ("load", lambda tmp: tmp / "missing.vesk", errno.ENOENT),
    ("load", lambda tmp: str(tmp).encode(), errno.EISDIR),
    ("dump", lambda tmp: StrPath(tmp), errno.EISDIR),
    ("dump", lambda tmp: tmp / "no" / "dir.vesk", errno.ENOENT),
    ("load", lambda tmp: str(tmp / "a\0b").encode(), None),
    ("dump", lambda tmp: str(tmp / "a\0b"), None),
])
def test_file_errors_carry_errno_and_filename(tmp_path, function, make_path, number):
    path = make_path(tmp_path)
    call = (lambda: vesk.load(path)) if function == "load" else (lambda: vesk.dump("[]", path))
    error = raise_from(call)
    assert type(error) is vesk.FileError
    assert error.filename is path
    assert error.errno == number
    description = "file name contained an unexpected NUL byte" if number is None else \
        f"{os.strerror(number)} (os error {number})"
    assert error.args == ("IO error: " + description,)


def test_every_module_object_has_classes_of_its_own():
    found = importlib.util.find_spec("vesk")
    other = importlib.util.module_from_spec(found)
    found.loader.exec_module(other)
    assert other.ParseError is not vesk.ParseError
    with pytest.raises(other.ParseError):
        other.loads(b"")
    with pytest.raises(vesk.ParseError):
        vesk.loads(b"")


def test_version_is_the_distribution_version():
    assert vesk.__version__ == importlib.metadata.version("vesk")


@pytest.mark.parametrize("name", [name for name in vesk.__all__ if callable(getattr(vesk, name))
                                  and not isinstance(getattr(vesk, name), type)] + [None])
def test_docstring_examples_run(tmp_path, monkeypatch, name):
    monkeypatch.chdir(tmp_path)
    doc = vesk.__doc__ if name is None else getattr(vesk, name).__doc__
    test = doctest.DocTestParser().get_doctest(doc, {"vesk": vesk, "pathlib": pathlib}, str(name), None, 0)
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    runner.run(test)
    assert test.examples and runner.summarize(verbose=False).failed == 0
