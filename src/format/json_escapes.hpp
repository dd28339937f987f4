#pragma once

#include <array>

namespace vesk::format {

// How a byte of a string is written in JSON text, as json.dumps writes it
// with ensure_ascii=False: 0 as itself, 'u' as \u00XX (lower-case hex),
// else a backslash and this letter.
inline constexpr std::array<char, 256> kJsonEscapes = [] {
    std::array<char, 256> table{};
    for (int c = 0; c < 0x20; ++c) table[c] = 'u';
    table['\b'] = 'b';
    table['\f'] = 'f';
    table['\n'] = 'n';
    table['\r'] = 'r';
    table['\t'] = 't';
    table['"'] = '"';
    table['\\'] = '\\';
    return table;
}();

inline constexpr char kLowerHexDigits[] = "0123456789abcdef";

}  // namespace vesk::format
