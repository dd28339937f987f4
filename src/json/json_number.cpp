#include "json/json_number.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <system_error>

#include <fast_float/fast_float.h>

namespace vesk::json {

namespace {

constexpr std::int64_t largest_exponent = 2147483647;

bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }

// The digits of a float literal, enough to tell whether an exponent too
// large to read overflows or flushes to zero.
struct DecimalShape {
    const char* integer_begin;
    const char* integer_end;
    const char* fraction_begin;  // equal to fraction_end when there is no fraction
    const char* fraction_end;
};

bool significand_is_zero(const DecimalShape& shape) noexcept {
    const auto zero = [](char c) { return c == '0'; };
    return std::all_of(shape.integer_begin, shape.integer_end, zero) &&
           std::all_of(shape.fraction_begin, shape.fraction_end, zero);
}

double signed_zero(bool negative) noexcept { return negative ? -0.0 : 0.0; }

// `out` is a fresh node; setting its two scalar fields spares the move of a
// whole temporary node per number.
void set_scalar(JsonValue& out, JsonKind kind, std::uint64_t bits) noexcept {
    out.kind = kind;
    out.bits = bits;
}

void set_double(JsonValue& out, double value) noexcept {
    set_scalar(out, JsonKind::Float, std::bit_cast<std::uint64_t>(value));
}

// Exactly representable integers are classed here; everything else goes to
// the float conversion.
bool read_integer(const char* digits, const char* digits_end, bool negative, JsonValue& out) noexcept {
    std::size_t count = static_cast<std::size_t>(digits_end - digits);
    if (count > 20) return false;
    std::uint64_t value = 0;
    for (const char* p = digits; p != digits_end; ++p) {
        std::uint64_t digit = static_cast<std::uint64_t>(*p - '0');
        if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) return false;
        value = value * 10 + digit;
    }
    if (!negative) {
        set_scalar(out, JsonKind::UInt, value);
        return true;
    }
    // -0 is a float; -2^63 is the last negative integer.
    if (value == 0 || value > (std::uint64_t{1} << 63)) return false;
    set_scalar(out, JsonKind::Int, 0 - value);  // two's complement of the magnitude
    return true;
}

}  // namespace

bool read_json_number(JsonScanner& scanner, JsonValue& out) {
    namespace fail = json_failure;
    const char* start = scanner.at;
    const char* end = scanner.end;
    const char* p = start;
    bool negative = *p == '-';
    if (negative) {
        ++p;
        if (p == end) return scanner.fail_at_end(fail::eof_value);
        if (!is_digit(*p)) return scanner.fail_before(fail::invalid_number, p + 1);
    }

    DecimalShape shape{p, p, nullptr, nullptr};
    if (*p == '0') {
        ++p;
        if (p != end && is_digit(*p)) return scanner.fail_before(fail::invalid_number, p + 1);
    } else {
        while (p != end && is_digit(*p)) ++p;
    }
    shape.integer_end = p;
    shape.fraction_begin = shape.fraction_end = p;

    bool is_float = false;
    std::int64_t exponent = 0;
    if (p != end && *p == '.') {
        is_float = true;
        ++p;
        if (p == end) return scanner.fail_at_end(fail::eof_value);
        if (!is_digit(*p)) return scanner.fail_before(fail::invalid_number, p + 1);
        shape.fraction_begin = p;
        while (p != end && is_digit(*p)) ++p;
        shape.fraction_end = p;
    }

    if (p != end && (*p == 'e' || *p == 'E')) {
        is_float = true;
        ++p;
        bool negative_exponent = false;
        if (p != end && (*p == '+' || *p == '-')) {
            negative_exponent = *p == '-';
            ++p;
        }
        if (p == end) return scanner.fail_at_end(fail::eof_value);
        if (!is_digit(*p)) return scanner.fail_before(fail::invalid_number, p + 1);
        for (; p != end && is_digit(*p); ++p) {
            exponent = exponent * 10 + (*p - '0');
            if (exponent <= largest_exponent) continue;
            // An exponent this large either overflows or flushes to zero.
            if (!negative_exponent && !significand_is_zero(shape)) {
                return scanner.fail_before(fail::number_out_of_range, p + 1);
            }
            while (p != end && is_digit(*p)) ++p;
            scanner.at = p;
            set_double(out, signed_zero(negative));
            return true;
        }
        if (negative_exponent) exponent = -exponent;
    }
    scanner.at = p;

    if (!is_float && read_integer(shape.integer_begin, shape.integer_end, negative, out)) return true;

    // Correctly rounded on every platform, whatever the C++ library offers.
    // A result too small for a double comes back as a zero of the literal's
    // sign; one too large as infinity.
    double value = 0.0;
    const auto [converted_end, error] = fast_float::from_chars(start, p, value);
    if (error != std::errc{} || converted_end != p) {
        // The grammar was checked above, so this would be a conversion fault.
        return scanner.fail_before(fail::invalid_number, p);
    }
    if (std::isinf(value)) return scanner.fail_before(fail::number_out_of_range, p);
    set_double(out, value);
    return true;
}

}  // namespace vesk::json
