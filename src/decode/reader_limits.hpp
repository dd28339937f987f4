#pragma once

#include <cstddef>
#include <cstdint>

#include "structure/format_limits.hpp"

namespace vesk {

inline constexpr std::size_t kContainerHeaderSize = 13;
inline constexpr std::uint8_t kSupportedVersion = 1;

// Smallest encodings: what a count read from the input may claim at most
// once the remaining bytes are known.
inline constexpr std::size_t kEntryHeaderSize = 6;
inline constexpr std::size_t kArrayHeaderSize = 6;
inline constexpr std::size_t kMinFieldSize = 2;

}  // namespace vesk
