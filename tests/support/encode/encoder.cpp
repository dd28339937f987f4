#include "encode/encoder.hpp"

#include "encode/byte_writer.hpp"
#include "error/format_message.hpp"
#include "format/container_layout.hpp"
#include "format/format_limits.hpp"
#include "format/string_prefix.hpp"
#include "format/writer_faults.hpp"

namespace vesk {

namespace {

// Strings are the only values that can grow the output by megabytes in one
// step, so the size ceiling is checked after each of them and after each
// chunk; in between, growth is bounded by the chunk's item count. Output
// already past the ceiling is also checked before each fault a string or an
// array can raise, so the first fault in output order is the one reported.
class ValueWriter {
public:
    ValueWriter(format::ByteBuffer& out, std::size_t max_size) : out_(out), max_size_(max_size) {}

    Status write_string(std::string_view text) {
        if (out_.size() > max_size_) return format::container_too_large();
        if (text.size() > format::kMaxStringLength) {
            return format::string_too_long();
        }
        const format::LengthPrefix prefix = format::length_prefix_for(text.size());
        out_.insert(out_.end(), prefix.bytes, prefix.bytes + prefix.size);
        append_bytes(out_, text);
        if (out_.size() > max_size_) return format::container_too_large();
        return {};
    }

    Status write_value(const VeskData& value) {
        switch (value.kind) {
            case VeskDataKind::Null:
                return {};
            case VeskDataKind::Bool:
                append_u8(out_, value.as_bool() ? 1 : 0);
                return {};
            case VeskDataKind::Int32:
            case VeskDataKind::Uint32:
            case VeskDataKind::Float32:
                append_u32(out_, value.bits);
                return {};
            case VeskDataKind::String:
                return write_string(value.text);
            case VeskDataKind::StrRef:
                append_u8(out_, format::kStrRefMarker);
                append_u32(out_, value.str_ref_index());
                return {};
            case VeskDataKind::Array: {
                const auto& items = value.items();
                if (out_.size() > max_size_) return format::container_too_large();
                if (items.size() > format::kMaxArrayItems) {
                    return format::too_many_items(items.size());
                }
                append_u16(out_, value.self_def_index);
                append_u16(out_, value.elem_def_index);
                append_u16(out_, static_cast<std::uint16_t>(items.size()));
                return write_sequence(items);
            }
            case VeskDataKind::Object:
                append_u16(out_, value.self_def_index);
                return write_sequence(value.values());
        }
        return {};
    }

private:
    Status write_sequence(const std::vector<VeskData>& values) {
        for (const VeskData& value : values) {
            if (Status status = write_value(value); !status) return status;
        }
        return {};
    }

    format::ByteBuffer& out_;
    std::size_t max_size_;
};

// Checks the ceiling before each fault of its own, like the value writer.
Status write_fields(const VeskDefinition& definition, format::ByteBuffer& out, std::size_t max_size) {
    if (!definition.fields) return VeskError::parse(format_message("Object #{} has no fields", definition.index));
    const auto& fields = *definition.fields;
    if (fields.size() > format::kMaxFields) {
        return format::too_many_fields(definition.index, fields.size());
    }
    append_u16(out, static_cast<std::uint16_t>(fields.size()));
    for (const VeskField& field : fields) {
        if (out.size() > max_size) return format::container_too_large();
        if (field.name.size() > format::kMaxFieldNameLength) return format::field_name_too_long();
        append_u8(out, static_cast<std::uint8_t>(field.name.size()));
        append_bytes(out, field.name);
        append_u8(out, format::type_byte(field.type));
    }
    return {};
}

Status write_definition(const VeskDefinition& definition, format::ByteBuffer& out, std::size_t max_size) {
    if (out.size() > max_size) return format::container_too_large();
    append_u8(out, format::type_byte(definition.kind));
    append_u16(out, definition.index);
    switch (definition.kind) {
        case format::VeskType::Null:
        case format::VeskType::Bool:
        case format::VeskType::Int32:
        case format::VeskType::Uint32:
        case format::VeskType::Float32:
        case format::VeskType::String: return {};
        case format::VeskType::Array:
            if (!definition.elem_type) {
                return VeskError::parse(format_message("Array #{} has no elem_type", definition.index));
            }
            append_u8(out, format::type_byte(*definition.elem_type));
            return {};
        case format::VeskType::Object: return write_fields(definition, out, max_size);
    }
    return {};
}

}  // namespace

Status encode_str_inline(std::string_view text, format::ByteBuffer& out) {
    return ValueWriter(out, format::kMaxContainerSize).write_string(text);
}

Status encode_value_into(const VeskData& value, format::ByteBuffer& out) {
    return ValueWriter(out, format::kMaxContainerSize).write_value(value);
}

Result<format::ByteBuffer> encode_document(const VeskDocument& document) {
    return encode_document_within(document, format::kMaxContainerSize);
}

Result<format::ByteBuffer> encode_document_within(const VeskDocument& document, std::size_t max_container_size) {
    format::ByteBuffer out;
    out.reserve(256);
    out.resize(format::kHeaderSize);  // header placeholder, filled in last

    const auto& definitions = document.definitions;
    if (definitions.size() > format::kMaxDefinitions) {
        return format::too_many_definitions(definitions.size());
    }
    append_u16(out, static_cast<std::uint16_t>(definitions.size()));
    for (const VeskDefinition& definition : definitions) {
        Status status = write_definition(definition, out, max_container_size);
        if (!status) return std::move(status).error();
    }
    if (out.size() > max_container_size) return format::container_too_large();

    ValueWriter writer(out, max_container_size);
    const std::size_t dict_block_offset = out.size();
    // Every string takes at least one byte, every entry at least six, so
    // counts beyond 32 bits imply a container beyond the ceiling anyway.
    if (document.dict.size() > max_container_size) return format::container_too_large();
    append_u32(out, static_cast<std::uint32_t>(document.dict.size()));
    for (const std::string& text : document.dict) {
        if (Status status = writer.write_string(text); !status) return std::move(status).error();
    }

    const std::size_t data_block_offset = out.size();
    const auto& chunks = document.chunks;
    if (chunks.size() > max_container_size) return format::container_too_large();
    out.reserve(out.size() + 4 + 16 * chunks.size());
    append_u32(out, static_cast<std::uint32_t>(chunks.size()));
    for (const VeskChunk& chunk : chunks) {
        append_u16(out, chunk.def_index);
        const std::size_t length_at = out.size();
        append_u32(out, 0);  // payload length placeholder
        if (Status status = writer.write_value(chunk.data); !status) return std::move(status).error();
        if (out.size() > max_container_size) return format::container_too_large();
        patch_u32(out, length_at, static_cast<std::uint32_t>(out.size() - length_at - 4));
    }

    // The two block counts are not followed by a check of their own when no
    // string or chunk comes after them.
    if (out.size() > max_container_size) return format::container_too_large();
    out[format::kVersionAt] = document.version;
    patch_u32(out, format::kDefBlockOffsetAt, static_cast<std::uint32_t>(format::kHeaderSize));
    patch_u32(out, format::kDictBlockOffsetAt, static_cast<std::uint32_t>(dict_block_offset));
    patch_u32(out, format::kDataBlockOffsetAt, static_cast<std::uint32_t>(data_block_offset));
    return out;
}

}  // namespace vesk
