#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

namespace vesk {

// A fast 64-bit hash for the compiler's lookup tables, reading eight bytes at
// a time. Only lookups depend on it, never the output, so it needs no
// stability across versions. It is never 0: the tables use 0 to mark a free
// slot.
inline std::uint64_t hash_text(std::string_view text) noexcept {
    constexpr std::uint64_t multiplier = 0x9E3779B97F4A7C15ull;
    const char* at = text.data();
    std::size_t left = text.size();
    std::uint64_t state = 0x2545F4914F6CDD1Dull ^ (static_cast<std::uint64_t>(left) * multiplier);
    while (left >= 8) {
        std::uint64_t word;
        std::memcpy(&word, at, 8);
        state = (state ^ word) * multiplier;
        state ^= state >> 29;
        at += 8;
        left -= 8;
    }
    if (left > 0) {
        std::uint64_t word = 0;
        std::memcpy(&word, at, left);
        state = (state ^ word) * multiplier;
        state ^= state >> 29;
    }
    state *= 0xBF58476D1CE4E5B9ull;
    state ^= state >> 32;
    return state == 0 ? 1 : state;
}

}  // namespace vesk
