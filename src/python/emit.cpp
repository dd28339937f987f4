#include "python/emit.hpp"

#include <array>

#include "python/arguments.hpp"
#include "python/errors.hpp"
#include "python/functions.hpp"
#include "python/py_ref.hpp"
#include "python/py_to_vesk.hpp"

namespace vesk::python {

namespace {

constexpr std::array<Param, 1> emit_params = {{{"obj", ParamType::Any}}};

}  // namespace

PyObject* emit_function(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guard_memory([&]() -> PyObject* {
        std::array<PyObject*, 1> values{};
        if (!unpack_arguments("emit", emit_params, args, nargs, kwnames, values)) {
            return nullptr;
        }
        return emit_container(module, values[0]);
    });
}

int add_emit_members(PyObject* module) {
    PyRef fault(PyErr_NewExceptionWithDoc(
        "vesk.InternalFault",
        "Raised by emit when a dict is changed while it is being converted, by code that the conversion "
        "itself ran (an __index__ or __float__ method). Derives from BaseException: it reports a fault of "
        "the calling program, not bad data.",
        PyExc_BaseException, nullptr));
    if (!fault) return -1;
    return PyModule_AddObjectRef(module, kInternalFaultAttribute, fault.get());
}

}  // namespace vesk::python
