#pragma once

#include <algorithm>
#include <array>
#include <cstddef>

namespace vesk::python {

// Docstrings that name a limit of the format are put together at compile
// time from the limit's constant, so the text cannot drift from the rule.

// The decimal digits of `value`, with a terminating NUL.
template <unsigned long long value>
constexpr auto decimal_text() {
    constexpr std::size_t digits = [] {
        std::size_t count = 1;
        for (unsigned long long rest = value; rest >= 10; rest /= 10) ++count;
        return count;
    }();
    std::array<char, digits + 1> text{};
    unsigned long long rest = value;
    for (std::size_t at = digits; at > 0; --at, rest /= 10) text[at - 1] = static_cast<char>('0' + rest % 10);
    return text;
}

// The NUL-terminated pieces one after another, with one terminating NUL.
template <std::size_t... sizes>
constexpr auto joined_text(const std::array<char, sizes>&... pieces) {
    std::array<char, (sizes + ...) - sizeof...(sizes) + 1> text{};
    std::size_t at = 0;
    ((std::copy_n(pieces.begin(), sizes - 1, text.begin() + at), at += sizes - 1), ...);
    return text;
}

}  // namespace vesk::python
