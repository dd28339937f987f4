#include "tables/string_table.hpp"

namespace vesk::tables {

void StringTable::reserve(std::size_t count) {
    entries_.reserve(count);
    if (count * 2 <= slots_.size()) return;
    std::size_t capacity = slots_.empty() ? 64 : slots_.size();
    while (count * 2 > capacity) capacity *= 2;
    resize_slots(capacity);
}

void StringTable::grow() { resize_slots(slots_.empty() ? 64 : slots_.size() * 2); }

void StringTable::resize_slots(std::size_t capacity) {
    const std::uint32_t mask = IndexSlot::mask_for(capacity);
    const std::uint32_t old_mask = mask_;
    TableVector<std::uint32_t> old = std::move(slots_);
    slots_.assign(capacity, 0);
    mask_ = mask;
    for (const std::uint32_t slot : old) {
        if (slot == 0) continue;
        const std::uint32_t id = IndexSlot::id(slot, old_mask);
        const std::uint32_t hash = entries_[id].hash;
        std::uint32_t at = hash & mask_;
        while (slots_[at] != 0) at = (at + 1) & mask_;
        slots_[at] = IndexSlot::make(hash, mask_, id);
    }
}

}  // namespace vesk::tables
