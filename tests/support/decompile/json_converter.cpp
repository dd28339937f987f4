#include "decompile/json_converter.hpp"

#include <bit>

#include "error/format_message.hpp"

namespace vesk {

bool JsonConverter::fail(std::string message) {
    error_ = VeskError::parse(std::move(message));
    return false;
}

bool JsonConverter::convert(const VeskData& data, json::JsonValue& out, bool nested) {
    switch (data.kind) {
        case VeskDataKind::Null:
            out.kind = json::JsonKind::Null;
            return true;
        case VeskDataKind::Bool:
            out.kind = json::JsonKind::Bool;
            out.bits = data.as_bool() ? 1 : 0;
            return true;
        case VeskDataKind::Int32: {
            const std::int64_t value = data.as_int32();
            out.kind = value < 0 ? json::JsonKind::Int : json::JsonKind::UInt;
            out.bits = static_cast<std::uint64_t>(value);
            return true;
        }
        case VeskDataKind::Uint32:
            out.kind = json::JsonKind::UInt;
            out.bits = data.as_uint32();
            return true;
        case VeskDataKind::Float32:
            // Infinities and NaNs pass through: the writers produce them (a
            // literal beyond binary32's range narrows to infinity), and what
            // was written must read back.
            out.kind = json::JsonKind::Float;
            out.bits = std::bit_cast<std::uint64_t>(static_cast<double>(std::bit_cast<float>(data.bits)));
            return true;
        case VeskDataKind::String:
            out.kind = json::JsonKind::String;
            out.text = data.text;
            return true;
        case VeskDataKind::StrRef: return convert_str_ref(data.str_ref_index(), out, nested);
        case VeskDataKind::Array: return convert_array(data, out);
        case VeskDataKind::Object: return convert_object(data, out);
    }
    return fail("Unknown value variant");
}

bool JsonConverter::convert_str_ref(std::uint32_t index, json::JsonValue& out, bool nested) {
    if (index >= dict_.size()) {
        if (nested) return fail(format_message("StrRef index {} out of bounds", index));
        return fail(format_message("StrRef index {} out of bounds (dict len {})", index, dict_.size()));
    }
    out.kind = json::JsonKind::String;
    out.text = dict_[index];
    return true;
}

bool JsonConverter::convert_array(const VeskData& data, json::JsonValue& out) {
    const std::vector<VeskData>& items = data.items();
    out.kind = json::JsonKind::Array;
    out.items.reserve(items.size());
    for (const VeskData& item : items) {
        if (!convert(item, out.items.emplace_back(), true)) return false;
    }
    return true;
}

bool JsonConverter::convert_object(const VeskData& data, json::JsonValue& out) {
    const std::uint16_t number = data.self_def_index;
    const std::optional<std::size_t> position = find_definition(number);
    if (!position) return fail(format_message("Unknown definition index: {}", number));
    const VeskDefinition& definition = definitions_[*position];
    if (!definition.fields) return fail(format_message("Object #{}: no field definitions", number));
    const std::vector<VeskField>& fields = *definition.fields;
    const std::vector<VeskData>& values = data.values();
    if (values.size() != fields.size()) {
        return fail(format_message("Object #{}: expected {} fields, got {}", number, fields.size(), values.size()));
    }

    const ObjectLayout& layout = layout_at(*position);
    out.kind = json::JsonKind::Object;
    out.members.resize(layout.key_field.size());
    // Values are converted in field order, so the first failure is the one
    // met walking the value; a repeated name keeps the later value.
    const bool repeated_names = layout.key_field.size() != fields.size();
    for (std::size_t k = 0; k < values.size(); ++k) {
        json::JsonValue& slot = out.members[layout.member_of_field[k]].value;
        if (repeated_names) slot = json::JsonValue{};
        if (!convert(values[k], slot, true)) return false;
    }
    for (std::size_t m = 0; m < layout.key_field.size(); ++m) out.members[m].key = fields[layout.key_field[m]].name;
    return true;
}

std::optional<std::size_t> JsonConverter::find_definition(std::uint16_t index) {
    if (index < definitions_.size() && definitions_[index].index == index) return index;
    if (auto known = searched_.find(index); known != searched_.end()) return known->second;
    for (std::size_t position = 0; position < definitions_.size(); ++position) {
        if (definitions_[position].index == index) {
            searched_.emplace(index, position);
            return position;
        }
    }
    return std::nullopt;
}

const ObjectLayout& JsonConverter::layout_at(std::size_t position) {
    if (layouts_.empty()) layouts_.resize(definitions_.size());
    std::optional<ObjectLayout>& layout = layouts_[position];
    if (!layout) layout = make_object_layout(*definitions_[position].fields);
    return *layout;
}

}  // namespace vesk
