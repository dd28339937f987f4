#pragma once

#include <string_view>

#include "error/result.hpp"
#include "structure/document.hpp"

namespace vesk {

// Parses JSON text and compiles it into a one-chunk document.
Result<VeskDocument> compile_json_str(std::string_view json_text);

}  // namespace vesk
