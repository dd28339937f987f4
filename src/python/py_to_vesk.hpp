#pragma once

#include <Python.h>

namespace vesk::python {

// Compiles a Python value straight into a container, in one walk: dicts
// become objects holding alternating key and value, lists arrays, str inline
// strings, bool Bool, int (and anything with __index__ within 64 bits) Int32
// wrapped to its low 32 bits, any other number Float32. Every string also
// enters the dictionary at its first occurrence.
//
// Lists and dicts nested deeper than kMaxEmitNesting raise RecursionError.
// The limit is ours rather than the interpreter's recursion limit, so a low
// sys.setrecursionlimit cannot let a self-containing list run the native
// stack out, and a high one cannot either. A conversion started by Python
// code that another conversion ran (an __index__ calling emit) shares the
// outer one's budget, since it stacks its levels on the same native stack.
//
// A list mixing int and float becomes a Float32 array; any other mixture is
// refused. Items are converted left to right, each completely (its own
// contents included) before its type is compared with the first item's, so
// the first failure in that order is the one reported: [True, None] raises the
// TypeError for None, [True, 1, None] the mixture error for item 1. What the
// container cannot hold is refused only once the whole value has converted,
// in the order the container writer checks it.
//
// An exception raised by __index__ or __float__ (or by the UTF-8 codec) only
// means the value does not match that type and is dropped; one that is no
// Exception (KeyboardInterrupt, SystemExit), MemoryError and RecursionError
// end the conversion unchanged.
//
// With `strict`, the first number, in the order given, that would not read
// back as written (an int that wraps, an int of a list of mixed numbers that
// its binary32 does not hold, a finite non-zero float that becomes infinite
// or zero) raises LossError once the value has converted and been found
// writable. A list mixing item types raises with the list's path.
//
// `module` is the vesk module, whose state holds the exception classes.
// Returns a new bytes object, or nullptr with a Python exception set. May
// throw std::bad_alloc.
PyObject* emit_container(PyObject* module, PyObject* obj, bool strict);

}  // namespace vesk::python
