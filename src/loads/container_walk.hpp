#pragma once

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "format/byte_order.hpp"
#include "format/container_layout.hpp"
#include "loads/container_scan.hpp"

namespace vesk::loads {

// Builds the value of a container in which scan_container found no fault, straight
// from its bytes: no chunk gives the builder's null, one chunk its value,
// several a list of their values. Objects get their keys in byte order, a
// repeated name holding the later field's value. The walk trusts the scan
// and checks nothing itself; the builder validates inline text.
//
// A Builder provides, each returning false to stop the walk (it keeps the
// reason itself):
//   using Value;  movable, default-constructed when empty
//   using List;   a list under construction
//   using Dict;   a dict under construction
//   bool null(Value&); bool boolean(bool, Value&);
//   bool int32(std::int32_t, Value&); bool uint32(std::uint32_t, Value&);
//   bool float32(std::uint32_t bits, Value&);
//   bool text(const std::uint8_t*, std::size_t, Value&);   inline text, not yet validated
//                                                          (find_text_fault words a fault)
//   bool dict_text(std::uint32_t index, Value&);           a dictionary string, validated
//   bool begin_list(std::size_t count, List&);
//   void set_item(List&, std::size_t position, Value&&);   every position exactly once
//   void end_list(List&, Value&);
//   bool begin_dict(std::uint32_t definition, Dict&);      definition position
//   bool set_member(Dict&, std::uint32_t field, Value&&);  the field naming the key, numbered as in
//                                                          ContainerScan::fields (ScanDefinition::key_field on),
//                                                          called in key order
//   void end_dict(Dict&, Value&);
template <class Builder>
class ContainerWalk {
public:
    using Value = typename Builder::Value;

    ContainerWalk(std::span<const std::uint8_t> bytes, const ContainerScan& scan, Builder& builder)
        : bytes_(bytes), scan_(scan), builder_(builder) {}

    bool build(Value& out) {
        const std::uint8_t* const data = bytes_.data();
        const std::uint8_t* at = data + format::load_u32le(data + format::kDataBlockOffsetAt);
        const std::size_t count = format::load_u32le(at);
        at += 4;
        if (count == 0) return builder_.null(out);
        if (count == 1) return chunk(at, out);
        typename Builder::List list;
        if (!builder_.begin_list(count, list)) return false;
        for (std::size_t i = 0; i < count; ++i) {
            Value item;
            if (!chunk(at, item)) return false;
            builder_.set_item(list, i, std::move(item));
        }
        builder_.end_list(list, out);
        return true;
    }

private:
    bool chunk(const std::uint8_t*& at, Value& out) {
        const std::size_t def_index = format::load_u16le(at);
        at += format::kEntryHeaderSize;
        return value(at, scan_.definitions[def_index].kind, out);
    }

    bool value(const std::uint8_t*& at, format::VeskType type, Value& out) {
        switch (type) {
            case format::VeskType::Null: return builder_.null(out);
            case format::VeskType::Bool: return builder_.boolean(*at++ != 0, out);
            case format::VeskType::Int32: return builder_.int32(static_cast<std::int32_t>(word(at)), out);
            case format::VeskType::Uint32: return builder_.uint32(word(at), out);
            case format::VeskType::Float32: return builder_.float32(word(at), out);
            case format::VeskType::String: return string(at, out);
            case format::VeskType::Array: return array(at, out);
            case format::VeskType::Object: return object(at, out);
        }
        return false;
    }

    static std::uint32_t word(const std::uint8_t*& at) {
        const std::uint32_t bits = format::load_u32le(at);
        at += 4;
        return bits;
    }

    bool string(const std::uint8_t*& at, Value& out) {
        StringValue string;
        read_string_value(at, bytes_.data() + bytes_.size(), string);
        const std::uint8_t* text = at + (string.size - string.length);
        at += string.size;
        if (string.is_reference) return builder_.dict_text(string.length, out);
        return builder_.text(text, string.length, out);
    }

    // Fills `list` with `count` items made by `make`.
    template <class Make>
    bool fill(typename Builder::List& list, std::size_t count, Make&& make) {
        for (std::size_t i = 0; i < count; ++i) {
            Value item;
            if (!make(item)) return false;
            builder_.set_item(list, i, std::move(item));
        }
        return true;
    }

    bool array(const std::uint8_t*& at, Value& out) {
        const format::VeskType elem_type = scan_.definitions[format::load_u16le(at)].elem_type;
        const std::size_t count = format::load_u16le(at + 4);
        at += format::kArrayHeaderSize;
        typename Builder::List list;
        if (!builder_.begin_list(count, list)) return false;
        // One loop per item type keeps the type switch out of the loop.
        bool filled = false;
        switch (elem_type) {
            case format::VeskType::Null: filled = fill(list, count, [&](Value& v) { return builder_.null(v); }); break;
            case format::VeskType::Bool:
                filled = fill(list, count, [&](Value& v) { return builder_.boolean(*at++ != 0, v); });
                break;
            case format::VeskType::Int32:
                filled = fill(list, count,
                              [&](Value& v) { return builder_.int32(static_cast<std::int32_t>(word(at)), v); });
                break;
            case format::VeskType::Uint32:
                filled = fill(list, count, [&](Value& v) { return builder_.uint32(word(at), v); });
                break;
            case format::VeskType::Float32:
                filled = fill(list, count, [&](Value& v) { return builder_.float32(word(at), v); });
                break;
            case format::VeskType::String: filled = fill(list, count, [&](Value& v) { return string(at, v); }); break;
            case format::VeskType::Array: filled = fill(list, count, [&](Value& v) { return array(at, v); }); break;
            case format::VeskType::Object: filled = fill(list, count, [&](Value& v) { return object(at, v); }); break;
        }
        if (!filled) return false;
        builder_.end_list(list, out);
        return true;
    }

    bool object(const std::uint8_t*& at, Value& out) {
        const std::uint32_t position = format::load_u16le(at);
        const ScanDefinition& definition = scan_.definitions[position];
        at += format::kObjectHeaderSize;
        typename Builder::Dict dict;
        if (!builder_.begin_dict(position, dict)) return false;
        const ScanField* fields = scan_.fields.data() + definition.first_field;
        if (definition.keys_in_field_order) {
            for (std::uint32_t k = 0; k < definition.field_count; ++k) {
                Value member;
                if (!value(at, fields[k].type, member)) return false;
                if (!builder_.set_member(dict, definition.key_field + k, std::move(member))) return false;
            }
        } else if (!reordered_members(at, definition, dict)) {
            return false;
        }
        builder_.end_dict(dict, out);
        return true;
    }

    // Values come in field order and keys go in byte order: the values wait
    // on a stack shared by all objects of the walk.
    bool reordered_members(const std::uint8_t*& at, const ScanDefinition& definition, typename Builder::Dict& dict) {
        const std::size_t base = pending_.size();
        const ScanField* fields = scan_.fields.data() + definition.first_field;
        for (std::uint32_t k = 0; k < definition.field_count; ++k) {
            // Built aside: a nested object may grow the stack meanwhile.
            Value member;
            if (!value(at, fields[k].type, member)) return false;
            pending_.push_back(std::move(member));
        }
        const ScanMember* members = scan_.members.data() + definition.first_member;
        for (std::uint32_t m = 0; m < definition.member_count; ++m) {
            Value& member = pending_[base + members[m].value_field];
            if (!builder_.set_member(dict, definition.key_field + members[m].key_field, std::move(member))) {
                return false;
            }
        }
        // Values of repeated names that lost to a later field go here.
        pending_.resize(base);
        return true;
    }

    std::span<const std::uint8_t> bytes_;
    const ContainerScan& scan_;
    Builder& builder_;
    std::vector<Value> pending_;
};

}  // namespace vesk::loads
