"""What is measured: vesk and the codecs a user would pick instead, per operation.

A contender is a `prepare` step that turns a document into the contender's own
input (its own encoding, for the decoders) and the `run` step that is timed.
Either may raise; the cell is then shown as refused with the message.
"""

from __future__ import annotations

import importlib
import json
import marshal
import pickle
from dataclasses import dataclass
from typing import Any, Callable

import cbor2
import msgpack
import msgspec
import orjson
import ormsgpack

from documents import Document

VESK_FUNCTIONS = ("dumps", "loads", "emit", "pack", "to_json")


def _unavailable(error: BaseException) -> Callable[[Any], Any]:
    def refuse(_: Any) -> Any:
        raise error

    return refuse


def load_vesk() -> tuple[dict[str, Callable[[Any], Any]], str]:
    """The vesk functions, and where the module came from. A missing module or
    function becomes a callable that raises, so it shows up as refused."""
    try:
        module = importlib.import_module("vesk")
    except ImportError as error:
        return {name: _unavailable(error) for name in VESK_FUNCTIONS}, f"not importable ({error})"
    functions = {}
    for name in VESK_FUNCTIONS:
        try:
            functions[name] = getattr(module, name)
        except AttributeError as error:
            functions[name] = _unavailable(error)
    return functions, getattr(module, "__file__", "?")


@dataclass(frozen=True)
class Contender:
    label: str
    prepare: Callable[[Document], Any]
    run: Callable[[Any], Any]
    is_vesk: bool = False


@dataclass(frozen=True)
class Target:
    """A bound on vesk time / peer time: for the geometric mean over the documents, and for each (if any)."""

    peer_label: str
    mean: float
    each: float | None = None


@dataclass(frozen=True)
class Operation:
    key: str
    title: str
    notes: tuple[str, ...]
    size_of: Callable[[Document], int]  # bytes that throughput is counted in
    contenders: tuple[Contender, ...]
    targets: tuple[Target, ...] = ()


class NoInput(Exception):
    """The contender's input could not be made, so there is nothing to time."""


def _text(doc: Document) -> str:
    return doc.text


def _value_without_none(doc: Document) -> Any:
    return doc.value_without_none


def _vesk_bytes(dumps: Callable[[str], bytes]) -> Callable[[Document], bytes]:
    def prepare(doc: Document) -> bytes:
        try:
            return dumps(doc.text)
        except Exception as error:
            raise NoInput(f"no input, dumps failed: {type(error).__name__}: {error}") from error

    return prepare


def _encoded(encode: Callable[[Any], bytes]) -> Callable[[Document], bytes]:
    return lambda doc: encode(doc.value)


def _pickle_dumps(value: Any) -> bytes:
    return pickle.dumps(value, protocol=pickle.HIGHEST_PROTOCOL)


def text_to_binary(vesk: dict[str, Callable[[Any], Any]]) -> Operation:
    return Operation(
        key="dumps",
        title="JSON text -> binary",
        notes=("throughput in MB/s of the JSON text as stored",
               "orjson.loads alone parses the JSON into objects and encodes nothing",
               "every repetition gets the same str, whose UTF-8 form (made on first use for non-ASCII",
               "text) the interpreter caches: vesk, orjson and msgspec pay for it only once"),
        size_of=lambda doc: doc.size,
        contenders=(
            Contender("vesk.dumps", _text, vesk["dumps"], is_vesk=True),
            Contender("msgpack", _text, lambda t: msgpack.packb(orjson.loads(t))),
            Contender("ormsgpack", _text, lambda t: ormsgpack.packb(orjson.loads(t))),
            Contender("msgspec", _text, lambda t: msgspec.msgpack.encode(msgspec.json.decode(t))),
            Contender("cbor2", _text, lambda t: cbor2.dumps(json.loads(t))),
            Contender("orjson.loads", _text, orjson.loads),
        ),
        targets=(Target("ormsgpack", mean=0.4, each=0.6),),
    )


def binary_to_objects(vesk: dict[str, Callable[[Any], Any]]) -> Operation:
    return Operation(
        key="loads",
        title="binary -> Python objects",
        notes=("throughput in MB/s of the JSON text as stored; each decoder reads its own encoding",
               "of the same data (vesk: dumps of the text; orjson: the JSON text itself)"),
        size_of=lambda doc: doc.size,
        contenders=(
            Contender("vesk.loads", _vesk_bytes(vesk["dumps"]), vesk["loads"], is_vesk=True),
            Contender("msgpack", _encoded(msgpack.packb), msgpack.unpackb),
            Contender("ormsgpack", _encoded(ormsgpack.packb), ormsgpack.unpackb),
            Contender("msgspec", _encoded(msgspec.msgpack.encode), msgspec.msgpack.decode),
            Contender("cbor2", _encoded(cbor2.dumps), cbor2.loads),
            Contender("pickle", _encoded(_pickle_dumps), pickle.loads),
            Contender("marshal", _encoded(marshal.dumps), marshal.loads),
            Contender("orjson.loads", _text, orjson.loads),
        ),
    )


def objects_to_binary(vesk: dict[str, Callable[[Any], Any]]) -> Operation:
    return Operation(
        key="emit",
        title="Python objects -> binary",
        notes=("input: a copy of each document with every None removed (dict members holding None",
               "and None list items), since emit refuses None; all codecs encode that same copy",
               "throughput in MB/s of the minified JSON text of that copy"),
        size_of=lambda doc: doc.size_without_none,
        contenders=(
            Contender("vesk.emit", _value_without_none, vesk["emit"], is_vesk=True),
            Contender("msgpack", _value_without_none, msgpack.packb),
            Contender("ormsgpack", _value_without_none, ormsgpack.packb),
            Contender("msgspec", _value_without_none, msgspec.msgpack.encode),
            Contender("pickle", _value_without_none, _pickle_dumps),
            Contender("marshal", _value_without_none, marshal.dumps),
            Contender("orjson.dumps", _value_without_none, orjson.dumps),
        ),
        targets=(Target("ormsgpack", mean=1.0), Target("msgpack", mean=0.7)),
    )


def _value(doc: Document) -> Any:
    return doc.value


def objects_as_json_to_binary(vesk: dict[str, Callable[[Any], Any]]) -> Operation:
    dumps = vesk["dumps"]
    return Operation(
        key="pack",
        title="Python objects -> binary, as dumps compiles their JSON text",
        notes=("input: the objects json.loads makes of each document, None included",
               "vesk.dumps(orjson.dumps) is how to get the same container without pack: text made only to",
               "be parsed again (orjson's bytes decoded to the str dumps takes)",
               "throughput in MB/s of the JSON text as stored"),
        size_of=lambda doc: doc.size,
        contenders=(
            Contender("vesk.pack", _value, vesk["pack"], is_vesk=True),
            Contender("ormsgpack", _value, ormsgpack.packb),
            Contender("vesk.dumps(orjson.dumps)", _value, lambda value: dumps(orjson.dumps(value).decode())),
            Contender("msgpack", _value, msgpack.packb),
            Contender("orjson.dumps", _value, orjson.dumps),
        ),
        targets=(Target("ormsgpack", mean=1.0), Target("vesk.dumps(orjson.dumps)", mean=0.5)),
    )


def binary_to_text(vesk: dict[str, Callable[[Any], Any]]) -> Operation:
    loads = vesk["loads"]
    return Operation(
        key="to_json",
        title="binary -> JSON text",
        notes=("throughput in MB/s of the JSON text as stored; every contender starts from vesk.dumps of it",
               "vesk.to_json writes the text in C++ without Python objects; the peers go through vesk.loads"),
        size_of=lambda doc: doc.size,
        contenders=(
            Contender("vesk.to_json", _vesk_bytes(vesk["dumps"]), lambda data: vesk["to_json"](data, allow_nan=True),
                      is_vesk=True),
            Contender("orjson.dumps(loads)", _vesk_bytes(vesk["dumps"]), lambda data: orjson.dumps(loads(data))),
            Contender("json.dumps(loads)", _vesk_bytes(vesk["dumps"]), lambda data: json.dumps(loads(data))),
        ),
        targets=(Target("json.dumps(loads)", mean=0.33, each=0.33), Target("orjson.dumps(loads)", mean=1.0)),
    )


def operations(vesk: dict[str, Callable[[Any], Any]]) -> dict[str, Operation]:
    ops = (text_to_binary(vesk), binary_to_objects(vesk), objects_to_binary(vesk), objects_as_json_to_binary(vesk),
           binary_to_text(vesk))
    return {op.key: op for op in ops}


def peer_versions() -> dict[str, str]:
    from importlib.metadata import PackageNotFoundError, version

    found = {}
    for name in ("msgpack", "ormsgpack", "msgspec", "cbor2", "orjson", "zstandard"):
        try:
            found[name] = version(name)
        except PackageNotFoundError:
            found[name] = "?"
    return found
