#pragma once

#include <cstddef>
#include <cstdint>

namespace vesk {

// What the reader accepts. Definition and field counts are bounded only by
// their 16-bit fields, as on the writer's side, so whatever is written reads
// back; the entry count and the depth bound what a hostile container costs.
inline constexpr std::size_t kContainerHeaderSize = 13;
inline constexpr std::uint8_t kSupportedVersion = 1;
inline constexpr std::size_t kMaxReadEntries = 1048576;
// The chunk's own value sits at depth 1.
inline constexpr unsigned kMaxReadDepth = 128;

// Smallest encodings: what a count read from the input may claim at most
// once the remaining bytes are known.
inline constexpr std::size_t kEntryHeaderSize = 6;
inline constexpr std::size_t kArrayHeaderSize = 6;
inline constexpr std::size_t kMinFieldSize = 2;

}  // namespace vesk
