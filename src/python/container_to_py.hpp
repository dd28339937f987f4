#pragma once

#include <Python.h>

#include <cstdint>
#include <span>

namespace vesk::python {

// Whether the container's bytes can change while they are read.
enum class ContainerBytes {
    // A bytes object, or a buffer of the module's own: read in place, and
    // checked without the interpreter lock when large.
    Immutable,
    // Another thread, or Python code that a collection runs, could write to
    // them: they are copied first.
    Mutable,
};

// The Python value of a container (what loads and load return), or nullptr
// with the exception set. Containers are built straight from their bytes,
// after one scan that checks them and words the first fault it finds. A
// container whose objects would take more memory than is available raises
// MemoryError before anything is built.
PyObject* container_to_py(PyObject* module, std::span<const std::uint8_t> container, ContainerBytes bytes);

}  // namespace vesk::python
