#pragma once

#include <bit>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "format/container_layout.hpp"
#include "format/vesk_type.hpp"

namespace vesk {


struct VeskField {
    std::string name;
    format::VeskType type = format::VeskType::Null;
};

// One shape: an object's ordered fields, an array's element type, or a bare
// primitive type. `fields` is present exactly for Object definitions (and may
// be empty), `elem_type` exactly for Array definitions.
struct VeskDefinition {
    std::uint16_t index = 0;
    format::VeskType kind = format::VeskType::Null;
    std::optional<std::vector<VeskField>> fields;
    std::optional<format::VeskType> elem_type;

    static VeskDefinition primitive(format::VeskType type) {
        return VeskDefinition{format::type_byte(type), type, std::nullopt, std::nullopt};
    }
    static VeskDefinition array(std::uint16_t index, format::VeskType elem_type) {
        return VeskDefinition{index, format::VeskType::Array, std::nullopt, elem_type};
    }
    static VeskDefinition object(std::uint16_t index, std::vector<VeskField> fields) {
        return VeskDefinition{index, format::VeskType::Object, std::move(fields), std::nullopt};
    }
};

// The nine variants of a value, in their fixed order.
enum class VeskDataKind : std::uint8_t { Null, Bool, Int32, Uint32, Float32, String, StrRef, Array, Object };

// One value. A flat tagged struct rather than std::variant: every variant's
// scalar payload shares one 32-bit word, so a node stays small and moving
// trees of millions of values costs no visitor dispatch.
struct VeskData {
    VeskDataKind kind = VeskDataKind::Null;
    std::uint16_t self_def_index = 0;  // Array, Object
    std::uint16_t elem_def_index = 0;  // Array
    std::uint32_t bits = 0;            // Bool, Int32, Uint32, Float32 (bit pattern), StrRef (index)
    std::string text;                  // String
    std::vector<VeskData> children;    // Array items, Object values

    static VeskData null() { return VeskData{}; }
    static VeskData boolean(bool value) { return scalar(VeskDataKind::Bool, value ? 1u : 0u); }
    static VeskData int32(std::int32_t value) {
        return scalar(VeskDataKind::Int32, static_cast<std::uint32_t>(value));
    }
    static VeskData uint32(std::uint32_t value) { return scalar(VeskDataKind::Uint32, value); }
    static VeskData float32(float value) {
        return scalar(VeskDataKind::Float32, std::bit_cast<std::uint32_t>(value));
    }
    static VeskData float32_bits(std::uint32_t pattern) { return scalar(VeskDataKind::Float32, pattern); }
    static VeskData string(std::string value) {
        VeskData data;
        data.kind = VeskDataKind::String;
        data.text = std::move(value);
        return data;
    }
    static VeskData str_ref(std::uint32_t index) { return scalar(VeskDataKind::StrRef, index); }
    static VeskData array(std::uint16_t self_def_index, std::uint16_t elem_def_index,
                          std::vector<VeskData> items) {
        VeskData data;
        data.kind = VeskDataKind::Array;
        data.self_def_index = self_def_index;
        data.elem_def_index = elem_def_index;
        data.children = std::move(items);
        return data;
    }
    static VeskData object(std::uint16_t self_def_index, std::vector<VeskData> values) {
        VeskData data;
        data.kind = VeskDataKind::Object;
        data.self_def_index = self_def_index;
        data.children = std::move(values);
        return data;
    }

    bool as_bool() const noexcept { return bits != 0; }
    std::int32_t as_int32() const noexcept { return static_cast<std::int32_t>(bits); }
    std::uint32_t as_uint32() const noexcept { return bits; }
    float as_float32() const noexcept { return std::bit_cast<float>(bits); }
    std::uint32_t str_ref_index() const noexcept { return bits; }
    std::vector<VeskData>& items() noexcept { return children; }
    const std::vector<VeskData>& items() const noexcept { return children; }
    std::vector<VeskData>& values() noexcept { return children; }
    const std::vector<VeskData>& values() const noexcept { return children; }

    // The container type of this variant (StrRef is a String).
    format::VeskType type() const noexcept { return type_of(kind); }

    static constexpr format::VeskType type_of(VeskDataKind kind) noexcept {
        switch (kind) {
            case VeskDataKind::Null: return format::VeskType::Null;
            case VeskDataKind::Bool: return format::VeskType::Bool;
            case VeskDataKind::Int32: return format::VeskType::Int32;
            case VeskDataKind::Uint32: return format::VeskType::Uint32;
            case VeskDataKind::Float32: return format::VeskType::Float32;
            case VeskDataKind::String:
            case VeskDataKind::StrRef: return format::VeskType::String;
            case VeskDataKind::Array: return format::VeskType::Array;
            case VeskDataKind::Object: return format::VeskType::Object;
        }
        return format::VeskType::Null;
    }

private:
    static VeskData scalar(VeskDataKind kind, std::uint32_t bits) {
        VeskData data;
        data.kind = kind;
        data.bits = bits;
        return data;
    }
};

// The definition a value names where it stands alone, as a chunk's value: a
// compound value's own shape, a scalar's primitive definition (numbered by
// its type byte).
constexpr std::uint16_t definition_number(const VeskData& value) noexcept {
    switch (value.kind) {
        case VeskDataKind::Null:
        case VeskDataKind::Bool:
        case VeskDataKind::Int32:
        case VeskDataKind::Uint32:
        case VeskDataKind::Float32:
        case VeskDataKind::String:
        case VeskDataKind::StrRef: return format::type_byte(value.type());
        case VeskDataKind::Array:
        case VeskDataKind::Object: return value.self_def_index;
    }
    return 0;
}

struct VeskChunk {
    std::uint16_t def_index = 0;
    VeskData data;
};

struct VeskDocument {
    std::uint8_t version = format::kFormatVersion;
    std::uint32_t def_block_offset = format::kHeaderSize;
    std::uint32_t dict_block_offset = 0;
    std::uint32_t data_block_offset = 0;
    std::vector<VeskDefinition> definitions;
    std::vector<std::string> dict;
    std::vector<VeskChunk> chunks;
};

// What both compilers make: a document whose one chunk holds `root` and
// names the definition that value stands for.
VeskDocument single_chunk_document(std::vector<VeskDefinition> definitions, std::vector<std::string> dict,
                                   VeskData root);

// The primitive definitions that every compiled document starts with.
std::vector<VeskDefinition> primitive_definitions();

}  // namespace vesk
