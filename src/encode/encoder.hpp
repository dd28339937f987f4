#pragma once

#include <string_view>

#include "error/result.hpp"
#include "structure/document.hpp"

namespace vesk {

// Serialises a document into a complete container. The document's own block
// offsets are ignored; the real ones are computed while writing.
Result<ByteBuffer> encode_document(const VeskDocument& document);

// Appends the length-prefixed (short, medium or long class) encoding of text.
Status encode_str_inline(std::string_view text, ByteBuffer& out);

// Appends the value encoding of one value, recursing into arrays and objects.
Status encode_value_into(const VeskData& value, ByteBuffer& out);

}  // namespace vesk
