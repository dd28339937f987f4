#pragma once

#include <cstdint>
#include <span>

#include "error/result.hpp"
#include "structure/document.hpp"

namespace vesk {

// Validates and parses a container. Never reads outside `bytes`; returns the
// whole document or the first error found.
Result<VeskDocument> decode_document(std::span<const std::uint8_t> bytes);

}  // namespace vesk
