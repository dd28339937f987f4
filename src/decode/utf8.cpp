#include "decode/utf8.hpp"

#include <cstring>

#include "error/format.hpp"

namespace vesk {

namespace {

constexpr std::uint64_t kHighBits = 0x8080808080808080ull;

// Skips the run of ASCII bytes starting at `at`, eight bytes per step while
// they last. Most text in real documents is plain ASCII.
std::size_t skip_ascii(const std::uint8_t* data, std::size_t size, std::size_t at) noexcept {
    while (size - at >= 8) {
        std::uint64_t word;
        std::memcpy(&word, data + at, sizeof word);
        if ((word & kHighBits) != 0) break;
        at += 8;
    }
    while (at < size && data[at] < 0x80) ++at;
    return at;
}

}  // namespace

std::optional<Utf8Fault> find_utf8_fault(std::span<const std::uint8_t> text) noexcept {
    const std::uint8_t* data = text.data();
    const std::size_t size = text.size();
    std::size_t at = 0;
    while (at < size) {
        const std::uint8_t lead = data[at];
        if (lead < 0x80) {
            at = skip_ascii(data, size, at);
            continue;
        }
        // Width of the sequence and the range its second byte must lie in;
        // the narrowed ranges exclude overlong forms, surrogates and code
        // points above U+10FFFF.
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
            return Utf8Fault{at, 1};
        }
        for (std::size_t k = 1; k < width; ++k) {
            if (at + k >= size) return Utf8Fault{at, 0};
            const std::uint8_t byte = data[at + k];
            const std::uint8_t low = k == 1 ? second_low : std::uint8_t{0x80};
            const std::uint8_t high = k == 1 ? second_high : std::uint8_t{0xBF};
            if (byte < low || byte > high) return Utf8Fault{at, k};
        }
        at += width;
    }
    return std::nullopt;
}

std::string describe_utf8_fault(const Utf8Fault& fault) {
    if (fault.incomplete()) return format_message("incomplete utf-8 byte sequence from index {}", fault.index);
    return format_message("invalid utf-8 sequence of {} bytes from index {}", fault.length, fault.index);
}

}  // namespace vesk
