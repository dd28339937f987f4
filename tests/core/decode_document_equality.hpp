#pragma once

// Structural comparison of documents and JSON trees. Each function returns
// an empty string when both sides are equal, else where they first differ.
// Block offsets are left out: they describe one container, not the document.

#include <string>
#include <vector>

#include "json/json_value.hpp"
#include "structure/document.hpp"

namespace vesk::test {

inline std::string data_difference(const VeskData& a, const VeskData& b, const std::string& where) {
    if (a.kind != b.kind) return where + ": variant differs";
    switch (a.kind) {
        case VeskDataKind::Null: return {};
        case VeskDataKind::Bool:
            return a.as_bool() == b.as_bool() ? std::string() : where + ": bool differs";
        case VeskDataKind::Int32:
        case VeskDataKind::Uint32:
        case VeskDataKind::Float32:
        case VeskDataKind::StrRef: return a.bits == b.bits ? std::string() : where + ": payload differs";
        case VeskDataKind::String: return a.text == b.text ? std::string() : where + ": text differs";
        case VeskDataKind::Array:
            if (a.elem_def_index != b.elem_def_index) return where + ": elem_def_index differs";
            [[fallthrough]];
        case VeskDataKind::Object:
            if (a.self_def_index != b.self_def_index) return where + ": self_def_index differs";
            if (a.children.size() != b.children.size()) return where + ": child count differs";
            for (std::size_t i = 0; i < a.children.size(); ++i) {
                std::string inner = data_difference(a.children[i], b.children[i], where + "/" + std::to_string(i));
                if (!inner.empty()) return inner;
            }
            return {};
    }
    return where + ": unknown variant";
}

inline std::string definition_difference(const VeskDefinition& a, const VeskDefinition& b, const std::string& where) {
    if (a.index != b.index || a.kind != b.kind || a.elem_type != b.elem_type) return where + ": header differs";
    if (a.fields.has_value() != b.fields.has_value()) return where + ": field list presence differs";
    if (!a.fields) return {};
    if (a.fields->size() != b.fields->size()) return where + ": field count differs";
    for (std::size_t j = 0; j < a.fields->size(); ++j) {
        if ((*a.fields)[j].name != (*b.fields)[j].name || (*a.fields)[j].type != (*b.fields)[j].type) {
            return where + ": field " + std::to_string(j) + " differs";
        }
    }
    return {};
}

inline std::string document_difference(const VeskDocument& a, const VeskDocument& b) {
    if (a.version != b.version) return "version differs";
    if (a.definitions.size() != b.definitions.size()) return "definition count differs";
    for (std::size_t i = 0; i < a.definitions.size(); ++i) {
        std::string inner = definition_difference(a.definitions[i], b.definitions[i], "definition " + std::to_string(i));
        if (!inner.empty()) return inner;
    }
    if (a.dict != b.dict) return "dictionary differs";
    if (a.chunks.size() != b.chunks.size()) return "chunk count differs";
    for (std::size_t i = 0; i < a.chunks.size(); ++i) {
        const std::string where = "chunk " + std::to_string(i);
        if (a.chunks[i].def_index != b.chunks[i].def_index) return where + ": def_index differs";
        std::string inner = data_difference(a.chunks[i].data, b.chunks[i].data, where);
        if (!inner.empty()) return inner;
    }
    return {};
}

inline std::string json_difference(const json::JsonValue& a, const json::JsonValue& b, const std::string& where = "$") {
    if (a.kind != b.kind) return where + ": kind differs";
    if (a.bits != b.bits || a.text != b.text) return where + ": scalar differs";
    if (a.items.size() != b.items.size() || a.members.size() != b.members.size()) return where + ": size differs";
    for (std::size_t i = 0; i < a.items.size(); ++i) {
        std::string inner = json_difference(a.items[i], b.items[i], where + "[" + std::to_string(i) + "]");
        if (!inner.empty()) return inner;
    }
    for (std::size_t i = 0; i < a.members.size(); ++i) {
        if (a.members[i].key != b.members[i].key) return where + ": key " + std::to_string(i) + " differs";
        std::string inner = json_difference(a.members[i].value, b.members[i].value, where + "." + a.members[i].key);
        if (!inner.empty()) return inner;
    }
    return {};
}

}  // namespace vesk::test
