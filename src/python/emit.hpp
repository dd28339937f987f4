#pragma once

#include <Python.h>

namespace vesk::python {

// Body of emit(obj): returns a new bytes object, or nullptr with an exception set.
PyObject* emit_object(PyObject* module, PyObject* obj);

// Adds what emit needs to the module while it is executed (its exception
// class). Returns 0, or -1 with an exception set.
int add_emit_members(PyObject* module);

}  // namespace vesk::python
