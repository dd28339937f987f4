#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

namespace vesk::format {

// How large and how deep things may be, for every part that writes or reads
// a container. The producers (the JSON reader for dumps, emit) nest no deeper
// than the reader reads, and the writer refuses only what the container
// cannot express, so whatever is written reads back.

// The writer. Counts are stored in 16 bits, a field name's length in one
// byte, a string's length in at most three bytes, and offsets and payload
// lengths in 32 bits.
inline constexpr std::size_t kMaxDefinitions = 65535;
inline constexpr std::size_t kMaxFields = 65535;
inline constexpr std::size_t kMaxArrayItems = 65535;
inline constexpr std::size_t kMaxFieldNameLength = 255;
inline constexpr std::size_t kMaxStringLength = 16777215;
inline constexpr std::size_t kMaxContainerSize = std::numeric_limits<std::uint32_t>::max();

// The reader. Definition and field counts are bounded only by their 16-bit
// fields, as on the writer's side; the entry count and the depth bound what
// a hostile container costs. The chunk's own value sits at depth 1.
inline constexpr std::size_t kMaxReadEntries = 1048576;
inline constexpr unsigned kMaxReadDepth = 128;

// emit: lists and dicts nested at most this deep, the outermost counting 1.
inline constexpr unsigned kMaxEmitNesting = kMaxReadDepth;

// The JSON reader: arrays and objects open at once; opening one more is
// refused. Each becomes one level of the compiled value.
inline constexpr unsigned kMaxJsonNesting = 127;
static_assert(kMaxJsonNesting <= kMaxReadDepth, "dumps must not write what loads cannot read");

}  // namespace vesk::format
