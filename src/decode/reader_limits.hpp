#pragma once

#include <cstddef>
#include <cstdint>

namespace vesk {

// What the reader accepts. The writer can produce larger documents; these
// bounds keep a hostile container from costing unbounded time or memory.
inline constexpr std::size_t kContainerHeaderSize = 13;
inline constexpr std::uint8_t kSupportedVersion = 1;
inline constexpr std::size_t kMaxReadDefinitions = 2048;
inline constexpr std::size_t kMaxReadFields = 256;
inline constexpr std::size_t kMaxReadEntries = 1048576;
// The chunk's own value sits at depth 1.
inline constexpr unsigned kMaxReadDepth = 128;

// Smallest encodings: what a count read from the input may claim at most
// once the remaining bytes are known.
inline constexpr std::size_t kEntryHeaderSize = 6;
inline constexpr std::size_t kArrayHeaderSize = 6;

}  // namespace vesk
