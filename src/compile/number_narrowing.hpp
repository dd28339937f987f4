#pragma once

#include <cstdint>

#include "json/json_value.hpp"
#include "structure/document.hpp"
#include "structure/float_narrowing.hpp"

namespace vesk {

// The value type a JSON value compiles to. Integers from 2^63 upwards are the
// only Uint32 values; every other integer is Int32, whatever its magnitude.
constexpr VeskType json_value_type(const JsonValue& value) noexcept {
    switch (value.kind) {
        case JsonKind::Null: return VeskType::Null;
        case JsonKind::Bool: return VeskType::Bool;
        case JsonKind::UInt: return value.bits >> 63 ? VeskType::Uint32 : VeskType::Int32;
        case JsonKind::Int: return VeskType::Int32;
        case JsonKind::Float: return VeskType::Float32;
        case JsonKind::String: return VeskType::String;
        case JsonKind::Array: return VeskType::Array;
        case JsonKind::Object: return VeskType::Object;
    }
    return VeskType::Null;
}

// A JSON number narrowed to 32 bits: integers keep their low 32 bits,
// floats become the nearest binary32. Anything else is no number and gives
// a Null value.
inline VeskData narrow_json_number(const JsonValue& value) noexcept {
    auto low_bits = static_cast<std::uint32_t>(value.bits);
    switch (value.kind) {
        case JsonKind::UInt:
            return value.bits >> 63 ? VeskData::uint32(low_bits)
                                    : VeskData::int32(static_cast<std::int32_t>(low_bits));
        case JsonKind::Int: return VeskData::int32(static_cast<std::int32_t>(low_bits));
        case JsonKind::Float: return VeskData::float32(nearest_float(value.as_double()));
        case JsonKind::Null:
        case JsonKind::Bool:
        case JsonKind::String:
        case JsonKind::Array:
        case JsonKind::Object: break;
    }
    return VeskData::null();
}

// A JSON number as the binary32 nearest to its full value: integers are
// rounded from all 64 bits, not from their narrowed 32. Used where numbers of
// mixed classes share one Float32 array. Anything else gives 0.
inline float json_number_as_float(const JsonValue& value) noexcept {
    switch (value.kind) {
        case JsonKind::UInt: return static_cast<float>(value.as_uint());
        case JsonKind::Int: return static_cast<float>(value.as_int());
        case JsonKind::Float: return nearest_float(value.as_double());
        case JsonKind::Null:
        case JsonKind::Bool:
        case JsonKind::String:
        case JsonKind::Array:
        case JsonKind::Object: break;
    }
    return 0.0f;
}

}  // namespace vesk
