#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

#include "format/format_limits.hpp"
#include "format/utf8.hpp"
#include "json/json_number.hpp"
#include "json/json_scanner.hpp"
#include "json/json_value.hpp"
#include "json/plain_run.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vesk {

// A string of at most fifteen bytes, found within the sixteen read at its
// start, as those bytes padded with zeros: two words, the first byte lowest.
struct JsonShortText {
    std::uint64_t low;
    std::uint64_t high;
};

// A one-pass JSON reader that hands each value to a handler as it is read,
// for callers that build their own representation. It accepts exactly the
// texts that parse_json accepts and delivers the same values (numbers in the
// same three classes, strings with escapes resolved), but it keeps no
// positions: on anything it refuses it just stops, and the caller asks
// parse_json for the error. Object members come in text order, duplicates
// included.
//
// The handler has these members, each returning false to stop reading:
//   null_value(), boolean(bool), number(JsonKind, std::uint64_t bits),
//   string(std::string_view text, bool in_input), begin_array(), end_array(),
//   begin_object(), member_name(std::string_view name, bool in_input), end_object().
// A text `in_input` is a view into the JSON text; any other view is valid
// only during the call. A handler that also has string(std::string_view,
// JsonShortText) and member_name(std::string_view, JsonShortText) gets the
// short texts of UTF-8 input there, views into the input with their bytes
// in registers already. A handler that also has float32(float) gets every
// float there, as the binary32 nearest to its nearest binary64, which is
// mostly found without finding that binary64.
//
// With kWellFormedUtf8 the caller vouches that the text is well-formed UTF-8
// (as a Python str's UTF-8 form always is), and strings are not checked
// again.
//
// A Unit other than char reads text of code points, one per unit, the way a
// Python str holds them: Latin-1 bytes (std::uint8_t), UCS-2 (std::uint16_t)
// or UCS-4 (std::uint32_t). Such text is read where it lies and the handler
// still sees UTF-8 only: a string of ASCII units in Latin-1 text is its own
// UTF-8 form and stays in the input, any other string is transcoded into the
// scratch copy. A surrogate has no UTF-8 form, so the reader stops there.
// Such a handler also has plain_string(std::string_view text, const Unit*
// first, std::size_t count), which gets the string values without escapes,
// with where their units lie.
template <class Handler, bool kWellFormedUtf8 = false, class Unit = char>
class JsonEventReader {
    static_assert(std::is_same_v<Unit, char> || std::is_same_v<Unit, std::uint8_t> ||
                  std::is_same_v<Unit, std::uint16_t> || std::is_same_v<Unit, std::uint32_t>);
    static constexpr bool kUtf8 = std::is_same_v<Unit, char>;
    static constexpr bool kShortTexts =
        kUtf8 && requires(Handler& handler, std::string_view text, JsonShortText words) {
            handler.string(text, words);
            handler.member_name(text, words);
        };

    static constexpr bool kFloat32Only = requires(Handler& handler, float value) { handler.float32(value); };

public:
    JsonEventReader(std::span<const Unit> text, Handler& handler)
        : begin_(text.data()), at_(text.data()), end_(text.data() + text.size()), handler_(handler) {}

    // Whether the whole text was read and the handler took every value.
    //
    // One loop over the text, not a call per value, which would save and
    // restore registers for every value, a string or a number as much as an
    // object: the containers open are a stack of their kinds, and the labels
    // are the places the reader can be in.
    bool read_document() {
        // By depth, whether the container open there is an object.
        bool in_object[kMaxJsonNesting];
        skip_whitespace();
    value:  // at a value, after any whitespace before it
        if (at_ == end_) return false;
        switch (*at_) {
            case '[':
                if (!open_container() || !handler_.begin_array()) return false;
                in_object[depth_ - 1] = false;
                skip_whitespace();
                if (at_ == end_) return false;
                if (*at_ == ']') goto close_array;
                goto value;
            case '{':
                if (!open_container() || !handler_.begin_object()) return false;
                in_object[depth_ - 1] = true;
                skip_whitespace();
                if (at_ == end_) return false;
                if (*at_ == '}') goto close_object;
                goto member;
            default:
                if (!read_scalar()) return false;
                goto after_value;
        }
    member:  // at what must be a member's name, after any whitespace before it
        if (*at_ != '"') return false;
        ++at_;
        if (!read_member_name()) return false;
        // Mostly no whitespace comes before a colon or comma: it is looked
        // for only when they are not there.
        if (at_ == end_ || *at_ != ':') {
            skip_whitespace();
            if (at_ == end_ || *at_ != ':') return false;
        }
        ++at_;
        skip_whitespace();
        goto value;
    after_value:  // just after a value
        if (depth_ == 0) {
            skip_whitespace();
            return at_ == end_;
        }
        if (at_ == end_ || *at_ != ',') {
            skip_whitespace();
            if (at_ == end_) return false;
        }
        if (in_object[depth_ - 1]) {
            if (*at_ == '}') goto close_object;
            if (*at_ != ',') return false;
            ++at_;
            skip_whitespace();
            if (at_ == end_) return false;
            goto member;
        }
        if (*at_ == ']') goto close_array;
        if (*at_ != ',') return false;
        ++at_;
        skip_whitespace();
        goto value;
    close_array:  // at the closing bracket
        ++at_;
        --depth_;
        if (!handler_.end_array()) return false;
        goto after_value;
    close_object:  // at the closing brace
        ++at_;
        --depth_;
        if (!handler_.end_object()) return false;
        goto after_value;
    }

private:
    static bool is_whitespace(Unit c) noexcept { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }
    static bool is_digit(Unit c) noexcept { return c >= '0' && c <= '9'; }
    static int digit_value(Unit c) noexcept { return static_cast<int>(c) - '0'; }

    [[gnu::always_inline]] void skip_whitespace() noexcept {
        // Most gaps are empty, a single space, or a line break and its
        // indentation, which is scanned sixteen bytes at a time.
        if (at_ == end_ || !is_whitespace(*at_)) return;
        ++at_;
        if (at_ == end_ || !is_whitespace(*at_)) return;
#if defined(__SSE2__)
        while (end_ - at_ >= 16) {
            const __m128i chunk = load_sixteen_units(at_);
            const __m128i blank = _mm_or_si128(
                _mm_or_si128(_mm_cmpeq_epi8(chunk, _mm_set1_epi8(' ')), _mm_cmpeq_epi8(chunk, _mm_set1_epi8('\n'))),
                _mm_or_si128(_mm_cmpeq_epi8(chunk, _mm_set1_epi8('\r')), _mm_cmpeq_epi8(chunk, _mm_set1_epi8('\t'))));
            const auto others = static_cast<unsigned>(~_mm_movemask_epi8(blank)) & 0xFFFFu;
            if (others != 0) {
                at_ += std::countr_zero(others);
                return;
            }
            at_ += 16;
        }
#endif
        while (at_ != end_ && is_whitespace(*at_)) ++at_;
    }

    // Any value but a container, at at_.
    [[gnu::always_inline]] bool read_scalar() {
        switch (*at_) {
            case '"': {
                ++at_;
                std::string_view text;
                if constexpr (kShortTexts) {
                    JsonShortText words;
                    if (read_short_string(text, words)) return handler_.string(text, words);
                }
                bool in_input = false;
                if constexpr (!kUtf8) {
                    const Unit* first = at_;
                    if (!read_string(text, in_input)) return false;
                    if (escaped_) return handler_.string(text, in_input);
                    return handler_.plain_string(text, first, static_cast<std::size_t>(at_ - 1 - first));
                } else {
                    return read_string(text, in_input) && handler_.string(text, in_input);
                }
            }
            case 'n': return read_literal("null", 4) && handler_.null_value();
            case 't': return read_literal("true", 4) && handler_.boolean(true);
            case 'f': return read_literal("false", 5) && handler_.boolean(false);
            case '-':
            case '0': case '1': case '2': case '3': case '4':
            case '5': case '6': case '7': case '8': case '9': return read_number();
            default: return false;
        }
    }

    bool read_literal(const char* word, std::size_t size) noexcept {
        if (static_cast<std::size_t>(end_ - at_) < size) return false;
        if constexpr (kUtf8) {
            if (std::memcmp(at_, word, size) != 0) return false;
        } else {
            for (std::size_t i = 0; i < size; ++i) {
                if (at_[i] != static_cast<Unit>(word[i])) return false;
            }
        }
        at_ += size;
        return true;
    }

    bool read_number() {
        // One pass over the digits gathers up to 19 significant ones; what
        // that cannot settle exactly (more digits, far exponents, integers
        // beyond 64 bits, malformed numbers) is read by read_json_number,
        // which parse_json uses too.
        const Unit* p = at_;
        const bool negative = *p == '-';
        if (negative) ++p;
        DecimalDigits digits;
        if (p == end_ || !is_digit(*p) || (*p == '0' && end_ - p > 1 && is_digit(p[1]))) return read_exact_number();
        bool is_float = false;
        if (!digits.take_short(p, end_, is_float)) {
            p = digits.take(p, end_, false);
            if (p != end_ && *p == '.') {
                is_float = true;
                ++p;
                if (p == end_ || !is_digit(*p)) return read_exact_number();
                p = digits.take(p, end_, true);
            }
        }
        int exponent = 0;
        if (p != end_ && (*p == 'e' || *p == 'E')) {
            is_float = true;
            ++p;
            const bool negative_exponent = p != end_ && *p == '-';
            if (p != end_ && (*p == '-' || *p == '+')) ++p;
            if (p == end_ || !is_digit(*p)) return read_exact_number();
            for (int count = 0; p != end_ && is_digit(*p); ++count) {
                if (count == 4) return read_exact_number();
                exponent = exponent * 10 + digit_value(*p++);
            }
            if (negative_exponent) exponent = -exponent;
        }
        if (!digits.exact) return read_exact_number();
        const std::uint64_t significand = digits.significand;
        if (!is_float) {
            // -0 is a float, and so is an integer below -2^63.
            if (negative && (significand == 0 || significand > (std::uint64_t{1} << 63))) return read_exact_number();
            at_ = p;
            return negative ? handler_.number(JsonKind::Int, 0 - significand)
                            : handler_.number(JsonKind::UInt, significand);
        }
        if constexpr (kFloat32Only) {
            float narrowed = 0.0f;
            if (decimal_to_float(significand, exponent - digits.scale, narrowed)) {
                at_ = p;
                return handler_.float32(negative ? -narrowed : narrowed);
            }
        }
        double value = 0.0;
        if (significand != 0 && !decimal_to_double(significand, exponent - digits.scale, value)) {
            return read_exact_number();
        }
        at_ = p;
        return handler_.number(JsonKind::Float, std::bit_cast<std::uint64_t>(negative ? -value : value));
    }

    // The significand of a decimal number, as long as it stays below 10^19
    // (19 significant digits; leading zeros cost nothing).
    struct DecimalDigits {
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
        static int leading_digits(std::uint64_t word) noexcept {
            const std::uint64_t others = ((word & 0xF0F0F0F0F0F0F0F0ull) ^ 0x3030303030303030ull) |
                                         (((word + 0x0606060606060606ull) & 0xF0F0F0F0F0F0F0F0ull) ^ 0x3030303030303030ull);
            return others == 0 ? 8 : std::countr_zero(others) >> 3;
        }

        // The value of the eight digit characters in `word`, the first most
        // significant.
        static std::uint64_t eight_digits_value(std::uint64_t word) noexcept {
            word -= 0x3030303030303030ull;
            word = word * 10 + (word >> 8);
            return (((word & 0x000000FF000000FFull) * (100 + (1000000ull << 32))) +
                    (((word >> 16) & 0x000000FF000000FFull) * (1 + (10000ull << 32)))) >> 32;
        }

        // The digits of a word that starts with `count` (1 to 8) of them, moved
        // to the top, zeros filling in below.
        static std::uint64_t leading_digits_value(std::uint64_t word, int count) noexcept {
            return eight_digits_value(count == 8 ? word
                                                 : (word << (64 - 8 * count)) | (0x3030303030303030ull >> (8 * count)));
        }

        // Most numbers in data (coordinates, amounts, ids) have an integer
        // part of at most seven digits and a fraction of at most sixteen:
        // those are taken from three words without a loop. Takes the integer
        // part at `p` (a digit) and the fraction if there is one, moving `p`
        // past them; false, with nothing taken, for any other number.
        bool take_short(const Unit*& p, const Unit* end, bool& is_float) noexcept {
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
        const Unit* take(const Unit* p, const Unit* end, bool fraction) noexcept {
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

    bool read_exact_number() requires kUtf8 {
        JsonScanner scanner(std::string_view(begin_, static_cast<std::size_t>(end_ - begin_)));
        scanner.at = at_;
        if (!read_json_number(scanner, number_)) return false;
        at_ = scanner.at;
        return handler_.number(number_.kind, number_.bits);
    }

    // Code-point text: the run of characters a number can hold is copied as
    // bytes for read_json_number. The character after the run continues no
    // number, so the copy's end stops or fails the reader just as that
    // character would (perhaps described otherwise, which is not kept).
    bool read_exact_number() requires(!kUtf8) {
        number_text_.clear();
        for (const Unit* p = at_; p != end_; ++p) {
            const Unit c = *p;
            if (!is_digit(c) && c != '-' && c != '+' && c != '.' && c != 'e' && c != 'E') break;
            number_text_.push_back(static_cast<char>(c));
        }
        JsonScanner scanner(number_text_);
        if (!read_json_number(scanner, number_)) return false;
        at_ += scanner.at - scanner.begin;
        return handler_.number(number_.kind, number_.bits);
    }

    // The powers of ten that doubles hold exactly.
    static constexpr double kExactPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                              1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                              1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    static constexpr int kLargestExactPower = static_cast<int>(std::size(kExactPowers)) - 1;

    // The binary32 nearest to the double nearest to significand * 10^power,
    // when that is quick to get without finding that double: a product of
    // two doubles comes within three units in its last place of the exact
    // value (three roundings), so within 3.5 of the nearest double, and the
    // two round to the same binary32 unless a point halfway between two
    // binary32 values lies near. Products that close, and those outside the
    // range of normal binary32 values (where overflow is decided), go the
    // exact way; false for them, and for 0.
    [[gnu::always_inline]] static bool decimal_to_float(std::uint64_t significand, int power, float& value) noexcept {
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
    [[gnu::always_inline]] static bool decimal_to_double(std::uint64_t significand, int power, double& value) noexcept {
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

    // The opening quote has been consumed. A string without escapes is a
    // view into the input; one with escapes is resolved into a scratch copy.
    // The plain case is inlined into its two callers: the call cost more
    // than scanning a short string.
    [[gnu::always_inline]] bool read_string(std::string_view& text, bool& in_input) requires kUtf8 {
        const char* start = at_;
        const char* p = start;
        for (;;) {
            p = skip_plain_run<kWellFormedUtf8>(p, end_);
            if (p == end_) return false;
            const auto byte = static_cast<unsigned char>(*p);
            if (byte == '"') {
                text = std::string_view(start, static_cast<std::size_t>(p - start));
                in_input = true;
                at_ = p + 1;
                return true;
            }
            if (byte == '\\') return read_escaped_string(start, p, text, in_input);
            if (byte < 0x20) return false;
            const std::size_t width = read_utf8_sequence(reinterpret_cast<const std::uint8_t*>(p),
                                                         reinterpret_cast<const std::uint8_t*>(end_)).width;
            if (width == 0) return false;
            p += width;
        }
    }

    // The opening quote has been consumed. A string that ends, without
    // escapes, within the sixteen bytes that follow is taken with those
    // bytes; anything else is left for read_string.
    [[gnu::always_inline]] bool read_short_string(std::string_view& text, JsonShortText& words) requires kUtf8 {
#if defined(__SSE2__) && defined(__x86_64__)
        if (end_ - at_ < 16) return false;
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at_));
        const unsigned breaks = plain_run_breaks<kWellFormedUtf8>(chunk);
        if (breaks == 0) return false;
        const int size = std::countr_zero(breaks);
        if (at_[size] != '"') return false;
        static constexpr std::array<std::uint8_t, 32> keep = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                                              0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
        const __m128i kept =
            _mm_and_si128(chunk, _mm_loadu_si128(reinterpret_cast<const __m128i*>(keep.data() + 16 - size)));
        words.low = static_cast<std::uint64_t>(_mm_cvtsi128_si64(kept));
        words.high = static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(kept, kept)));
        text = std::string_view(at_, static_cast<std::size_t>(size));
        at_ += size + 1;
        return true;
#else
        (void)text;
        (void)words;
        return false;
#endif
    }

    // The rest of a string from its first escape at `p`, resolved into a
    // buffer of our own: runs are copied whole and escapes written in place,
    // which std::string's appends cost many times over on text rich in them.
    [[gnu::noinline]] bool read_escaped_string(const char* start, const char* p, std::string_view& text,
                                               bool& in_input) requires kUtf8 {
        std::size_t size = static_cast<std::size_t>(p - start);
        // With room for the escape at `p` too, so that the buffer exists.
        char* out = unescaped_room(0, size + 4);
        std::memcpy(out, start, size);
        for (;;) {
            const auto byte = static_cast<unsigned char>(*p);
            if (byte == '\\') {
                // An escape stands for at most four bytes.
                out = unescaped_room(size, 4);
                const std::size_t width = read_escape_into(p, out + size);
                if (width == 0) return false;
                size += width;
            } else if (byte == '"') {
                break;
            } else if (byte < 0x20) {
                return false;
            } else {
                const std::size_t width = read_utf8_sequence(reinterpret_cast<const std::uint8_t*>(p),
                                                             reinterpret_cast<const std::uint8_t*>(end_)).width;
                if (width == 0) return false;
                out = unescaped_room(size, width);
                std::memcpy(out + size, p, width);
                size += width;
                p += width;
            }
            // The plain run that follows. Escapes mostly come close together
            // (line breaks in text): a run that ends within sixteen bytes is
            // copied as those bytes, the bytes past its end overwritten next.
#if defined(__SSE2__)
            if (end_ - p >= 16) {
                const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
                if (const unsigned breaks = plain_run_breaks<kWellFormedUtf8>(chunk)) {
                    out = unescaped_room(size, 16);
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + size), chunk);
                    const int run_size = std::countr_zero(breaks);
                    p += run_size;
                    size += static_cast<std::size_t>(run_size);
                    continue;
                }
            }
#endif
            const char* run = p;
            p = skip_plain_run<kWellFormedUtf8>(p, end_);
            const auto run_size = static_cast<std::size_t>(p - run);
            out = unescaped_room(size, run_size);
            std::memcpy(out + size, run, run_size);
            size += run_size;
            if (p == end_) return false;
        }
        text = std::string_view(unescaped_.get(), size);
        in_input = false;
        at_ = p + 1;
        return true;
    }

    // The buffer of read_escaped_string, with room for `more` bytes past
    // the first `used`, which it keeps.
    char* unescaped_room(std::size_t used, std::size_t more) {
        if (unescaped_capacity_ - used < more) [[unlikely]] grow_unescaped(used, used + more);
        return unescaped_.get();
    }

    [[gnu::noinline]] void grow_unescaped(std::size_t used, std::size_t needed) {
        const std::size_t capacity = std::max<std::size_t>(needed, unescaped_capacity_ * 2 + 256);
        auto bytes = std::make_unique_for_overwrite<char[]>(capacity);
        if (used != 0) std::memcpy(bytes.get(), unescaped_.get(), used);
        unescaped_ = std::move(bytes);
        unescaped_capacity_ = capacity;
    }

    // `p` is at a backslash; writes what the escape stands for, as UTF-8, at
    // `out` and returns its size, 0 for an escape that is not one.
    std::size_t read_escape_into(const Unit*& p, char* out) const noexcept {
        if (end_ - p < 2) return 0;
        const Unit code = p[1];
        p += 2;
        switch (code) {
            case '"': *out = '"'; return 1;
            case '\\': *out = '\\'; return 1;
            case '/': *out = '/'; return 1;
            case 'b': *out = '\b'; return 1;
            case 'f': *out = '\f'; return 1;
            case 'n': *out = '\n'; return 1;
            case 'r': *out = '\r'; return 1;
            case 't': *out = '\t'; return 1;
            case 'u': break;
            default: return 0;
        }
        char32_t unit = 0;
        if (!read_code_unit(p, unit)) return 0;
        if (unit >= 0xDC00 && unit <= 0xDFFF) return 0;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            char32_t low = 0;
            if (end_ - p < 2 || p[0] != '\\' || p[1] != 'u') return 0;
            p += 2;
            if (!read_code_unit(p, low) || low < 0xDC00 || low > 0xDFFF) return 0;
            unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        }
        return encode_utf8(unit, out);
    }

    // Code-point text: see the class comment.
    bool read_string(std::string_view& text, bool& in_input) requires(!kUtf8) {
        escaped_ = false;
        const Unit* p = skip_plain_units(at_, end_);
        if constexpr (std::is_same_v<Unit, std::uint8_t>) {
            if (p != end_ && *p == '"') {
                text = std::string_view(reinterpret_cast<const char*>(at_), static_cast<std::size_t>(p - at_));
                in_input = true;
                at_ = p + 1;
                return true;
            }
        }
        scratch_.clear();
        append_ascii(at_, p);
        for (;;) {
            const Unit* run = p;
            p = skip_plain_units(p, end_);
            append_ascii(run, p);
            if (p == end_) return false;
            const char32_t unit = *p;
            if (unit == '"') break;
            if (unit == '\\') {
                escaped_ = true;
                if (!read_escape(p)) return false;
                continue;
            }
            if (unit < 0x20 || (unit >= 0xD800 && unit <= 0xDFFF) || unit > 0x10FFFF) return false;
            append_utf8(scratch_, unit);
            ++p;
        }
        text = scratch_;
        in_input = false;
        at_ = p + 1;
        return true;
    }

    // Units below 0x80, one byte each.
    void append_ascii(const Unit* begin, const Unit* end) {
        const std::size_t old_size = scratch_.size();
        const auto count = static_cast<std::size_t>(end - begin);
        scratch_.resize(old_size + count);
        store_ascii_units(begin, count, scratch_.data() + old_size);
    }

    static int hex_value(Unit c) noexcept {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }

    // Four hex digits at `p`.
    bool read_code_unit(const Unit*& p, char32_t& unit) const noexcept {
        if (end_ - p < 4) return false;
        int value = 0;
        for (int i = 0; i < 4; ++i) {
            const int digit = hex_value(p[i]);
            if (digit < 0) return false;
            value = value * 16 + digit;
        }
        unit = static_cast<char32_t>(value);
        p += 4;
        return true;
    }

    // `p` is at a backslash; appends what the escape stands for.
    bool read_escape(const Unit*& p) {
        char bytes[4];
        const std::size_t width = read_escape_into(p, bytes);
        scratch_.append(bytes, width);
        return width != 0;
    }

    bool open_container() noexcept {
        if (depth_ == kMaxJsonNesting) return false;
        ++depth_;
        ++at_;
        return true;
    }

    // A member's name, its opening quote consumed.
    [[gnu::always_inline]] bool read_member_name() {
        std::string_view name;
        if constexpr (kShortTexts) {
            JsonShortText words;
            if (read_short_string(name, words)) return handler_.member_name(name, words);
        }
        bool in_input = false;
        return read_string(name, in_input) && handler_.member_name(name, in_input);
    }

    const Unit* begin_;
    const Unit* at_;
    const Unit* end_;
    Handler& handler_;
    unsigned depth_ = 0;
    std::string scratch_;  // code-point text: a string being transcoded
    std::unique_ptr<char[]> unescaped_;  // UTF-8 text: see read_escaped_string
    std::size_t unescaped_capacity_ = 0;
    std::string number_text_;  // code-point text: a number for read_json_number
    bool escaped_ = false;     // code-point text: the last string read had an escape
    JsonValue number_;
};

}  // namespace vesk
