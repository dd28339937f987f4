#pragma once

#include <cstddef>
#include <string>

namespace vesk {

// Length of the well-formed UTF-8 sequence that starts at `p` (whose first
// byte is 0x80 or above), or 0 when the bytes there are not one: stray
// continuation bytes, overlong forms, surrogates, code points past U+10FFFF
// and sequences cut short all give 0.
inline std::size_t utf8_sequence_length(const unsigned char* p, const unsigned char* end) noexcept {
    auto continues = [](unsigned char byte) { return (byte & 0xC0) == 0x80; };
    std::size_t available = static_cast<std::size_t>(end - p);
    unsigned lead = p[0];
    if (lead < 0xC2) return 0;
    if (lead < 0xE0) return available >= 2 && continues(p[1]) ? 2 : 0;
    if (lead < 0xF0) {
        if (available < 3) return 0;
        unsigned lowest = lead == 0xE0 ? 0xA0 : 0x80;
        unsigned highest = lead == 0xED ? 0x9F : 0xBF;
        return p[1] >= lowest && p[1] <= highest && continues(p[2]) ? 3 : 0;
    }
    if (lead < 0xF5) {
        if (available < 4) return 0;
        unsigned lowest = lead == 0xF0 ? 0x90 : 0x80;
        unsigned highest = lead == 0xF4 ? 0x8F : 0xBF;
        return p[1] >= lowest && p[1] <= highest && continues(p[2]) && continues(p[3]) ? 4 : 0;
    }
    return 0;
}

// Appends a code point (not a surrogate, at most U+10FFFF) as UTF-8.
inline void append_utf8(std::string& out, char32_t code_point) {
    auto byte = [](char32_t value) { return static_cast<char>(value); };
    if (code_point < 0x80) {
        out.push_back(byte(code_point));
    } else if (code_point < 0x800) {
        char bytes[2] = {byte(0xC0 | (code_point >> 6)), byte(0x80 | (code_point & 0x3F))};
        out.append(bytes, 2);
    } else if (code_point < 0x10000) {
        char bytes[3] = {byte(0xE0 | (code_point >> 12)), byte(0x80 | ((code_point >> 6) & 0x3F)),
                         byte(0x80 | (code_point & 0x3F))};
        out.append(bytes, 3);
    } else {
        char bytes[4] = {byte(0xF0 | (code_point >> 18)), byte(0x80 | ((code_point >> 12) & 0x3F)),
                         byte(0x80 | ((code_point >> 6) & 0x3F)), byte(0x80 | (code_point & 0x3F))};
        out.append(bytes, 4);
    }
}

}  // namespace vesk
