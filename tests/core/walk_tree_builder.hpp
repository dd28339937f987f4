#pragma once

// The value tree that the scan and ContainerWalk build, in the decompiler's
// terms: what loads makes of a container, without Python, so that tests and
// the fuzz target can hold it against an independent reader.

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "decode/decoder.hpp"
#include "decompile/decompiler.hpp"
#include "json/json_value.hpp"
#include "loads/container_scan.hpp"
#include "loads/container_walk.hpp"
#include "loads/read_fault.hpp"

namespace vesk::test {

// Builds the tree that the decompiler would, through ContainerWalk, with the
// decompiler's number classes.
class TreeBuilder {
public:
    using Value = json::JsonValue;
    using List = json::JsonValue;
    using Dict = json::JsonValue;

    TreeBuilder(std::span<const std::uint8_t> bytes, const loads::ContainerScan& scan) : bytes_(bytes), scan_(scan) {}

    const std::optional<loads::ReadFault>& text_fault() const { return text_fault_; }

    bool null(Value& out) { return out = Value::null(), true; }
    bool boolean(bool value, Value& out) { return out = Value::boolean(value), true; }
    bool int32(std::int32_t value, Value& out) {
        out = value < 0 ? Value::int64(value) : Value::uint(static_cast<std::uint64_t>(value));
        return true;
    }
    bool uint32(std::uint32_t value, Value& out) { return out = Value::uint(value), true; }
    bool float32(std::uint32_t bits, Value& out) {
        return out = Value::number(static_cast<double>(std::bit_cast<float>(bits))), true;
    }
    bool text(const std::uint8_t* data, std::size_t size, Value& out) {
        loads::ReadFault fault;
        if (loads::find_text_fault(std::span(data, size), loads::TextPlace::Value, static_cast<std::size_t>(data - bytes_.data()),
                            fault)) {
            text_fault_ = fault;
            return false;
        }
        out = Value::string(std::string(reinterpret_cast<const char*>(data), size));
        return true;
    }
    bool dict_text(std::uint32_t index, Value& out) {
        const loads::ScanText& text = scan_.dict.at(index);
        out = Value::string(std::string(view(text.offset, text.length)));
        return true;
    }
    bool begin_list(std::size_t count, List& list) {
        list = Value::array();
        list.items.resize(count);
        return true;
    }
    void set_item(List& list, std::size_t position, Value&& item) { list.items.at(position) = std::move(item); }
    void end_list(List& list, Value& out) { out = std::move(list); }
    bool begin_dict(std::uint32_t, Dict& dict) { return dict = Value::object(), true; }
    bool set_member(Dict& dict, std::uint32_t field, Value&& value) {
        const loads::ScanField& named = scan_.fields.at(field);
        dict.members.push_back({std::string(view(named.name_offset, named.name_length)), std::move(value)});
        return true;
    }
    void end_dict(Dict& dict, Value& out) { out = std::move(dict); }

private:
    std::string_view view(std::size_t offset, std::size_t length) const {
        return {reinterpret_cast<const char*>(bytes_.subspan(offset, length).data()), length};
    }

    std::span<const std::uint8_t> bytes_;
    const loads::ContainerScan& scan_;
    std::optional<loads::ReadFault> text_fault_;
};

// What loads reads: the scan's fault, the walk's text fault or the tree.
inline Result<json::JsonValue> read_one_path(std::span<const std::uint8_t> bytes) {
    const loads::ContainerScan scan = loads::scan_container(bytes);
    if (scan.fault()) return VeskError::parse(loads::describe_read_fault(*scan.fault()));
    TreeBuilder builder(bytes, scan);
    json::JsonValue tree;
    if (loads::ContainerWalk(bytes, scan, builder).build(tree)) return tree;
    // The walk stops only where the builder does.
    if (!builder.text_fault()) std::abort();
    return VeskError::parse(loads::describe_read_fault(*builder.text_fault()));
}

// The reader and the decompiler together.
inline Result<json::JsonValue> read_exactly(std::span<const std::uint8_t> bytes) {
    Result<VeskDocument> document = decode_document(bytes);
    if (!document) return std::move(document).error();
    return decompile_document(*document);
}

}  // namespace vesk::test
