#pragma once

#include <Python.h>

#include <span>

namespace vesk::python {

// What a parameter accepts. Str admits subclasses; Path takes str, bytes or
// any os.PathLike; Source a path or a binary file object to read (readinto
// or read), Target a path or one to write (write); Buffer any object with
// the buffer interface.
enum class ParamType { Str, Path, Source, Target, Buffer, Any };

// str, bytes or an object whose type has __fspath__.
bool is_path_like(PyObject* value);

// Positional-or-keyword parameters are required; keyword-only ones, which
// come after them, are optional and stay nullptr when not given.
enum class ParamKind { PositionalOrKeyword, KeywordOnly };

struct Param {
    const char* name;
    ParamType type;
    ParamKind kind = ParamKind::PositionalOrKeyword;
};

// The argument rules shared by every module function: a parameter is
// positional-or-keyword and required, or keyword-only and optional; there
// are no extras.
// Fills `out` (one borrowed reference per parameter, in table order) and
// returns true, or raises TypeError in CPython's wording and returns false.
// Type checks run after the argument set is complete, in table order, so the
// first wrong parameter is the one reported.
// An optional flag's truth (false when it was not given); false with an
// exception set when its __bool__ raises.
bool take_flag(PyObject* value, bool& flag);

bool unpack_arguments(const char* function_name, std::span<const Param> params,
                      PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                      std::span<PyObject*> out);

// The argument of a call of a one-parameter function that gives it by
// position alone, the usual call, which then needs no unpacking; nullptr
// for any other call, which unpack_arguments reads and words the errors of.
inline PyObject* sole_positional(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    return nargs == 1 && kwnames == nullptr ? args[0] : nullptr;
}

}  // namespace vesk::python
