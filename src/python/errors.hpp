#pragma once

#include <Python.h>

#include <new>
#include <stdexcept>

#include "error/vesk_error.hpp"
#include "python/py_ref.hpp"

namespace vesk::python {

// The codec's exception classes live in the module's state, created afresh
// for every module object, so subinterpreters and reloads never share them.
// VeskError derives from ValueError, so `except ValueError` still catches
// every codec error; the other four derive from it, one per error kind.
struct ErrorClasses {
    PyRef base;
    PyRef parse;
    PyRef unsupported_type;
    PyRef file;
    PyRef loss;
    PyRef internal_fault;
};

// Creates the classes in the state of `module` and publishes them as module
// attributes. Returns 0, or -1 with an exception set.
int add_error_classes(PyObject* module);
// The garbage collector's view of the state.
int visit_error_classes(PyObject* module, visitproc visit, void* arg);
void clear_error_classes(PyObject* module);

// Raises the class of error.kind() (ParseError, UnsupportedTypeError or
// FileError) with error.formatted() as its only argument and returns
// nullptr, so a function can `return to_py_err(...)`.
PyObject* to_py_err(PyObject* module, const VeskError& error);

// Same for a failure of the file layer: always shown as "IO error: ...", and
// raised as FileError with `errno` (None unless the system reported one)
// and `filename` (the path argument as the caller gave it).
PyObject* io_to_py_err(PyObject* module, const VeskError& error, PyObject* filename);

// Raises InternalFault, which emit raises when a dict changes while it is
// being converted. It derives from BaseException directly: such a change is
// a fault of the caller's program, not a data error to catch alongside
// ValueError. SystemError if the module has no classes (it never finished
// executing).
void raise_internal_fault(PyObject* module, const char* message);

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
