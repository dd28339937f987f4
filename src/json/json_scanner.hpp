#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "error/vesk_error.hpp"

namespace vesk::json {

// The text being read, the read position, and the first failure met. Reading
// functions return false after recording a failure; the caller unwinds at once.
//
// A failure is kept as its description and the number of bytes consumed when it
// was detected; line and column are worked out only when the error is built.
struct JsonScanner {
    const char* begin;
    const char* at;
    const char* end;
    std::string_view failure_description{};
    std::size_t failure_consumed = 0;

    explicit JsonScanner(std::string_view text)
        : begin(text.data()), at(text.data()), end(text.data() + text.size()) {}

    bool at_end() const noexcept { return at == end; }

    // Failure after consuming everything up to (not including) `until`.
    bool fail_before(std::string_view description, const char* until) noexcept {
        failure_description = description;
        failure_consumed = static_cast<std::size_t>(until - begin);
        return false;
    }
    // Failure on the byte at the read position, which counts as consumed.
    bool fail_here(std::string_view description) noexcept { return fail_before(description, at + 1); }
    // Failure because the text ran out.
    bool fail_at_end(std::string_view description) noexcept { return fail_before(description, end); }
};

// Where a JSON reader stopped, and why: the description, and how much of the
// text came before the failure, the offending byte (or unit) included. In
// text of code points the column counts bytes of the UTF-8 form, of which
// the last code point consumed may contribute only its first few: its
// first where it is the offending one, unlike the end of the text.
struct JsonSyntaxFault {
    std::string_view description;
    std::size_t consumed = 0;
    std::uint8_t last_unit_bytes = 0;  // 0: all of them
};

// The descriptions the reader reports, each followed by its position.
namespace json_failure {
inline constexpr std::string_view eof_list = "EOF while parsing a list";
inline constexpr std::string_view eof_object = "EOF while parsing an object";
inline constexpr std::string_view eof_string = "EOF while parsing a string";
inline constexpr std::string_view eof_value = "EOF while parsing a value";
inline constexpr std::string_view expected_colon = "expected `:`";
inline constexpr std::string_view expected_list_comma = "expected `,` or `]`";
inline constexpr std::string_view expected_object_comma = "expected `,` or `}`";
inline constexpr std::string_view expected_ident = "expected ident";
inline constexpr std::string_view expected_value = "expected value";
inline constexpr std::string_view invalid_escape = "invalid escape";
inline constexpr std::string_view invalid_number = "invalid number";
inline constexpr std::string_view number_out_of_range = "number out of range";
inline constexpr std::string_view invalid_code_point = "invalid unicode code point";
inline constexpr std::string_view control_character =
    "control character (\\u0000-\\u001F) found while parsing a string";
inline constexpr std::string_view key_must_be_string = "key must be a string";
inline constexpr std::string_view lone_surrogate = "lone leading surrogate in hex escape";
inline constexpr std::string_view trailing_comma = "trailing comma";
inline constexpr std::string_view trailing_characters = "trailing characters";
inline constexpr std::string_view unexpected_end_of_hex_escape = "unexpected end of hex escape";
inline constexpr std::string_view recursion_limit = "recursion limit exceeded";
}  // namespace json_failure

// "{description} at line {line} column {column}": the line is 1 plus the line
// feeds before the failure, the column the bytes since the last of them;
// the error keeps them, and the bytes before the failure, as its position.
VeskError json_syntax_error(std::string_view description, const TextPosition& position);

// The error for `fault` in UTF-8 `text`.
VeskError json_syntax_error(std::string_view text, const JsonSyntaxFault& fault);

}  // namespace vesk::json
