#include "decode/value_decoder.hpp"

#include <algorithm>

#include "decode/utf8_text.hpp"
#include "error/format_message.hpp"
#include "format/byte_order.hpp"
#include "format/container_layout.hpp"
#include "format/format_limits.hpp"
#include "format/string_prefix.hpp"

namespace vesk {

namespace {

using Bytes = std::span<const std::uint8_t>;

VeskError fail(std::string message) { return VeskError::parse(std::move(message)); }

// The fewest bytes a value of each type can take; Null takes none.
std::size_t smallest_encoding(format::VeskType type) noexcept {
    switch (type) {
        case format::VeskType::Null: return 0;
        case format::VeskType::Bool:
        case format::VeskType::String: return 1;
        case format::VeskType::Int32:
        case format::VeskType::Uint32:
        case format::VeskType::Float32: return 4;
        case format::VeskType::Array: return format::kArrayHeaderSize;
        case format::VeskType::Object: return format::kObjectHeaderSize;
    }
    return 1;
}

Result<std::size_t> decode_string_value(Bytes range, VeskData& out) {
    const std::size_t size = range.size();
    if (size == 0) return fail("Expected string/StrRef byte");
    const format::StringClass string_class = format::string_class_of(range[0]);
    if (string_class == format::StringClass::Reference) {
        if (size < format::string_prefix_size(string_class)) return fail("Truncated StrRef dict index");
        out.kind = VeskDataKind::StrRef;
        out.bits = format::load_u32le(range.data() + 1);
        return format::string_prefix_size(string_class);
    }
    // Unlike the dictionary, an inline string reads 0xC0 to 0xFD as medium:
    // they are never written, but older containers may hold them inline.
    const std::size_t header = format::string_prefix_size(string_class);
    const std::string_view name = format::string_class_name(string_class);
    if (size < header) return fail(format_message("Truncated {} string length", name));
    const std::size_t length = format::prefixed_length(string_class, range.data());
    if (size < header + length) {
        return fail(format_message("Truncated {} string: need {} bytes, got {}", name, header + length, size));
    }
    Status copied = copy_utf8_text(range.subspan(header, length), "string", out.text);
    if (!copied) return std::move(copied).error();
    out.kind = VeskDataKind::String;
    return header + length;
}

Result<std::size_t> decode_word(Bytes range, VeskDataKind kind, const char* message, VeskData& out) {
    if (range.size() < 4) return fail(message);
    out.kind = kind;
    out.bits = format::load_u32le(range.data());
    return std::size_t{4};
}

}  // namespace

Result<std::size_t> decode_primitive_value(Bytes range, format::VeskType type, VeskData& out) {
    switch (type) {
        case format::VeskType::Null:
            out.kind = VeskDataKind::Null;
            return std::size_t{0};
        case format::VeskType::Bool:
            if (range.empty()) return fail("Expected bool byte");
            out.kind = VeskDataKind::Bool;
            out.bits = range[0] != 0 ? 1u : 0u;
            return std::size_t{1};
        case format::VeskType::Int32: return decode_word(range, VeskDataKind::Int32, "Expected int32 (4 bytes)", out);
        case format::VeskType::Uint32: return decode_word(range, VeskDataKind::Uint32, "Expected uint32 (4 bytes)", out);
        case format::VeskType::Float32:
            return decode_word(range, VeskDataKind::Float32, "Expected float32 (4 bytes)", out);
        case format::VeskType::String: return decode_string_value(range, out);
        case format::VeskType::Array:
        case format::VeskType::Object: break;
    }
    return fail("Unexpected compound type in primitive decode path");
}

Result<std::size_t> decode_typed_value(Bytes range, format::VeskType type, const std::vector<VeskDefinition>& definitions,
                                       unsigned depth, VeskData& out) {
    switch (type) {
        case format::VeskType::Array: return decode_array_value(range, definitions, depth, out);
        case format::VeskType::Object: return decode_object_value(range, definitions, depth, out);
        case format::VeskType::Null:
        case format::VeskType::Bool:
        case format::VeskType::Int32:
        case format::VeskType::Uint32:
        case format::VeskType::Float32:
        case format::VeskType::String: break;
    }
    return decode_primitive_value(range, type, out);
}

Result<std::size_t> decode_array_value(Bytes range, const std::vector<VeskDefinition>& definitions, unsigned depth,
                                       VeskData& out) {
    if (depth > format::kMaxReadDepth) return fail("Max recursion depth");
    const std::size_t size = range.size();
    if (size < 2) return fail("Truncated array self_def_index");
    const std::uint16_t self_index = format::load_u16le(range.data());
    if (self_index >= definitions.size()) return fail(format_message("Unknown definition index: {}", self_index));
    const VeskDefinition& definition = definitions[self_index];
    if (!definition.elem_type) return fail(format_message("Array #{} has no elem_type", self_index));
    if (size < 4) return fail("Truncated array elem_def_index");
    if (size < format::kArrayHeaderSize) return fail("Truncated array count");
    const format::VeskType elem_type = *definition.elem_type;
    const std::size_t count = format::load_u16le(range.data() + 4);

    out.kind = VeskDataKind::Array;
    out.self_def_index = self_index;
    out.elem_def_index = format::load_u16le(range.data() + 2);
    std::vector<VeskData>& items = out.children;
    if (elem_type == format::VeskType::Null) {
        // Null items take no bytes, so the count alone decides; at most 65535.
        items.resize(count);
        return format::kArrayHeaderSize;
    }
    // Items that cannot fit in the bytes left are never reserved for.
    items.reserve(std::min(count, (size - format::kArrayHeaderSize) / smallest_encoding(elem_type)));
    std::size_t position = format::kArrayHeaderSize;
    for (std::size_t i = 0; i < count; ++i) {
        VeskData& item = items.emplace_back();
        Result<std::size_t> used = decode_typed_value(range.subspan(position), elem_type, definitions, depth + 1, item);
        if (!used) return std::move(used).error();
        position += *used;
    }
    return position;
}

Result<std::size_t> decode_object_value(Bytes range, const std::vector<VeskDefinition>& definitions,
                                        unsigned depth, VeskData& out) {
    if (depth > format::kMaxReadDepth) return fail(format_message("Max recursion depth {} exceeded at Object", format::kMaxReadDepth));
    if (range.size() < format::kObjectHeaderSize) return fail("Truncated object self_def_index");
    const std::uint16_t self_index = format::load_u16le(range.data());
    if (self_index >= definitions.size()) return fail(format_message("Unknown definition index: {}", self_index));
    const VeskDefinition& definition = definitions[self_index];
    if (!definition.fields) return fail(format_message("Object #{} has no fields", self_index));

    out.kind = VeskDataKind::Object;
    out.self_def_index = self_index;
    std::vector<VeskData>& values = out.children;
    values.reserve(definition.fields->size());
    std::size_t position = format::kObjectHeaderSize;
    for (const VeskField& field : *definition.fields) {
        VeskData& value = values.emplace_back();
        Result<std::size_t> used = decode_typed_value(range.subspan(position), field.type, definitions, depth + 1, value);
        if (!used) return std::move(used).error();
        position += *used;
    }
    return position;
}

}  // namespace vesk
