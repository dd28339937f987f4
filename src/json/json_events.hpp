#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "json/json_number.hpp"
#include "json/json_scanner.hpp"
#include "json/json_value.hpp"
#include "structure/format_limits.hpp"
#include "structure/utf8.hpp"

namespace vesk {

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
// only during the call.
template <class Handler>
class JsonEventReader {
public:
    JsonEventReader(std::string_view text, Handler& handler)
        : begin_(text.data()), at_(text.data()), end_(text.data() + text.size()), handler_(handler) {}

    // Whether the whole text was read and the handler took every value.
    bool read_document() {
        if (!read_value()) return false;
        skip_whitespace();
        return at_ == end_;
    }

private:
    static bool is_whitespace(char c) noexcept { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }
    static bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }

    void skip_whitespace() noexcept {
        // Most gaps are a single space or a line break and its indentation.
        while (at_ != end_ && is_whitespace(*at_)) {
            ++at_;
            constexpr std::uint64_t spaces = 0x2020202020202020ull;
            while (end_ - at_ >= 8) {
                std::uint64_t word;
                std::memcpy(&word, at_, 8);
                if (word != spaces) break;
                at_ += 8;
            }
        }
    }

    bool read_value() {
        skip_whitespace();
        if (at_ == end_) return false;
        switch (*at_) {
            case '"': {
                ++at_;
                std::string_view text;
                bool in_input = false;
                return read_string(text, in_input) && handler_.string(text, in_input);
            }
            case '[': return read_array();
            case '{': return read_object();
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
        if (static_cast<std::size_t>(end_ - at_) < size || std::memcmp(at_, word, size) != 0) return false;
        at_ += size;
        return true;
    }

    bool read_number() {
        // Integers of up to 18 digits cannot overflow and take the short
        // road; everything else is read exactly as parse_json reads it.
        const char* p = at_;
        const bool negative = *p == '-';
        if (negative) ++p;
        const char* digits = p;
        std::uint64_t value = 0;
        while (p != end_ && is_digit(*p) && p - digits < 19) value = value * 10 + static_cast<std::uint64_t>(*p++ - '0');
        const auto count = p - digits;
        const bool plain = count > 0 && count < 19 && (count == 1 || *digits != '0') &&
                           (p == end_ || (!is_digit(*p) && *p != '.' && *p != 'e' && *p != 'E'));
        if (plain && !(negative && value == 0)) {
            at_ = p;
            return negative ? handler_.number(JsonKind::Int, 0 - value) : handler_.number(JsonKind::UInt, value);
        }
        JsonScanner scanner(std::string_view(begin_, static_cast<std::size_t>(end_ - begin_)));
        scanner.at = at_;
        if (!read_json_number(scanner, number_)) return false;
        at_ = scanner.at;
        return handler_.number(number_.kind, number_.bits);
    }

    // Bytes that end a plain run of a string: the quote, the backslash,
    // control bytes and bytes of multi-byte UTF-8 sequences.
    static constexpr bool ends_plain_run(unsigned char byte) noexcept {
        return byte == '"' || byte == '\\' || byte < 0x20 || byte >= 0x80;
    }

    // The high bit set in every byte of `word` that ends a plain run; only
    // the lowest mark is exact, which is all that is used.
    static constexpr std::uint64_t plain_run_breaks(std::uint64_t word) noexcept {
        constexpr std::uint64_t ones = 0x0101010101010101ull;
        constexpr std::uint64_t high = 0x8080808080808080ull;
        auto has_zero = [](std::uint64_t x) { return (x - ones) & ~x; };
        std::uint64_t quote = has_zero(word ^ (ones * '"'));
        std::uint64_t backslash = has_zero(word ^ (ones * '\\'));
        std::uint64_t control = (word - ones * 0x20) & ~word;
        return (quote | backslash | control | word) & high;
    }

    const char* skip_plain_run(const char* p) const noexcept {
        if constexpr (std::endian::native == std::endian::little) {
            while (end_ - p >= 8) {
                std::uint64_t word;
                std::memcpy(&word, p, sizeof word);
                if (std::uint64_t marks = plain_run_breaks(word)) return p + (std::countr_zero(marks) >> 3);
                p += 8;
            }
        }
        while (p != end_ && !ends_plain_run(static_cast<unsigned char>(*p))) ++p;
        return p;
    }

    // The opening quote has been consumed. A string without escapes is a
    // view into the input; one with escapes is resolved into a scratch copy.
    bool read_string(std::string_view& text, bool& in_input) {
        const char* start = at_;
        const char* p = start;
        for (;;) {
            p = skip_plain_run(p);
            if (p == end_) return false;
            const auto byte = static_cast<unsigned char>(*p);
            if (byte == '"') {
                text = std::string_view(start, static_cast<std::size_t>(p - start));
                in_input = true;
                at_ = p + 1;
                return true;
            }
            if (byte == '\\') break;
            if (byte < 0x20) return false;
            const std::size_t width = read_utf8_sequence(reinterpret_cast<const std::uint8_t*>(p),
                                                         reinterpret_cast<const std::uint8_t*>(end_)).width;
            if (width == 0) return false;
            p += width;
        }
        scratch_.assign(start, p);
        for (;;) {
            if (*p == '\\') {
                if (!read_escape(p)) return false;
            } else {
                const char* run = p;
                p = skip_plain_run(p);
                scratch_.append(run, p);
                if (p == end_) return false;
                const auto byte = static_cast<unsigned char>(*p);
                if (byte == '"') break;
                if (byte == '\\') continue;
                if (byte < 0x20) return false;
                const std::size_t width = read_utf8_sequence(reinterpret_cast<const std::uint8_t*>(p),
                                                             reinterpret_cast<const std::uint8_t*>(end_)).width;
                if (width == 0) return false;
                scratch_.append(p, width);
                p += width;
            }
        }
        text = scratch_;
        in_input = false;
        at_ = p + 1;
        return true;
    }

    static int hex_value(char c) noexcept {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }

    // Four hex digits at `p`.
    bool read_code_unit(const char*& p, char32_t& unit) const noexcept {
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
    bool read_escape(const char*& p) {
        if (end_ - p < 2) return false;
        const char code = p[1];
        p += 2;
        switch (code) {
            case '"': scratch_.push_back('"'); return true;
            case '\\': scratch_.push_back('\\'); return true;
            case '/': scratch_.push_back('/'); return true;
            case 'b': scratch_.push_back('\b'); return true;
            case 'f': scratch_.push_back('\f'); return true;
            case 'n': scratch_.push_back('\n'); return true;
            case 'r': scratch_.push_back('\r'); return true;
            case 't': scratch_.push_back('\t'); return true;
            case 'u': break;
            default: return false;
        }
        char32_t unit = 0;
        if (!read_code_unit(p, unit)) return false;
        if (unit >= 0xDC00 && unit <= 0xDFFF) return false;
        if (unit < 0xD800 || unit > 0xDBFF) {
            append_utf8(scratch_, unit);
            return true;
        }
        char32_t low = 0;
        if (end_ - p < 2 || p[0] != '\\' || p[1] != 'u') return false;
        p += 2;
        if (!read_code_unit(p, low) || low < 0xDC00 || low > 0xDFFF) return false;
        append_utf8(scratch_, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        return true;
    }

    bool open_container() noexcept {
        if (depth_ == kMaxJsonNesting) return false;
        ++depth_;
        ++at_;
        return true;
    }

    bool read_array() {
        if (!open_container() || !handler_.begin_array()) return false;
        skip_whitespace();
        if (at_ == end_) return false;
        if (*at_ != ']') {
            for (;;) {
                if (!read_value()) return false;
                skip_whitespace();
                if (at_ == end_) return false;
                if (*at_ == ']') break;
                if (*at_ != ',') return false;
                ++at_;
            }
        }
        ++at_;
        --depth_;
        return handler_.end_array();
    }

    bool read_object() {
        if (!open_container() || !handler_.begin_object()) return false;
        skip_whitespace();
        if (at_ == end_) return false;
        if (*at_ != '}') {
            for (;;) {
                if (*at_ != '"') return false;
                ++at_;
                std::string_view name;
                bool in_input = false;
                if (!read_string(name, in_input) || !handler_.member_name(name, in_input)) return false;
                skip_whitespace();
                if (at_ == end_ || *at_ != ':') return false;
                ++at_;
                if (!read_value()) return false;
                skip_whitespace();
                if (at_ == end_) return false;
                if (*at_ == '}') break;
                if (*at_ != ',') return false;
                ++at_;
                skip_whitespace();
                if (at_ == end_) return false;
            }
        }
        ++at_;
        --depth_;
        return handler_.end_object();
    }

    const char* begin_;
    const char* at_;
    const char* end_;
    Handler& handler_;
    unsigned depth_ = 0;
    std::string scratch_;
    JsonValue number_;
};

}  // namespace vesk
