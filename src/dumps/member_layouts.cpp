#include "dumps/member_layouts.hpp"

namespace vesk::dumps {

std::uint32_t LayoutTable::add(std::span<const std::uint32_t> members, const tables::StringTable& names) {
    Layout layout{static_cast<std::uint32_t>(names_.size()), static_cast<std::uint32_t>(members.size()),
                  static_cast<std::uint32_t>(order_.size()), 0, true};
    names_.insert(names_.end(), members.begin(), members.end());
    // Byte order of the names (string_view compares bytes as unsigned,
    // a proper prefix first), a repeated name in text order, so that the
    // last of each run is the one that counts. Each name's first eight
    // bytes as a number decide most comparisons without reaching the texts.
    keyed_.clear();
    for (std::uint32_t i = 0; i < members.size(); ++i) keyed_.push_back({name_prefix(names.text(members[i])), i});
    auto before = [&](const Keyed& a, const Keyed& b) {
        if (a.prefix != b.prefix) return a.prefix < b.prefix;
        if (members[a.member] == members[b.member]) return a.member < b.member;
        return names.text(members[a.member]) < names.text(members[b.member]);
    };
    if (keyed_.size() > 16) {
        std::sort(keyed_.begin(), keyed_.end(), before);
    } else {
        for (std::size_t i = 1; i < keyed_.size(); ++i) {
            const Keyed moving = keyed_[i];
            std::size_t j = i;
            for (; j > 0 && before(moving, keyed_[j - 1]); --j) keyed_[j] = keyed_[j - 1];
            keyed_[j] = moving;
        }
    }
    for (std::size_t i = 0; i < keyed_.size(); ++i) {
        const std::uint32_t member = keyed_[i].member;
        if (i + 1 < keyed_.size() && members[member] == members[keyed_[i + 1].member]) continue;
        layout.in_name_order = layout.in_name_order && member == layout.kept_count;
        order_.push_back(member);
        ++layout.kept_count;
    }
    layout.in_name_order = layout.in_name_order && layout.kept_count == layout.member_count;
    layouts_.push_back(layout);
    return static_cast<std::uint32_t>(layouts_.size() - 1);
}

void LayoutTable::grow() {
    tables::TableVector<Slot> old = std::move(slots_);
    const std::size_t capacity = old.empty() ? first_slots_ : old.size() * 2;
    slots_.assign(capacity, Slot{});
    for (const Slot& slot : old) {
        if (slot.id_plus_one == 0) continue;
        std::size_t at = slot.hash & (capacity - 1);
        while (slots_[at].id_plus_one != 0) at = (at + 1) & (capacity - 1);
        slots_[at] = slot;
    }
}

}  // namespace vesk::dumps
