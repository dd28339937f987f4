#pragma once

#include <cstdint>

namespace vesk {

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

}  // namespace vesk
