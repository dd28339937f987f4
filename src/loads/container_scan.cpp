#include "loads/container_scan.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <numeric>
#include <string_view>

#include "format/byte_order.hpp"
#include "format/container_layout.hpp"
#include "format/format_limits.hpp"
#include "format/string_prefix.hpp"
#include "loads/utf8_fault.hpp"

namespace vesk {

namespace {

bool is_utf8(const std::uint8_t* text, std::size_t length) noexcept {
    return !find_utf8_fault(std::span(text, length)).has_value();
}

// Bytes of a null, bool or number value; 0 for the rest, which vary.
std::uint32_t fixed_size_of(VeskType type) noexcept {
    switch (type) {
        case VeskType::Null:
        case VeskType::String:
        case VeskType::Array:
        case VeskType::Object: return 0;
        case VeskType::Bool: return 1;
        case VeskType::Int32:
        case VeskType::Uint32:
        case VeskType::Float32: return 4;
    }
    return 0;
}

// Accepts exactly what decode_document and decompile_document accept
// together, in one pass and without building anything but the tables.
class Scanner {
public:
    Scanner(std::span<const std::uint8_t> bytes, ContainerScan& out) : bytes_(bytes), out_(out) {}

    ScanVerdict run() {
        const bool read = header() && definition_block() && (name_fields(), true) && dictionary_block() && data_block();
        out_.counts = counts_;
        if (!read) return ScanVerdict::Fault;
        return unsupported_ ? ScanVerdict::Unsupported : ScanVerdict::Valid;
    }

private:
    bool header() {
        if (bytes_.size() < kHeaderSize || bytes_[kVersionAt] != kFormatVersion) return false;
        def_offset_ = load_u32le(bytes_.data() + kDefBlockOffsetAt);
        dict_offset_ = load_u32le(bytes_.data() + kDictBlockOffsetAt);
        data_offset_ = load_u32le(bytes_.data() + kDataBlockOffsetAt);
        return def_offset_ >= kHeaderSize && dict_offset_ >= def_offset_ && data_offset_ >= dict_offset_ &&
               data_offset_ <= bytes_.size();
    }

    bool type_byte_at(std::size_t position, VeskType& out) const {
        const std::uint8_t byte = bytes_[position];
        if (!is_vesk_type_byte(byte)) return false;
        out = static_cast<VeskType>(byte);
        return true;
    }

    bool definition_block() {
        // Positions are absolute; `end` closes the block.
        const std::size_t end = dict_offset_;
        if (end - def_offset_ < 2) return false;
        const std::size_t count = load_u16le(bytes_.data() + def_offset_);
        if (end - def_offset_ < 3 * count + 2) return false;
        out_.definitions.resize(count);
        std::size_t at = def_offset_ + 2;
        for (std::size_t position = 0; position < count; ++position) {
            ScanDefinition& definition = out_.definitions[position];
            if (at >= end || !type_byte_at(at, definition.kind) || at + 3 > end) return false;
            const std::size_t index = load_u16le(bytes_.data() + at + 1);
            if (definition.kind == VeskType::Array) {
                if (at + 3 >= end || !type_byte_at(at + 3, definition.elem_type)) return false;
                at += 4;
            } else if (definition.kind == VeskType::Object) {
                definition.numbered_in_place = index == position;
                if (!fields(at + 3, end, definition, at)) return false;
            } else {
                at += 3;
            }
        }
        return true;
    }

    // Reads the field list whose count sits at `at`; `next` gets the position after it.
    bool fields(std::size_t at, std::size_t end, ScanDefinition& definition, std::size_t& next) {
        if (at + 2 > end) return false;
        const std::size_t count = load_u16le(bytes_.data() + at);
        definition.first_field = static_cast<std::uint32_t>(out_.fields.size());
        definition.field_count = static_cast<std::uint32_t>(count);
        at += 2;
        definition.fixed = true;
        for (std::size_t j = 0; j < count; ++j) {
            if (at >= end) return false;
            const std::size_t length = bytes_[at];
            if (at + length + 1 >= end || !is_utf8(bytes_.data() + at + 1, length)) return false;
            ScanField& field = out_.fields.emplace_back();
            field.name_offset = static_cast<std::uint32_t>(at + 1);
            field.name_length = static_cast<std::uint8_t>(length);
            if (!type_byte_at(at + length + 1, field.type)) return false;
            at += length + 2;
            definition.fixed = definition.fixed && (field.type == VeskType::Null || fixed_size_of(field.type) > 0);
            definition.fixed_size += fixed_size_of(field.type);
            definition.fixed_numbers += fixed_size_of(field.type) / 4;
        }
        next = at;
        lay_out_members(definition);
        return true;
    }

    // Finds, for every field, the first field with the same name, through an
    // open-addressing table of field numbers at most half full.
    void name_fields() {
        TableVector<ScanField>& fields = out_.fields;
        if (fields.empty()) return;
        const std::size_t size = std::bit_ceil(2 * fields.size());
        TableVector<std::uint32_t> table(size, kNoField, fields.get_allocator());
        for (std::uint32_t f = 0; f < fields.size(); ++f) {
            const std::string_view text = name(fields[f]);
            std::size_t slot = name_hash(text) & (size - 1);
            while (table[slot] != kNoField && name(fields[table[slot]]) != text) slot = (slot + 1) & (size - 1);
            if (table[slot] == kNoField) table[slot] = f;
            fields[f].first_of_name = table[slot];
        }
    }

    static constexpr std::uint32_t kNoField = ~std::uint32_t{0};

    // FNV-1a.
    static std::size_t name_hash(std::string_view text) {
        std::uint64_t hash = 0xCBF29CE484222325ull;
        for (const char c : text) hash = (hash ^ static_cast<std::uint8_t>(c)) * 0x100000001B3ull;
        return static_cast<std::size_t>(hash ^ (hash >> 32));
    }

    std::string_view name(const ScanField& field) const {
        return {reinterpret_cast<const char*>(bytes_.data()) + field.name_offset, field.name_length};
    }

    // Keys go in byte order of the names (string_view compares as unsigned
    // bytes, a prefix first); a repeated name is one key holding the later
    // field's value. The usual definition is already in that order.
    void lay_out_members(ScanDefinition& definition) {
        const ScanField* fields = out_.fields.data() + definition.first_field;
        const std::uint32_t count = definition.field_count;
        definition.member_count = count;
        bool ascending = true;
        for (std::uint32_t k = 1; k < count && ascending; ++k) ascending = name(fields[k - 1]) < name(fields[k]);
        if (ascending) return;

        definition.keys_in_field_order = false;
        TableVector<std::uint32_t> order(count, out_.members.get_allocator());
        std::iota(order.begin(), order.end(), 0u);
        std::stable_sort(order.begin(), order.end(),
                         [&](std::uint32_t a, std::uint32_t b) { return name(fields[a]) < name(fields[b]); });
        definition.first_member = static_cast<std::uint32_t>(out_.members.size());
        for (std::uint32_t i = 0; i < count; ++i) {
            // Equal names stay in field order, so the last of a run is the later field.
            if (i > 0 && name(fields[order[i - 1]]) == name(fields[order[i]])) {
                out_.members.back().value_field = order[i];
            } else {
                out_.members.push_back(ScanMember{order[i], order[i]});
            }
        }
        definition.member_count = static_cast<std::uint32_t>(out_.members.size()) - definition.first_member;
    }

    bool dictionary_block() {
        const std::size_t end = data_offset_;
        std::size_t at = dict_offset_;
        if (end == at) return true;
        if (end - at < 4) return false;
        const std::size_t count = load_u32le(bytes_.data() + at);
        at += 4;
        // Every string takes at least a byte: a count beyond the block fails
        // before it costs memory.
        if (count > end - at) return false;
        out_.dict.resize(count);
        for (ScanText& text : out_.dict) {
            if (at == end) return false;
            // Unlike inline strings, the dictionary refuses every first byte
            // that the writer never produces.
            if (!is_written_string_start(bytes_[at])) return false;
            StringValue value;
            if (!read_string_value(bytes_.data() + at, bytes_.data() + end, value)) return false;
            const std::size_t header = value.size - value.length;
            if (!is_utf8(bytes_.data() + at + header, value.length)) return false;
            text.offset = static_cast<std::uint32_t>(at + header);
            text.length = value.length;
            counts_.dict_bytes += value.length;
            at += value.size;
        }
        return true;
    }

    bool data_block() {
        const std::uint8_t* const data = bytes_.data();
        const std::size_t end = bytes_.size();
        std::size_t at = data_offset_;
        if (end - at < 4) return false;
        const std::size_t count = load_u32le(data + at);
        if (count > kMaxReadEntries) return false;
        at += 4;
        for (std::size_t i = 0; i < count; ++i) {
            if (end - at < kEntryHeaderSize) return false;
            const std::size_t def_index = load_u16le(data + at);
            const std::size_t payload = load_u32le(data + at + 2);
            at += kEntryHeaderSize;
            if (end - at < payload || def_index >= out_.definitions.size()) return false;
            const std::uint8_t* cursor = data + at;
            const std::uint8_t* payload_end = cursor + payload;
            if (!value(cursor, payload_end, out_.definitions[def_index].kind, 1) || cursor != payload_end) return false;
            at += payload;
        }
        return true;
    }

    // Checks the value at `at` and moves `at` past it.
    bool value(const std::uint8_t*& at, const std::uint8_t* end, VeskType type, unsigned depth) {
        ++counts_.values;
        switch (type) {
            case VeskType::Null: return true;
            case VeskType::Bool: return skip(at, end, 1);
            case VeskType::Int32:
            case VeskType::Uint32:
            case VeskType::Float32:
                ++counts_.numbers;
                return skip(at, end, 4);
            case VeskType::String: return string(at, end);
            case VeskType::Array: return array(at, end, depth);
            case VeskType::Object: return object(at, end, depth);
        }
        return false;
    }

    static bool skip(const std::uint8_t*& at, const std::uint8_t* end, std::size_t size) {
        if (static_cast<std::size_t>(end - at) < size) return false;
        at += size;
        return true;
    }

    bool string(const std::uint8_t*& at, const std::uint8_t* end) {
        StringValue value;
        if (!read_string_value(at, end, value)) return false;
        at += value.size;
        if (value.is_reference) return value.length < out_.dict.size();
        ++counts_.inline_strings;
        counts_.inline_bytes += value.length;
        return true;
    }

    bool array(const std::uint8_t*& at, const std::uint8_t* end, unsigned depth) {
        if (depth > kMaxReadDepth || static_cast<std::size_t>(end - at) < kObjectHeaderSize) return false;
        const std::size_t self_index = load_u16le(at);
        if (self_index >= out_.definitions.size() || out_.definitions[self_index].kind != VeskType::Array) return false;
        if (static_cast<std::size_t>(end - at) < kArrayHeaderSize) return false;
        const std::size_t count = load_u16le(at + 4);
        const VeskType elem_type = out_.definitions[self_index].elem_type;
        at += kArrayHeaderSize;
        ++counts_.arrays;
        switch (elem_type) {
            // Fixed-size items are checked all at once.
            case VeskType::Null:
                counts_.values += count;
                return true;
            case VeskType::Bool:
                counts_.values += count;
                return skip(at, end, count);
            case VeskType::Int32:
            case VeskType::Uint32:
            case VeskType::Float32:
                counts_.values += count;
                counts_.numbers += count;
                return skip(at, end, 4 * count);
            case VeskType::String:
                counts_.values += count;
                for (std::size_t i = 0; i < count; ++i) {
                    if (!string(at, end)) return false;
                }
                return true;
            case VeskType::Array:
                counts_.values += count;
                for (std::size_t i = 0; i < count; ++i) {
                    if (!array(at, end, depth + 1)) return false;
                }
                return true;
            case VeskType::Object:
                counts_.values += count;
                for (std::size_t i = 0; i < count; ++i) {
                    if (!object(at, end, depth + 1)) return false;
                }
                return true;
        }
        return false;
    }

    bool object(const std::uint8_t*& at, const std::uint8_t* end, unsigned depth) {
        if (depth > kMaxReadDepth || static_cast<std::size_t>(end - at) < kObjectHeaderSize) return false;
        const std::size_t self_index = load_u16le(at);
        if (self_index >= out_.definitions.size() || out_.definitions[self_index].kind != VeskType::Object) return false;
        const ScanDefinition& definition = out_.definitions[self_index];
        if (!definition.numbered_in_place) unsupported_ = true;
        at += kObjectHeaderSize;
        ++counts_.objects;
        counts_.members += definition.member_count;
        if (definition.fixed) {
            counts_.values += definition.field_count;
            counts_.numbers += definition.fixed_numbers;
            return skip(at, end, definition.fixed_size);
        }
        const ScanField* fields = out_.fields.data() + definition.first_field;
        for (std::uint32_t k = 0; k < definition.field_count; ++k) {
            if (!value(at, end, fields[k].type, depth + 1)) return false;
        }
        return true;
    }

    std::span<const std::uint8_t> bytes_;
    ContainerScan& out_;
    std::size_t def_offset_ = 0;
    std::size_t dict_offset_ = 0;
    std::size_t data_offset_ = 0;
    bool unsupported_ = false;
    ScanCounts counts_;
};

}  // namespace

ContainerScan scan_container(std::span<const std::uint8_t> bytes, std::pmr::memory_resource* memory) {
    ContainerScan scan(memory);
    scan.verdict = Scanner(bytes, scan).run();
    return scan;
}

}  // namespace vesk
