#pragma once

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

// The bytes of a dict of `members` str keys made at its final size: at most
// five go in the smallest table, more get one two thirds full at most, of 8
// slots or a larger power of two. Its index takes 1, 2 or 4 bytes a slot.
std::uint64_t dict_bytes(std::uint64_t members, const ObjectSizes& sizes) noexcept;

// The bytes of a str made from `length` bytes of UTF-8 text; 0 for the
// interpreter's shared ones (empty, or one Latin-1 character). The text is
// not validated: a fault is found where it is decoded.
std::uint64_t text_bytes(const std::uint8_t* text, std::size_t length, const ObjectSizes& sizes) noexcept;

// Bounds of what building a container's value takes, from the scan's
// counts alone: `low` at most and `high` at least what result_bytes gives.
// Both count the objects and the builder's own tables, not the scan's.
struct MemoryBounds {
    std::uint64_t low = 0;
    std::uint64_t high = 0;
};
MemoryBounds result_bounds(const ContainerScan& scan, const ObjectSizes& sizes) noexcept;

// What building the value of a container the scan found no fault in takes,
// object by object, by a walk that makes none: every str at its characters'
// width, shared ints and strs at nothing, each dictionary string and key
// once. Numbers shared because they repeat are counted each time.
std::uint64_t result_bytes(std::span<const std::uint8_t> bytes, const ContainerScan& scan, const ObjectSizes& sizes);

}  // namespace vesk::loads
