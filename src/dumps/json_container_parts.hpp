#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "dumps/json_tape.hpp"
#include "dumps/member_layouts.hpp"
#include "json/code_point_text.hpp"
#include "tables/shape_table.hpp"
#include "tables/string_table.hpp"
#include "tables/table_memory.hpp"
#include "tables/text_arena.hpp"

namespace vesk::dumps {

// Room to start a table with that a typical text fills to `typical`
// entries. A short text (a message of a few fields) gets room for what it
// can hold, an entry per `bytes_each` bytes of it: blocks that small come
// from the allocator's caches, where larger ones cost a small text more to
// take and give back than reading it does.
constexpr std::size_t starting_room(std::size_t typical, std::size_t text_size, std::size_t bytes_each) noexcept {
    return std::min(typical, text_size / bytes_each + 1);
}
// The fewest bytes of text a member name, and an object, take: "":0 and {}.
inline constexpr std::size_t kMinNameBytes = 4;
inline constexpr std::size_t kMinObjectBytes = 2;

// Layouts, and object shapes, to make room for: a typical text has up to 64.
constexpr std::size_t layout_room(std::size_t text_size) noexcept {
    return starting_room(64, text_size, kMinObjectBytes);
}
// The first size of an index of `entries` entries: a power of two, 16 or more.
constexpr std::size_t index_places(std::size_t entries) noexcept {
    return std::max<std::size_t>(16, std::bit_ceil(entries));
}

// Everything plan() learns about the text, kept for write().
struct JsonContainerParts {
    JsonContainerParts(std::uint64_t seed, std::size_t text_size)
        : tape(&memory),
          strings(seed, &memory),
          names(seed ^ 1, &memory),
          shapes(seed ^ 2, &memory, index_places(layout_room(text_size))),
          layouts(seed ^ 3, layout_room(text_size), starting_room(512, text_size, kMinNameBytes),
                  index_places(layout_room(text_size)), &memory),
          string_counts(&memory), shape_uses(&memory) {}
    JsonContainerParts(const JsonContainerParts&) = delete;
    JsonContainerParts& operator=(const JsonContainerParts&) = delete;

    // The memory of the tables below and of the builder's and the writer's:
    // first, so that it outlives them all.
    tables::SmallBlockArena<16 * 1024> memory;
    Tape tape;
    tables::StringTable strings;  // string values
    tables::StringTable names;    // member names
    tables::ShapeTable shapes;
    LayoutTable layouts;
    tables::TableVector<std::uint32_t> string_counts;  // occurrences, by string id
    tables::TableVector<std::uint32_t> shape_uses;     // containers, by shape id
    tables::TextArena unescaped;  // texts that held escapes, which the tables point at
    // Code-point text: the string values without escapes are kept as views
    // of their units, in the text's own memory, and only written as UTF-8.
    json::TextUnits units;

    // Whether a number may not read back as given (TapeBuilder::may_lose).
    bool may_lose = false;
    std::size_t dict_block_offset = 0;
    std::size_t data_block_offset = 0;
    std::size_t size = 0;
};

}  // namespace vesk::dumps
