#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "error/result.hpp"
#include "structure/document.hpp"

namespace vesk {

// Validates and parses a container. Never reads outside `bytes`; returns the
// whole document or the first error found.
Result<VeskDocument> decode_document(std::span<const std::uint8_t> bytes);

// Owned copy of `bytes` if they are valid UTF-8, else the error
// "Invalid UTF-8 string: {description}".
Result<std::string> str_from_utf8(std::span<const std::uint8_t> bytes);

}  // namespace vesk
