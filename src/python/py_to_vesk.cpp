#include "python/py_to_vesk.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "emit/data_container.hpp"
#include "emit/list_items.hpp"
#include "format/array_item_rule.hpp"
#include "format/byte_order.hpp"
#include "format/float_narrowing.hpp"
#include "format/format_limits.hpp"
#include "platform/intrinsics.hpp"
#include "python/dict_items.hpp"
#include "python/errors.hpp"
#include "python/nesting_budget.hpp"
#include "format/json_path.hpp"
#include "python/py_ref.hpp"
#include "python/value_type_tests.hpp"
#include "python/written_keys.hpp"
#include "tables/text_hash.hpp"

namespace vesk::python {

namespace {

StoredNumber signed_number(std::int64_t value) noexcept {
    return {StoredNumber::Kind::Signed, static_cast<std::uint64_t>(value)};
}
StoredNumber float_number(double value) noexcept {
    return {StoredNumber::Kind::Float, std::bit_cast<std::uint64_t>(value)};
}

// The bytes object that the container is written into and returned as.
class BytesMemory final : public emit::ContainerMemory {
public:
    std::uint8_t* allocate(std::size_t size) override {
        bytes_ = PyRef(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size)));
        if (!bytes_) throw std::bad_alloc();
        return reinterpret_cast<std::uint8_t*>(PyBytes_AS_STRING(bytes_.get()));
    }

    PyObject* release() noexcept { return bytes_.release(); }

private:
    PyRef bytes_;
};

// kStrict: numbers that would not read back as written are refused; the
// writer that stores them as they narrow has no code for it.
template <bool kStrict>
class ValueWriter {
public:
    ValueWriter(PyObject* module, emit::DataContainer& out, unsigned& levels)
        : module_(module), out_(out), levels_(levels) {}

    // Converts one value and writes it; `type` receives its type. Exact
    // instances of the common types are recognised first: their conversion
    // runs no Python code, so they need no reference of their own. After an
    // Int32, integer_ holds its full value; after an array or object,
    // definition() its definition number. Inlined into the loops over items; the
    // recursion goes through convert_other.
    [[gnu::always_inline]] bool convert(PyObject* obj, format::VeskType& type) {
        PyTypeObject* const kind = Py_TYPE(obj);
        if (kind == &PyUnicode_Type) {
            type = format::VeskType::String;
            if (write_str(obj)) return true;
            // A lone surrogate has no UTF-8 form; such a str ends as an
            // unsupported value, not with the codec's error.
            if (no_match_unless_fatal() == Match::Failed) return false;
            return convert_non_string(obj, type);
        }
        if (kind == &PyLong_Type) {
            long value = 0;
            if (!small_int_value(obj, value) && !exact_int_value(obj, value)) return convert_non_string(obj, type);
            write_integer(value, type);
            return true;
        }
        if (kind == &PyFloat_Type) {
            const double value = PyFloat_AS_DOUBLE(obj);
            if constexpr (kStrict) last_double_ = value;
            out_.write_float32(format::nearest_float(value));
            type = format::VeskType::Float32;
            return true;
        }
        if (kind == &PyBool_Type) {
            out_.write_bool(obj == Py_True);
            type = format::VeskType::Bool;
            return true;
        }
        if (kind == &PyDict_Type) {
            type = format::VeskType::Object;
            return convert_dict(obj);
        }
        if (kind == &PyList_Type) {
            type = format::VeskType::Array;
            return convert_list(obj);
        }
        return convert_other(obj, type);
    }

    std::uint16_t definition() const noexcept { return definition_; }

    // A refusal that went unraised while the conversion unwound, each level
    // adding its step to the path: the value's path, and the refusal with
    // it, once the root is reached. Under strict, the root's own number is
    // looked at first.
    // `root_type` is the type of a root that converted, else nullopt.
    std::optional<VeskError> refusal(std::optional<format::VeskType> root_type) {
        if (kStrict && root_type && *root_type != format::VeskType::Array && *root_type != format::VeskType::Object) {
            scalar_kept(*root_type);
        }
        if (!pending_) return std::nullopt;
        std::string path(format::kRootPath);
        for (auto step = steps_.rbegin(); step != steps_.rend(); ++step) path += *step;
        return std::move(*pending_).at_path(std::move(path));
    }

private:
    static bool exact_int_value(PyObject* obj, long& value) {
        int overflow = 0;
        value = PyLong_AsLongAndOverflow(obj, &overflow);
        return overflow == 0;
    }

    void write_integer(long value, format::VeskType& type) {
        out_.write_int32(wrap_to_int32(value));
        integer_ = value;
        type = format::VeskType::Int32;
    }

    // Any str, subclasses included; false, with the codec's exception set,
    // when it has no UTF-8 form.
    [[gnu::always_inline]] bool write_str(PyObject* str) {
        Py_ssize_t size = 0;
        const char* text = utf8_of(str, size);
        if (text == nullptr) return false;
        write_text(str, {text, static_cast<std::size_t>(size)});
        return true;
    }

    // The UTF-8 text of a str. A long one is left where it is, with the str
    // held until the call ends: its text cannot change. Every str's is, of
    // a subclass too: the dictionary tells texts of one length apart only
    // when all of them are left in place or none is.
    [[gnu::always_inline]] emit::DataContainer::WrittenString write_text(PyObject* str, std::string_view text) {
        if (text.size() < emit::DataContainer::kLeftInPlace) [[likely]]
            return out_.write_string(text);
        return write_text_in_place(str, text);
    }

    [[gnu::noinline]] emit::DataContainer::WrittenString write_text_in_place(PyObject* str, std::string_view text) {
        held_.push_back(PyRef::borrow(str));
        return out_.write_string_in_place(text);
    }

    // A dict key: a str, or the whole conversion fails, with the codec's
    // error for a str that has no UTF-8 form. Keys do not go through the
    // other type tests. An exact str is held by keys_ until the call ends,
    // and so is any other, by held_: a failure's path may have to name it.
    [[gnu::always_inline]] bool write_key(PyObject* key) {
        if (Py_TYPE(key) == &PyUnicode_Type) [[likely]] {
            if (const emit::DataContainer::WrittenString* known = keys_.find(key)) [[likely]] {
                out_.write_again(*known);
                return true;
            }
            return write_new_key(key);
        }
        if (!PyUnicode_Check(key)) {
            raise_type_error_naming("'%U' object is not an instance of 'str'", key);
            return false;
        }
        held_.push_back(PyRef::borrow(key));
        return write_str(key);
    }

    [[gnu::noinline]] bool write_new_key(PyObject* key) {
        Py_ssize_t size = 0;
        const char* text = utf8_of(key, size);
        if (text == nullptr) return false;
        keys_.keep(key, write_text(key, {text, static_cast<std::size_t>(size)}));
        return true;
    }

    // Whatever is not of an exact common type, in the order of the type
    // tests.
    [[gnu::noinline]] bool convert_other(PyObject* obj, format::VeskType& type) {
        ++code_may_have_run_;
        if (PyDict_Check(obj)) {
            type = format::VeskType::Object;
            return convert_dict(obj);
        }
        if (PyList_Check(obj)) {
            type = format::VeskType::Array;
            return convert_list(obj);
        }
        // Converting it may run Python code that drops every other reference
        // to it.
        const PyRef held = PyRef::borrow(obj);
        if (PyUnicode_Check(obj)) {
            type = format::VeskType::String;
            if (write_str(obj)) return true;
            if (no_match_unless_fatal() == Match::Failed) return false;
        }
        return convert_non_string(obj, type);
    }

    // The type tests after the string test: bool, integer, float.
    [[gnu::noinline]] bool convert_non_string(PyObject* obj, format::VeskType& type) {
        ++code_may_have_run_;
        if (PyBool_Check(obj)) {
            out_.write_bool(obj == Py_True);
            type = format::VeskType::Bool;
            return true;
        }
        long integer = 0;
        switch (read_integer(obj, integer)) {
            case Match::Yes:
                write_integer(integer, type);
                return true;
            case Match::Failed:
                return false;
            case Match::No:
                break;
        }
        double number = 0.0;
        switch (read_double(obj, number)) {
            case Match::Yes:
                if constexpr (kStrict) last_double_ = number;
                out_.write_float32(format::nearest_float(number));
                type = format::VeskType::Float32;
                return true;
            case Match::Failed:
                return false;
            case Match::No:
                break;
        }
        raise_type_error_naming("Unsupported Python type: %U", obj);
        return false;
    }

    // Containers hold a reference of their own: converting their contents
    // may run Python code that drops every other one.
    [[gnu::noinline]] bool convert_dict(PyObject* dict) {
        const PyRef held = PyRef::borrow(dict);
        const Level level(levels_);
        if (!level) return false;
        const Py_ssize_t start_size = PyDict_GET_SIZE(dict);
        emit::DataContainer::ObjectStart object = out_.begin_object();
        Py_ssize_t visited = 0;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        // The stored order rather than iteration, also for subclasses that
        // override their iteration methods. The key is done with before any
        // Python code can run; the value is held by convert() wherever its
        // conversion may run some, and the table is looked at again after
        // such a conversion.
        DictItems items(dict);
        std::uint64_t code_seen = code_may_have_run_;
        while (items.next(key, value)) {
            // The value is needed only after the key: its first touch can
            // be on its way meanwhile.
            platform::prefetch(value);
            if (!write_key(key)) return false;
            format::VeskType type = format::VeskType::Null;
            if (!convert(value, type)) [[unlikely]] return unwind_member(key);
            if constexpr (kStrict) {
                if (!scalar_kept(type)) [[unlikely]] return unwind_member(key);
            }
            out_.add_item(object, type);
            ++visited;
            // Nothing else can change the dict's size.
            if (code_may_have_run_ != code_seen) [[unlikely]] {
                if (PyDict_GET_SIZE(dict) != start_size) {
                    raise_internal_fault(module_, "dictionary changed size during iteration");
                    return false;
                }
                items.look();
                code_seen = code_may_have_run_;
            }
            // Items removed and others added by such code show later, if at
            // all: as more items than the dict held when it was first seen.
            if (visited > start_size) {
                raise_internal_fault(module_, "dictionary keys changed during iteration");
                return false;
            }
        }
        definition_ = out_.end_object(object);
        return true;
    }

    // Lists of numbers, the bulk of many documents, are written in runs: the
    // items from the first on, as long as they are exact floats (or exact
    // ints that fit 32 bits), in blocks with room made once per block.
    // Converting them runs no Python code, so the list cannot change
    // meanwhile. Each returns how many items it wrote; the caller goes on
    // from there item by item.
    static constexpr Py_ssize_t kRunBlock = 256;

    Py_ssize_t write_float_run(PyObject* list, Py_ssize_t length) {
        PyObject* const* const item = reinterpret_cast<PyListObject*>(list)->ob_item;
        Py_ssize_t done = 0;
        while (done < length) {
            const Py_ssize_t block = std::min(length - done, kRunBlock);
            std::uint8_t* const at = out_.number_room(static_cast<std::size_t>(block));
            Py_ssize_t written = 0;
            for (; written < block; ++written) {
                PyObject* const number = item[done + written];
                if (Py_TYPE(number) != &PyFloat_Type) break;
                format::store_u32le(at + 4 * written, std::bit_cast<std::uint32_t>(format::nearest_float(PyFloat_AS_DOUBLE(number))));
            }
            out_.numbers_written(static_cast<std::size_t>(written));
            done += written;
            if (written < block) break;
        }
        return done;
    }

    Py_ssize_t write_int_run(PyObject* list, Py_ssize_t length, emit::ListItems& items) {
        PyObject* const* const item = reinterpret_cast<PyListObject*>(list)->ob_item;
        Py_ssize_t done = 0;
        while (done < length) {
            const Py_ssize_t block = std::min(length - done, kRunBlock);
            std::uint8_t* const at = out_.number_room(static_cast<std::size_t>(block));
            Py_ssize_t written = 0;
            long value = 0;
            for (; written < block; ++written) {
                PyObject* const number = item[done + written];
                if (Py_TYPE(number) != &PyLong_Type || !small_int_value(number, value)) break;
                format::store_u32le(at + 4 * written, static_cast<std::uint32_t>(static_cast<std::int32_t>(value)));
            }
            out_.numbers_written(static_cast<std::size_t>(written));
            items.admit_ints(static_cast<std::size_t>(done), at, static_cast<std::size_t>(written));
            done += written;
            if (written < block) break;
        }
        return done;
    }

    [[gnu::noinline]] bool convert_list(PyObject* list) {
        const Level level(levels_);
        if (!level) return false;
        const Py_ssize_t start_length = PyList_GET_SIZE(list);
        const emit::DataContainer::ArrayStart array = out_.begin_array();
        // A list of floats alone, as coordinates are, is written whole by
        // the run: no item-by-item bookkeeping, and no reference of its own,
        // since no Python code runs.
        Py_ssize_t floats = 0;
        if (start_length > 0 && Py_TYPE(PyList_GET_ITEM(list, 0)) == &PyFloat_Type) {
            floats = write_float_run(list, start_length);
            if constexpr (kStrict) note_float_run_losses(list, floats);
            if (floats == start_length) {
                if constexpr (kStrict) {
                    if (!list_kept(std::nullopt)) return false;
                }
                definition_ = out_.number_array(array, format::VeskType::Float32);
                out_.end_array(array, static_cast<std::size_t>(floats));
                return true;
            }
        }
        return convert_items(list, array, start_length, floats);
    }

    // The rest of a list, from item `from` on, after `from` floats.
    [[gnu::always_inline]] bool convert_items(PyObject* list, const emit::DataContainer::ArrayStart& array,
                                             Py_ssize_t start_length, Py_ssize_t from) {
        const PyRef held = PyRef::borrow(list);
        emit::ListItems items(out_);
        items.admit_floats(static_cast<std::size_t>(from));
        // A list whose first item is a dict or a list is numbered before the
        // shapes inside that item; its element type is known without running
        // any Python code. Any other list holds no shapes and is numbered at
        // its end, once a mixture of numbers has shown.
        std::optional<std::uint16_t> number;
        Py_ssize_t i = from;
        if (i == 0 && start_length > 0 && Py_TYPE(PyList_GET_ITEM(list, 0)) == &PyLong_Type) {
            i = write_int_run(list, start_length, items);
        }
        // The length is read again for every item: code run by a conversion
        // may shrink the list, and items are never read past its end. Items
        // appended meanwhile are not read.
        for (; i < start_length && i < PyList_GET_SIZE(list); ++i) {
            PyObject* item = PyList_GET_ITEM(list, i);
            if (i == 0 && (PyDict_Check(item) || PyList_Check(item))) {
                number = out_.number_array(array, PyDict_Check(item) ? format::VeskType::Object : format::VeskType::Array);
            }
            format::VeskType type = format::VeskType::Null;
            if (!convert(item, type)) [[unlikely]] return unwind_item(i);
            if (!items.admit(static_cast<std::size_t>(i), type, integer_)) [[unlikely]] {
                // The list's own path: the levels around it add their steps.
                pending_ = format::mixed_array_item(static_cast<std::size_t>(i), type, items.expected());
                return false;
            }
            if constexpr (kStrict) note_item_loss(i, type);
        }
        if constexpr (kStrict) {
            if (!list_kept(items.integer_loss())) return false;
        }
        definition_ = number ? *number : out_.number_array(array, items.element_type());
        out_.end_array(array, static_cast<std::size_t>(i));
        return true;
    }

    // The way out of a failed conversion of a member or an item: when the
    // failure is a refusal waiting for its path, its step.
    [[gnu::noinline, gnu::cold]] bool unwind_member(PyObject* key) {
        if (pending_) {
            Py_ssize_t size = 0;
            const char* name = utf8_of(key, size);
            std::string step;
            format::append_member_step(step, std::string_view(name, static_cast<std::size_t>(size)));
            steps_.push_back(std::move(step));
        }
        return false;
    }
    [[gnu::noinline, gnu::cold]] bool unwind_item(Py_ssize_t index) {
        if (pending_) {
            std::string step;
            format::append_item_step(step, static_cast<std::size_t>(index));
            steps_.push_back(std::move(step));
        }
        return false;
    }

    // Under strict: whether the number just written reads back as given, a
    // dict's value or the root (in a list, whether an int does depends on
    // the list's other items). False, with the LossError pending, if not.
    [[gnu::noinline]] bool scalar_kept(format::VeskType type) {
        if (type == format::VeskType::Int32) {
            const auto stored = static_cast<std::int32_t>(integer_);
            if (stored == integer_) return true;
            pending_ = VeskError::loss("", NumberChange{signed_number(integer_), signed_number(stored)});
            return false;
        }
        if (type != format::VeskType::Float32) return true;
        const float stored = format::nearest_float(last_double_);
        if (!format::narrowing_loses(last_double_, stored)) return true;
        pending_ = VeskError::loss("", NumberChange{float_number(last_double_), float_number(stored)});
        return false;
    }

    // The numbers of a list are settled at its end: the first float that
    // narrowing loses, noted as the items go, and the first int that reads
    // back changed (wrapped, or not held by its binary32 in a list of mixed
    // numbers), whichever comes first. False, with the LossError pending
    // and the item's step, if there is one.
    [[gnu::noinline]] void note_float_run_losses(PyObject* list, Py_ssize_t floats) {
        for (Py_ssize_t i = 0; i < floats && !list_float_loss_; ++i) {
            const double value = PyFloat_AS_DOUBLE(PyList_GET_ITEM(list, i));
            if (format::narrowing_loses(value, format::nearest_float(value))) list_float_loss_ = FloatLoss{i, value};
        }
    }
    [[gnu::noinline]] void note_item_loss(Py_ssize_t position, format::VeskType type) {
        if (type != format::VeskType::Float32 || list_float_loss_) return;
        if (format::narrowing_loses(last_double_, format::nearest_float(last_double_))) {
            list_float_loss_ = FloatLoss{position, last_double_};
        }
    }
    [[gnu::noinline]] bool list_kept(const std::optional<emit::ListItems::IntegerLoss>& integer) {
        const std::optional<FloatLoss> floating = std::exchange(list_float_loss_, std::nullopt);
        if (integer && (!floating || static_cast<Py_ssize_t>(integer->position) < floating->position)) {
            const StoredNumber stored = integer->as_float
                                            ? float_number(static_cast<double>(static_cast<float>(integer->value)))
                                            : signed_number(static_cast<std::int32_t>(integer->value));
            pending_ = VeskError::loss("", NumberChange{signed_number(integer->value), stored});
            return unwind_item(static_cast<Py_ssize_t>(integer->position));
        }
        if (!floating) return true;
        pending_ = VeskError::loss("", NumberChange{float_number(floating->value),
                                                    float_number(format::nearest_float(floating->value))});
        return unwind_item(floating->position);
    }

    PyObject* module_;
    emit::DataContainer& out_;
    unsigned& levels_;
    long integer_ = 0;
    double last_double_ = 0.0;  // after a Float32, the value it was narrowed from
    std::optional<VeskError> pending_;  // a refusal waiting for its path
    std::vector<std::string> steps_;    // of that path, from the value outwards
    struct FloatLoss {
        Py_ssize_t position;
        double value;
    };
    std::optional<FloatLoss> list_float_loss_;  // of the list of numbers being written
    std::uint16_t definition_ = 0;
    // Counts the conversions that may have run Python code: those of a
    // value not of an exact common type, and those whose type tests raised
    // (an exception made may start the collector, whose finalizers are
    // Python code). A dict's table is read afresh after one, as the code may
    // have changed the dict.
    std::uint64_t code_may_have_run_ = 0;
    WrittenKeys<emit::DataContainer::WrittenString> keys_;
    std::vector<PyRef> held_;  // strs whose text the data refers to, and keys that are not exact strs
};

template <bool kStrict>
PyObject* emit_with(PyObject* module, PyObject* obj) {
    unsigned& levels = open_nesting_levels();
    emit::DataContainer out(tables::fresh_hash_seed(&levels));
    ValueWriter<kStrict> writer(module, out, levels);
    format::VeskType type = format::VeskType::Null;
    {
        // A scalar root takes a level too: an emit that its __index__ or
        // __float__ calls nests on top of it, so a chain of such calls ends.
        std::optional<Level> root_level;
        if (!PyDict_Check(obj) && !PyList_Check(obj) && !root_level.emplace(levels)) return nullptr;
        const bool converted = writer.convert(obj, type);
        std::optional<VeskError> refusal = writer.refusal(converted ? std::optional(type) : std::nullopt);
        if (refusal) return to_py_err(module, *refusal);
        if (!converted) return nullptr;
    }
    const bool compound = type == format::VeskType::Array || type == format::VeskType::Object;
    BytesMemory memory;
    Result<std::size_t> size = out.finish(memory, compound ? writer.definition() : format::type_byte(type));
    if (!size) return to_py_err(module, size.error());
    return memory.release();
}

}  // namespace

PyObject* emit_container(PyObject* module, PyObject* obj, bool strict) {
    return strict ? emit_with<true>(module, obj) : emit_with<false>(module, obj);
}

}  // namespace vesk::python
