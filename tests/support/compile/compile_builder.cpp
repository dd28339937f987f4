#include "compile/compile_builder.hpp"

#include "compile/value_narrowing.hpp"
#include "error/format_message.hpp"
#include "tables/text_hash.hpp"

namespace vesk {

CompileBuilder::CompileBuilder()
    : definitions(primitive_definitions()), hash_seed_(tables::fresh_hash_seed(this)), shape_twins_(definitions.size(), 0) {}

std::optional<std::uint32_t> CompileBuilder::share_repeated_text(std::string_view text) {
    std::uint64_t hash = tables::hash_text(text, hash_seed_);
    if (const auto* shared = dict_index.find(text, hash)) return shared->value;
    if (const auto* seen = seen_once.find(text, hash)) {
        // Second occurrence: the dictionary entry is born. The arena copy
        // that seen_once points at serves as dict_index's key as well.
        auto index = static_cast<std::uint32_t>(dict.size());
        dict.emplace_back(text);
        dict_index.insert_new(seen->text(), hash, index);
        return index;
    }
    seen_once.insert_new(texts_.store(text), hash, true);
    return std::nullopt;
}

VeskData CompileBuilder::emit_string(std::string_view text) {
    if (std::optional<std::uint32_t> index = share_repeated_text(text)) return VeskData::str_ref(*index);
    return VeskData::string(std::string(text));
}

VeskData CompileBuilder::emit_string(std::string&& text) {
    if (std::optional<std::uint32_t> index = share_repeated_text(text)) return VeskData::str_ref(*index);
    return VeskData::string(std::move(text));
}

bool CompileBuilder::shape_matches(std::uint32_t position, std::span<const json::JsonMember> members) const {
    const std::vector<VeskField>& fields = *definitions[position].fields;
    if (fields.size() != members.size()) return false;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (fields[i].type != json_value_type(members[i].value) || fields[i].name != members[i].key) {
            return false;
        }
    }
    return true;
}

std::uint32_t CompileBuilder::append_object_definition(std::span<const json::JsonMember> members) {
    std::vector<VeskField> fields;
    fields.reserve(members.size());
    for (const json::JsonMember& member : members) fields.push_back(VeskField{member.key, json_value_type(member.value)});
    auto position = static_cast<std::uint32_t>(definitions.size());
    definitions.push_back(VeskDefinition::object(next_def_index++, std::move(fields)));
    shape_twins_.push_back(0);
    return position;
}

std::uint16_t CompileBuilder::intern_object_shape(std::span<const json::JsonMember> members) {
    key_buffer.clear();
    // The name lengths go into the hash as well. A member name may hold ':'
    // or ',', so many shapes can render to one key text; with the lengths
    // they still hash apart, and only a collision of the whole hash leaves
    // a chain of twins to walk, never every shape of one rendering.
    std::uint64_t name_lengths = hash_seed_;
    for (const json::JsonMember& member : members) {
        if (!key_buffer.empty()) key_buffer += ',';
        key_buffer += member.key;
        key_buffer += ':';
        key_buffer += format::type_ordinal(json_value_type(member.value));
        name_lengths = tables::fold_multiply(name_lengths ^ member.key.size(), 0x9E3779B97F4A7C15ull);
    }
    // Equal hashes and key texts still do not prove equal shapes: every
    // definition with this key text is checked in turn.
    std::uint64_t hash = tables::hash_text(key_buffer, name_lengths);
    const auto* known = object_shapes.find(key_buffer, hash);
    if (known == nullptr) {
        std::uint32_t position = append_object_definition(members);
        object_shapes.insert_new(texts_.store(key_buffer), hash, position);
        return definitions[position].index;
    }
    std::uint32_t position = known->value;
    for (;;) {
        if (shape_matches(position, members)) return definitions[position].index;
        if (shape_twins_[position] == 0) break;
        position = shape_twins_[position];
    }
    std::uint32_t twin = append_object_definition(members);
    shape_twins_[position] = twin;
    return definitions[twin].index;
}

Result<std::uint16_t> CompileBuilder::intern_array_shape(format::VeskType elem_type) {
    std::uint8_t code = format::type_byte(elem_type);
    // Checked before a number is handed out, so a refused code leaves no gap
    // between definition positions and indices.
    if (!format::is_vesk_type_byte(code)) return VeskError::parse("Unknown VESK type tag: 0x" + hex_byte(code));
    std::uint32_t& slot = array_shapes[format::type_index(elem_type)];
    if (slot == 0) {
        slot = static_cast<std::uint32_t>(definitions.size());
        definitions.push_back(VeskDefinition::array(next_def_index++, elem_type));
        shape_twins_.push_back(0);
    }
    return definitions[slot].index;
}

}  // namespace vesk
