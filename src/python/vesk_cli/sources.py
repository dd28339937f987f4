"""Where the command's files are: local paths, '-' for standard input and
output, and fsspec URLs (s3://, gs://, file://, memory://, ...)."""

from __future__ import annotations

import glob
import posixpath
import sys
from pathlib import Path
from typing import Any

STDIO = "-"
EXTRA_HINT = "pip install 'vesk[dask]'"


class MissingExtra(Exception):
    """An optional package that an option or a URL needs is not installed."""

    def __init__(self, what: str, package: str) -> None:
        super().__init__(f"{what} needs {package}, which is not installed: {EXTRA_HINT}")


def is_url(name: str) -> bool:
    return "://" in name


def fsspec_module() -> Any:
    try:
        import fsspec
    except ImportError:
        raise MissingExtra("a URL", "fsspec") from None
    return fsspec


def url_filesystem(url: str) -> tuple[Any, str]:
    """The fsspec filesystem of a URL and the path within it."""
    fs, path = fsspec_module().core.url_to_fs(url)
    return fs, path


def shown(name: str) -> str:
    return "<stdin>" if name == STDIO else name


def expand(names: list[str]) -> list[str]:
    """The inputs with URL patterns (s3://bucket/*.json) expanded, as the shell does for local ones.
    A pattern that matches nothing stays as it is, so that reading it reports the failure."""
    expanded: list[str] = []
    for name in names:
        if is_url(name) and glob.has_magic(name):
            fs, path = url_filesystem(name)
            found = sorted(fs.glob(path))
            expanded += [fs.unstrip_protocol(match) for match in found] or [name]
        else:
            expanded.append(name)
    return expanded


def read_bytes(name: str) -> bytes:
    if name == STDIO:
        return sys.stdin.buffer.read()
    if is_url(name):
        fs, path = url_filesystem(name)
        with fs.open(path, "rb") as file:
            data: bytes = file.read()
        return data
    return Path(name).read_bytes()


def size_of(name: str) -> int | None:
    """Bytes of a local file, None where asking costs a round trip or cannot be done."""
    if name == STDIO or is_url(name):
        return None
    try:
        return Path(name).stat().st_size
    except OSError:
        return None


def stem(name: str) -> str:
    """The file name without its directory and last suffix."""
    base = posixpath.basename(name.rstrip("/")) if is_url(name) else Path(name).name
    return base.rsplit(".", 1)[0] if "." in base.lstrip(".") else base


def with_suffix(name: str, suffix: str) -> str:
    if is_url(name):
        head, _, base = name.rpartition("/")
        return f"{head}/{stem(base)}{suffix}"
    return str(Path(name).with_suffix(suffix))


def in_directory(directory: str, base: str) -> str:
    if is_url(directory):
        return directory.rstrip("/") + "/" + base
    return str(Path(directory) / base)


def same_place(one: str, other: str) -> bool:
    if is_url(one) or is_url(other):
        return one.rstrip("/") == other.rstrip("/")
    return Path(one).resolve() == Path(other).resolve()


def reason(error: BaseException) -> str:
    """Why reading or writing a file failed, in a few words."""
    if isinstance(error, OSError) and error.strerror:
        return error.strerror
    return f"{type(error).__name__}: {error}"
