#include "python/py_to_tape.hpp"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <utility>

#include "dumps/json_container.hpp"
#include "dumps/tape_builder.hpp"
#include "format/format_limits.hpp"
#include "json/json_value.hpp"
#include "python/dict_items.hpp"
#include "python/errors.hpp"
#include "python/nesting_budget.hpp"
#include "python/py_ref.hpp"
#include "python/value_type_tests.hpp"
#include "python/written_keys.hpp"

namespace vesk::python {

namespace {

using dumps::JsonContainer;
using dumps::TapeBuilder;
using json::JsonKind;

// The builder keeps a place for every level a JSON text can nest.
static_assert(format::kMaxEmitNesting <= format::kMaxJsonNesting + 1);

// Reads a Python value into the tape, as the JSON reader reads the text of
// it that json.dumps writes.
class ValueReader {
public:
    ValueReader(PyObject* module, TapeBuilder& builder, unsigned& levels)
        : module_(module), builder_(builder), levels_(levels) {}

    // Exact instances of the common types first: reading them runs no
    // Python code, so they need no reference of their own.
    [[gnu::always_inline]] bool read(PyObject* obj) {
        PyTypeObject* const kind = Py_TYPE(obj);
        if (kind == &PyUnicode_Type) {
            if (read_str(obj)) return true;
            // A lone surrogate has no UTF-8 form: such a str ends as an
            // unsupported value, as in emit.
            if (no_match_unless_fatal() == Match::Failed) return false;
            return read_non_string(obj);
        }
        if (kind == &PyLong_Type) {
            long value = 0;
            if (!small_int_value(obj, value)) return read_non_string(obj);
            integer(value);
            return true;
        }
        if (kind == &PyFloat_Type) {
            builder_.number(JsonKind::Float, std::bit_cast<std::uint64_t>(PyFloat_AS_DOUBLE(obj)));
            return true;
        }
        if (kind == &PyDict_Type) return read_dict(obj);
        if (kind == &PyList_Type) return read_list(obj);
        if (obj == Py_None) {
            builder_.null_value();
            return true;
        }
        if (kind == &PyBool_Type) {
            builder_.boolean(obj == Py_True);
            return true;
        }
        if (kind == &PyTuple_Type) return read_tuple(obj);
        return read_other(obj);
    }

private:
    void integer(long long value) {
        builder_.number(value < 0 ? JsonKind::Int : JsonKind::UInt, static_cast<std::uint64_t>(value));
    }

    // Any str, subclasses included; false, with the codec's exception set,
    // when it has no UTF-8 form. New texts are copied into the tables: the
    // str may be gone before the container is written, dropped by code a
    // later conversion runs.
    [[gnu::always_inline]] bool read_str(PyObject* str) {
        Py_ssize_t size = 0;
        const char* text = utf8_of(str, size);
        if (text == nullptr) return false;
        builder_.string(std::string_view(text, static_cast<std::size_t>(size)), false);
        return true;
    }

    // A dict key: a str, or the whole conversion fails, with the codec's
    // error for a str that has no UTF-8 form. Keys do not go through the
    // other type tests.
    // An exact str met before as a key (most are: the parser or the
    // caller's code made each once) is known by its address.
    [[gnu::always_inline]] bool read_key(PyObject* key) {
        if (Py_TYPE(key) == &PyUnicode_Type) [[likely]] {
            if (const std::uint32_t* id = keys_.find(key)) [[likely]] {
                builder_.member_name_id(*id);
                return true;
            }
            return read_new_key(key);
        }
        if (!PyUnicode_Check(key)) {
            raise_type_error_naming("'%U' object is not an instance of 'str'", key);
            return false;
        }
        Py_ssize_t size = 0;
        const char* text = utf8_of(key, size);
        if (text == nullptr) return false;
        builder_.member_name(std::string_view(text, static_cast<std::size_t>(size)), false);
        return true;
    }

    [[gnu::noinline]] bool read_new_key(PyObject* key) {
        Py_ssize_t size = 0;
        const char* text = utf8_of(key, size);
        if (text == nullptr) return false;
        keys_.keep(key, builder_.member_name(std::string_view(text, static_cast<std::size_t>(size)), false));
        return true;
    }

    // Whatever is not of an exact common type, in the order of the type
    // tests: dict, list or tuple, str, None, bool, integer, float.
    [[gnu::noinline]] bool read_other(PyObject* obj) {
        ++code_may_have_run_;
        if (PyDict_Check(obj)) return read_dict(obj);
        if (PyList_Check(obj)) return read_list(obj);
        if (PyTuple_Check(obj)) return read_tuple(obj);
        // Reading it may run Python code that drops every other reference
        // to it.
        const PyRef held = PyRef::borrow(obj);
        if (PyUnicode_Check(obj)) {
            if (read_str(obj)) return true;
            if (no_match_unless_fatal() == Match::Failed) return false;
        }
        return read_non_string(obj);
    }

    // The type tests after the string test. Integers are read in all of
    // their 64 bits, signed or not, as a JSON reader reads an integer;
    // wider ones go on to the float test, as JSON text gives them to the
    // float path.
    [[gnu::noinline]] bool read_non_string(PyObject* obj) {
        ++code_may_have_run_;
        if (PyBool_Check(obj)) {
            builder_.boolean(obj == Py_True);
            return true;
        }
        JsonKind kind = JsonKind::Null;
        std::uint64_t bits = 0;
        switch (read_integer64(obj, kind, bits)) {
            case Match::Yes:
                builder_.number(kind, bits);
                return true;
            case Match::Failed:
                return false;
            case Match::No:
                break;
        }
        double number = 0.0;
        switch (read_double(obj, number)) {
            case Match::Yes:
                builder_.number(JsonKind::Float, std::bit_cast<std::uint64_t>(number));
                return true;
            case Match::Failed:
                return false;
            case Match::No:
                break;
        }
        raise_type_error_naming("Unsupported Python type: %U", obj);
        return false;
    }

    // Containers hold a reference of their own: reading their contents may
    // run Python code that drops every other one.
    [[gnu::noinline]] bool read_dict(PyObject* dict) {
        const PyRef held = PyRef::borrow(dict);
        const Level level(levels_);
        if (!level) return false;
        const Py_ssize_t start_size = PyDict_GET_SIZE(dict);
        builder_.begin_object();
        Py_ssize_t visited = 0;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        // The stored order, also for subclasses that override their
        // iteration methods, as emit reads them. The key is done with before
        // any Python code can run; the value is held by read() wherever
        // reading it may run some, and the table is looked at again after.
        DictItems items(dict);
        std::uint64_t code_seen = code_may_have_run_;
        while (items.next(key, value)) {
            if (!read_key(key) || !read(value)) return false;
            ++visited;
            if (code_may_have_run_ != code_seen) [[unlikely]] {
                if (PyDict_GET_SIZE(dict) != start_size) {
                    raise_internal_fault(module_, "dictionary changed size during iteration");
                    return false;
                }
                items.look();
                code_seen = code_may_have_run_;
            }
            if (visited > start_size) {
                raise_internal_fault(module_, "dictionary keys changed during iteration");
                return false;
            }
        }
        builder_.end_object();
        return true;
    }

    // The length is read again for every item: code that reading one runs
    // may shrink the list, and items are never read past its end. Items
    // appended meanwhile are not read.
    [[gnu::noinline]] bool read_list(PyObject* list) {
        const PyRef held = PyRef::borrow(list);
        const Level level(levels_);
        if (!level) return false;
        const Py_ssize_t start_length = PyList_GET_SIZE(list);
        builder_.begin_array();
        for (Py_ssize_t i = 0; i < start_length && i < PyList_GET_SIZE(list); ++i) {
            if (!read(PyList_GET_ITEM(list, i))) return false;
        }
        builder_.end_array();
        return true;
    }

    [[gnu::noinline]] bool read_tuple(PyObject* tuple) {
        const PyRef held = PyRef::borrow(tuple);
        const Level level(levels_);
        if (!level) return false;
        builder_.begin_array();
        const Py_ssize_t length = PyTuple_GET_SIZE(tuple);
        for (Py_ssize_t i = 0; i < length; ++i) {
            if (!read(PyTuple_GET_ITEM(tuple, i))) return false;
        }
        builder_.end_array();
        return true;
    }

    PyObject* module_;
    TapeBuilder& builder_;
    unsigned& levels_;
    // Counts the reads that may have run Python code (see emit's writer): a
    // dict's table is read afresh after one.
    std::uint64_t code_may_have_run_ = 0;
    WrittenKeys<std::uint32_t> keys_;  // name ids of exact str keys
};

// About how many bytes of JSON text the value takes, for the tables' first
// sizes: a small value gets small ones.
std::size_t text_size_hint(PyObject* obj) {
    constexpr std::size_t kBytesPerItem = 24;
    constexpr std::size_t kMostHinted = std::size_t{64} << 20;
    Py_ssize_t items = 0;
    if (PyDict_Check(obj)) {
        items = PyDict_GET_SIZE(obj);
    } else if (PyList_Check(obj)) {
        items = PyList_GET_SIZE(obj);
    } else if (PyTuple_Check(obj)) {
        items = PyTuple_GET_SIZE(obj);
    }
    return std::min(kMostHinted, 64 + static_cast<std::size_t>(items) * kBytesPerItem);
}

}  // namespace

PyObject* pack_container(PyObject* module, PyObject* obj, bool strict) {
    unsigned& levels = open_nesting_levels();
    const std::size_t hint = text_size_hint(obj);
    JsonContainer::OwnedParts parts = JsonContainer::new_parts(hint);
    std::optional<Result<JsonContainer>> compiled;
    {
        TapeBuilder builder(*parts, hint);
        ValueReader reader(module, builder, levels);
        // A scalar root takes a level too, as in emit.
        std::optional<Level> root_level;
        if (!PyDict_Check(obj) && !PyList_Check(obj) && !PyTuple_Check(obj) && !root_level.emplace(levels)) {
            return nullptr;
        }
        if (!reader.read(obj)) return nullptr;
        compiled.emplace(JsonContainer::from_parts(std::move(parts), builder.fixed_data_size(), builder.noted_fault(),
                                                   builder.may_lose()));
    }
    if (!compiled->has_value()) return to_py_err(module, compiled->error());
    JsonContainer& container = **compiled;
    if (strict) {
        if (const std::optional<VeskError> loss = container.number_losses(false).first) return to_py_err(module, *loss);
    }
    PyRef bytes(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(container.size())));
    if (!bytes) return nullptr;
    container.write(std::span<std::uint8_t>(reinterpret_cast<std::uint8_t*>(PyBytes_AS_STRING(bytes.get())),
                                            container.size()));
    return bytes.release();
}

}  // namespace vesk::python
