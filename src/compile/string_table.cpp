#include "compile/string_table.hpp"

#include <limits>
#include <new>

namespace vesk {

void StringTable::reserve(std::size_t count) {
    entries_.reserve(count);
    if (count * 2 <= slots_.size()) return;
    std::size_t capacity = slots_.empty() ? 64 : slots_.size();
    while (count * 2 > capacity) capacity *= 2;
    resize_slots(capacity);
}

void StringTable::grow() { resize_slots(slots_.empty() ? 64 : slots_.size() * 2); }

void StringTable::resize_slots(std::size_t capacity) {
    // Slots and their masks are 32 bits: enough for the 2^31 texts a table
    // half full of 2^32 slots holds, which no container has room for.
    if (capacity - 1 > std::numeric_limits<std::uint32_t>::max()) throw std::bad_alloc();
    const std::uint32_t old_mask = mask_;
    std::vector<std::uint32_t> old = std::move(slots_);
    slots_.assign(capacity, 0);
    mask_ = static_cast<std::uint32_t>(capacity - 1);
    for (const std::uint32_t slot : old) {
        if (slot == 0) continue;
        const std::uint32_t id_plus_one = slot & old_mask;
        const std::uint32_t hash = entries_[id_plus_one - 1].hash;
        std::uint32_t at = hash & mask_;
        while (slots_[at] != 0) at = (at + 1) & mask_;
        slots_[at] = (hash & ~mask_) | id_plus_one;
    }
}

}  // namespace vesk
