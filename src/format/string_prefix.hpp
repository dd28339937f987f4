#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "format/byte_order.hpp"
#include "format/format_limits.hpp"

namespace vesk::format {

// What the first byte of a string announces. A string's bytes follow a
// prefix holding their length, in the smallest class that holds it:
//   Short   below 0x80 bytes    the length itself
//   Medium  below 0x4000 bytes  0x80 | the length's high six bits, then its low byte
//   Long    up to 0xFFFFFF      0xFE, then the length in three bytes
// Where a value is read, 0xFF announces a dictionary reference instead: the
// marker, then the entry's 32-bit index.
enum class StringClass : std::uint8_t { Short, Medium, Long, Reference };

inline constexpr std::uint8_t kLongStringMarker = 0xFE;
inline constexpr std::uint8_t kStrRefMarker = 0xFF;
inline constexpr std::size_t kMaxLengthPrefixSize = 4;
static_assert(kMaxStringLength < std::size_t{1} << 24, "a long prefix holds three bytes of length");

// The writer gives medium prefixes a first byte of 0x80 to 0xBF only; 0xC0
// to 0xFD read as medium too, by their low six bits.
constexpr StringClass string_class_of(std::uint8_t first) noexcept {
    if (first < 0x80) return StringClass::Short;
    if (first < kLongStringMarker) return StringClass::Medium;
    if (first == kLongStringMarker) return StringClass::Long;
    return StringClass::Reference;
}

// Whether the writer ever starts a string's prefix with this byte.
constexpr bool is_written_string_start(std::uint8_t first) noexcept {
    return first < 0xC0 || first == kLongStringMarker;
}

// The bytes a prefix of the class takes; for a reference, the whole value.
constexpr std::size_t string_prefix_size(StringClass string_class) noexcept {
    switch (string_class) {
        case StringClass::Short: return 1;
        case StringClass::Medium: return 2;
        case StringClass::Long: return 4;
        case StringClass::Reference: return 5;
    }
    return 1;
}

// The length held by the prefix at `prefix`, whose string_prefix_size bytes the
// caller has checked are there. A reference holds no text.
constexpr std::size_t prefixed_length(StringClass string_class, const std::uint8_t* prefix) noexcept {
    switch (string_class) {
        case StringClass::Short: return prefix[0];
        case StringClass::Medium: return (static_cast<std::size_t>(prefix[0] & 0x3F) << 8) | prefix[1];
        case StringClass::Long: return load_u24le(prefix + 1);
        case StringClass::Reference: return 0;
    }
    return 0;
}

// The class's name as the reader's messages give it.
constexpr std::string_view string_class_name(StringClass string_class) noexcept {
    switch (string_class) {
        case StringClass::Short: return "short";
        case StringClass::Medium: return "medium";
        case StringClass::Long: return "long";
        case StringClass::Reference: return "StrRef";
    }
    return "?";
}

struct LengthPrefix {
    std::uint8_t bytes[kMaxLengthPrefixSize] = {};
    std::size_t size = 0;
};

// The prefix of the smallest class that holds `length`, which must not
// exceed kMaxStringLength.
constexpr LengthPrefix length_prefix_for(std::size_t length) noexcept {
    auto byte = [](std::size_t value) { return static_cast<std::uint8_t>(value & 0xFF); };
    if (length < 0x80) return LengthPrefix{{byte(length)}, 1};
    if (length < 0x4000) return LengthPrefix{{byte(0x80 | (length >> 8)), byte(length)}, 2};
    return LengthPrefix{{kLongStringMarker, byte(length), byte(length >> 8), byte(length >> 16)}, 4};
}

// Bytes of a string's encoding: its length prefix and its text.
constexpr std::size_t string_encoding_size(std::size_t length) noexcept {
    return length_prefix_for(length).size + length;
}

}  // namespace vesk::format
