#pragma once

#include <Python.h>

#include <new>
#include <stdexcept>

#include "error/vesk_error.hpp"

namespace vesk::python {

// Raises ValueError carrying error.formatted() as its only argument and
// returns nullptr, so a function can `return to_py_err(...)`.
PyObject* to_py_err(const VeskError& error);

// Same for a failure of the file layer: always shown as "IO error: ...".
PyObject* io_to_py_err(const VeskError& error);

// Runs a function body, turning a failed allocation into MemoryError. The
// C API must never see a C++ exception, and the core allocates freely; a
// container asked to grow past its maximum size is the same failure.
template <class Body>
PyObject* guard_memory(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    } catch (const std::length_error&) {
        return PyErr_NoMemory();
    }
}

}  // namespace vesk::python
