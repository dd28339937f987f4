#pragma once

#include <cstddef>

#include "error/result.hpp"
#include "structure/document.hpp"

namespace vesk {

// The writer with its size ceiling as a parameter: the real ceiling takes
// gigabytes to reach, so tests exercise the check with a small one.
Result<ByteBuffer> encode_document_within(const VeskDocument& document, std::size_t max_container_size);

}  // namespace vesk
