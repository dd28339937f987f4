#pragma once

#include <cmath>
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

}  // namespace vesk::format
