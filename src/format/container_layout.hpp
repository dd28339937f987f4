#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vesk::format {

// The fixed parts of a container's byte layout; every number is little-endian.

// A container's bytes, or any other run of bytes.
using ByteBuffer = std::vector<std::uint8_t>;

// The header: the version byte, then the 32-bit offsets of the definition,
// dictionary and data blocks.
inline constexpr std::uint8_t kFormatVersion = 1;
inline constexpr std::size_t kVersionAt = 0;
inline constexpr std::size_t kDefBlockOffsetAt = 1;
inline constexpr std::size_t kDictBlockOffsetAt = 5;
inline constexpr std::size_t kDataBlockOffsetAt = 9;
inline constexpr std::size_t kHeaderSize = 13;
static_assert(kDataBlockOffsetAt + 4 == kHeaderSize);

// The counts that open the three blocks: definitions in 16 bits, dictionary
// strings and data entries in 32.
inline constexpr std::size_t kDefinitionCountSize = 2;
inline constexpr std::size_t kStringCountSize = 4;
inline constexpr std::size_t kEntryCountSize = 4;

// A definition record: the kind byte and the 16-bit index, then for an array
// the element type byte, for an object the 16-bit field count and the fields,
// each a name length byte, the name and the type byte.
inline constexpr std::size_t kDefinitionHeaderSize = 3;
inline constexpr std::size_t kArrayDefinitionSize = kDefinitionHeaderSize + 1;
inline constexpr std::size_t kObjectDefinitionHeaderSize = kDefinitionHeaderSize + 2;

// A data entry's header: its definition number (16 bits) and the length of
// its payload (32 bits).
inline constexpr std::size_t kEntryHeaderSize = 6;

// An array value's header: its own definition number, its elements'
// definition number and its item count, 16 bits each.
inline constexpr std::size_t kArrayHeaderSize = 6;

// An object value's header: its own definition number (16 bits). Its values
// follow in field order.
inline constexpr std::size_t kObjectHeaderSize = 2;

// Positions 0..5 of every definition block a writer makes: Null, Bool,
// Int32, Uint32, Float32, String, each with index and kind equal to its
// position. Writers number their shapes from the position after them.
inline constexpr std::uint16_t kPrimitiveDefinitionCount = 6;

// The smallest field of an object definition: a name length byte for an
// empty name, and the type byte.
inline constexpr std::size_t kMinFieldSize = 2;

}  // namespace vesk::format
