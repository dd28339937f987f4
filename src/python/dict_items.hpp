#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>

namespace vesk::python {

// The next item of a dict in its stored order, as PyDict_Next gives it, from
// and to the same `position`: false past the last item. Keys and values are
// borrowed.
//
// PyDict_Next costs some fifty instructions per item, a good part of what
// emit spends on a small dict value. For the tables the interpreters this
// module is built for keep in one piece (every dict but an instance's
// attribute dict), the entries are read here directly, with the same tests
// PyDict_Next makes; anything else, or an interpreter whose layout is not
// known here, goes through PyDict_Next. The table and its length are read
// afresh at every call, as PyDict_Next reads them, since code that a
// conversion runs may grow or shrink the dict meanwhile.
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

// The kinds of table: any keys with their hashes, or str keys only.
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

template <class Entry>
inline bool next_entry(const KeysHead* keys, Py_ssize_t& position, PyObject*& key, PyObject*& value) {
    const auto* entries =
        reinterpret_cast<const Entry*>(keys->indices + (std::size_t{1} << keys->log2_index_bytes));
    const Py_ssize_t count = keys->entry_count;
    Py_ssize_t at = position;
    if (at < 0) return false;
    // A removed item leaves its entry without a value.
    while (at < count && entries[at].value == nullptr) ++at;
    if (at >= count) return false;
    key = entries[at].key;
    value = entries[at].value;
    position = at + 1;
    return true;
}

}  // namespace dict_layout
#endif

inline bool next_dict_item(PyObject* dict, Py_ssize_t& position, PyObject*& key, PyObject*& value) {
#ifdef VESK_READS_DICT_TABLES
    const auto* table = reinterpret_cast<const PyDictObject*>(dict);
    if (table->ma_values == nullptr) {
        const auto* keys = reinterpret_cast<const dict_layout::KeysHead*>(table->ma_keys);
        if (keys->kind == dict_layout::kStrKeys) {
            return dict_layout::next_entry<dict_layout::StrEntry>(keys, position, key, value);
        }
        if (keys->kind == dict_layout::kGeneralKeys) {
            return dict_layout::next_entry<dict_layout::GeneralEntry>(keys, position, key, value);
        }
    }
#endif
    return PyDict_Next(dict, &position, &key, &value) != 0;
}

}  // namespace vesk::python
