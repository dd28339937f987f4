#pragma once

#include <Python.h>

namespace vesk::python {

// Adds what emit needs to the module while it is executed (its exception
// class). Returns 0, or -1 with an exception set.
int add_emit_members(PyObject* module);

}  // namespace vesk::python
