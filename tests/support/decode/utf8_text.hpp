#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "error/result.hpp"

namespace vesk {

// Copies `bytes` into `out` if they are valid UTF-8; otherwise fails with
// "Invalid UTF-8 {place}: {description}" and leaves `out` untouched.
Status copy_utf8_text(std::span<const std::uint8_t> bytes, std::string_view place, std::string& out);

}  // namespace vesk
