#include "compile/string_table.hpp"

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
    std::vector<std::uint64_t> old = std::move(slots_);
    slots_.assign(capacity, 0);
    mask_ = capacity - 1;
    for (const std::uint64_t slot : old) {
        if (slot == 0) continue;
        const std::uint64_t hash = (slot & 0xFFFFFFFF00000000ull) | entries_[static_cast<std::uint32_t>(slot) - 1].hash_low;
        std::uint64_t at = hash & mask_;
        while (slots_[at] != 0) at = (at + 1) & mask_;
        slots_[at] = slot;
    }
}

}  // namespace vesk
