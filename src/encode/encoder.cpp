#include "encode/encoder.hpp"

namespace vesk {

Result<ByteBuffer> encode_document(const VeskDocument&) { return VeskError::parse("encoder not built yet"); }
Status encode_str_inline(std::string_view, ByteBuffer&) { return VeskError::parse("encoder not built yet"); }
Status encode_value_into(const VeskData&, ByteBuffer&) { return VeskError::parse("encoder not built yet"); }

}  // namespace vesk
