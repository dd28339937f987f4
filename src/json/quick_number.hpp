#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <limits>
#include <type_traits>

#include "json/json_value.hpp"

namespace vesk::json {

// A JSON number read in one pass over its digits, for the common case: up
// to 19 significant digits and a short exponent, settled exactly as an
// integer, a double or (for a reader that keeps no more) a binary32. What
// that pass cannot settle exactly (more digits, far exponents, integers
// beyond 64 bits, -0, malformed numbers) is left to read_json_number, which
// also describes what is wrong.

namespace quick_number {
// The significand of a decimal number, as long as it stays below 10^19
// (19 significant digits; leading zeros cost nothing).
template <class Unit>
struct DecimalDigits {
    static constexpr bool kUtf8 = std::is_same_v<Unit, char>;
    static bool is_digit(Unit c) noexcept { return c >= '0' && c <= '9'; }
    static int digit_value(Unit c) noexcept { return static_cast<int>(c) - '0'; }

    std::uint64_t significand = 0;
    int scale = 0;  // fraction digits taken
    bool exact = true;

    static constexpr std::uint64_t powers[9] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};
    static constexpr std::uint64_t limit = 10000000000000000000ull;
    // limit / powers[count]: a division by a number from a table would
    // take as long as reading the digits.
    static constexpr std::uint64_t limits[9] = {
        limit / powers[0], limit / powers[1], limit / powers[2], limit / powers[3], limit / powers[4],
        limit / powers[5], limit / powers[6], limit / powers[7], limit / powers[8]};

    // How many of the eight bytes of `word` (the first in its low byte)
    // are digits before the first that is not. A carry out of a byte
    // needs a byte above '9', so it never reaches a verdict that counts.
    [[gnu::always_inline]] static int leading_digits(std::uint64_t word) noexcept {
        const std::uint64_t others = ((word & 0xF0F0F0F0F0F0F0F0ull) ^ 0x3030303030303030ull) |
                                     (((word + 0x0606060606060606ull) & 0xF0F0F0F0F0F0F0F0ull) ^ 0x3030303030303030ull);
        return others == 0 ? 8 : std::countr_zero(others) >> 3;
    }

    // The value of the eight digit characters in `word`, the first most
    // significant.
    [[gnu::always_inline]] static std::uint64_t eight_digits_value(std::uint64_t word) noexcept {
        word -= 0x3030303030303030ull;
        word = word * 10 + (word >> 8);
        return (((word & 0x000000FF000000FFull) * (100 + (1000000ull << 32))) +
                (((word >> 16) & 0x000000FF000000FFull) * (1 + (10000ull << 32)))) >> 32;
    }

    // The digits of a word that starts with `count` (1 to 8) of them, moved
    // to the top, zeros filling in below.
    [[gnu::always_inline]] static std::uint64_t leading_digits_value(std::uint64_t word, int count) noexcept {
        return eight_digits_value(count == 8 ? word
                                             : (word << (64 - 8 * count)) | (0x3030303030303030ull >> (8 * count)));
    }

    // Most numbers in data (coordinates, amounts, ids) have an integer
    // part of at most seven digits and a fraction of at most sixteen:
    // those are taken from three words without a loop. Takes the integer
    // part at `p` (a digit) and the fraction if there is one, moving `p`
    // past them; false, with nothing taken, for any other number.
    [[gnu::always_inline]] bool take_short(const Unit*& p, const Unit* end, bool& is_float) noexcept {
        if constexpr (kUtf8 && std::endian::native == std::endian::little) {
            static constexpr std::uint64_t fraction_powers[17] = {
                1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000, 1000000000, 10000000000,
                100000000000, 1000000000000, 10000000000000, 100000000000000, 1000000000000000,
                10000000000000000};
            if (end - p < 24) return false;
            std::uint64_t word;
            std::memcpy(&word, p, 8);
            const int whole = leading_digits(word);
            if (whole == 8) return false;
            std::uint64_t value = leading_digits_value(word, whole);
            const Unit* at = p + whole;
            if (*at != '.') {
                significand = value;
                p = at;
                return true;
            }
            std::memcpy(&word, at + 1, 8);
            int count = leading_digits(word);
            if (count == 0) return false;
            std::uint64_t fraction = leading_digits_value(word, count);
            int fraction_digits = count;
            if (count == 8) {
                std::memcpy(&word, at + 9, 8);
                count = leading_digits(word);
                if (count == 8) return false;
                if (count != 0) fraction = fraction * powers[count] + leading_digits_value(word, count);
                fraction_digits += count;
            }
            // Nineteen digits stay below 10^19, within 64 bits.
            if (whole + fraction_digits > 19) return false;
            significand = value * fraction_powers[fraction_digits] + fraction;
            scale = fraction_digits;
            is_float = true;
            p = at + 1 + fraction_digits;
            return true;
        } else {
            (void)p;
            (void)end;
            (void)is_float;
            return false;
        }
    }

    // Takes the run of digits at `p`, up to eight at a time; returns the
    // position after it.
    [[gnu::always_inline]] const Unit* take(const Unit* p, const Unit* end, bool fraction) noexcept {
        if constexpr (kUtf8 && std::endian::native == std::endian::little) {
            while (end - p >= 8) {
                std::uint64_t word;
                std::memcpy(&word, p, 8);
                const int count = leading_digits(word);
                if (count == 0) return p;
                if (significand < limits[count]) {
                    significand = significand * powers[count] + leading_digits_value(word, count);
                } else {
                    exact = false;
                }
                if (fraction) scale += count;
                p += count;
                if (count < 8) return p;
            }
        }
        for (; p != end && is_digit(*p); ++p) {
            if (significand < limit / 10) {
                significand = significand * 10 + static_cast<std::uint64_t>(digit_value(*p));
            } else {
                exact = false;
            }
            if (fraction) ++scale;
        }
        return p;
    }
};


// The powers of ten that doubles hold exactly.
inline constexpr double kExactPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                          1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                          1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
inline constexpr int kLargestExactPower = static_cast<int>(std::size(kExactPowers)) - 1;

// The binary32 nearest to the double nearest to significand * 10^power,
// when that is quick to get without finding that double: a product of
// two doubles comes within three units in its last place of the exact
// value (three roundings), so within 3.5 of the nearest double, and the
// two round to the same binary32 unless a point halfway between two
// binary32 values lies near. Products that close, and those outside the
// range of normal binary32 values (where overflow is decided), go the
// exact way; false for them, and for 0.
[[gnu::always_inline]] inline bool decimal_to_float(std::uint64_t significand, int power, float& value) noexcept {
    static constexpr auto scales = [] {
        std::array<double, 2 * kLargestExactPower + 1> scale{};
        for (int k = 0; k <= kLargestExactPower; ++k) {
            scale[kLargestExactPower + k] = kExactPowers[k];
            scale[kLargestExactPower - k] = 1.0 / kExactPowers[k];  // one rounding
        }
        return scale;
    }();
    if (power < -kLargestExactPower || power > kLargestExactPower) return false;
    const double product = static_cast<double>(significand) * scales[power + kLargestExactPower];
    const auto bits = std::bit_cast<std::uint64_t>(product);
    const std::uint64_t biased_exponent = bits >> 52;
    if (biased_exponent < 1023 - 125 || biased_exponent >= 1023 + 127) return false;
    // The 29 bits below a binary32's significand: 2^28 is halfway.
    constexpr std::uint64_t halfway = std::uint64_t{1} << 28;
    constexpr std::uint64_t margin = 8;
    if ((bits & (2 * halfway - 1)) - (halfway - margin) <= 2 * margin) return false;
    value = static_cast<float>(product);
    return true;
}

// significand * 10^power as the nearest double, when that is quick to
// get exactly; false otherwise. Powers of ten up to 10^22 are exact
// doubles, so a significand of at most 53 bits takes one correctly
// rounded operation. Larger significands go through the 64-bit
// significand of x87 extended precision, where powers up to 10^27 are
// exact: one rounding there, and a second one to double that is right
// unless the first left the value within a unit of a halfway point.
[[gnu::always_inline]] inline bool decimal_to_double(std::uint64_t significand, int power, double& value) noexcept {
    if (significand <= (std::uint64_t{1} << 53) && power >= -kLargestExactPower && power <= kLargestExactPower) {
        const auto digits = static_cast<double>(significand);
        value = power < 0 ? digits / kExactPowers[-power] : digits * kExactPowers[power];
        return true;
    }
    if constexpr (std::numeric_limits<long double>::digits == 64) {
        static constexpr auto extended_powers = [] {
            std::array<long double, 28> powers{};
            long double power_of_ten = 1.0L;
            for (long double& entry : powers) {
                entry = power_of_ten;
                power_of_ten *= 10.0L;
            }
            return powers;
        }();
        if (power < -27 || power > 27) return false;
        const auto digits = static_cast<long double>(significand);
        const long double extended =
            power < 0 ? digits / extended_powers[-power] : digits * extended_powers[power];
        std::uint64_t bits;
        std::memcpy(&bits, &extended, sizeof bits);
        // The eleven bits below a double's significand: 0x400 is halfway.
        const std::uint64_t dropped = bits & 0x7FF;
        if (dropped >= 0x3FF && dropped <= 0x401) return false;
        value = static_cast<double>(extended);
        return true;
    }
    return false;
}
}  // namespace quick_number

// The number at `p` (a '-' or a digit), read up to `end` and handed to
// `handler.number(JsonKind, bits)`, or with kFloat32 a float to
// `handler.float32(float)` as the binary32 nearest to its nearest binary64,
// which is mostly found without finding that binary64. Returns the position
// after the number, or nullptr, with the handler not called, for a number
// left to read_json_number. The handler is called where each kind is
// settled, not through a kind to switch on: numbers are most of some texts.
template <bool kFloat32, class Unit, class Handler>
[[gnu::always_inline]] inline const Unit* read_quick_number(const Unit* p, const Unit* end, Handler& handler) {
    using namespace quick_number;
    using Digits = DecimalDigits<Unit>;
    const bool negative = *p == '-';
    if (negative) ++p;
    Digits digits;
    if (p == end || !Digits::is_digit(*p) || (*p == '0' && end - p > 1 && Digits::is_digit(p[1]))) return nullptr;
    bool is_float = false;
    if (!digits.take_short(p, end, is_float)) {
        p = digits.take(p, end, false);
        if (p != end && *p == '.') {
            is_float = true;
            ++p;
            if (p == end || !Digits::is_digit(*p)) return nullptr;
            p = digits.take(p, end, true);
        }
    }
    int exponent = 0;
    if (p != end && (*p == 'e' || *p == 'E')) {
        is_float = true;
        ++p;
        const bool negative_exponent = p != end && *p == '-';
        if (p != end && (*p == '-' || *p == '+')) ++p;
        if (p == end || !Digits::is_digit(*p)) return nullptr;
        for (int count = 0; p != end && Digits::is_digit(*p); ++count) {
            if (count == 4) return nullptr;
            exponent = exponent * 10 + Digits::digit_value(*p++);
        }
        if (negative_exponent) exponent = -exponent;
    }
    if (!digits.exact) return nullptr;
    const std::uint64_t significand = digits.significand;
    if (!is_float) {
        // -0 is a float, and so is an integer below -2^63.
        if (negative && (significand == 0 || significand > (std::uint64_t{1} << 63))) return nullptr;
        if (negative) {
            handler.number(JsonKind::Int, 0 - significand);
        } else {
            handler.number(JsonKind::UInt, significand);
        }
        return p;
    }
    if constexpr (kFloat32) {
        float narrowed = 0.0f;
        if (decimal_to_float(significand, exponent - digits.scale, narrowed)) {
            handler.float32(negative ? -narrowed : narrowed);
            return p;
        }
    }
    double value = 0.0;
    if (significand != 0 && !decimal_to_double(significand, exponent - digits.scale, value)) return nullptr;
    handler.number(JsonKind::Float, std::bit_cast<std::uint64_t>(negative ? -value : value));
    return p;
}

}  // namespace vesk::json
