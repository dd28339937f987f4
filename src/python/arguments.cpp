#include "python/arguments.hpp"

#include <cstddef>

#include "python/file_objects.hpp"

namespace vesk::python {

namespace {

// Completes "argument 'x' must be ..." in the interpreter's own words.
const char* type_label(ParamType type) {
    switch (type) {
        case ParamType::Str:
            return "str";
        case ParamType::Path:
            return "str, bytes or os.PathLike";
        case ParamType::Source:
            return "str, bytes, os.PathLike or a binary file object";
        case ParamType::Target:
            return "str, bytes, os.PathLike or a binary file object";
        case ParamType::Buffer:
            return "a bytes-like object";
        case ParamType::Any:
            return "an object";
    }
    return "?";
}

bool has_type(PyObject* value, ParamType type) {
    switch (type) {
        case ParamType::Str:
            return PyUnicode_Check(value);
        case ParamType::Path:
            return is_path_like(value);
        case ParamType::Source:
            return is_path_like(value) || is_readable(value);
        case ParamType::Target:
            return is_path_like(value) || is_writable(value);
        case ParamType::Buffer:
            return PyObject_CheckBuffer(value);
        case ParamType::Any:
            return true;
    }
    return false;
}

// Index of the parameter called `keyword`, or -1.
Py_ssize_t find_param(std::span<const Param> params, PyObject* keyword) {
    for (std::size_t i = 0; i < params.size(); ++i) {
        if (PyUnicode_Check(keyword) && PyUnicode_CompareWithASCIIString(keyword, params[i].name) == 0) {
            return static_cast<Py_ssize_t>(i);
        }
    }
    return -1;
}

bool place_keywords(const char* function_name, std::span<const Param> params, PyObject* const* args,
                    Py_ssize_t nargs, PyObject* kwnames, std::span<PyObject*> out) {
    const Py_ssize_t keyword_count = kwnames != nullptr ? PyTuple_GET_SIZE(kwnames) : 0;
    for (Py_ssize_t k = 0; k < keyword_count; ++k) {
        PyObject* keyword = PyTuple_GET_ITEM(kwnames, k);
        const Py_ssize_t slot = find_param(params, keyword);
        if (slot < 0) {
            PyErr_Format(PyExc_TypeError, "'%S' is an invalid keyword argument for %s()", keyword,
                         function_name);
            return false;
        }
        if (slot < nargs) {
            PyErr_Format(PyExc_TypeError, "argument for %s() given by name ('%s') and position (%zd)",
                         function_name, params[static_cast<std::size_t>(slot)].name, slot + 1);
            return false;
        }
        // A repeated keyword cannot reach a vectorcall; the interpreter
        // rejects it while building the call.
        out[static_cast<std::size_t>(slot)] = args[nargs + k];
    }
    return true;
}

}  // namespace

bool is_path_like(PyObject* value) {
    if (PyUnicode_Check(value) || PyBytes_Check(value)) {
        return true;
    }
    // os.fspath looks the method up on the type, not on the instance.
    const int found = PyObject_HasAttrString(reinterpret_cast<PyObject*>(Py_TYPE(value)), "__fspath__");
    return found == 1;
}

bool take_flag(PyObject* value, bool& flag) {
    flag = false;
    if (value == nullptr) return true;
    const int truth = PyObject_IsTrue(value);
    if (truth < 0) return false;
    flag = truth == 1;
    return true;
}

bool unpack_arguments(const char* function_name, std::span<const Param> params,
                      PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                      std::span<PyObject*> out) {
    Py_ssize_t expected = 0;
    for (const Param& param : params) {
        expected += param.kind == ParamKind::PositionalOrKeyword ? 1 : 0;
    }
    if (nargs > expected) {
        const bool has_keyword_only = expected < static_cast<Py_ssize_t>(params.size());
        PyErr_Format(PyExc_TypeError, "%s() takes exactly %zd %sargument%s (%zd given)", function_name, expected,
                     has_keyword_only ? "positional " : "", expected == 1 ? "" : "s", nargs);
        return false;
    }
    for (PyObject*& slot : out) {
        slot = nullptr;
    }
    for (Py_ssize_t i = 0; i < nargs; ++i) {
        out[static_cast<std::size_t>(i)] = args[i];
    }
    if (!place_keywords(function_name, params, args, nargs, kwnames, out)) {
        return false;
    }
    for (std::size_t i = 0; i < params.size(); ++i) {
        if (out[i] == nullptr && params[i].kind == ParamKind::PositionalOrKeyword) {
            PyErr_Format(PyExc_TypeError, "%s() missing required argument '%s' (pos %zu)", function_name,
                         params[i].name, i + 1);
            return false;
        }
    }
    for (std::size_t i = 0; i < params.size(); ++i) {
        if (out[i] != nullptr && !has_type(out[i], params[i].type)) {
            PyErr_Format(PyExc_TypeError, "%s() argument '%s' must be %s, not %.50s", function_name,
                         params[i].name, type_label(params[i].type),
                         out[i] == Py_None ? "None" : Py_TYPE(out[i])->tp_name);
            return false;
        }
    }
    return true;
}

}  // namespace vesk::python
