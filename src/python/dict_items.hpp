#pragma once

#include <Python.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vesk::python {

// The items of a dict in their stored order, as PyDict_Next gives them.
// Keys and values are borrowed.
//
// PyDict_Next costs some fifty instructions per item, a good part of what
// emit spends on a small dict value. For the tables the interpreters this
// module is built for keep in one piece (every dict but an instance's
// attribute dict), the entries are read here directly, with the same tests
// PyDict_Next makes; anything else, or an interpreter whose layout is not
// known here, goes through PyDict_Next.
//
// Where the entries lie and how many there are is read once, and again
// after every call of look(), which the caller makes whenever code that may
// have changed the dict has run: Python code can grow, shrink or replace
// the table at any point it runs, and only there.
#if PY_VERSION_HEX >= 0x030B0000 && PY_VERSION_HEX < 0x030E0000 && !defined(Py_GIL_DISABLED)
#define VESK_READS_DICT_TABLES 1

namespace dict_layout {

// The head of the interpreter's table of keys (PyDictKeysObject), the same in
// 3.11, 3.12 and 3.13 built with the GIL; the entries follow the index
// array, whose size in bytes is 1 << log2_index_bytes.
struct KeysHead {
    Py_ssize_t refcount;
    std::uint8_t log2_size;
    std::uint8_t log2_index_bytes;
    std::uint8_t kind;
    std::uint32_t version;
    Py_ssize_t usable;
    Py_ssize_t entry_count;
    char indices[];
};

// The kinds of table, and their entries: any keys with their hashes, or
// str keys only. Either ends with the key and the value.
inline constexpr std::uint8_t kGeneralKeys = 0;
inline constexpr std::uint8_t kStrKeys = 1;

struct GeneralEntry {
    Py_hash_t hash;
    PyObject* key;
    PyObject* value;
};
struct StrEntry {
    PyObject* key;
    PyObject* value;
};
static_assert(offsetof(GeneralEntry, value) == sizeof(GeneralEntry) - sizeof(PyObject*) &&
              offsetof(GeneralEntry, key) == sizeof(GeneralEntry) - 2 * sizeof(PyObject*) &&
              offsetof(StrEntry, key) == 0 && sizeof(StrEntry) == 2 * sizeof(PyObject*));

}  // namespace dict_layout
#endif

class DictItems {
public:
    explicit DictItems(PyObject* dict) noexcept : dict_(dict) { look(); }

    DictItems(const DictItems&) = delete;
    DictItems& operator=(const DictItems&) = delete;

    // Reads where the entries lie afresh.
    void look() noexcept {
#ifdef VESK_READS_DICT_TABLES
        if (next_ != nullptr) position_ = (next_ - entries_) / static_cast<std::ptrdiff_t>(entry_size_);
        next_ = nullptr;
        const auto* table = reinterpret_cast<const PyDictObject*>(dict_);
        if (table->ma_values != nullptr) return;
        const auto* keys = reinterpret_cast<const dict_layout::KeysHead*>(table->ma_keys);
        if (keys->kind == dict_layout::kStrKeys) {
            entry_size_ = sizeof(dict_layout::StrEntry);
        } else if (keys->kind == dict_layout::kGeneralKeys) {
            entry_size_ = sizeof(dict_layout::GeneralEntry);
        } else {
            return;
        }
        entries_ = keys->indices + (std::size_t{1} << keys->log2_index_bytes);
        end_ = entries_ + static_cast<std::size_t>(keys->entry_count) * entry_size_;
        // On from the same position in a table built anew, as PyDict_Next
        // goes on, never past its end.
        next_ = entries_ + static_cast<std::size_t>(std::min(position_, keys->entry_count)) * entry_size_;
#endif
    }

    // The next item; false past the last one.
    bool next(PyObject*& key, PyObject*& value) noexcept {
#ifdef VESK_READS_DICT_TABLES
        if (next_ != nullptr) [[likely]] {
            // A removed item leaves its entry without a value.
            while (next_ != end_) {
                next_ += entry_size_;
                PyObject* const held = load_object(next_ - sizeof(PyObject*));
                if (held == nullptr) continue;
                key = load_object(next_ - 2 * sizeof(PyObject*));
                value = held;
                return true;
            }
            return false;
        }
#endif
        const Step step = next_by_call(dict_, position_);
        position_ = step.position;
        key = step.key;
        value = step.value;
        return step.key != nullptr;
    }

private:
    static PyObject* load_object(const char* at) noexcept {
        PyObject* object;
        std::memcpy(&object, at, sizeof object);
        return object;
    }

    // Out of line, so that no address of the cursor's own state is taken.
    struct Step {
        PyObject* key;  // nullptr past the last item
        PyObject* value;
        Py_ssize_t position;
    };
    [[gnu::noinline]] static Step next_by_call(PyObject* dict, Py_ssize_t position) noexcept {
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        if (PyDict_Next(dict, &position, &key, &value) == 0) return Step{nullptr, nullptr, position};
        return Step{key, value, position};
    }

    PyObject* dict_;
    Py_ssize_t position_ = 0;  // of the next entry
#ifdef VESK_READS_DICT_TABLES
    // Read directly: the next entry, the end of the last one; nullptr:
    // through PyDict_Next, from position_.
    const char* next_ = nullptr;
    const char* end_ = nullptr;
    const char* entries_ = nullptr;
    std::size_t entry_size_ = 0;
#endif
};

}  // namespace vesk::python
