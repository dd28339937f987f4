#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vesk::python {

// The str objects of member names met in earlier calls, so that a stream of
// messages with the same keys decodes and hashes each name once, as peers
// do: a key comes back as the str made before, whose hash the interpreter
// keeps in it. Only ASCII names of up to kLongestKept bytes are kept, so an
// entry holds its text's bytes as they are, and a hit is a comparison of
// them. Bounded, with two places for each hash: a name whose places two
// others take is made afresh. Strs are immutable, so a shared one cannot change a result. The
// places are found by a hash seeded per cache, so input cannot be crafted to
// make names collide beyond what a miss costs.
class KeyCache {
public:
    static constexpr std::size_t kEntries = 1024;
    static constexpr std::size_t kLongestKept = 64;

    KeyCache() noexcept;
    ~KeyCache() { clear(); }
    KeyCache(const KeyCache&) = delete;
    KeyCache& operator=(const KeyCache&) = delete;

    // A new reference to the str of `name`, valid UTF-8; nullptr with the
    // exception set when it cannot be made.
    PyObject* key(std::string_view name);

    void clear() noexcept;

private:
    struct Entry {
        std::uint64_t hash = 0;
        PyObject* key = nullptr;  // an owned reference to an ASCII str
    };

    static bool holds(const Entry& entry, std::uint64_t hash, std::string_view name) noexcept;

    std::uint64_t seed_;
    std::array<Entry, kEntries> entries_{};
};

}  // namespace vesk::python
