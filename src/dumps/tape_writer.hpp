#pragma once

#include <cstddef>
#include <cstdint>
#include <memory_resource>
#include <string_view>
#include <vector>

#include "dumps/json_container_parts.hpp"
#include "json/code_point_text.hpp"
#include "tables/shape_table.hpp"
#include "tables/string_table.hpp"

namespace vesk::dumps {

// write_string for a string kept as a view of its `kept.size()` bytes of
// UTF-8 form in code units.
std::uint8_t* write_string_of_units(const json::TextUnits& units, std::uint8_t* out, std::string_view kept) noexcept;

// Walks the tape in the compiler's order: depth first, array items in
// order, object members in byte order of their names, each container's
// shape numbered after its contents. Writes the data as it goes.
class TapeWriter {
public:
    // Its tables take `memory`; `spare` is storage for the dictionary
    // numbering, one word per string.
    TapeWriter(const JsonContainerParts& parts, std::pmr::memory_resource* memory,
               tables::TableVector<std::uint32_t>&& spare, std::uint8_t* out);

    // Writes the value at `at` and returns the position after it. `element`
    // receives what an array holding this value records as its element
    // definition, `definition` the definition the value names on its own.
    std::uint32_t write_value(std::uint32_t at, std::uint16_t& element, std::uint16_t& definition);

    const tables::DefinitionNumbering& numbering() const noexcept { return numbering_; }
    const tables::DictionaryNumbering& dictionary() const noexcept { return dictionary_; }
    const std::uint8_t* position() const noexcept { return out_; }

private:
    static std::uint8_t* write_short_string(std::uint8_t* out, std::string_view text) noexcept;
    static std::uint8_t* write_medium_string(std::uint8_t* out, std::string_view text) noexcept;
    std::uint32_t write_item(std::uint32_t at, std::uint16_t& element, std::uint16_t& definition);
    std::uint32_t write_array(std::uint32_t at, std::uint16_t& element, std::uint16_t& definition);
    std::uint32_t write_object(std::uint32_t at, std::uint16_t& element, std::uint16_t& definition);

    const JsonContainerParts& parts_;
    const std::uint32_t* tape_;
    tables::DefinitionNumbering numbering_;
    tables::DictionaryNumbering dictionary_;
    std::uint8_t* out_;
    // Positions of the values of the objects being written, a stack.
    tables::TableVector<std::uint32_t> positions_;
};

}  // namespace vesk::dumps
