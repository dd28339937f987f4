#pragma once

#include <cstddef>
#include <string_view>

#include "error/result.hpp"
#include "structure/document.hpp"

namespace vesk {

// Serialises a document into a complete container. The document's own block
// offsets are ignored; the real ones are computed while writing.
Result<format::ByteBuffer> encode_document(const VeskDocument& document);

// The same with the size ceiling as a parameter: the real ceiling
// (kMaxContainerSize) takes gigabytes to reach, so tests exercise the check
// with a small one.
Result<format::ByteBuffer> encode_document_within(const VeskDocument& document, std::size_t max_container_size);

// Appends the length-prefixed (short, medium or long class) encoding of text.
Status encode_str_inline(std::string_view text, format::ByteBuffer& out);

// Appends the value encoding of one value, recursing into arrays and objects.
Status encode_value_into(const VeskData& value, format::ByteBuffer& out);

}  // namespace vesk
