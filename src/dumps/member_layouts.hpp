#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "format/byte_order.hpp"
#include "platform/intrinsics.hpp"
#include "tables/string_table.hpp"
#include "tables/table_memory.hpp"
#include "tables/text_hash.hpp"

namespace vesk::dumps {

// The member names of an object in text order, interned: objects that list
// the same names in the same order share a layout, and with it the order in
// which their values are compiled, worked out once.
class LayoutTable {
public:
    // Room for `layouts` layouts of `names` names in all from the start:
    // growing these step by step cost a text more than reading its members.
    // The index starts with `first_slots` places, a power of two.
    LayoutTable(std::uint64_t seed, std::size_t layouts, std::size_t names, std::size_t first_slots,
                std::pmr::memory_resource* memory)
        : layouts_(memory),
          names_(memory),
          order_(memory),
          keyed_(memory),
          slots_(memory),
          first_slots_(first_slots),
          seed_(seed) {
        layouts_.reserve(layouts);
        names_.reserve(names);
        order_.reserve(names);
    }

    struct Layout {
        std::uint32_t first_name;  // in names_
        std::uint32_t member_count;
        std::uint32_t first_order;  // in order_
        std::uint32_t kept_count;   // members left after dropping repeated names
        bool in_name_order;         // the values are compiled in text order
    };

    std::uint32_t intern(std::span<const std::uint32_t> members, const tables::StringTable& names) {
        if ((layouts_.size() + 1) * 2 > slots_.size()) grow();
        const std::uint64_t hash = this->hash(members);
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
            Slot& slot = slots_[at];
            if (slot.id_plus_one == 0) {
                slot = Slot{hash, add(members, names) + 1};
                return slot.id_plus_one - 1;
            }
            if (slot.hash != hash) continue;
            const Layout& layout = layouts_[slot.id_plus_one - 1];
            if (layout.member_count == members.size() &&
                std::equal(members.begin(), members.end(), names_.begin() + layout.first_name)) {
                return slot.id_plus_one - 1;
            }
        }
    }

    std::uint32_t size() const noexcept { return static_cast<std::uint32_t>(layouts_.size()); }
    const Layout& layout(std::uint32_t id) const noexcept { return layouts_[id]; }
    // The name at `position` in the list of all layouts' member names, each
    // layout's in text order from its first_name.
    std::uint32_t name_at(std::uint32_t position) const noexcept { return names_[position]; }
    // Text positions of the kept members, in ascending byte order of their names.
    std::span<const std::uint32_t> order(const Layout& layout) const noexcept {
        return std::span<const std::uint32_t>(order_).subspan(layout.first_order, layout.kept_count);
    }

private:
    struct Slot {
        std::uint64_t hash = 0;
        std::uint32_t id_plus_one = 0;
    };

    std::uint64_t hash(std::span<const std::uint32_t> members) const noexcept {
        const std::uint64_t secret = (seed_ ^ 0xBF58476D1CE4E5B9ull) | 1;
        std::uint64_t state = seed_ ^ members.size();
        for (const std::uint32_t name : members) state = tables::fold_multiply(state ^ name, secret);
        return tables::fold_multiply(state ^ 0x9E3779B97F4A7C15ull, secret);
    }

    std::uint32_t add(std::span<const std::uint32_t> members, const tables::StringTable& names);
    void grow();

    tables::TableVector<Layout> layouts_;
    tables::TableVector<std::uint32_t> names_;
    // The first eight bytes of a name as a big-endian number, zeros past its
    // end: ordering these orders the names, except among equal prefixes.
    static std::uint64_t name_prefix(std::string_view name) noexcept {
        if (name.size() >= 8) return format::load_u64be(name.data());
        // Most names are shorter: their bytes in a word without a loop.
        return name.empty() ? 0 : platform::byte_swap64(tables::padded_word(name.data(), name.size()));
    }

    struct Keyed {
        std::uint64_t prefix;
        std::uint32_t member;
    };

    tables::TableVector<std::uint32_t> order_;
    tables::TableVector<Keyed> keyed_;
    tables::TableVector<Slot> slots_;
    std::size_t first_slots_;  // a power of two
    std::uint64_t seed_;
};

}  // namespace vesk::dumps
