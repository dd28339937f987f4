#include "compile/member_layouts.hpp"

namespace vesk::json_plan {

std::uint32_t LayoutTable::add(std::span<const std::uint32_t> members, const StringTable& names) {
    Layout layout{static_cast<std::uint32_t>(names_.size()), static_cast<std::uint32_t>(members.size()),
                  static_cast<std::uint32_t>(order_.size()), 0, true};
    names_.insert(names_.end(), members.begin(), members.end());
    // Byte order of the names (string_view compares bytes as unsigned,
    // a proper prefix first), a repeated name in text order, so that the
    // last of each run is the one that counts.
    std::vector<std::uint32_t>& order = scratch_;
    order.resize(members.size());
    for (std::uint32_t i = 0; i < order.size(); ++i) order[i] = i;
    auto before = [&](std::uint32_t a, std::uint32_t b) {
        if (members[a] == members[b]) return a < b;
        return names.text(members[a]) < names.text(members[b]);
    };
    if (order.size() > 16) {
        // Wide objects (often keyed by data) sort on the first eight
        // bytes of each name as a number first, so most comparisons
        // never reach the texts.
        keyed_.clear();
        for (const std::uint32_t i : order) keyed_.push_back({name_prefix(names.text(members[i])), i});
        std::sort(keyed_.begin(), keyed_.end(), [&](const Keyed& a, const Keyed& b) {
            return a.prefix != b.prefix ? a.prefix < b.prefix : before(a.member, b.member);
        });
        for (std::size_t i = 0; i < order.size(); ++i) order[i] = keyed_[i].member;
    } else {
        for (std::size_t i = 1; i < order.size(); ++i) {
            const std::uint32_t moving = order[i];
            std::size_t j = i;
            for (; j > 0 && before(moving, order[j - 1]); --j) order[j] = order[j - 1];
            order[j] = moving;
        }
    }
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (i + 1 < order.size() && members[order[i]] == members[order[i + 1]]) continue;
        layout.in_name_order = layout.in_name_order && order[i] == layout.kept_count;
        order_.push_back(order[i]);
        ++layout.kept_count;
    }
    layout.in_name_order = layout.in_name_order && layout.kept_count == layout.member_count;
    layouts_.push_back(layout);
    return static_cast<std::uint32_t>(layouts_.size() - 1);
}

void LayoutTable::grow() {
    std::vector<Slot> old = std::move(slots_);
    const std::size_t capacity = old.empty() ? 64 : old.size() * 2;
    slots_.assign(capacity, Slot{});
    for (const Slot& slot : old) {
        if (slot.id_plus_one == 0) continue;
        std::size_t at = slot.hash & (capacity - 1);
        while (slots_[at].id_plus_one != 0) at = (at + 1) & (capacity - 1);
        slots_[at] = slot;
    }
}

}  // namespace vesk::json_plan
