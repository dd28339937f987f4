#pragma once

#include <Python.h>

#include <cstdint>
#include <optional>
#include <span>

#include "format/container_layout.hpp"

namespace vesk::python {

// load and dump on binary file objects (open(..., "rb"), io.BytesIO,
// gzip.open, sockets' makefile, fsspec files): the Python side of what
// file_io does for paths. The object's own methods run with the interpreter
// lock held, as any Python code does, and whatever they raise propagates
// unchanged.

// Whether `source` is read as a file object: it has readinto or read.
bool is_readable(PyObject* source);
// Whether `target` is written as a file object: it has write.
bool is_writable(PyObject* target);

// Reads `source` to its end, through readinto(buffer) when it has one, else
// read(size). Stops, with the same FileError as a path, once more bytes came
// than a container can hold. Returns nothing with an exception set on
// failure.
std::optional<format::ByteBuffer> read_file_object(PyObject* module, const char* function, PyObject* source);

// Writes all of `bytes` (a bytes object) to `target`: write() returning a
// count shorter than what it was given is called again with the rest, as a
// raw stream needs; any other result counts as everything written, as
// json.dump assumes. Returns false with an exception set on failure.
bool write_file_object(PyObject* module, PyObject* target, PyObject* bytes);

}  // namespace vesk::python
