#include "tables/container_blocks.hpp"

#include <cstring>

#include "format/byte_order.hpp"
#include "format/container_layout.hpp"

namespace vesk::tables {

namespace {

// Field names are mostly short: those of 1 to 8 bytes are copied in at
// most two moves of a fixed size that may overlap, rather than by a call.
inline void copy_name(std::uint8_t* to, std::string_view name) noexcept {
    const std::size_t size = name.size();
    if (size >= 4 && size <= 8) {
        std::memcpy(to, name.data(), 4);
        std::memcpy(to + size - 4, name.data() + size - 4, 4);
    } else if (size >= 2 && size < 4) {
        std::memcpy(to, name.data(), 2);
        std::memcpy(to + size - 2, name.data() + size - 2, 2);
    } else if (size == 1) {
        to[0] = static_cast<std::uint8_t>(name[0]);
    } else if (size != 0) {
        std::memcpy(to, name.data(), size);
    }
}

}  // namespace

std::size_t definition_record_size(const ShapeTable& shapes, const StringTable& names, std::uint32_t shape) noexcept {
    if (shapes.shape(shape).kind == format::VeskType::Array) return format::kArrayDefinitionSize;
    std::size_t size = format::kObjectDefinitionHeaderSize;
    for (const ShapeField& field : shapes.fields(shape)) size += format::kMinFieldSize + names.text(field.name).size();
    return size;
}

std::uint8_t* write_primitive_definitions(std::uint8_t* at, std::size_t definition_count) noexcept {
    format::store_u16le(at, static_cast<std::uint16_t>(definition_count));
    at += format::kDefinitionCountSize;
    // The primitive definitions: kind and index both the position.
    for (std::uint8_t position = 0; position < format::kPrimitiveDefinitionCount; ++position) {
        at[0] = position;
        format::store_u16le(at + 1, position);
        at += format::kDefinitionHeaderSize;
    }
    return at;
}

std::size_t definition_block_base_size() noexcept {
    return format::kDefinitionCountSize + format::kPrimitiveDefinitionCount * format::kDefinitionHeaderSize;
}

std::uint8_t* write_string(std::uint8_t* at, std::string_view text) noexcept {
    const format::LengthPrefix prefix = format::length_prefix_for(text.size());
    std::memcpy(at, prefix.bytes, prefix.size);
    at += prefix.size;
    if (!text.empty()) std::memcpy(at, text.data(), text.size());
    return at + text.size();
}

std::uint8_t* write_definition_block(std::uint8_t* at, const ShapeTable& shapes, const StringTable& names,
                                     const DefinitionNumbering& numbering) noexcept {
    at = write_primitive_definitions(at, numbering.definition_count());
    auto number = static_cast<std::uint16_t>(format::kPrimitiveDefinitionCount);
    for (const std::uint32_t id : numbering.shapes()) {
        const ShapeTable::Shape& shape = shapes.shape(id);
        at[0] = format::type_byte(shape.kind);
        format::store_u16le(at + 1, number++);
        at += format::kDefinitionHeaderSize;
        if (shape.kind == format::VeskType::Array) {
            *at++ = format::type_byte(shape.elem_type);
            continue;
        }
        format::store_u16le(at, static_cast<std::uint16_t>(shape.field_count));
        at += 2;
        for (const ShapeField& field : shapes.fields(id)) {
            const std::string_view name = names.text(field.name);
            *at++ = static_cast<std::uint8_t>(name.size());
            copy_name(at, name);
            at += name.size();
            *at++ = format::type_byte(field.type);
        }
    }
    return at;
}

void write_header(std::uint8_t* container, std::size_t dict_block_offset, std::size_t data_block_offset) noexcept {
    container[format::kVersionAt] = format::kFormatVersion;
    format::store_u32le(container + format::kDefBlockOffsetAt, static_cast<std::uint32_t>(format::kHeaderSize));
    format::store_u32le(container + format::kDictBlockOffsetAt, static_cast<std::uint32_t>(dict_block_offset));
    format::store_u32le(container + format::kDataBlockOffsetAt, static_cast<std::uint32_t>(data_block_offset));
}

}  // namespace vesk::tables
