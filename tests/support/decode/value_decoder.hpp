#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "error/result.hpp"
#include "structure/document.hpp"

namespace vesk {

// Each routine decodes the value at the start of `range` into `out`, which
// the caller passes default-constructed, and returns the number of bytes the
// value took. `range` runs to the end of the enclosing entry payload, so a
// value can never read into the next entry. `depth` is the nesting level of
// the value itself, 1 for a chunk's own value.
Result<std::size_t> decode_array_value(std::span<const std::uint8_t> range,
                                       const std::vector<VeskDefinition>& definitions, unsigned depth,
                                       VeskData& out);
Result<std::size_t> decode_object_value(std::span<const std::uint8_t> range,
                                        const std::vector<VeskDefinition>& definitions, unsigned depth,
                                        VeskData& out);
Result<std::size_t> decode_primitive_value(std::span<const std::uint8_t> range, format::VeskType type, VeskData& out);

// Dispatches on `type`: compound types to their routine at `depth`, the rest
// to decode_primitive_value.
Result<std::size_t> decode_typed_value(std::span<const std::uint8_t> range, format::VeskType type,
                                       const std::vector<VeskDefinition>& definitions, unsigned depth,
                                       VeskData& out);

}  // namespace vesk
