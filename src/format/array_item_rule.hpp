#pragma once

#include <cstddef>

#include "error/vesk_error.hpp"
#include "format/vesk_type.hpp"

namespace vesk::format {

// An array is read back by one element type, so both compilers hold every
// item of an array to the type of the one that sets it, except that numbers
// of different types may share an array, which then holds them all as
// Float32. Which item sets the type, and how the numbers are rounded, is each
// compiler's own.

constexpr bool is_number_type(VeskType type) noexcept {
    return type == VeskType::Int32 || type == VeskType::Uint32 || type == VeskType::Float32;
}

// Whether an item of type `found` may stand in an array of `expected` items.
constexpr bool fits_array_items(VeskType found, VeskType expected) noexcept {
    return is_number_type(expected) ? is_number_type(found) : found == expected;
}

// The error for item `index`, the first that does not fit.
VeskError mixed_array_item(std::size_t index, VeskType found, VeskType expected);

}  // namespace vesk::format
