#pragma once

#include <cstddef>
#include <optional>

#include "dumps/json_container_parts.hpp"
#include "error/vesk_error.hpp"

namespace vesk::dumps {

// The numbers of a compiled value that would not read back as they were
// given: an integer that wraps or changes sign, one that a float array
// holds as a binary32 it does not equal, and a finite non-zero float whose
// binary32 is infinite or zero. Rounding a float to binary32's precision is
// the format's declared precision, not a loss.
struct NumberLosses {
    std::size_t count = 0;
    // The first in the order the value was given (text order; dict order
    // for pack), as the LossError that refuses it under strict.
    std::optional<VeskError> first;
};

// Walks the tape in the order it was read, past values that a repeated
// member name dropped. With `count_all` false it stops at the first loss.
NumberLosses find_number_losses(const JsonContainerParts& parts, bool count_all);

}  // namespace vesk::dumps
