#pragma once

#include <Python.h>

#include <utility>

namespace vesk::python {

// Owns exactly one strong reference (or none). Every reference the module
// takes is held by one of these, so early returns and C++ exceptions cannot
// leak objects.
class PyRef {
public:
    PyRef() noexcept = default;
    // Takes over a new reference; nullptr is allowed and means "none".
    explicit PyRef(PyObject* owned) noexcept : object_(owned) {}
    // Adds a reference of its own to a borrowed object.
    static PyRef borrow(PyObject* borrowed) noexcept {
        Py_XINCREF(borrowed);
        return PyRef(borrowed);
    }

    PyRef(const PyRef&) = delete;
    PyRef& operator=(const PyRef&) = delete;
    PyRef(PyRef&& other) noexcept : object_(other.release()) {}
    PyRef& operator=(PyRef&& other) noexcept {
        if (this != &other) {
            PyObject* previous = std::exchange(object_, other.release());
            Py_XDECREF(previous);
        }
        return *this;
    }
    ~PyRef() { Py_XDECREF(object_); }

    PyObject* get() const noexcept { return object_; }
    // Hands the reference to the caller, e.g. as a function result.
    PyObject* release() noexcept { return std::exchange(object_, nullptr); }
    explicit operator bool() const noexcept { return object_ != nullptr; }

private:
    PyObject* object_ = nullptr;
};

}  // namespace vesk::python
