#pragma once

#include "json/json_scanner.hpp"
#include "json/json_value.hpp"

namespace vesk::json {

// Reads one number starting at the scanner's position (a '-' or a digit) into
// `out`: a non-negative integer up to 2^64 - 1 as UInt, a negative integer down
// to -2^63 as Int, anything else (fraction, exponent, -0, wider integers) as
// the nearest double. The byte after the number is left for the caller.
bool read_json_number(JsonScanner& scanner, JsonValue& out);

}  // namespace vesk::json
