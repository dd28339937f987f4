#include "compile/data_compiler.hpp"

#include <utility>

#include "error/format_message.hpp"

namespace vesk {

namespace {

// "arr:{self}:{type byte of the first item}", 0 for an empty array.
void build_array_key(std::string& key, const VeskData& array) {
    key.assign("arr:");
    append_decimal(key, array.self_def_index);
    key.push_back(':');
    const auto& items = array.items();
    append_decimal(key, items.empty() ? 0u : format::type_byte(items.front().type()));
}

// "obj:{self}:{ordinal of each value, comma separated}".
void build_object_key(std::string& key, const VeskData& object) {
    key.assign("obj:");
    append_decimal(key, object.self_def_index);
    key.push_back(':');
    bool first = true;
    for (const VeskData& value : object.values()) {
        if (!first) key.push_back(',');
        key.push_back(format::type_ordinal(value.type()));
        first = false;
    }
}

// Fields f0, f1, ... typed after the values at those positions.
std::vector<VeskField> fields_of(const VeskData& object) {
    std::vector<VeskField> fields;
    fields.reserve(object.values().size());
    for (const VeskData& value : object.values()) {
        fields.push_back(VeskField{format_message("f{}", fields.size()), value.type()});
    }
    return fields;
}

}  // namespace

DataCompiler::DataCompiler() : definitions(primitive_definitions()) {}

void DataCompiler::walk(const VeskData& value) {
    switch (value.kind) {
        case VeskDataKind::String: walk_string(value.text); break;
        case VeskDataKind::Array: walk_array(value); break;
        case VeskDataKind::Object: walk_object(value); break;
        case VeskDataKind::Null:
        case VeskDataKind::Bool:
        case VeskDataKind::Int32:
        case VeskDataKind::Uint32:
        case VeskDataKind::Float32:
        case VeskDataKind::StrRef: break;
    }
}

void DataCompiler::walk_string(const std::string& text) {
    if (dict_index.find(std::string_view{text}) != dict_index.end()) return;
    dict_index.emplace(text, static_cast<std::uint32_t>(dict.size()));
    dict.push_back(text);
}

void DataCompiler::walk_array(const VeskData& array) {
    // An array is numbered before its items, so its definition precedes theirs.
    build_array_key(key_scratch_, array);
    auto found = array_shapes.find(std::string_view{key_scratch_});
    std::uint16_t index;
    if (found != array_shapes.end()) {
        index = found->second;
    } else {
        const auto& items = array.items();
        index = intern_shape(array_shapes, key_scratch_,
                             VeskDefinition::array(next_def_index,
                                                   items.empty() ? format::VeskType::Null : items.front().type()));
    }
    container_def_indices.push_back(index);
    for (const VeskData& item : array.items()) walk(item);
}

void DataCompiler::walk_object(const VeskData& object) {
    // An object is numbered after its values, yet rewrite_indices meets it
    // before them: hold its place in the record and fill it in afterwards.
    const std::size_t slot = container_def_indices.size();
    container_def_indices.push_back(0);
    for (const VeskData& value : object.values()) walk(value);

    build_object_key(key_scratch_, object);
    auto found = object_shapes.find(std::string_view{key_scratch_});
    container_def_indices[slot] =
        found != object_shapes.end()
            ? found->second
            : intern_shape(object_shapes, key_scratch_, VeskDefinition::object(next_def_index, fields_of(object)));
}

std::uint16_t DataCompiler::intern_shape(TextMap<std::uint16_t>& shapes, std::string_view key,
                                         VeskDefinition definition) {
    const std::uint16_t index = next_def_index;
    // A wrapped counter cannot reach the output: the writer refuses more than
    // kMaxDefinitions definitions, and every shape adds one.
    next_def_index = static_cast<std::uint16_t>(next_def_index + 1);
    definitions.push_back(std::move(definition));
    shapes.emplace(std::string{key}, index);
    return index;
}

VeskData DataCompiler::rewrite_indices(VeskData&& value) {
    assign_indices(value);
    return std::move(value);
}

void DataCompiler::assign_indices(VeskData& value) {
    if (value.kind != VeskDataKind::Array && value.kind != VeskDataKind::Object) {
        // Strings stay inline: nothing in the data refers to the dictionary.
        return;
    }
    // A tree that walk never saw has no record; such misuse yields index 0
    // rather than reading past the record.
    const std::uint16_t index =
        rewrite_cursor_ < container_def_indices.size() ? container_def_indices[rewrite_cursor_] : 0;
    ++rewrite_cursor_;
    value.self_def_index = index;
    if (value.kind == VeskDataKind::Array) value.elem_def_index = index;
    for (VeskData& child : value.children) assign_indices(child);
}

VeskDocument compile_data_document(VeskData root) {
    DataCompiler compiler;
    compiler.walk(root);
    VeskData compiled = compiler.rewrite_indices(std::move(root));
    return single_chunk_document(std::move(compiler.definitions), std::move(compiler.dict), std::move(compiled));
}

}  // namespace vesk
