#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

#include "structure/document.hpp"

namespace vesk {

// Little-endian appends onto a growing byte buffer, plus patching of a
// 32-bit field written earlier as a placeholder.
inline void append_u8(format::ByteBuffer& out, std::uint8_t value) { out.push_back(value); }

inline void append_u16(format::ByteBuffer& out, std::uint16_t value) {
    const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8)};
    out.insert(out.end(), bytes, bytes + 2);
}

inline void append_u32(format::ByteBuffer& out, std::uint32_t value) {
    const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                                   static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
    out.insert(out.end(), bytes, bytes + 4);
}

inline void append_bytes(format::ByteBuffer& out, std::string_view text) {
    const auto* begin = reinterpret_cast<const std::uint8_t*>(text.data());
    out.insert(out.end(), begin, begin + text.size());
}

inline void patch_u32(format::ByteBuffer& out, std::size_t at, std::uint32_t value) {
    out[at] = static_cast<std::uint8_t>(value);
    out[at + 1] = static_cast<std::uint8_t>(value >> 8);
    out[at + 2] = static_cast<std::uint8_t>(value >> 16);
    out[at + 3] = static_cast<std::uint8_t>(value >> 24);
}

}  // namespace vesk
