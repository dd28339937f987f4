#include "python/py_to_vesk.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "compile/array_item_rule.hpp"
#include "python/errors.hpp"
#include "python/py_ref.hpp"
#include "structure/float_narrowing.hpp"
#include "structure/format_limits.hpp"

namespace vesk::python {

namespace {

// The writer refuses arrays of more than kMaxArrayItems items and objects of
// more than kMaxFields values, so reserving beyond that would only risk a
// huge allocation on the way to that refusal.
constexpr std::size_t kMaxReservedValues = kMaxArrayItems + 1;

// The low 32 bits of v as a two's-complement number: 2**31 -> -2**31,
// 4294967301 -> 5.
std::int32_t wrap_to_int32(long value) {
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
Match no_match_unless_fatal() {
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
Match read_integer(PyObject* obj, long& value) {
    if (PyLong_Check(obj)) {
        value = PyLong_AsLong(obj);
    } else {
        // An object without __index__ would only make PyNumber_Index raise a
        // TypeError to be dropped; skipping the call spares building it for
        // every float of a list.
        if (!PyIndex_Check(obj)) return Match::No;
        PyRef index(PyNumber_Index(obj));
        if (!index) return no_match_unless_fatal();
        value = PyLong_AsLong(index.get());
    }
    if (value == -1 && PyErr_Occurred()) return no_match_unless_fatal();
    return Match::Yes;
}

// Float reading: an exact float directly, anything else (float subclasses,
// __float__, __index__, ints too wide for 64 bits) through PyFloat_AsDouble.
Match read_double(PyObject* obj, double& value) {
    if (PyFloat_CheckExact(obj)) {
        value = PyFloat_AS_DOUBLE(obj);
        return Match::Yes;
    }
    value = PyFloat_AsDouble(obj);
    if (value == -1.0 && PyErr_Occurred()) return no_match_unless_fatal();
    return Match::Yes;
}

// Raises TypeError from a printf-style template whose one %U is the __name__
// of obj's type.
void raise_type_error_naming(const char* format, PyObject* obj) {
    PyRef name(PyType_GetName(Py_TYPE(obj)));
    if (!name) return;
    PyErr_Format(PyExc_TypeError, format, name.get());
}

[[gnu::noinline]] void raise_mixture(PyObject* module, std::size_t position, VeskType type, VeskType expected) {
    to_py_err(module, mixed_array_item(position, type, expected));
}

// Everything but lists and dicts, in the order of the type tests. Kept out of
// line so that the frames of the recursion through nested containers stay
// small.
[[gnu::noinline]] bool convert_scalar(PyObject* obj, VeskData& out, long& integer_value) {
    if (PyUnicode_Check(obj)) {
        Py_ssize_t size = 0;
        const char* text = PyUnicode_AsUTF8AndSize(obj, &size);
        if (text != nullptr) {
            out = VeskData::string(std::string(text, static_cast<std::size_t>(size)));
            return true;
        }
        // A lone surrogate has no UTF-8 form; such a str ends as an
        // unsupported value below, not with the codec's error.
        if (no_match_unless_fatal() == Match::Failed) return false;
    }
    if (PyBool_Check(obj)) {
        out = VeskData::boolean(obj == Py_True);
        return true;
    }
    switch (read_integer(obj, integer_value)) {
        case Match::Yes:
            out = VeskData::int32(wrap_to_int32(integer_value));
            return true;
        case Match::Failed:
            return false;
        case Match::No:
            break;
    }
    double number = 0.0;
    switch (read_double(obj, number)) {
        case Match::Yes:
            out = VeskData::float32(nearest_float(number));
            return true;
        case Match::Failed:
            return false;
        case Match::No:
            break;
    }
    raise_type_error_naming("Unsupported Python type: %U", obj);
    return false;
}

// Appends a dict key as a String value; false with an exception set when the
// key is no str or has no UTF-8 form.
[[gnu::noinline]] bool append_key(PyObject* key, std::vector<VeskData>& values) {
    if (!PyUnicode_Check(key)) {
        raise_type_error_naming("'%U' object is not an instance of 'str'", key);
        return false;
    }
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(key, &size);
    if (text == nullptr) return false;
    values.push_back(VeskData::string(std::string(text, static_cast<std::size_t>(size))));
    return true;
}

// Watches the item types of one list as they arrive. All items must share the
// first item's type, except that ints and floats may mix; such a list is then
// made all Float32 once complete, each int from its full 64-bit value rather
// than from the wrapped Int32 (so 2**40 stays 2**40, not 0).
class ListTypeRule {
public:
    // Records item `position`; false, with the module's
    // UnsupportedTypeError set, when it breaks the rule.
    bool admit(PyObject* module, std::size_t position, const VeskData& item, long integer_value) {
        const VeskType type = item.type();
        if (position == 0) {
            first_ = type;
        } else if (!fits_array_items(type, first_)) {
            raise_mixture(module, position, type, first_);
            return false;
        }
        if (type == VeskType::Float32) saw_float_ = true;
        if (type == VeskType::Int32) {
            saw_int_ = true;
            if (integer_value != static_cast<long>(item.as_int32())) wide_ints_.emplace_back(position, integer_value);
        }
        return true;
    }

    [[gnu::noinline]] void finish(std::vector<VeskData>& items) const {
        if (!saw_int_ || !saw_float_) return;
        auto wide = wide_ints_.begin();
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (items[i].kind != VeskDataKind::Int32) continue;
            long whole = items[i].as_int32();
            if (wide != wide_ints_.end() && wide->first == i) whole = (wide++)->second;
            // Every 64-bit integer lies inside the binary32 range; the
            // conversion rounds to nearest.
            items[i] = VeskData::float32(static_cast<float>(whole));
        }
    }

private:
    VeskType first_ = VeskType::Null;
    bool saw_int_ = false;
    bool saw_float_ = false;
    // Ints whose value did not survive the wrap to 32 bits, by position; empty
    // for the usual list of small numbers.
    std::vector<std::pair<std::size_t, long>> wide_ints_;
};

// Levels of nesting open on this thread, summed over every emit running on
// it: a conversion may run Python code (__index__, __float__) that calls emit
// again, and that call stacks its levels on the same native stack, so all of
// them share the one budget of kMaxEmitNesting. The count belongs to the OS
// thread, as the stack it guards does, rather than to a thread state of one
// interpreter; it is back to 0 whenever no emit runs on the thread, so no
// call sees anything of another but the levels of those it runs inside.
thread_local unsigned open_levels = 0;

[[gnu::noinline]] bool too_deep() {
    PyErr_Format(PyExc_RecursionError, "maximum nesting depth exceeded: more than %u lists and dicts",
                 kMaxEmitNesting);
    return false;
}

// One level of the budget, held from a container's start to its end and given
// back on every way out, exceptions included.
class Level {
public:
    Level() {
        if (open_levels >= kMaxEmitNesting) {
            too_deep();
            return;
        }
        ++open_levels;
        entered_ = true;
    }
    ~Level() {
        if (entered_) --open_levels;
    }
    Level(const Level&) = delete;
    Level& operator=(const Level&) = delete;
    explicit operator bool() const { return entered_; }

private:
    bool entered_ = false;
};

class Converter {
public:
    explicit Converter(PyObject* module) : module_(module) {}

    // `integer_value` receives the unwrapped value when the result is Int32.
    bool convert(PyObject* obj, VeskData& out, long& integer_value) {
        if (PyDict_Check(obj)) return convert_dict(obj, out);
        if (PyList_Check(obj)) return convert_list(obj, out);
        return convert_scalar(obj, out, integer_value);
    }

private:
    [[gnu::noinline]] bool convert_dict(PyObject* dict, VeskData& out) {
        const Level level;
        if (!level) return false;
        const Py_ssize_t start_size = PyDict_GET_SIZE(dict);
        std::vector<VeskData> values;
        values.reserve(std::min(2 * static_cast<std::size_t>(start_size), kMaxReservedValues));
        Py_ssize_t position = 0;
        Py_ssize_t visited = 0;
        PyObject* borrowed_key = nullptr;
        PyObject* borrowed_value = nullptr;
        // PyDict_Next rather than iteration: it gives the stored order, also
        // for subclasses that override their iteration methods.
        while (PyDict_Next(dict, &position, &borrowed_key, &borrowed_value)) {
            // Converting the value may run Python code that removes this very
            // item; our own references keep key and value alive meanwhile.
            const PyRef key = PyRef::borrow(borrowed_key);
            const PyRef value = PyRef::borrow(borrowed_value);
            if (!append_key(key.get(), values)) return false;

            // Converted in place: no item-sized temporary on the frame of
            // every nesting level.
            long unused = 0;
            if (!convert(value.get(), values.emplace_back(), unused)) return false;

            ++visited;
            if (PyDict_GET_SIZE(dict) != start_size) {
                raise_internal_fault(module_, "dictionary changed size during iteration");
                return false;
            }
            if (visited > start_size) {
                raise_internal_fault(module_, "dictionary keys changed during iteration");
                return false;
            }
        }
        out.kind = VeskDataKind::Object;
        out.children = std::move(values);
        return true;
    }

    [[gnu::noinline]] bool convert_list(PyObject* list, VeskData& out) {
        const Level level;
        if (!level) return false;
        const Py_ssize_t start_length = PyList_GET_SIZE(list);
        std::vector<VeskData> items;
        items.reserve(std::min(static_cast<std::size_t>(start_length), kMaxReservedValues));
        ListTypeRule rule;
        // The length is read again for every item: code run by a conversion
        // may shrink the list, and items are never read past its end. Items
        // appended meanwhile are not read.
        for (Py_ssize_t i = 0; i < start_length && i < PyList_GET_SIZE(list); ++i) {
            const PyRef item = PyRef::borrow(PyList_GET_ITEM(list, i));
            long integer_value = 0;
            VeskData& converted = items.emplace_back();
            if (!convert(item.get(), converted, integer_value)) return false;
            if (!rule.admit(module_, static_cast<std::size_t>(i), converted, integer_value)) return false;
        }
        rule.finish(items);
        out.kind = VeskDataKind::Array;
        out.children = std::move(items);
        return true;
    }

    PyObject* module_;
};

}  // namespace

std::optional<VeskData> py_to_vesk_data(PyObject* module, PyObject* obj) {
    // A scalar root takes a level too: an emit that its __index__ or
    // __float__ calls nests on top of it, so a chain of such calls ends.
    std::optional<Level> root_level;
    if (!PyDict_Check(obj) && !PyList_Check(obj) && !root_level.emplace()) return std::nullopt;
    Converter converter(module);
    VeskData result;
    long unused = 0;
    if (!converter.convert(obj, result, unused)) return std::nullopt;
    return result;
}

void raise_internal_fault(PyObject* module, const char* message) {
    PyRef fault(PyObject_GetAttrString(module, kInternalFaultAttribute));
    if (!fault || !PyExceptionClass_Check(fault.get())) {
        PyErr_Clear();
        PyErr_SetString(PyExc_SystemError, message);
        return;
    }
    PyErr_SetString(fault.get(), message);
}

}  // namespace vesk::python
