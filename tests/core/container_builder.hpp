#pragma once

// Builds containers byte by byte, so reader tests can place every count,
// offset and length exactly where a fault should be.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "structure/document.hpp"

namespace vesk::test {

class Bytes {
public:
    Bytes() = default;
    Bytes(std::initializer_list<std::uint8_t> bytes) : data_(bytes) {}

    Bytes& u8(std::uint8_t value) {
        data_.push_back(value);
        return *this;
    }
    Bytes& u16(std::uint16_t value) { return u8(value & 0xFF).u8(value >> 8); }
    Bytes& u24(std::uint32_t value) { return u16(value & 0xFFFF).u8((value >> 16) & 0xFF); }
    Bytes& u32(std::uint32_t value) { return u16(value & 0xFFFF).u16(value >> 16); }
    Bytes& text(std::string_view text) {
        data_.insert(data_.end(), text.begin(), text.end());
        return *this;
    }
    Bytes& repeat(std::uint8_t byte, std::size_t count) {
        data_.insert(data_.end(), count, byte);
        return *this;
    }
    Bytes& append(const Bytes& other) {
        data_.insert(data_.end(), other.data_.begin(), other.data_.end());
        return *this;
    }
    // The string encoding: short, medium or long length prefix, then text.
    Bytes& string(std::string_view value) {
        const std::size_t length = value.size();
        if (length < 128) {
            u8(static_cast<std::uint8_t>(length));
        } else if (length < 16384) {
            u8(static_cast<std::uint8_t>(0x80 | (length >> 8))).u8(length & 0xFF);
        } else {
            u8(0xFE).u24(static_cast<std::uint32_t>(length));
        }
        return text(value);
    }

    std::size_t size() const { return data_.size(); }
    const format::ByteBuffer& buffer() const { return data_; }

private:
    format::ByteBuffer data_;
};

// Definition records.
inline Bytes primitive_record(format::VeskType kind, std::uint16_t index) {
    return Bytes().u8(format::type_byte(kind)).u16(index);
}
inline Bytes array_record(std::uint16_t index, format::VeskType elem) {
    return Bytes().u8(format::type_byte(format::VeskType::Array)).u16(index).u8(format::type_byte(elem));
}
inline Bytes object_record(std::uint16_t index, const std::vector<std::pair<std::string, format::VeskType>>& fields) {
    Bytes record;
    record.u8(format::type_byte(format::VeskType::Object)).u16(index).u16(static_cast<std::uint16_t>(fields.size()));
    for (const auto& [name, type] : fields) record.u8(static_cast<std::uint8_t>(name.size())).text(name).u8(format::type_byte(type));
    return record;
}

// A definition block: the count, then the records.
inline Bytes definition_block(const std::vector<Bytes>& records) {
    Bytes block;
    block.u16(static_cast<std::uint16_t>(records.size()));
    for (const Bytes& record : records) block.append(record);
    return block;
}

// The six primitive definitions at positions 0 to 5, then `shapes` from 6.
inline Bytes standard_definitions(const std::vector<Bytes>& shapes = {}) {
    std::vector<Bytes> records;
    for (std::uint8_t kind = 0; kind <= 5; ++kind) records.push_back(primitive_record(static_cast<format::VeskType>(kind), kind));
    records.insert(records.end(), shapes.begin(), shapes.end());
    return definition_block(records);
}

inline Bytes dictionary_block(const std::vector<std::string>& strings) {
    Bytes block;
    block.u32(static_cast<std::uint32_t>(strings.size()));
    for (const std::string& text : strings) block.string(text);
    return block;
}

inline Bytes entry(std::uint16_t def_index, const Bytes& payload) {
    return Bytes().u16(def_index).u32(static_cast<std::uint32_t>(payload.size())).append(payload);
}

inline Bytes data_block(const std::vector<Bytes>& entries) {
    Bytes block;
    block.u32(static_cast<std::uint32_t>(entries.size()));
    for (const Bytes& one : entries) block.append(one);
    return block;
}

// Header and blocks back to back; `gap` ignored bytes may sit between the
// header and the definition block.
inline format::ByteBuffer assemble(const Bytes& definitions, const Bytes& dict, const Bytes& data, std::uint8_t version = 1,
                           std::size_t gap = 0) {
    const std::uint32_t def_offset = static_cast<std::uint32_t>(13 + gap);
    const std::uint32_t dict_offset = def_offset + static_cast<std::uint32_t>(definitions.size());
    const std::uint32_t data_offset = dict_offset + static_cast<std::uint32_t>(dict.size());
    Bytes out;
    out.u8(version).u32(def_offset).u32(dict_offset).u32(data_offset).repeat(0xEE, gap);
    out.append(definitions).append(dict).append(data);
    return out.buffer();
}

// Standard definitions plus `shapes`, an empty dictionary unless given, and
// one entry of `def_index` holding `payload`.
inline format::ByteBuffer single_entry(const std::vector<Bytes>& shapes, std::uint16_t def_index, const Bytes& payload,
                               const std::vector<std::string>& dict = {}) {
    return assemble(standard_definitions(shapes), dictionary_block(dict), data_block({entry(def_index, payload)}));
}

}  // namespace vesk::test
