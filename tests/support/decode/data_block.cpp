#include <algorithm>

#include "decode/block_readers.hpp"
#include "decode/value_decoder.hpp"
#include "error/format_message.hpp"
#include "format/byte_order.hpp"
#include "format/container_layout.hpp"
#include "format/format_limits.hpp"

namespace vesk {

namespace {

VeskError fail(std::string message) { return VeskError::parse(std::move(message)); }

}  // namespace

Result<std::vector<VeskChunk>> read_data_block(std::span<const std::uint8_t> block,
                                               const std::vector<VeskDefinition>& definitions) {
    const std::size_t size = block.size();
    if (size < 4) return fail(format_message("Data block too short: {} bytes", size));
    const std::size_t count = format::load_u32le(block.data());
    if (count > format::kMaxReadEntries) return fail(format_message("Data entry count {} exceeds max {}", count, format::kMaxReadEntries));

    std::vector<VeskChunk> chunks;
    chunks.reserve(std::min(count, (size - 4) / format::kEntryHeaderSize));
    std::size_t position = 4;
    for (std::size_t i = 0; i < count; ++i) {
        if (position + format::kEntryHeaderSize > size) return fail(format_message("Truncated entry {} header", i));
        const std::uint16_t def_index = format::load_u16le(block.data() + position);
        // 64-bit arithmetic: a payload length near 2^32 must not wrap around.
        const std::uint64_t payload_size = format::load_u32le(block.data() + position + 2);
        const std::size_t payload_start = position + format::kEntryHeaderSize;
        if (payload_start + payload_size > size) {
            return fail(format_message("Entry {} payload ({} bytes) exceeds buffer", i, payload_size));
        }
        if (def_index >= definitions.size()) return fail(format_message("Unknown definition index: {}", def_index));

        VeskChunk& chunk = chunks.emplace_back();
        chunk.def_index = def_index;
        // The definition only picks the routine: a compound value is read
        // through its own self_def_index. The entry's value sits at depth 1.
        Result<std::size_t> used = decode_typed_value(block.subspan(payload_start, payload_size),
                                                      definitions[def_index].kind, definitions, 1, chunk.data);
        if (!used) return std::move(used).error();
        if (*used != payload_size) {
            return fail(format_message("Mismatch entry {}: consumed {} of {}", i, *used, payload_size));
        }
        position = payload_start + payload_size;
    }
    return chunks;
}

}  // namespace vesk
