#pragma once

// Compact text forms of compiled values and definitions, so that compiler
// tests can state whole expected trees in one line.

#include <charconv>
#include <string>
#include <vector>

#include "json/json_value.hpp"
#include "structure/document.hpp"

namespace vesk::compile_test {

// null, true, i:-5, u:7, f:0.1 (shortest form of the binary32), s"x", r:0,
// A6/5[...] (self and element definition), O8{...} (self definition).
inline std::string render(const VeskData& value) {
    auto join = [](const std::vector<VeskData>& children) {
        std::string out;
        for (const VeskData& child : children) {
            if (!out.empty()) out += ',';
            out += render(child);
        }
        return out;
    };
    switch (value.kind) {
        case VeskDataKind::Null: return "null";
        case VeskDataKind::Bool: return value.as_bool() ? "true" : "false";
        case VeskDataKind::Int32: return "i:" + std::to_string(value.as_int32());
        case VeskDataKind::Uint32: return "u:" + std::to_string(value.as_uint32());
        case VeskDataKind::Float32: {
            char digits[32];
            auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value.as_float32());
            return "f:" + std::string(digits, ec == std::errc{} ? end : digits);
        }
        case VeskDataKind::String: return "s\"" + value.text + "\"";
        case VeskDataKind::StrRef: return "r:" + std::to_string(value.str_ref_index());
        case VeskDataKind::Array:
            return "A" + std::to_string(value.self_def_index) + "/" + std::to_string(value.elem_def_index) + "[" +
                   join(value.items()) + "]";
        case VeskDataKind::Object:
            return "O" + std::to_string(value.self_def_index) + "{" + join(value.values()) + "}";
    }
    return "?";
}

// The shape definitions (position 6 on), e.g. "6:{k:Int32}", "7:[String]";
// a definition whose index differs from its position shows both.
inline std::vector<std::string> render_shapes(const std::vector<VeskDefinition>& definitions) {
    std::vector<std::string> out;
    for (std::size_t position = 6; position < definitions.size(); ++position) {
        const VeskDefinition& definition = definitions[position];
        std::string text = std::to_string(definition.index);
        if (definition.index != position) text.append("@").append(std::to_string(position));
        text += ':';
        if (definition.kind == format::VeskType::Array && definition.elem_type) {
            text.append("[").append(format::type_name(*definition.elem_type)).append("]");
        } else if (definition.kind == format::VeskType::Object && definition.fields) {
            text += '{';
            for (std::size_t i = 0; i < definition.fields->size(); ++i) {
                if (i > 0) text += ',';
                text.append((*definition.fields)[i].name).append(":").append(format::type_name((*definition.fields)[i].type));
            }
            text += '}';
        } else {
            text.append("bad ").append(format::type_name(definition.kind));
        }
        out.push_back(text);
    }
    return out;
}

// Tree builders for hand-made JSON input.
inline json::JsonValue num(std::uint64_t value) { return json::JsonValue::uint(value); }
inline json::JsonValue neg(std::int64_t value) { return json::JsonValue::int64(value); }
inline json::JsonValue real(double value) { return json::JsonValue::number(value); }
inline json::JsonValue str(std::string text) { return json::JsonValue::string(std::move(text)); }
inline json::JsonValue arr(std::vector<json::JsonValue> items) { return json::JsonValue::array(std::move(items)); }
// Members in the order given, sorted or not: the compiler orders them itself.
inline json::JsonValue obj(std::vector<json::JsonMember> members) {
    json::JsonValue node;
    node.kind = json::JsonKind::Object;
    node.members = std::move(members);
    return node;
}

}  // namespace vesk::compile_test
