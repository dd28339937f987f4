#pragma once

#include <bit>
#include <cstdint>

#include "dumps/number_narrowing.hpp"
#include "json/json_value.hpp"
#include "structure/document.hpp"

namespace vesk {

// The narrowing of a value tree's numbers, as the document compiler takes
// them: the rules themselves are those of dumps/number_narrowing.hpp.

constexpr format::VeskType json_value_type(const json::JsonValue& value) noexcept { return dumps::json_value_type(value.kind, value.bits); }

// A JSON number narrowed to 32 bits: integers keep their low 32 bits,
// floats become the nearest binary32. Anything else is no number and gives
// a Null value.
inline VeskData narrow_json_number(json::JsonKind kind, std::uint64_t bits) noexcept {
    auto low_bits = static_cast<std::uint32_t>(bits);
    switch (kind) {
        case json::JsonKind::UInt:
            return bits >> 63 ? VeskData::uint32(low_bits) : VeskData::int32(static_cast<std::int32_t>(low_bits));
        case json::JsonKind::Int: return VeskData::int32(static_cast<std::int32_t>(low_bits));
        case json::JsonKind::Float: return VeskData::float32(format::nearest_float(std::bit_cast<double>(bits)));
        case json::JsonKind::Null:
        case json::JsonKind::Bool:
        case json::JsonKind::String:
        case json::JsonKind::Array:
        case json::JsonKind::Object: break;
    }
    return VeskData::null();
}

inline VeskData narrow_json_number(const json::JsonValue& value) noexcept { return narrow_json_number(value.kind, value.bits); }

inline float json_number_as_float(const json::JsonValue& value) noexcept { return dumps::json_number_as_float(value.kind, value.bits); }

}  // namespace vesk
