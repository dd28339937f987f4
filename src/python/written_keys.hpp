#pragma once

#include <Python.h>

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>


namespace vesk::python {

// Dict keys met before, by the address of the str object, with what was
// made of each the first time (emit: where it was written; pack: its name
// id), so that a key met again as the same object (keys
// usually are: the parser or the caller's code made each once) is copied
// from there: neither read from the str, nor hashed, nor noted for the
// dictionary again. An open-addressing map that keeps every key it is given:
// a cache that dropped keys would miss over and over on two keys that take
// turns in every dict and share a place. Each key is held by a reference of
// the map's own, so no other object can take its address during the call.
// Its first table lies in the object, since most values have few distinct
// keys; a larger one is on the heap.
template <class Written>
class WrittenKeys {
public:
    WrittenKeys() noexcept = default;
    WrittenKeys(const WrittenKeys&) = delete;
    WrittenKeys& operator=(const WrittenKeys&) = delete;
    ~WrittenKeys() {
        for (std::size_t at = 0, released = 0; released < count_; ++at) {
            if (keys_[at].str == nullptr) continue;
            Py_DECREF(keys_[at].str);
            ++released;
        }
    }

    // Where `key`, an exact str, was written, or nullptr if it was not
    // kept.
    [[gnu::always_inline]] const Written* find(PyObject* key) const noexcept {
        const std::size_t at = place(key, shift_);
        const Key& first = keys_[at];
        if (first.str == key) [[likely]]
            return &first.written;
        // The next place too, inline: a key that another with the same
        // home pushed on, the commonest miss, costs no call. Which keys were
        // pushed on depends on where the strs lie, so it changes from one
        // process to the next: one such key that every dict holds sent a
        // third of apache_builds' lookups out of line.
        const Key& second = keys_[(at + 1) & mask_];
        if (second.str == key) return &second.written;
        return find_elsewhere(key);
    }

    // Keeps `key`, which is not kept yet, as written at `written`.
    // Releasing an exact str runs no Python code. May throw std::bad_alloc.
    void keep(PyObject* key, const Written& written) {
        if ((count_ + 1) * 2 > mask_ + 1) grow();
        Py_INCREF(key);
        keys_[free_place(key)] = Key{key, written};
        ++count_;
    }

private:
    struct Key {
        PyObject* str = nullptr;
        Written written{};
    };

    // Small, since every call fills it and empties it again: most values
    // have few distinct keys, sixteen at most.
    static constexpr std::size_t kFirstSize = 32;
    static constexpr unsigned kFirstShift = 64 - std::countr_zero(kFirstSize);

    [[gnu::noinline]] const Written* find_elsewhere(PyObject* key) const noexcept {
        for (std::size_t at = place(key, shift_); keys_[at].str != nullptr; at = (at + 1) & mask_) {
            if (keys_[at].str == key) return &keys_[at].written;
        }
        return nullptr;
    }

    // The high bits of the address times an odd constant: objects lie 16
    // bytes apart and more, and their low bits say little.
    static std::size_t place(PyObject* key, unsigned shift) noexcept {
        const auto address = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(key));
        return static_cast<std::size_t>((address * 0x9E3779B97F4A7C15ull) >> shift);
    }
    std::size_t free_place(PyObject* key) const noexcept {
        std::size_t at = place(key, shift_);
        while (keys_[at].str != nullptr) at = (at + 1) & mask_;
        return at;
    }
    void grow() {
        std::vector<Key> larger(2 * (mask_ + 1));
        Key* const old = keys_;
        const std::size_t old_size = mask_ + 1;
        keys_ = larger.data();
        mask_ = larger.size() - 1;
        --shift_;
        for (std::size_t at = 0; at < old_size; ++at) {
            if (old[at].str != nullptr) keys_[free_place(old[at].str)] = old[at];
        }
        grown_ = std::move(larger);
    }

    std::array<Key, kFirstSize> first_{};
    std::vector<Key> grown_;
    Key* keys_ = first_.data();
    std::size_t mask_ = kFirstSize - 1;
    std::size_t count_ = 0;
    unsigned shift_ = kFirstShift;
};

}  // namespace vesk::python
