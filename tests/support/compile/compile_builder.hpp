#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "error/result.hpp"
#include "json/json_value.hpp"
#include "structure/document.hpp"
#include "tables/text_arena.hpp"
#include "tables/text_table.hpp"

namespace vesk {

// Turns one JSON value tree into document parts: the definitions (one per
// distinct object shape and per array element type, numbered in post-order
// after the primitive definitions) and the string dictionary (a text stays
// inline the first time it is met and is shared through the dictionary from
// its second occurrence on). One builder serves exactly one compilation.
class CompileBuilder {
public:
    CompileBuilder();

    // One string value: String the first time its text is met, StrRef from
    // the second time on. The rvalue overload moves the text into the value.
    VeskData emit_string(std::string_view text);
    VeskData emit_string(std::string&& text);

    // The definition index of an object whose members are given in ascending
    // byte order of their names (the values' types make the shape).
    std::uint16_t intern_object_shape(std::span<const json::JsonMember> members);

    // The definition index of the arrays whose elements have this type.
    Result<std::uint16_t> intern_array_shape(format::VeskType elem_type);

    // Converts one node and everything under it. Texts are moved out of the
    // tree, and object members are put in name order in place, so the tree
    // is left only fit for the numbers and types it still holds.
    Result<VeskData> compile_inline(json::JsonValue& node);

    std::vector<VeskDefinition> definitions;
    std::string key_buffer;
    std::vector<std::string> dict;
    // Shape key, hashed together with its name lengths -> position of a
    // definition; further shapes with the same key text and hash are
    // chained in shape_twins.
    TextTable<std::uint32_t> object_shapes;
    // Element type -> definition position, as a table indexed by the type's
    // ordinal: eight possible keys need no hashing. 0 marks a type without a
    // definition yet (position 0 is never an array definition). Positions,
    // like those in object_shapes, are kept in 32 bits so that the lookups
    // stay right even past the kMaxDefinitions a container can hold.
    std::array<std::uint32_t, format::kTypeCount> array_shapes{};
    TextTable<std::uint32_t> dict_index;
    TextTable<bool> seen_once;
    std::uint16_t next_def_index = format::kPrimitiveDefinitionCount;

private:
    Status compile_into(json::JsonValue& node, VeskData& out);
    Status compile_array(std::vector<json::JsonValue>& items, VeskData& out);
    Status compile_object(std::vector<json::JsonMember>& members, VeskData& out);

    // The dictionary index of a text met before (entering it on its second
    // occurrence); nullopt, after remembering the text, on its first.
    std::optional<std::uint32_t> share_repeated_text(std::string_view text);
    bool shape_matches(std::uint32_t position, std::span<const json::JsonMember> members) const;
    std::uint32_t append_object_definition(std::span<const json::JsonMember> members);

    // Seed of every lookup hash of this builder, chosen afresh per builder.
    std::uint64_t hash_seed_;
    // Owns the texts that the lookup tables point at.
    tables::TextArena texts_;
    // For each definition position, the next definition whose shape key
    // renders to the same text (0: none).
    std::vector<std::uint32_t> shape_twins_;
};

}  // namespace vesk
