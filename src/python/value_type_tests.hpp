#pragma once

#include <Python.h>

#include <cstdint>

#include "json/json_value.hpp"
#include "python/py_ref.hpp"

// What a Python value is taken for when it is written: the type tests of
// emit, in the order it runs them, and how each reads its value.
namespace vesk::python {

// The low 32 bits of v as a two's-complement number: 2**31 -> -2**31,
// 4294967301 -> 5.
inline std::int32_t wrap_to_int32(long value) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<unsigned long>(value)));
}

// The outcome of one type test: the value matched, it did not (try the next
// test), or the test raised what must end the whole conversion.
enum class Match { Yes, No, Failed };

// Decides about the exception a type test left set. Most are the value's own
// business (a failing __index__ simply means "not an integer") and are
// dropped. Interrupts and exits (which are no Exception), running out of
// memory and running out of nesting are not: they end emit unchanged, or
// Ctrl-C would turn into "Unsupported Python type" and a conversion that
// calls itself could go on long after it should have stopped.
inline Match no_match_unless_fatal() {
    if (!PyErr_ExceptionMatches(PyExc_Exception) || PyErr_ExceptionMatches(PyExc_MemoryError) ||
        PyErr_ExceptionMatches(PyExc_RecursionError)) {
        return Match::Failed;
    }
    PyErr_Clear();
    return Match::No;
}

// Integer reading: an int (or subclass) directly, else through __index__.
// Values outside the 64-bit range and failing __index__ calls do not match,
// so the float test gets its turn.
inline Match read_integer(PyObject* obj, long& value) {
    if (PyLong_Check(obj)) {
        value = PyLong_AsLong(obj);
    } else {
        // An object without __index__ would only make PyNumber_Index raise a
        // TypeError to be dropped; skipping the call spares building it.
        if (!PyIndex_Check(obj)) return Match::No;
        PyRef index(PyNumber_Index(obj));
        if (!index) return no_match_unless_fatal();
        value = PyLong_AsLong(index.get());
    }
    if (value == -1 && PyErr_Occurred()) return no_match_unless_fatal();
    return Match::Yes;
}

// Integer reading for pack: the same test, but the value read in all of
// 64 bits, as JSON text holds it: non-negative values up to 2**64 - 1 as
// JsonKind::UInt, negative ones from -2**63 as JsonKind::Int. Wider values do
// not match.
inline Match read_integer64(PyObject* obj, json::JsonKind& kind, std::uint64_t& bits) {
    PyRef index;
    PyObject* number = obj;
    if (!PyLong_Check(obj)) {
        if (!PyIndex_Check(obj)) return Match::No;
        index = PyRef(PyNumber_Index(obj));
        if (!index) return no_match_unless_fatal();
        number = index.get();
    }
    int overflow = 0;
    const long long value = PyLong_AsLongLongAndOverflow(number, &overflow);
    if (value == -1 && PyErr_Occurred()) return no_match_unless_fatal();
    if (overflow == 0) {
        kind = value < 0 ? json::JsonKind::Int : json::JsonKind::UInt;
        bits = static_cast<std::uint64_t>(value);
        return Match::Yes;
    }
    if (overflow < 0) return Match::No;
    const unsigned long long unsigned_value = PyLong_AsUnsignedLongLong(number);
    if (unsigned_value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return no_match_unless_fatal();
    kind = json::JsonKind::UInt;
    bits = unsigned_value;
    return Match::Yes;
}

// Float reading: an exact float directly, anything else (float subclasses,
// __float__, __index__, ints too wide for 64 bits) through PyFloat_AsDouble.
inline Match read_double(PyObject* obj, double& value) {
    if (PyFloat_CheckExact(obj)) {
        value = PyFloat_AS_DOUBLE(obj);
        return Match::Yes;
    }
    value = PyFloat_AsDouble(obj);
    if (value == -1.0 && PyErr_Occurred()) return no_match_unless_fatal();
    return Match::Yes;
}

// The value of an exact int that fits one digit of the interpreter's own
// representation, read without a call; false for any other.
inline bool small_int_value(PyObject* obj, long& value) {
#if PY_VERSION_HEX >= 0x030C0000
    auto* number = reinterpret_cast<PyLongObject*>(obj);
    if (!PyUnstable_Long_IsCompact(number)) return false;
    value = static_cast<long>(PyUnstable_Long_CompactValue(number));
#else
    const Py_ssize_t size = Py_SIZE(obj);
    if (size < -1 || size > 1) return false;
    value = static_cast<long>(size) * static_cast<long>(reinterpret_cast<PyLongObject*>(obj)->ob_digit[0]);
#endif
    return true;
}

// The UTF-8 text of a str, or nullptr with the codec's exception set. ASCII
// text stored compactly is its own UTF-8.
inline const char* utf8_of(PyObject* str, Py_ssize_t& size) {
    if (PyUnicode_IS_COMPACT_ASCII(str)) {
        size = PyUnicode_GET_LENGTH(str);
        return static_cast<const char*>(PyUnicode_DATA(str));
    }
    return PyUnicode_AsUTF8AndSize(str, &size);
}

// Raises TypeError from a printf-style template whose one %U is the __name__
// of obj's type.
inline void raise_type_error_naming(const char* format, PyObject* obj) {
    PyRef name(PyType_GetName(Py_TYPE(obj)));
    if (!name) return;
    PyErr_Format(PyExc_TypeError, format, name.get());
}

}  // namespace vesk::python
