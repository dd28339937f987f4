#pragma once

#include <charconv>
#include <concepts>
#include <cstdint>
#include <string>
#include <string_view>

namespace vesk {

// Appends an integer in decimal.
template <std::integral T>
void append_decimal(std::string& out, T number) {
    char digits[24];
    auto [end, ec] = std::to_chars(digits, digits + sizeof digits, number);
    (void)ec;
    out.append(digits, end);
}

// An integer in decimal with its digits grouped by threes, the groups
// apart by spaces ("16 777 215"), as some messages print their limits.
template <std::integral T>
std::string grouped_decimal(T number) {
    std::string plain;
    append_decimal(plain, number);
    std::string grouped;
    for (std::size_t i = 0; i < plain.size(); ++i) {
        if (i != 0 && (plain.size() - i) % 3 == 0) grouped += ' ';
        grouped += plain[i];
    }
    return grouped;
}

namespace detail {

inline void append_argument(std::string& out, std::string_view text) { out += text; }
inline void append_argument(std::string& out, const char* text) { out += text; }
inline void append_argument(std::string& out, const std::string& text) { out += text; }

template <std::integral T>
void append_argument(std::string& out, T number) {
    append_decimal(out, number);
}

inline void append_until_placeholder(std::string& out, std::string_view& pattern) {
    std::size_t at = pattern.find("{}");
    if (at == std::string_view::npos) at = pattern.size();
    out.append(pattern.substr(0, at));
    pattern.remove_prefix(at == pattern.size() ? at : at + 2);
}

}  // namespace detail

// Fills each "{}" of a message template with the next argument: integers in
// decimal, texts as they are. GCC 12 has no <format>, and our messages need
// nothing more than this.
template <class... Args>
std::string format_message(std::string_view pattern, const Args&... args) {
    std::string out;
    out.reserve(pattern.size() + 16 * sizeof...(args));
    ((detail::append_until_placeholder(out, pattern), detail::append_argument(out, args)), ...);
    out.append(pattern);
    return out;
}

// Two upper-case hexadecimal digits, for the "0x{:02X}" messages.
inline std::string hex_byte(std::uint8_t byte) {
    static constexpr char digits[] = "0123456789ABCDEF";
    return std::string{digits[byte >> 4], digits[byte & 0x0F]};
}

}  // namespace vesk
