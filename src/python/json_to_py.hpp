#pragma once

#include <Python.h>

#include "json/json_value.hpp"
#include "python/py_ref.hpp"

namespace vesk::python {

// Builds the Python object tree for `root`: None, bool, int, float, str,
// list and dict, dict keys inserted in the tree's (byte) order. A number's
// class decides its type; non-negative integers of 2**63 and more become
// float. Returns an empty holder with the Python exception set on failure.
// The caller holds the interpreter lock.
PyRef json_value_to_py(const JsonValue& root);

}  // namespace vesk::python
