// The JSON compiler's walk over a value tree: every node converted, arrays
// held to one element type, objects put in name order and given their shape.

#include <algorithm>
#include <span>

#include "compile/compile_builder.hpp"
#include "compile/value_narrowing.hpp"
#include "format/array_item_rule.hpp"

namespace vesk {

namespace {

// Makes the converted items of one array agree with the type of its first
// non-null item (at `first_typed`). Items that are all numbers of more than
// one type, with no null among them, become Float32 items rounded from the
// full values in `source`; any other disagreement fails on the first item
// that breaks the rule.
Status unify_array_items(std::span<const json::JsonValue> source, std::span<VeskData> items, std::size_t first_typed) {
    const format::VeskType expected = items[first_typed].type();
    bool mixed_numbers = false;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const format::VeskType found = items[i].type();
        if (!format::fits_array_items(found, expected)) return format::mixed_array_item(i, found, expected);
        mixed_numbers |= found != expected;
    }
    if (mixed_numbers) {
        for (std::size_t i = 0; i < items.size(); ++i) items[i] = VeskData::float32(json_number_as_float(source[i]));
    }
    return {};
}

bool name_before(const json::JsonMember& left, const json::JsonMember& right) noexcept {
    // std::string compares through char_traits<char>, i.e. as unsigned bytes,
    // with a proper prefix first.
    return left.key < right.key;
}

}  // namespace

Result<VeskData> CompileBuilder::compile_inline(json::JsonValue& node) {
    VeskData out;
    Status status = compile_into(node, out);
    if (!status) return std::move(status).error();
    return out;
}

// `out` is a default (Null) value that this fills in.
Status CompileBuilder::compile_into(json::JsonValue& node, VeskData& out) {
    switch (node.kind) {
        case json::JsonKind::Null: return {};
        case json::JsonKind::Bool:
            out.kind = VeskDataKind::Bool;
            out.bits = node.as_bool() ? 1 : 0;
            return {};
        case json::JsonKind::UInt:
        case json::JsonKind::Int:
        case json::JsonKind::Float: {
            VeskData number = narrow_json_number(node);
            out.kind = number.kind;
            out.bits = number.bits;
            return {};
        }
        case json::JsonKind::String: out = emit_string(std::move(node.text)); return {};
        case json::JsonKind::Array: return compile_array(node.items, out);
        case json::JsonKind::Object: return compile_object(node.members, out);
    }
    return {};
}

Status CompileBuilder::compile_array(std::vector<json::JsonValue>& items, VeskData& out) {
    std::vector<VeskData> converted(items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        Status status = compile_into(items[i], converted[i]);
        if (!status) return status;
    }
    auto first_typed = static_cast<std::size_t>(
        std::find_if(converted.begin(), converted.end(),
                     [](const VeskData& item) { return item.kind != VeskDataKind::Null; }) -
        converted.begin());
    format::VeskType elem_type = format::VeskType::Null;
    std::uint16_t elem_def_index = 0;
    if (first_typed < converted.size()) {
        Status unified = unify_array_items(items, converted, first_typed);
        if (!unified) return unified;
        elem_type = converted[first_typed].type();
        // What an array records about its elements: the definition of its
        // first typed item, except that for a nested array it copies the note
        // that array carries about its own elements.
        const VeskData& first = converted[first_typed];
        elem_def_index = first.kind == VeskDataKind::Array ? first.elem_def_index : definition_number(first);
    }
    Result<std::uint16_t> shape = intern_array_shape(elem_type);
    if (!shape) return std::move(shape).error();
    out.kind = VeskDataKind::Array;
    out.self_def_index = *shape;
    out.elem_def_index = elem_def_index;
    out.children = std::move(converted);
    return {};
}

Status CompileBuilder::compile_object(std::vector<json::JsonMember>& members, VeskData& out) {
    if (!std::is_sorted(members.begin(), members.end(), name_before)) {
        std::stable_sort(members.begin(), members.end(), name_before);
    }
    std::vector<VeskData> values(members.size());
    for (std::size_t i = 0; i < members.size(); ++i) {
        Status status = compile_into(members[i].value, values[i]);
        if (!status) return status;
    }
    out.kind = VeskDataKind::Object;
    out.self_def_index = intern_object_shape(members);
    out.children = std::move(values);
    return {};
}

}  // namespace vesk
