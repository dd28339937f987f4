#include "python/key_cache.hpp"

#include <cstring>

#include "tables/text_hash.hpp"

namespace vesk::python {

namespace {

PyObject* decode(std::string_view name) {
    return PyUnicode_DecodeUTF8(name.data(), static_cast<Py_ssize_t>(name.size()), nullptr);
}

}  // namespace

KeyCache::KeyCache() noexcept : seed_(tables::fresh_hash_seed(this)) {}

PyObject* KeyCache::key(std::string_view name) {
    if (name.size() > kLongestKept) return decode(name);
    const std::uint64_t hash = tables::hash_text_padded(name, seed_);
    Entry& entry = entries_[hash >> 32 & (kEntries - 1)];
    if (entry.hash == hash && entry.key != nullptr &&
        static_cast<std::size_t>(PyUnicode_GET_LENGTH(entry.key)) == name.size() &&
        std::memcmp(PyUnicode_1BYTE_DATA(entry.key), name.data(), name.size()) == 0) {
        Py_INCREF(entry.key);
        return entry.key;
    }
    PyObject* made = decode(name);
    if (made == nullptr || !PyUnicode_IS_ASCII(made)) return made;
    Py_INCREF(made);
    Py_XDECREF(entry.key);
    entry = Entry{hash, made};
    return made;
}

void KeyCache::clear() noexcept {
    for (Entry& entry : entries_) {
        Py_CLEAR(entry.key);
        entry.hash = 0;
    }
}

}  // namespace vesk::python
