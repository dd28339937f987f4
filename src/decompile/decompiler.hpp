#pragma once

#include "error/result.hpp"
#include "json/json_value.hpp"
#include "structure/document.hpp"

namespace vesk {

// Turns a decoded document back into a JSON value tree: no chunk gives null,
// one chunk its value, several chunks an array of their values.
Result<JsonValue> decompile_document(const VeskDocument& document);

}  // namespace vesk
