#pragma once

#include <bit>
#include <cstdint>

#include "format/float_narrowing.hpp"
#include "json/json_value.hpp"

namespace vesk {

// The value type a JSON value compiles to. Integers from 2^63 upwards are the
// only Uint32 values; every other integer is Int32, whatever its magnitude.
constexpr VeskType json_value_type(JsonKind kind, std::uint64_t bits) noexcept {
    switch (kind) {
        case JsonKind::Null: return VeskType::Null;
        case JsonKind::Bool: return VeskType::Bool;
        case JsonKind::UInt: return bits >> 63 ? VeskType::Uint32 : VeskType::Int32;
        case JsonKind::Int: return VeskType::Int32;
        case JsonKind::Float: return VeskType::Float32;
        case JsonKind::String: return VeskType::String;
        case JsonKind::Array: return VeskType::Array;
        case JsonKind::Object: return VeskType::Object;
    }
    return VeskType::Null;
}

// The 32 bits a JSON number is stored in: the low half of an integer, the
// nearest binary32 of a float.
inline std::uint32_t narrowed_number_bits(JsonKind kind, std::uint64_t bits) noexcept {
    return kind == JsonKind::Float ? std::bit_cast<std::uint32_t>(nearest_float(std::bit_cast<double>(bits)))
                                   : static_cast<std::uint32_t>(bits);
}


// A JSON number as the binary32 nearest to its full value: integers are
// rounded from all 64 bits, not from their narrowed 32. Used where numbers of
// mixed classes share one Float32 array. Anything else gives 0.
inline float json_number_as_float(JsonKind kind, std::uint64_t bits) noexcept {
    switch (kind) {
        case JsonKind::UInt: return static_cast<float>(bits);
        case JsonKind::Int: return static_cast<float>(static_cast<std::int64_t>(bits));
        case JsonKind::Float: return nearest_float(std::bit_cast<double>(bits));
        case JsonKind::Null:
        case JsonKind::Bool:
        case JsonKind::String:
        case JsonKind::Array:
        case JsonKind::Object: break;
    }
    return 0.0f;
}

}  // namespace vesk
