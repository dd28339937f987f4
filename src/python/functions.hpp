#pragma once

#include <Python.h>

namespace vesk::python {

// The module functions, in the fast-call-with-keywords convention.
// Each returns a new reference, or nullptr with an exception set.
PyObject* dumps_function(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* dump_function(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* loads_function(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* load_function(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* emit_function(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* pack_function(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

// to_json(data, *, indent=None, allow_nan=False): a container's data as JSON text.
PyObject* to_json_function(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

// _dumps_counting(json_text), outside __all__: dumps, and the numbers that
// strict would refuse, for the command line's encode: (bytes, how many, the
// path of the first or None).
PyObject* dumps_counting_function(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

// _describe(bytes), outside __all__: the structure of a container as plain
// dicts and lists, for the command line's inspect.
PyObject* describe_function(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace vesk::python
