#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vesk::format {

// The one-byte type tag of the container format.
enum class VeskType : std::uint8_t {
    Null = 0x00,
    Bool = 0x01,
    Int32 = 0x02,
    Uint32 = 0x03,
    Float32 = 0x04,
    String = 0x05,
    Array = 0x10,
    Object = 0x11,
};

constexpr std::uint8_t type_byte(VeskType type) noexcept { return static_cast<std::uint8_t>(type); }

constexpr bool is_vesk_type_byte(std::uint8_t byte) noexcept {
    switch (static_cast<VeskType>(byte)) {
        case VeskType::Null:
        case VeskType::Bool:
        case VeskType::Int32:
        case VeskType::Uint32:
        case VeskType::Float32:
        case VeskType::String:
        case VeskType::Array:
        case VeskType::Object: return true;
    }
    return false;
}

inline constexpr std::size_t kTypeCount = 8;

// A different number from 0 to 7 for each type, for tables indexed by type:
// the type bytes 0 to 5 stand for themselves, Array and Object (0x10 and
// 0x11) come after them. Worked out rather than switched on, since writers
// look it up for every value.
constexpr std::size_t type_index(VeskType type) noexcept {
    return (type_byte(type) & 7u) + 6u * (type_byte(type) >> 4);
}
static_assert(type_index(VeskType::String) == 5 && type_index(VeskType::Array) == 6 &&
              type_index(VeskType::Object) == kTypeCount - 1);

// The character that stands for a type inside a shape key: '0'..'5' for the
// primitives, '6' for Array, '7' for Object.
constexpr char type_ordinal(VeskType type) noexcept { return static_cast<char>('0' + type_index(type)); }

// The same for a byte, '?' for a byte that is no type.
constexpr char type_ordinal(std::uint8_t byte) noexcept {
    return is_vesk_type_byte(byte) ? type_ordinal(static_cast<VeskType>(byte)) : '?';
}

// The enumerator's name, as messages print it ("expected Int32").
constexpr std::string_view type_name(VeskType type) noexcept {
    switch (type) {
        case VeskType::Null: return "Null";
        case VeskType::Bool: return "Bool";
        case VeskType::Int32: return "Int32";
        case VeskType::Uint32: return "Uint32";
        case VeskType::Float32: return "Float32";
        case VeskType::String: return "String";
        case VeskType::Array: return "Array";
        case VeskType::Object: return "Object";
    }
    return "?";
}

}  // namespace vesk::format
