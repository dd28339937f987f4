#pragma once

#include <bit>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace vesk::json {

// Numbers come in exactly one of three classes: non-negative integer (u64),
// negative integer (i64, always below 0) and floating point (binary64).
enum class JsonKind : std::uint8_t { Null, Bool, UInt, Int, Float, String, Array, Object };

struct JsonMember;

// A JSON value tree node, produced by the JSON reader and by the decompiler.
// Object members are unique and kept in ascending byte order of their keys.
struct JsonValue {
    JsonKind kind = JsonKind::Null;
    std::uint64_t bits = 0;            // Bool (0/1), UInt, Int (two's complement), Float (bit pattern)
    std::string text;                  // String
    std::vector<JsonValue> items;      // Array
    std::vector<JsonMember> members;   // Object, sorted by key bytes, keys unique

    // The factories are defined below JsonMember, and the empty containers
    // are overloads rather than default arguments: making or destroying a
    // node in here needs JsonMember complete, which clang insists on.
    static JsonValue null();
    static JsonValue boolean(bool value);
    static JsonValue uint(std::uint64_t value);
    static JsonValue int64(std::int64_t value);
    static JsonValue number(double value);
    static JsonValue string(std::string value);
    static JsonValue array();
    static JsonValue array(std::vector<JsonValue> items);
    static JsonValue object();
    // `members` must already be unique and in ascending key byte order.
    static JsonValue object(std::vector<JsonMember> members);

    bool as_bool() const noexcept { return bits != 0; }
    std::uint64_t as_uint() const noexcept { return bits; }
    std::int64_t as_int() const noexcept { return static_cast<std::int64_t>(bits); }
    double as_double() const noexcept { return std::bit_cast<double>(bits); }

private:
    static JsonValue scalar(JsonKind kind, std::uint64_t bits);
};

struct JsonMember {
    std::string key;
    JsonValue value;
};

inline JsonValue JsonValue::scalar(JsonKind kind, std::uint64_t bits) {
    JsonValue node;
    node.kind = kind;
    node.bits = bits;
    return node;
}

inline JsonValue JsonValue::null() { return JsonValue{}; }
inline JsonValue JsonValue::boolean(bool value) { return scalar(JsonKind::Bool, value ? 1u : 0u); }
inline JsonValue JsonValue::uint(std::uint64_t value) { return scalar(JsonKind::UInt, value); }
inline JsonValue JsonValue::int64(std::int64_t value) {
    return scalar(JsonKind::Int, static_cast<std::uint64_t>(value));
}
inline JsonValue JsonValue::number(double value) {
    return scalar(JsonKind::Float, std::bit_cast<std::uint64_t>(value));
}

inline JsonValue JsonValue::string(std::string value) {
    JsonValue node;
    node.kind = JsonKind::String;
    node.text = std::move(value);
    return node;
}

inline JsonValue JsonValue::array(std::vector<JsonValue> items) {
    JsonValue node;
    node.kind = JsonKind::Array;
    node.items = std::move(items);
    return node;
}

inline JsonValue JsonValue::array() { return array(std::vector<JsonValue>{}); }
inline JsonValue JsonValue::object() { return object(std::vector<JsonMember>{}); }

inline JsonValue JsonValue::object(std::vector<JsonMember> members) {
    JsonValue node;
    node.kind = JsonKind::Object;
    node.members = std::move(members);
    return node;
}

}  // namespace vesk::json
