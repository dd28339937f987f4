#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "format/byte_order.hpp"
#include "format/container_layout.hpp"
#include "format/string_prefix.hpp"
#include "tables/shape_table.hpp"
#include "tables/string_table.hpp"

namespace vesk::tables {

// What a compiler writes around its data, straight into the container's
// memory: the header, the definition block (the primitive definitions, then
// the numbered shapes) and the dictionary block. Sizes come first, so that
// the data can be written in its final place; the caller has checked every
// limit of the format (definition count, field counts, name and string
// lengths), so writing cannot fail.

// Bytes of a shape's definition record; names are ids in `names`.
std::size_t definition_record_size(const ShapeTable& shapes, const StringTable& names, std::uint32_t shape) noexcept;

// Bytes of the definition block before any shape: the count and the
// primitive definitions.
std::size_t definition_block_base_size() noexcept;

// Each writer returns the position after what it wrote.
// The definition block's count of all `definition_count` definitions and the
// primitive ones, for a caller that writes its shapes itself.
std::uint8_t* write_primitive_definitions(std::uint8_t* at, std::size_t definition_count) noexcept;
std::uint8_t* write_string(std::uint8_t* at, std::string_view text) noexcept;
std::uint8_t* write_definition_block(std::uint8_t* at, const ShapeTable& shapes, const StringTable& names,
                                     const DefinitionNumbering& numbering) noexcept;
// `entries` are string ids, by dictionary index; `write_entry(at, id)`
// writes the string `id` as write_string would and returns the position
// after it.
template <class WriteEntry>
std::uint8_t* write_dictionary_block(std::uint8_t* at, std::span<const std::uint32_t> entries,
                                     WriteEntry&& write_entry) noexcept {
    format::store_u32le(at, static_cast<std::uint32_t>(entries.size()));
    at += format::kStringCountSize;
    for (const std::uint32_t id : entries) at = write_entry(at, id);
    return at;
}
void write_header(std::uint8_t* container, std::size_t dict_block_offset, std::size_t data_block_offset) noexcept;

}  // namespace vesk::tables
