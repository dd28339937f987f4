#pragma once

#include <cstddef>
#include <cstdint>
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

// Finds the first ill-formed sequence, or nothing for valid UTF-8.
std::optional<Utf8Fault> find_utf8_fault(std::span<const std::uint8_t> text) noexcept;

// "invalid utf-8 sequence of {} bytes from index {}" or
// "incomplete utf-8 byte sequence from index {}".
std::string describe_utf8_fault(const Utf8Fault& fault);

}  // namespace vesk::loads
