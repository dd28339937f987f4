#pragma once

#include <cstddef>

#include "error/vesk_error.hpp"

namespace vesk::format {

// The writer's refusals of what the container cannot hold. Besides the
// document writer, emit's one-pass writer reports them, in the same order.
VeskError too_many_definitions(std::size_t count);
VeskError too_many_fields(std::size_t definition, std::size_t count);
VeskError field_name_too_long();
VeskError string_too_long();
VeskError too_many_items(std::size_t count);
// Named after the format's ceiling even where a test passes a lower one.
VeskError container_too_large();

}  // namespace vesk::format
