#include "decode/decoder.hpp"

namespace vesk {

// Placeholders until the reader lands.
Result<VeskDocument> decode_document(std::span<const std::uint8_t>) {
    return VeskError::parse("container reader not built yet");
}

Result<std::string> str_from_utf8(std::span<const std::uint8_t>) {
    return VeskError::parse("container reader not built yet");
}

}  // namespace vesk
