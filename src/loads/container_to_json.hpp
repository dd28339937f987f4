#pragma once

#include <cstdint>
#include <span>

#include "error/result.hpp"
#include "loads/json_text_builder.hpp"
#include "loads/text_out.hpp"

namespace vesk {

// The JSON text of a container: what loads makes of it, written as JSON
// without any value in between.
struct ContainerJson {
    TextOut text;       // UTF-8
    bool ascii = true;  // every byte of it below 0x80
};

// Checks the container as loads does, with its messages (Parse errors), and
// writes its text. A non-finite float without layout.allow_nan is an
// UnsupportedType error that names the value's path.
Result<ContainerJson> container_to_json(std::span<const std::uint8_t> container, const JsonTextLayout& layout);

}  // namespace vesk
