#pragma once

#include <cstdint>
#include <cstring>

#include "platform/intrinsics.hpp"

namespace vesk::format {

// Little-endian reads and writes at a position the caller has already
// bounds-checked.
inline std::uint16_t load_u16le(const std::uint8_t* at) noexcept {
    return static_cast<std::uint16_t>(at[0] | (at[1] << 8));
}

inline std::uint32_t load_u24le(const std::uint8_t* at) noexcept {
    return static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8) |
           (static_cast<std::uint32_t>(at[2]) << 16);
}

inline std::uint32_t load_u32le(const std::uint8_t* at) noexcept {
    return load_u24le(at) | (static_cast<std::uint32_t>(at[3]) << 24);
}

inline void store_u16le(std::uint8_t* at, std::uint16_t value) noexcept {
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

inline void store_u32le(std::uint8_t* at, std::uint32_t value) noexcept {
    store_u16le(at, static_cast<std::uint16_t>(value));
    store_u16le(at + 2, static_cast<std::uint16_t>(value >> 16));
}

// Words of 8 bytes at any address, as little-endian numbers on every machine
// (and one big-endian load, whose values compare as the bytes do): code that
// shifts a word as if its first byte were the low one then means the same
// bytes everywhere. On little-endian machines they are plain moves.
inline std::uint64_t load_u64le(const void* at) noexcept {
    std::uint64_t word;
    std::memcpy(&word, at, 8);
    if constexpr (!platform::kLittleEndianMachine) word = platform::byte_swap64(word);
    return word;
}

inline void store_u64le(void* at, std::uint64_t word) noexcept {
    if constexpr (!platform::kLittleEndianMachine) word = platform::byte_swap64(word);
    std::memcpy(at, &word, 8);
}

inline std::uint64_t load_u64be(const void* at) noexcept {
    std::uint64_t word;
    std::memcpy(&word, at, 8);
    if constexpr (platform::kLittleEndianMachine) word = platform::byte_swap64(word);
    return word;
}

}  // namespace vesk::format
