#include "tables/shape_table.hpp"

#include <algorithm>

#include "tables/text_hash.hpp"

namespace vesk::tables {

std::uint64_t ShapeTable::hash(std::span<const ShapeField> fields) const noexcept {
    constexpr std::uint64_t multiplier = 0x9E3779B97F4A7C15ull;
    const std::uint64_t secret = (seed_ ^ 0xBF58476D1CE4E5B9ull) | 1;
    std::uint64_t state = seed_ ^ (fields.size() * multiplier);
    for (const ShapeField& field : fields) {
        state = fold_multiply(state ^ ((std::uint64_t{field.name} << 8) | format::type_byte(field.type)), secret);
    }
    state = fold_multiply(state ^ multiplier, secret);
    return state == 0 ? 1 : state;
}

std::uint32_t ShapeTable::intern_object(std::span<const ShapeField> fields) {
    if ((object_count_ + 1) * 2 > slots_.size()) grow();
    const std::uint64_t hash = this->hash(fields);
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
        Slot& slot = slots_[at];
        if (slot.id_plus_one == 0) {
            const auto id = static_cast<std::uint32_t>(shapes_.size());
            shapes_.push_back(Shape{format::VeskType::Object, format::VeskType::Null, static_cast<std::uint32_t>(fields_.size()),
                                    static_cast<std::uint32_t>(fields.size())});
            fields_.insert(fields_.end(), fields.begin(), fields.end());
            slot = Slot{hash, id + 1};
            ++object_count_;
            return id;
        }
        if (slot.hash != hash) continue;
        const std::uint32_t id = slot.id_plus_one - 1;
        const std::span<const ShapeField> known = this->fields(id);
        if (std::equal(known.begin(), known.end(), fields.begin(), fields.end())) return id;
    }
}

std::uint32_t ShapeTable::intern_array(format::VeskType elem_type) {
    std::uint32_t& slot = arrays_[format::type_index(elem_type)];
    if (slot == 0) {
        shapes_.push_back(Shape{format::VeskType::Array, elem_type, 0, 0});
        slot = static_cast<std::uint32_t>(shapes_.size());
    }
    return slot - 1;
}

void ShapeTable::grow() {
    TableVector<Slot> old = std::move(slots_);
    const std::size_t capacity = old.empty() ? first_slots_ : old.size() * 2;
    slots_.assign(capacity, Slot{});
    const std::size_t mask = capacity - 1;
    for (const Slot& slot : old) {
        if (slot.id_plus_one == 0) continue;
        std::size_t at = slot.hash & mask;
        while (slots_[at].id_plus_one != 0) at = (at + 1) & mask;
        slots_[at] = slot;
    }
}

}  // namespace vesk::tables
