#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <span>

#include "loads/container_scan.hpp"

namespace vesk::loads {

// What the objects of a value take where it is built, in bytes, as the
// reading module's allocator hands them out. The module fills this in from
// its own headers.
struct ObjectSizes {
    std::uint64_t slot = 8;         // a reference in a list, and the value's half of a dict entry
    std::uint64_t number = 32;      // an int or float not shared
    std::uint64_t ascii_text = 40;  // a str of ASCII text, before its characters
    std::uint64_t wide_text = 56;   // any other str
    std::uint64_t list = 64;        // a list before its slots
    std::uint64_t dict = 64;        // a dict before its table
    std::uint64_t dict_table = 32;  // a dict table before its slots
    std::uint64_t dict_entry = 16;  // one entry of a table of str keys
    std::uint64_t granule = 16;     // blocks come in steps of this
};

// Ints from -5 to 256 are the interpreter's own shared objects.
inline constexpr bool is_shared_int(std::int64_t value) noexcept { return value >= -5 && value <= 256; }

namespace result_memory_detail {

inline constexpr std::uint64_t kSmallestDictSlots = 8;
inline constexpr std::uint64_t kSmallestDictMembers = kSmallestDictSlots * 2 / 3;
inline constexpr std::uint64_t kLongestTextName = 255;
inline constexpr std::uint64_t kWidestCharacter = 4;

constexpr std::uint64_t rounded(std::uint64_t bytes, const ObjectSizes& sizes) noexcept {
    return (bytes + sizes.granule - 1) / sizes.granule * sizes.granule;
}

constexpr std::uint64_t index_width(std::uint64_t slots) noexcept {
    if (slots <= 0x80) return 1;
    if (slots <= 0x8000) return 2;
    return 4;
}

// The builder's own tables: a key per field, a str per dictionary string, a
// flag per definition and a note of every list and dict it makes.
constexpr std::uint64_t builder_tables(const ContainerScan& scan) noexcept {
    const ScanCounts& counts = scan.counts;
    return (scan.fields.size() + scan.dict.size() + counts.arrays + counts.objects + 1) * sizeof(void*) +
           scan.definitions.size();
}

}  // namespace result_memory_detail

// The bytes of a dict of `members` str keys made at its final size: at most
// five go in the smallest table, more get one two thirds full at most, of 8
// slots or a larger power of two. Its index takes 1, 2 or 4 bytes a slot.
// Inline, as result_bounds: with sizes known when compiling, both come down
// to a few multiplications, which a short message's guard pays.
constexpr std::uint64_t dict_bytes(std::uint64_t members, const ObjectSizes& sizes) noexcept {
    using namespace result_memory_detail;
    const std::uint64_t dict = rounded(sizes.dict, sizes);
    if (members == 0) return dict;
    const std::uint64_t slots =
        members <= kSmallestDictMembers ? kSmallestDictSlots : std::bit_ceil((members * 3 + 1) / 2);
    const std::uint64_t usable = slots * 2 / 3;
    return dict + rounded(sizes.dict_table + slots * index_width(slots) + usable * sizes.dict_entry, sizes);
}

// What a str made from `length` bytes of UTF-8 text takes: `str`, 0 for the
// interpreter's shared ones (empty, or one Latin-1 character), and `peak`
// while it is made. The decoder writes text that is not ASCII into a buffer
// of a character per byte, moves it to a second such buffer of the width of
// the widest character once met, and shrinks that at the end: a text of
// emoji peaks at five times its str. The text is not validated: a fault is
// found where it is decoded.
struct TextBytes {
    std::uint64_t str = 0;
    std::uint64_t peak = 0;
};
TextBytes text_bytes(const std::uint8_t* text, std::size_t length, const ObjectSizes& sizes) noexcept;

// Bounds of what building a container's value takes, from the scan's
// counts alone: `low` at most and `high` at least what result_bytes gives.
// Both count the objects and the builder's own tables, not the scan's.
struct MemoryBounds {
    std::uint64_t low = 0;
    std::uint64_t high = 0;
};
constexpr MemoryBounds result_bounds(const ContainerScan& scan, const ObjectSizes& sizes) noexcept {
    using namespace result_memory_detail;
    const ScanCounts& counts = scan.counts;
    // Every value takes a slot of a list or a dict entry, but for the whole
    // when it is the one value of a container of one entry; every list and
    // dict takes its object.
    const std::uint64_t slots = counts.values - (scan.entries == 1 && counts.values > 0 ? 1 : 0);
    const std::uint64_t low = builder_tables(scan) + slots * sizes.slot +
                              counts.arrays * rounded(sizes.list, sizes) + counts.objects * rounded(sizes.dict, sizes);
    // A dict's table holds at most three slots and two entries per member
    // beyond the smallest; a str at most four bytes per byte of its text.
    const std::uint64_t per_member = 3 * 4 + 2 * sizes.dict_entry;
    const std::uint64_t per_text = std::max(sizes.ascii_text, sizes.wide_text) + sizes.granule + kWidestCharacter;
    // Making the largest str takes at most two buffers of five bytes per
    // byte of its text beyond it.
    const std::uint64_t texts = counts.inline_bytes + counts.dict_bytes + scan.fields.size() * kLongestTextName;
    const std::uint64_t making = 2 * (sizes.wide_text + sizes.granule) + (1 + kWidestCharacter) * (texts + 1);
    const std::uint64_t high = low + making + rounded(sizes.list, sizes) +
                               counts.objects * (dict_bytes(kSmallestDictMembers, sizes) - rounded(sizes.dict, sizes)) +
                               counts.members * per_member + counts.numbers * sizes.number +
                               (counts.inline_strings + scan.dict.size() + scan.fields.size()) * per_text +
                               texts * kWidestCharacter;
    return {low, high};
}

// What building the value of a container the scan found no fault in takes,
// object by object, by a walk that makes none: every str at its characters'
// width, shared ints and strs at nothing, each dictionary string and key
// once, numbers shared as the builder shares them, and on top the most that
// making one str takes beyond it.
std::uint64_t result_bytes(std::span<const std::uint8_t> bytes, const ContainerScan& scan, const ObjectSizes& sizes);

}  // namespace vesk::loads
