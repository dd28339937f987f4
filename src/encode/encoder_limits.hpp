#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string_view>

#include "error/result.hpp"
#include "structure/document.hpp"

namespace vesk {

// Offsets and payload lengths are 32-bit, so no container may outgrow them.
inline constexpr std::size_t kMaxContainerSize = std::numeric_limits<std::uint32_t>::max();

// The writer with its size ceiling as a parameter: the real ceiling takes
// gigabytes to reach, so tests exercise the check with a small one.
Result<ByteBuffer> encode_document_within(const VeskDocument& document, std::size_t max_container_size);

}  // namespace vesk
