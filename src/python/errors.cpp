#include "python/errors.hpp"

#include <string>

#include "python/py_ref.hpp"

namespace vesk::python {

namespace {

PyObject* raise_value_error(const std::string& message) {
    // Messages may quote bytes from the input; never let a stray byte turn the
    // ValueError into a UnicodeDecodeError.
    PyRef text(PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
    if (!text) {
        return nullptr;
    }
    PyErr_SetObject(PyExc_ValueError, text.get());
    return nullptr;
}

}  // namespace

PyObject* to_py_err(const VeskError& error) {
    return raise_value_error(error.formatted());
}

PyObject* io_to_py_err(const VeskError& error) {
    return raise_value_error("IO error: " + error.message());
}

}  // namespace vesk::python
