#pragma once

#include <string>

#include "json/json_scanner.hpp"

namespace vesk {

// Reads the rest of a string whose opening quote has been consumed, resolving
// escapes, into `out` as UTF-8; leaves the scanner after the closing quote.
// Raw bytes that are not well-formed UTF-8 are refused once the string is
// complete, so any other fault inside it is reported first.
bool read_json_string(json::JsonScanner& scanner, std::string& out);

}  // namespace vesk
