#pragma once

#include <Python.h>

namespace vesk::python {

// Compiles a Python value into a container the way dumps compiles the JSON
// text json.dumps(obj, ensure_ascii=False) would give: the value is read into
// the JSON compiler's tape, event for event as its reader reads that text,
// and written by the same writer, so the bytes are the same. Dicts become
// objects whose member names are their keys (str only; a key given twice, by
// str subclasses, keeps the later value), lists and tuples arrays, None Null;
// str, bool, int and float go through emit's type tests. Integers within 64
// bits are narrowed as JSON integers are, wider ones (and anything read
// through __float__) take the float path; infinities and NaN become Float32
// values, which JSON text cannot hold.
//
// Lists, tuples and dicts share emit's nesting budget (RecursionError past
// format::kMaxEmitNesting levels). A TypeError or an exception that ends a type test
// is raised as it is met, in dict order; the compiler's own refusals (items
// that disagree, the container's limits) once the value is read, as dumps
// raises them.
//
// With `strict`, the first number (in dict order) that would not read back
// as given raises LossError, once the value is read and found writable.
//
// Returns a new bytes object, or nullptr with a Python exception set. May
// throw std::bad_alloc.
PyObject* pack_container(PyObject* module, PyObject* obj, bool strict);

}  // namespace vesk::python
