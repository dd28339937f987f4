#pragma once

#include <Python.h>

#include <cstdint>
#include <span>
#include <string_view>

#include "python/py_ref.hpp"
#include "python/text_argument.hpp"

namespace vesk::python {

// The file name behind a path argument (str, bytes or os.PathLike), valid
// while this object lives: the bytes that os.fsencode makes of it, so that a
// name os.listdir gave back with surrogate escapes opens the same file as
// open() would.
class PathArgument {
public:
    // False with the interpreter's exception set when __fspath__ fails or
    // the str has no form in the file system's encoding.
    bool take(PyObject* argument) {
        path_ = PyRef(PyOS_FSPath(argument));
        if (path_ && PyUnicode_Check(path_.get())) {
            path_ = PyRef(PyUnicode_EncodeFSDefault(path_.get()));
        }
        if (!path_) {
            return false;
        }
        name_ = std::string_view(PyBytes_AS_STRING(path_.get()),
                                 static_cast<std::size_t>(PyBytes_GET_SIZE(path_.get())));
        return true;
    }

    std::string_view name() const noexcept { return name_; }

private:
    PyRef path_;
    std::string_view name_;
};

// The bytes of a bytes object, valid while it lives.
inline std::span<const std::uint8_t> bytes_of(PyObject* bytes) noexcept {
    return {reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(bytes)),
            static_cast<std::size_t>(PyBytes_GET_SIZE(bytes))};
}

// The bytes of a buffer argument, read in place and held until this object
// dies. The exporter cannot resize or free them meanwhile.
class BufferView {
public:
    BufferView() = default;
    BufferView(const BufferView&) = delete;
    BufferView& operator=(const BufferView&) = delete;
    ~BufferView() {
        if (held_) {
            PyBuffer_Release(&view_);
        }
    }

    // False with the exporter's exception set (BufferError for a buffer
    // that is not C-contiguous).
    bool take(PyObject* argument) {
        if (PyObject_GetBuffer(argument, &view_, PyBUF_SIMPLE) < 0) {
            return false;
        }
        held_ = true;
        return true;
    }

    std::span<const std::uint8_t> bytes() const noexcept {
        return {static_cast<const std::uint8_t*>(view_.buf), static_cast<std::size_t>(view_.len)};
    }

private:
    Py_buffer view_{};
    bool held_ = false;
};

}  // namespace vesk::python
