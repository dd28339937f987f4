#pragma once

#include <cstddef>
#include <optional>

#include "dumps/json_container_parts.hpp"
#include "error/vesk_error.hpp"

namespace vesk::dumps {

// The fault that refuses a read text, if any, as the compiler and then the
// writer meet them: the first array whose items disagree, in the writer's
// order (members by name, each container after its contents); then the
// definition count; then, in output order, the definitions, the dictionary
// and the data, where the container's size is checked before each thing
// that can fail and is refused once past `max_container_size`.
//
// The builder notes what may break a rule or a limit and reads on; this
// walk, which is taken only then (or for a container too large), decides.
// Faults that only values dropped by a repeated member name hold refuse
// nothing: the walk never meets them.
std::optional<VeskError> first_refusal(const JsonContainerParts& parts, std::size_t max_container_size);

}  // namespace vesk::dumps
