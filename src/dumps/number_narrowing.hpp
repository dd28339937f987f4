#pragma once

#include <bit>
#include <cstdint>

#include "format/float_narrowing.hpp"
#include "json/json_value.hpp"

namespace vesk::dumps {

// The value type a JSON value compiles to. Integers from 2^63 upwards are the
// only Uint32 values; every other integer is Int32, whatever its magnitude.
constexpr format::VeskType json_value_type(json::JsonKind kind, std::uint64_t bits) noexcept {
    switch (kind) {
        case json::JsonKind::Null: return format::VeskType::Null;
        case json::JsonKind::Bool: return format::VeskType::Bool;
        case json::JsonKind::UInt: return bits >> 63 ? format::VeskType::Uint32 : format::VeskType::Int32;
        case json::JsonKind::Int: return format::VeskType::Int32;
        case json::JsonKind::Float: return format::VeskType::Float32;
        case json::JsonKind::String: return format::VeskType::String;
        case json::JsonKind::Array: return format::VeskType::Array;
        case json::JsonKind::Object: return format::VeskType::Object;
    }
    return format::VeskType::Null;
}

// The 32 bits a JSON number is stored in: the low half of an integer, the
// nearest binary32 of a float.
inline std::uint32_t narrowed_number_bits(json::JsonKind kind, std::uint64_t bits) noexcept {
    return kind == json::JsonKind::Float ? std::bit_cast<std::uint32_t>(format::nearest_float(std::bit_cast<double>(bits)))
                                   : static_cast<std::uint32_t>(bits);
}


// A JSON number as the binary32 nearest to its full value: integers are
// rounded from all 64 bits, not from their narrowed 32. Used where numbers of
// mixed classes share one Float32 array. Anything else gives 0.
inline float json_number_as_float(json::JsonKind kind, std::uint64_t bits) noexcept {
    switch (kind) {
        case json::JsonKind::UInt: return static_cast<float>(bits);
        case json::JsonKind::Int: return static_cast<float>(static_cast<std::int64_t>(bits));
        case json::JsonKind::Float: return format::nearest_float(std::bit_cast<double>(bits));
        case json::JsonKind::Null:
        case json::JsonKind::Bool:
        case json::JsonKind::String:
        case json::JsonKind::Array:
        case json::JsonKind::Object: break;
    }
    return 0.0f;
}

}  // namespace vesk::dumps
