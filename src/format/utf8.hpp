#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vesk::format {

// What one multi-byte UTF-8 sequence looks like. `width` is its length (2 to
// 4) when it is well-formed, else 0; then `prefix` is the length of the
// longest prefix of a well-formed sequence found there (at least 1), and
// `truncated` says whether the text ended inside that prefix.
struct Utf8Sequence {
    std::size_t width = 0;
    std::size_t prefix = 0;
    bool truncated = false;
};

// Reads the sequence whose lead byte, at `p`, is 0x80 or above. The narrowed
// second-byte ranges exclude overlong forms, surrogates and code points above
// U+10FFFF, so "well-formed" is exactly the Unicode definition.
inline Utf8Sequence read_utf8_sequence(const std::uint8_t* p, const std::uint8_t* end) noexcept {
    const std::uint8_t lead = p[0];
    std::size_t width = 0;
    std::uint8_t second_low = 0x80;
    std::uint8_t second_high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        width = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        width = 3;
        if (lead == 0xE0) second_low = 0xA0;
        if (lead == 0xED) second_high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        width = 4;
        if (lead == 0xF0) second_low = 0x90;
        if (lead == 0xF4) second_high = 0x8F;
    } else {
        return Utf8Sequence{0, 1, false};
    }
    const std::size_t available = static_cast<std::size_t>(end - p);
    for (std::size_t k = 1; k < width; ++k) {
        if (k >= available) return Utf8Sequence{0, k, true};
        const std::uint8_t low = k == 1 ? second_low : std::uint8_t{0x80};
        const std::uint8_t high = k == 1 ? second_high : std::uint8_t{0xBF};
        if (p[k] < low || p[k] > high) return Utf8Sequence{0, k, false};
    }
    return Utf8Sequence{width, width, false};
}

// The bytes of a code point's UTF-8 form.
constexpr std::size_t utf8_width(char32_t code_point) noexcept {
    return code_point < 0x80 ? 1 : code_point < 0x800 ? 2 : code_point < 0x10000 ? 3 : 4;
}

// Writes a code point (not a surrogate, at most U+10FFFF) as UTF-8 at
// `out`, which has room for four bytes; returns how many it took.
inline std::size_t encode_utf8(char32_t code_point, char* out) noexcept {
    auto byte = [](char32_t value) { return static_cast<char>(value); };
    if (code_point < 0x80) {
        out[0] = byte(code_point);
        return 1;
    }
    if (code_point < 0x800) {
        out[0] = byte(0xC0 | (code_point >> 6));
        out[1] = byte(0x80 | (code_point & 0x3F));
        return 2;
    }
    if (code_point < 0x10000) {
        out[0] = byte(0xE0 | (code_point >> 12));
        out[1] = byte(0x80 | ((code_point >> 6) & 0x3F));
        out[2] = byte(0x80 | (code_point & 0x3F));
        return 3;
    }
    out[0] = byte(0xF0 | (code_point >> 18));
    out[1] = byte(0x80 | ((code_point >> 12) & 0x3F));
    out[2] = byte(0x80 | ((code_point >> 6) & 0x3F));
    out[3] = byte(0x80 | (code_point & 0x3F));
    return 4;
}

// Appends of a constant size, which the string does without a call.
inline void append_utf8(std::string& out, char32_t code_point) {
    char bytes[4];
    switch (encode_utf8(code_point, bytes)) {
        case 1: out.push_back(bytes[0]); break;
        case 2: out.append(bytes, 2); break;
        case 3: out.append(bytes, 3); break;
        default: out.append(bytes, 4); break;
    }
}

}  // namespace vesk::format
