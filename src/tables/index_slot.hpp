#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>

namespace vesk::tables {

// The slots of a linear-probing index in four bytes each, for tables that
// are never more than half full: an entry's id + 1 then fits in the bits
// below the capacity's, and the entry's 32-bit hash fills the bits above
// them, whose comparison spares most probes a look at an entry that differs.
// 0 marks a free slot. Probing starts at hash & mask.
class IndexSlot {
public:
    // The mask of an index of `capacity` slots, a power of two. Masks are 32
    // bits, enough for the 2^31 entries of the largest such index, more than
    // any container can hold; past that there is no index to allocate.
    static std::uint32_t mask_for(std::size_t capacity) {
        if (capacity - 1 > std::numeric_limits<std::uint32_t>::max()) throw std::bad_alloc();
        return static_cast<std::uint32_t>(capacity - 1);
    }
    static std::uint32_t make(std::uint32_t hash, std::uint32_t mask, std::uint32_t id) noexcept {
        return (hash & ~mask) | (id + 1);
    }
    // Whether the slot may hold the entry of this hash (0 never does).
    static bool may_hold(std::uint32_t slot, std::uint32_t hash, std::uint32_t mask) noexcept {
        return ((slot ^ hash) & ~mask) == 0;
    }
    static std::uint32_t id(std::uint32_t slot, std::uint32_t mask) noexcept { return (slot & mask) - 1; }
};

}  // namespace vesk::tables
