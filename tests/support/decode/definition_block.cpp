#include <algorithm>

#include "decode/block_readers.hpp"
#include "decode/utf8_text.hpp"
#include "error/format_message.hpp"
#include "format/byte_order.hpp"
#include "format/container_layout.hpp"

namespace vesk {

namespace {

using Bytes = std::span<const std::uint8_t>;

VeskError fail(std::string message) { return VeskError::parse(std::move(message)); }

VeskError unknown_type(std::uint8_t byte) {
    return fail(format_message("Unknown VESK type tag: 0x{}", hex_byte(byte)));
}

// Reads the field list of an object record whose field count sits at `at`;
// returns the position after the last field.
Result<std::size_t> read_fields(Bytes block, std::size_t at, VeskDefinition& definition) {
    const std::size_t size = block.size();
    if (at + 2 > size) return fail("Truncated object field count");
    const std::size_t count = format::load_u16le(block.data() + at);
    std::vector<VeskField>& fields = definition.fields.emplace();
    // A field takes at least two bytes (length and type), so the count cannot
    // make us reserve more than the block could hold.
    fields.reserve(std::min(count, (size - at - 2) / format::kMinFieldSize));
    std::size_t position = at + 2;
    for (std::size_t j = 0; j < count; ++j) {
        if (position >= size) return fail(format_message("Truncated field {} name length", j));
        const std::size_t length = block[position];
        // The name and the type byte after it must both lie in the block.
        if (position + length + 1 >= size) return fail(format_message("Truncated field {} name data", j));
        VeskField& field = fields.emplace_back();
        Status copied = copy_utf8_text(block.subspan(position + 1, length), "in field name", field.name);
        if (!copied) return std::move(copied).error();
        const std::uint8_t type = block[position + length + 1];
        if (!format::is_vesk_type_byte(type)) return unknown_type(type);
        field.type = static_cast<format::VeskType>(type);
        position += length + 2;
    }
    return position;
}

// Reads the record of entry `entry` at `at`; returns the position after it.
Result<std::size_t> read_definition(Bytes block, std::size_t at, std::size_t entry, VeskDefinition& definition) {
    const std::size_t size = block.size();
    if (at >= size) return fail(format_message("Truncated definition block at entry {}", entry));
    const std::uint8_t kind = block[at];
    if (!format::is_vesk_type_byte(kind)) return unknown_type(kind);
    if (at + 3 > size) return fail("Truncated definition index");
    definition.kind = static_cast<format::VeskType>(kind);
    definition.index = format::load_u16le(block.data() + at + 1);
    switch (definition.kind) {
        case format::VeskType::Null:
        case format::VeskType::Bool:
        case format::VeskType::Int32:
        case format::VeskType::Uint32:
        case format::VeskType::Float32:
        case format::VeskType::String: return at + 3;
        case format::VeskType::Array: {
            if (at + 3 >= size) return fail("Truncated array elem_type");
            const std::uint8_t elem = block[at + 3];
            if (!format::is_vesk_type_byte(elem)) return unknown_type(elem);
            definition.elem_type = static_cast<format::VeskType>(elem);
            return at + 4;
        }
        case format::VeskType::Object: return read_fields(block, at + 3, definition);
    }
    return at + 3;
}

}  // namespace

Result<std::vector<VeskDefinition>> read_definition_block(Bytes block) {
    const std::size_t size = block.size();
    if (size < 2) return fail(format_message("Definition block too short: {} bytes", size));
    const std::size_t count = format::load_u16le(block.data());
    if (size < 3 * count + 2) {
        return fail(format_message("Definition block has {} bytes but {} defs require {}", size, count, 3 * count + 2));
    }
    std::vector<VeskDefinition> definitions;
    definitions.reserve(count);
    std::size_t position = 2;
    for (std::size_t entry = 0; entry < count; ++entry) {
        Result<std::size_t> next = read_definition(block, position, entry, definitions.emplace_back());
        if (!next) return std::move(next).error();
        position = *next;
    }
    return definitions;
}

}  // namespace vesk
