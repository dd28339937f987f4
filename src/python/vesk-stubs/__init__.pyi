# Type information for the vesk extension module (PEP 561 stub package).
# tests/python/test_stubs.py keeps it in step with the module's signatures.
import os
from typing import Any, Final, Protocol, SupportsFloat, SupportsIndex

from _typeshed import SupportsRead, SupportsWrite
from typing_extensions import Buffer, TypeAlias

_Path: TypeAlias = str | bytes | os.PathLike[str] | os.PathLike[bytes]

class _ReadsInto(Protocol):
    def readinto(self, buffer: memoryview, /) -> int | None: ...

# What load reads and dump writes: a path, or a binary file object.
_Source: TypeAlias = _Path | _ReadsInto | SupportsRead[bytes]
_Target: TypeAlias = _Path | SupportsWrite[bytes]

# What emit takes: dicts with str keys, lists, str, bool, int and float, nested;
# objects with __index__ or __float__ count as int and float. dict and list
# are invariant, so a variable annotated dict[str, int] needs the annotation
# dict[str, _Emittable] (or a literal) to pass as one.
_Emittable: TypeAlias = dict[str, "_Emittable"] | list["_Emittable"] | str | int | float | SupportsIndex | SupportsFloat

# What pack takes: the same, with tuples as arrays and None as null.
_Packable: TypeAlias = (
    dict[str, "_Packable"] | list["_Packable"] | tuple["_Packable", ...] | str | int | float | None | SupportsIndex
    | SupportsFloat
)

__all__: list[str]
__version__: Final[str]

def dumps(json_text: str, *, strict: bool = False) -> bytes: ...
def loads(bytes: Buffer) -> Any: ...
def dump(json_text: str, path: _Target, *, strict: bool = False) -> None: ...
def load(path: _Source) -> Any: ...
def emit(obj: _Emittable, *, strict: bool = False) -> bytes: ...
def pack(obj: _Packable, *, strict: bool = False) -> bytes: ...
def to_json(data: Buffer, *, indent: int | None = None, allow_nan: bool = False) -> str: ...
def _describe(bytes: Buffer) -> dict[str, Any]: ...
def _dumps_counting(json_text: str) -> tuple[bytes, int, str | None]: ...

class VeskError(ValueError):
    path: str | None

class ParseError(VeskError):
    line: int | None
    column: int | None
    pos: int | None

class UnsupportedTypeError(VeskError): ...

class LossError(VeskError):
    value: int | float
    stored: int | float

class FileError(VeskError):
    errno: int | None
    filename: _Path | None

class InternalFault(BaseException): ...
