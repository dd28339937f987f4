#pragma once

#include <Python.h>

#include <optional>
#include <string_view>

namespace vesk::python {

// The UTF-8 view of a str, valid while the str lives, without a copy. When
// the interpreter cannot encode it (lone surrogates), its own exception is
// left set and nothing is returned.
inline std::optional<std::string_view> utf8_view(PyObject* text) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(text, &size);
    if (data == nullptr) {
        return std::nullopt;
    }
    return std::string_view(data, static_cast<std::size_t>(size));
}

}  // namespace vesk::python
