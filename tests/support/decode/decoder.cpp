#include "decode/decoder.hpp"

#include "decode/block_readers.hpp"
#include "error/format_message.hpp"
#include "format/byte_order.hpp"
#include "format/container_layout.hpp"

namespace vesk {

namespace {

VeskError fail(std::string message) { return VeskError::parse(std::move(message)); }

// Reads and checks the header; on success the three offsets delimit blocks
// that lie inside the input, back to back.
Status read_header(std::span<const std::uint8_t> bytes, VeskDocument& document) {
    const std::size_t size = bytes.size();
    if (size < format::kHeaderSize) {
        return fail(format_message("Header requires {} bytes, got {}", format::kHeaderSize, size));
    }
    document.version = bytes[format::kVersionAt];
    document.def_block_offset = format::load_u32le(bytes.data() + format::kDefBlockOffsetAt);
    document.dict_block_offset = format::load_u32le(bytes.data() + format::kDictBlockOffsetAt);
    document.data_block_offset = format::load_u32le(bytes.data() + format::kDataBlockOffsetAt);
    if (document.version != format::kFormatVersion) {
        return fail(format_message("Unsupported VESK version: {}", document.version));
    }
    if (document.def_block_offset < format::kHeaderSize) {
        return fail(format_message("Def block offset {} before header", document.def_block_offset));
    }
    if (document.dict_block_offset < document.def_block_offset) {
        return fail(format_message("Dict block offset {} before defs", document.dict_block_offset));
    }
    if (document.data_block_offset < document.dict_block_offset) {
        return fail(format_message("Data block offset {} before dict", document.data_block_offset));
    }
    if (document.data_block_offset > size) {
        return fail(format_message("Data block offset {} exceeds buffer length {}", document.data_block_offset, size));
    }
    return {};
}

}  // namespace

Result<VeskDocument> decode_document(std::span<const std::uint8_t> bytes) {
    VeskDocument document;
    if (Status header = read_header(bytes, document); !header) return std::move(header).error();

    const std::size_t def_offset = document.def_block_offset;
    const std::size_t dict_offset = document.dict_block_offset;
    const std::size_t data_offset = document.data_block_offset;

    auto definitions = read_definition_block(bytes.subspan(def_offset, dict_offset - def_offset));
    if (!definitions) return std::move(definitions).error();
    document.definitions = std::move(*definitions);

    auto dict = read_dictionary_block(bytes.subspan(dict_offset, data_offset - dict_offset));
    if (!dict) return std::move(dict).error();
    document.dict = std::move(*dict);

    auto chunks = read_data_block(bytes.subspan(data_offset), document.definitions);
    if (!chunks) return std::move(chunks).error();
    document.chunks = std::move(*chunks);
    return document;
}

}  // namespace vesk
