#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vesk {

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

// The character that stands for a type inside a shape key: '0'..'5' for the
// primitives, '6' for Array, '7' for Object.
constexpr char type_ordinal(VeskType type) noexcept {
    switch (type) {
        case VeskType::Null: return '0';
        case VeskType::Bool: return '1';
        case VeskType::Int32: return '2';
        case VeskType::Uint32: return '3';
        case VeskType::Float32: return '4';
        case VeskType::String: return '5';
        case VeskType::Array: return '6';
        case VeskType::Object: return '7';
    }
    return '?';
}

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

}  // namespace vesk
