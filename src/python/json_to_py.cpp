#include "python/json_to_py.hpp"

#include <cstdint>
#include <string_view>
#include <unordered_map>

namespace vesk::python {

namespace {

constexpr std::uint64_t first_unsigned_beyond_int64 = std::uint64_t{1} << 63;

// Documents repeat the same few member names over and over. Making each
// distinct key str once per call saves an allocation and a UTF-8 decode per
// member, and dict stores reuse the str's cached hash. Bounded, so a document
// of unique keys does not keep a second copy of all of them alive.
class KeyCache {
public:
    PyRef key(const std::string& text) {
        const auto found = keys_.find(text);
        if (found != keys_.end()) {
            return PyRef::borrow(found->second.get());
        }
        PyRef made(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
        if (made && keys_.size() < max_entries) {
            keys_.emplace(std::string_view(text), PyRef::borrow(made.get()));
        }
        return made;
    }

private:
    static constexpr std::size_t max_entries = 4096;
    // Views into the tree being converted, which outlives the cache.
    std::unordered_map<std::string_view, PyRef> keys_;
};

class Converter {
public:
    PyRef convert(const JsonValue& node) {
        switch (node.kind) {
            case JsonKind::Null:
                return PyRef::borrow(Py_None);
            case JsonKind::Bool:
                return PyRef::borrow(node.as_bool() ? Py_True : Py_False);
            case JsonKind::UInt:
                return unsigned_number(node.as_uint());
            case JsonKind::Int:
                return PyRef(PyLong_FromLongLong(node.as_int()));
            case JsonKind::Float:
                return PyRef(PyFloat_FromDouble(node.as_double()));
            case JsonKind::String:
                return PyRef(PyUnicode_FromStringAndSize(node.text.data(),
                                                         static_cast<Py_ssize_t>(node.text.size())));
            case JsonKind::Array:
                return array(node);
            case JsonKind::Object:
                return object(node);
        }
        PyErr_SetString(PyExc_SystemError, "unknown JSON value kind");
        return PyRef();
    }

private:
    static PyRef unsigned_number(std::uint64_t value) {
        if (value < first_unsigned_beyond_int64) {
            return PyRef(PyLong_FromLongLong(static_cast<long long>(value)));
        }
        return PyRef(PyFloat_FromDouble(static_cast<double>(value)));
    }

    // The list grows by appending: converting the elements allocates, which
    // can run the cyclic collector and its Python callbacks, and those must
    // never reach a list whose length counts slots not yet filled.
    PyRef array(const JsonValue& node) {
        PyRef list(PyList_New(0));
        if (!list) {
            return list;
        }
        for (const JsonValue& item : node.items) {
            PyRef element = convert(item);
            if (!element || PyList_Append(list.get(), element.get()) < 0) {
                return PyRef();
            }
        }
        return list;
    }

    PyRef object(const JsonValue& node) {
        PyRef dict(PyDict_New());
        if (!dict) {
            return dict;
        }
        for (const JsonMember& member : node.members) {
            PyRef value = convert(member.value);
            if (!value) {
                return PyRef();
            }
            PyRef key = keys_.key(member.key);
            if (!key || PyDict_SetItem(dict.get(), key.get(), value.get()) < 0) {
                return PyRef();
            }
        }
        return dict;
    }

    KeyCache keys_;
};

}  // namespace

PyRef json_value_to_py(const JsonValue& root) {
    Converter converter;
    return converter.convert(root);
}

}  // namespace vesk::python
