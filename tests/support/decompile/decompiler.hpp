#pragma once

#include <string>
#include <vector>

#include "error/result.hpp"
#include "json/json_value.hpp"
#include "structure/document.hpp"

namespace vesk {

// Turns a decoded document back into a JSON value tree: no chunk gives null,
// one chunk its value, several chunks an array of their values.
Result<json::JsonValue> decompile_document(const VeskDocument& document);

// Converts a chunk's own value. A dictionary reference out of range is
// reported with the dictionary's length.
Result<json::JsonValue> chunk_to_json(const VeskChunk& chunk, const std::vector<VeskDefinition>& definitions,
                                const std::vector<std::string>& dict);

// Converts a value nested inside an array or object.
Result<json::JsonValue> data_to_json(const VeskData& data, const std::vector<VeskDefinition>& definitions,
                               const std::vector<std::string>& dict);

}  // namespace vesk
