#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>

namespace vesk::loads {

// The first ill-formed sequence of a text. `length` is the size of the longest
// prefix of a well-formed sequence found at `index` (1 to 3, the "maximal
// subpart"), or 0 when the text ends inside such a prefix.
struct Utf8Fault {
    std::size_t index = 0;
    std::size_t length = 0;

    bool incomplete() const noexcept { return length == 0; }
};

// Where the run of ASCII bytes of `data` (of `size` bytes) that starts at
// `at` ends: eight bytes per step while they last. Most text in real
// documents is plain ASCII.
inline std::size_t ascii_run_end(const std::uint8_t* data, std::size_t size, std::size_t at) noexcept {
    constexpr std::uint64_t kHighBits = 0x8080808080808080ull;
    while (size - at >= 8) {
        std::uint64_t word;
        std::memcpy(&word, data + at, sizeof word);
        if ((word & kHighBits) != 0) break;
        at += 8;
    }
    while (at < size && data[at] < 0x80) ++at;
    return at;
}

// Finds the first ill-formed sequence, or nothing for valid UTF-8.
std::optional<Utf8Fault> find_utf8_fault(std::span<const std::uint8_t> text) noexcept;

// "invalid utf-8 sequence of {} bytes from index {}" or
// "incomplete utf-8 byte sequence from index {}".
std::string describe_utf8_fault(const Utf8Fault& fault);

}  // namespace vesk::loads
