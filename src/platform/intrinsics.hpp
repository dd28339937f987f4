#pragma once

// The few things the core needs from a compiler or a machine beyond standard
// C++: byte swaps, the full product of two 64-bit numbers and a prefetch
// hint. Each has a plain C++ form for compilers without the builtin, so that
// every platform builds the same code and, where a result is visible, gets
// the same result.

#include <bit>
#include <cfloat>
#include <cstdint>

#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#include <stdlib.h>
#endif

// The conversions of numbers compute with doubles and rely on each
// operation rounding once, to double precision; with excess precision (x87
// arithmetic on 32-bit x86) some floats would come out one unit off.
#if FLT_EVAL_METHOD != 0
#error "vesk needs double arithmetic without excess precision: on 32-bit x86, build with -msse2 -mfpmath=sse"
#endif

namespace vesk::platform {

inline constexpr bool kLittleEndianMachine = std::endian::native == std::endian::little;

inline std::uint64_t byte_swap64(std::uint64_t value) noexcept {
#if defined(__GNUC__) || defined(__clang__)
    return __builtin_bswap64(value);
#elif defined(_MSC_VER)
    return _byteswap_uint64(value);
#else
    value = ((value & 0x00FF00FF00FF00FFull) << 8) | ((value >> 8) & 0x00FF00FF00FF00FFull);
    value = ((value & 0x0000FFFF0000FFFFull) << 16) | ((value >> 16) & 0x0000FFFF0000FFFFull);
    return (value << 32) | (value >> 32);
#endif
}

inline std::uint32_t byte_swap32(std::uint32_t value) noexcept {
#if defined(__GNUC__) || defined(__clang__)
    return __builtin_bswap32(value);
#elif defined(_MSC_VER)
    return _byteswap_ulong(value);
#else
    value = ((value & 0x00FF00FFu) << 8) | ((value >> 8) & 0x00FF00FFu);
    return (value << 16) | (value >> 16);
#endif
}

struct WideProduct {
    std::uint64_t low;
    std::uint64_t high;
};

// The product from four 32-bit partial products, for compilers with neither
// a 128-bit type nor an intrinsic for the high half (32-bit targets). Kept
// apart from multiply_wide so that every machine can test it.
inline constexpr WideProduct multiply_wide_portable(std::uint64_t a, std::uint64_t b) noexcept {
    const std::uint64_t a_low = a & 0xFFFFFFFFu, a_high = a >> 32;
    const std::uint64_t b_low = b & 0xFFFFFFFFu, b_high = b >> 32;
    const std::uint64_t low_low = a_low * b_low;
    const std::uint64_t high_low = a_high * b_low;
    const std::uint64_t low_high = a_low * b_high;
    const std::uint64_t high_high = a_high * b_high;
    // The middle column: at most three 32-bit values, so it cannot overflow.
    const std::uint64_t middle = (low_low >> 32) + (high_low & 0xFFFFFFFFu) + (low_high & 0xFFFFFFFFu);
    return {(middle << 32) | (low_low & 0xFFFFFFFFu), high_high + (high_low >> 32) + (low_high >> 32) + (middle >> 32)};
}

// The full 128-bit product of two 64-bit numbers, in one instruction where
// the machine has one.
inline WideProduct multiply_wide(std::uint64_t a, std::uint64_t b) noexcept {
#if defined(__SIZEOF_INT128__)
    const unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
    return {static_cast<std::uint64_t>(product), static_cast<std::uint64_t>(product >> 64)};
#elif defined(_MSC_VER) && defined(_M_X64)
    std::uint64_t high;
    const std::uint64_t low = _umul128(a, b, &high);
    return {low, high};
#elif defined(_MSC_VER) && defined(_M_ARM64)
    return {a * b, __umulh(a, b)};
#else
    return multiply_wide_portable(a, b);
#endif
}

// A hint that the memory at `at` is read soon; nothing where the compiler
// has no way to say it.
inline void prefetch(const void* at) noexcept {
#if defined(__GNUC__) || defined(__clang__)
    __builtin_prefetch(at);
#else
    (void)at;
#endif
}

}  // namespace vesk::platform
