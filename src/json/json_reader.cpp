#include "json/json_reader.hpp"

namespace vesk {

// Placeholder until the reader lands.
Result<JsonValue> parse_json(std::string_view) { return VeskError::parse("JSON reader not built yet"); }

}  // namespace vesk
