#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "decompile/object_layout.hpp"
#include "error/vesk_error.hpp"
#include "json/json_value.hpp"
#include "structure/document.hpp"

namespace vesk {

// One conversion walk over values of a single document. It remembers the
// member layout of each object definition it meets, so an array of a
// thousand objects sorts its field names once.
class JsonConverter {
public:
    JsonConverter(const std::vector<VeskDefinition>& definitions, const std::vector<std::string>& dict)
        : definitions_(definitions), dict_(dict) {}

    // Fills `out` (default-constructed) from `data`; `nested` is false for a
    // chunk's own value. On failure `error()` tells why and `out` is garbage.
    bool convert(const VeskData& data, json::JsonValue& out, bool nested);

    VeskError&& take_error() { return std::move(error_); }

private:
    bool fail(std::string message);
    bool convert_str_ref(std::uint32_t index, json::JsonValue& out, bool nested);
    bool convert_array(const VeskData& data, json::JsonValue& out);
    bool convert_object(const VeskData& data, json::JsonValue& out);
    // Position of the definition numbered `index`, if any.
    std::optional<std::size_t> find_definition(std::uint16_t index);
    const ObjectLayout& layout_at(std::size_t position);

    const std::vector<VeskDefinition>& definitions_;
    const std::vector<std::string>& dict_;
    std::vector<std::optional<ObjectLayout>> layouts_;
    std::unordered_map<std::uint16_t, std::size_t> searched_;
    VeskError error_;
};

}  // namespace vesk
