#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "compile/json_tape.hpp"
#include "compile/member_layouts.hpp"
#include "compile/shape_table.hpp"
#include "compile/string_table.hpp"
#include "compile/text_arena.hpp"
#include "json/code_point_text.hpp"

namespace vesk {

// Everything plan() learns about the text, kept for write().
struct JsonContainerParts {
    explicit JsonContainerParts(std::uint64_t seed)
        : strings(seed), names(seed ^ 1), shapes(seed ^ 2), layouts(seed ^ 3) {}

    json_plan::Tape tape;
    StringTable strings;  // string values
    StringTable names;    // member names
    ShapeTable shapes;
    json_plan::LayoutTable layouts;
    std::vector<std::uint32_t> string_counts;  // occurrences, by string id
    std::vector<std::uint32_t> shape_uses;     // containers, by shape id
    TextArena unescaped;  // texts that held escapes, which the tables point at
    // Code-point text: the string values without escapes are kept as views
    // of their units, in the text's own memory, and only written as UTF-8.
    TextUnits units;

    std::size_t dict_block_offset = 0;
    std::size_t data_block_offset = 0;
    std::size_t size = 0;
};

}  // namespace vesk
