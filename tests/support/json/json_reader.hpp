#pragma once

#include <string_view>

#include "error/result.hpp"
#include "json/json_value.hpp"

namespace vesk {

// Parses one complete JSON text (UTF-8 bytes) into a value tree. Failures are
// VeskError kind Parse with "{description} at line {line} column {column}".
Result<json::JsonValue> parse_json(std::string_view text);

}  // namespace vesk
