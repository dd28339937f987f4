#include "python/key_cache.hpp"

#include "tables/text_hash.hpp"

namespace vesk::python {

namespace {

PyObject* decode(std::string_view name) {
    return PyUnicode_DecodeUTF8(name.data(), static_cast<Py_ssize_t>(name.size()), nullptr);
}

}  // namespace

KeyCache::KeyCache() noexcept : seed_(tables::fresh_hash_seed(this)) {}

inline bool KeyCache::holds(const Entry& entry, std::uint64_t hash, std::string_view name) noexcept {
    return entry.hash == hash && entry.key != nullptr &&
           static_cast<std::size_t>(PyUnicode_GET_LENGTH(entry.key)) == name.size() &&
           tables::same_bytes(static_cast<const char*>(PyUnicode_DATA(entry.key)), name.data(), name.size());
}

PyObject* KeyCache::key(std::string_view name) {
    if (name.size() > kLongestKept) return decode(name);
    const std::uint64_t hash = tables::hash_text_padded(name, seed_);
    // Two places per hash, so that two names that share them both stay.
    Entry* const pair = &entries_[(hash >> 32) & (kEntries - 2)];
    for (Entry* entry = pair; entry != pair + 2; ++entry) {
        if (holds(*entry, hash, name)) {
            Py_INCREF(entry->key);
            return entry->key;
        }
    }
    PyObject* made = decode(name);
    if (made == nullptr || !PyUnicode_IS_ASCII(made)) return made;
    // The newer name goes first; the older of the two goes.
    Py_INCREF(made);
    Py_XDECREF(pair[1].key);
    pair[1] = pair[0];
    pair[0] = Entry{hash, made};
    return made;
}

void KeyCache::clear() noexcept {
    for (Entry& entry : entries_) {
        Py_CLEAR(entry.key);
        entry.hash = 0;
    }
}

}  // namespace vesk::python
