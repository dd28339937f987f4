#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace vesk::format {

// The binary32 nearest to a binary64, ties to even; magnitudes from halfway
// between the largest float and 2^128 upwards become infinity, NaN stays NaN.
// Spelled out because a double outside the float range is undefined behaviour
// for a plain conversion, even though the hardware rounds exactly like this.
inline float nearest_float(double value) noexcept {
    constexpr double largest = std::numeric_limits<float>::max();
    constexpr double overflow_threshold = 0x1.ffffffp127;  // largest + half an ulp
    double magnitude = std::fabs(value);
    if (magnitude > largest) {
        float bound = magnitude >= overflow_threshold ? std::numeric_limits<float>::infinity()
                                                      : std::numeric_limits<float>::max();
        return std::signbit(value) ? -bound : bound;
    }
    return static_cast<float>(value);
}

// Whether narrowing `value` to `narrowed` (its nearest_float) loses it
// rather than rounding it: a finite non-zero value that becomes infinite or
// zero. Rounding to binary32's precision is the format's declared precision.
inline bool narrowing_loses(double value, float narrowed) noexcept {
    return (narrowed == 0.0f || std::isinf(narrowed)) && value != 0.0 && std::isfinite(value);
}

// The binary32 nearest to an integer, from all of its 64 bits, and whether it
// equals the integer: where integers become floats (arrays of mixed
// numbers), one it does not equal is changed.
inline bool float_holds(std::int64_t value) noexcept {
    const float narrowed = static_cast<float>(value);
    // 2^63 itself: the float is exact, but no int64 equals it.
    if (narrowed >= 0x1p63f) return false;
    return static_cast<std::int64_t>(narrowed) == value;
}
inline bool float_holds(std::uint64_t value) noexcept {
    const float narrowed = static_cast<float>(value);
    if (narrowed >= 0x1p64f) return false;
    return static_cast<std::uint64_t>(narrowed) == value;
}

}  // namespace vesk::format
