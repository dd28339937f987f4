#include <Python.h>

#include <array>

#include "python/emit.hpp"
#include "python/functions.hpp"
#include "python/py_ref.hpp"

namespace vesk::python {

namespace {

constexpr int fast_call_flags = METH_FASTCALL | METH_KEYWORDS;

template <auto Function>
PyCFunction as_cfunction() {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(Function));
}

// Read-only: the interpreter keeps pointers to these entries for the life of
// each function object but never writes through them.
const std::array<PyMethodDef, 5> function_table = {{
    {"dumps", as_cfunction<&dumps_function>(), fast_call_flags,
     "dumps(json_text)\n--\n\nCompile a JSON string to VESK binary bytes."},
    {"loads", as_cfunction<&loads_function>(), fast_call_flags,
     "loads(bytes)\n--\n\nDecompile VESK binary bytes to a Python object."},
    {"dump", as_cfunction<&dump_function>(), fast_call_flags,
     "dump(json_text, path)\n--\n\nCompile JSON string and write VESK binary to a file. The file is "
     "written in place: a failed dump leaves it truncated or partly written; for an atomic replace, dump to a "
     "temporary name and rename it."},
    {"load", as_cfunction<&load_function>(), fast_call_flags,
     "load(path)\n--\n\nRead a VESK file and decompile to a Python object."},
    {"emit", as_cfunction<&emit_function>(), fast_call_flags,
     "emit(obj)\n--\n\nEmit a Python value as VESK binary (no JSON string)."},
}};

// The module's __all__ list, created empty when the module has none yet.
PyRef all_list(PyObject* module) {
    PyObject* namespace_dict = PyModule_GetDict(module);
    if (namespace_dict == nullptr) {
        return PyRef();
    }
    PyObject* existing = PyDict_GetItemString(namespace_dict, "__all__");
    if (existing != nullptr) {
        return PyRef::borrow(existing);
    }
    PyRef fresh(PyList_New(0));
    if (!fresh || PyDict_SetItemString(namespace_dict, "__all__", fresh.get()) < 0) {
        return PyRef();
    }
    return fresh;
}

int add_function(PyObject* module, PyObject* module_name, const PyMethodDef& definition) {
    PyRef function(PyCFunction_NewEx(const_cast<PyMethodDef*>(&definition), module, module_name));
    if (!function) {
        return -1;
    }
    PyRef name(PyObject_GetAttrString(function.get(), "__name__"));
    if (!name) {
        return -1;
    }
    PyRef exported = all_list(module);
    if (!exported || PyList_Append(exported.get(), name.get()) < 0) {
        return -1;
    }
    return PyObject_SetAttr(module, name.get(), function.get());
}

int exec_module(PyObject* module) {
    PyRef module_name(PyModule_GetNameObject(module));
    if (!module_name) {
        return -1;
    }
    for (const PyMethodDef& definition : function_table) {
        if (add_function(module, module_name.get(), definition) < 0) {
            return -1;
        }
    }
    return add_emit_members(module);
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_module)},
    {0, nullptr},
};

// The interpreter writes its bookkeeping into the definition (PyModuleDef_Init
// turns it into an object), so it cannot be const.
PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "vesk",
    "",
    0,
    nullptr,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

}  // namespace vesk::python

PyMODINIT_FUNC PyInit_vesk(void) {
    return PyModuleDef_Init(&vesk::python::module_definition);
}
