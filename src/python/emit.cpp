#include "python/emit.hpp"

namespace vesk::python {

// Placeholder until the emit conversion lands.
PyObject* emit_object(PyObject*, PyObject*) {
    PyErr_SetString(PyExc_NotImplementedError, "emit is not available yet");
    return nullptr;
}

int add_emit_members(PyObject*) { return 0; }

}  // namespace vesk::python
