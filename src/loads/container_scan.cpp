#include "loads/container_scan.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>
#include <numeric>
#include <string_view>

#include "format/byte_order.hpp"
#include "format/container_layout.hpp"
#include "format/format_limits.hpp"
#include "format/string_prefix.hpp"
#include "loads/utf8_fault.hpp"

namespace vesk::loads {

namespace {

// Bytes of a null, bool or number value; 0 for the rest, which vary.
std::uint32_t fixed_size_of(format::VeskType type) noexcept {
    switch (type) {
        case format::VeskType::Null:
        case format::VeskType::String:
        case format::VeskType::Array:
        case format::VeskType::Object: return 0;
        case format::VeskType::Bool: return 1;
        case format::VeskType::Int32:
        case format::VeskType::Uint32:
        case format::VeskType::Float32: return 4;
    }
    return 0;
}

// The fault of a value of a fixed-size type cut short.
ReadFaultCode cut_short(format::VeskType type) noexcept {
    switch (type) {
        case format::VeskType::Bool: return ReadFaultCode::ExpectedBool;
        case format::VeskType::Int32: return ReadFaultCode::ExpectedInt32;
        case format::VeskType::Uint32: return ReadFaultCode::ExpectedUint32;
        case format::VeskType::Float32: return ReadFaultCode::ExpectedFloat32;
        case format::VeskType::Null:
        case format::VeskType::String:
        case format::VeskType::Array:
        case format::VeskType::Object: break;
    }
    return ReadFaultCode::ExpectedString;
}

// The fields of the definition block [at, end) holding `count` definitions,
// as far as its records can be read, and the most in one definition.
struct FieldCount {
    std::size_t fields = 0;
    std::size_t largest = 0;
};

// Counts the fields of `count` definitions from `at`, stopping after the
// definition that takes them past `enough`.
FieldCount count_fields(std::span<const std::uint8_t> bytes, std::size_t at, std::size_t end, std::size_t count,
                        std::size_t enough = std::numeric_limits<std::size_t>::max()) {
    FieldCount out;
    for (std::size_t position = 0; position < count && at + format::kDefinitionHeaderSize <= end && out.fields <= enough;
         ++position) {
        const std::uint8_t kind = bytes[at];
        if (kind == static_cast<std::uint8_t>(format::VeskType::Array)) {
            at += format::kArrayDefinitionSize;
        } else if (kind != static_cast<std::uint8_t>(format::VeskType::Object)) {
            at += format::kDefinitionHeaderSize;
        } else {
            if (at + format::kObjectDefinitionHeaderSize > end) break;
            const std::size_t field_count = format::load_u16le(bytes.data() + at + format::kDefinitionHeaderSize);
            at += format::kObjectDefinitionHeaderSize;
            std::size_t j = 0;
            while (j < field_count && at < end) {
                // Empty names pack the most fields into a block, and step
                // eight at a time: every other byte of sixteen is zero.
                constexpr std::uint64_t kNameLengths = 0x00FF00FF00FF00FFull;
                if (field_count - j >= 8 && end - at >= 16 &&
                    ((format::load_u64le(bytes.data() + at) | format::load_u64le(bytes.data() + at + 8)) &
                     kNameLengths) == 0) {
                    at += 16;
                    j += 8;
                    continue;
                }
                at += bytes[at] + format::kMinFieldSize;
                ++j;
            }
            out.fields += j;
            out.largest = std::max(out.largest, j);
        }
    }
    return out;
}

// The most fields a definition block of `size` bytes can hold.
constexpr std::size_t most_fields(std::size_t size) noexcept { return size / format::kMinFieldSize + 1; }

// A block that can hold no more fields than this gets room for as many at
// once, without counting them: a few kilobytes, which a scan reused for the
// next short container then has.
constexpr std::size_t kUncountedFieldRoom = 256;

// The records of the primitive definitions as the writers make them: each
// with kind and index equal to its position.
constexpr std::array<std::uint8_t, format::kPrimitiveDefinitionCount * format::kDefinitionHeaderSize>
primitive_records() noexcept {
    std::array<std::uint8_t, format::kPrimitiveDefinitionCount * format::kDefinitionHeaderSize> records{};
    for (std::size_t position = 0; position < format::kPrimitiveDefinitionCount; ++position) {
        records[position * format::kDefinitionHeaderSize] = static_cast<std::uint8_t>(position);
        records[position * format::kDefinitionHeaderSize + 1] = static_cast<std::uint8_t>(position);
    }
    return records;
}
constexpr auto kPrimitiveRecords = primitive_records();

using Cursor = const std::uint8_t*;

// Reads in the order of the reader's rules, each check where the byte it
// needs is first met, so the first fault found is the first the rules name.
// The reader's faults end the scan; the first fault of meaning (a reference
// past the dictionary, an object named by no fit definition) is held while
// the scan reads on, since a reader's fault anywhere outranks it. With
// kCensus, the census is taken too; with kCheckText, inline texts are checked
// as well.
template <bool kCensus, bool kCheckText>
class Scanner {
public:
    Scanner(std::span<const std::uint8_t> bytes, ContainerScan& out, ScanCensus* census)
        : bytes_(bytes),
          out_(out),
          census_(census),
          def_offset_(out.def_block_offset),
          dict_offset_(out.dict_block_offset),
          data_offset_(out.data_block_offset),
          definition_count_(out.definitions.size()),
          dict_count_(out.dict.size()) {}

    void run() {
        const bool blocks = header() && definition_block() && (link_definitions(), name_fields(), true) && dictionary_block();
        if (!blocks) return;
        start_census();
        const bool data = data_block();
        out_.counts = counts_;
        if constexpr (!kCheckText) {
            if (!data || out_.meaning_fault) {
                // Inline texts are left to the walk, but a text that is not
                // UTF-8 outranks a fault after it, and every fault of meaning:
                // the data is read once more, checking them, up to the first
                // fault.
                Scanner<kCensus, true> checking(bytes_, out_, census_);
                out_.reader_fault.reset();
                checking.data_block();
                out_.counts = checking.counts_;
            }
        }
    }

private:
    template <bool, bool>
    friend class Scanner;

    [[gnu::cold, gnu::noinline]] bool fail(ReadFaultCode code, std::size_t position, std::uint64_t a = 0, std::uint64_t b = 0,
              std::uint64_t c = 0) {
        out_.reader_fault = ReadFault{code, {}, {a, b, c}, position};
        return false;
    }

    [[gnu::cold, gnu::noinline]] bool fail_naming(ReadFaultCode code, std::string_view subject, std::size_t position, std::uint64_t a = 0,
                     std::uint64_t b = 0) {
        out_.reader_fault = ReadFault{code, subject, {a, b, 0}, position};
        return false;
    }

    [[gnu::cold, gnu::noinline]] void hold(ReadFaultCode code, std::size_t position, std::uint64_t a, std::uint64_t b = 0, std::uint64_t c = 0) {
        if (!out_.meaning_fault) out_.meaning_fault = ReadFault{code, {}, {a, b, c}, position};
    }

    std::size_t offset(Cursor at) const { return static_cast<std::size_t>(at - bytes_.data()); }

    bool text(std::size_t at, std::size_t length, TextPlace place) {
        // Names and most strings are ASCII, found so without a call.
        if (ascii_run_end(bytes_.data() + at, length, 0) == length) [[likely]] return true;
        if (!find_utf8_fault(bytes_.subspan(at, length))) [[likely]] return true;
        return text_fault(at, length, place);
    }

    [[gnu::cold, gnu::noinline]] bool text_fault(std::size_t at, std::size_t length, TextPlace place) {
        ReadFault fault;
        find_text_fault(bytes_.subspan(at, length), place, at, fault);
        out_.reader_fault = fault;
        return false;
    }

    bool header() {
        const std::size_t size = bytes_.size();
        if (size < format::kHeaderSize) return fail(ReadFaultCode::HeaderTooShort, 0, format::kHeaderSize, size);
        out_.version = bytes_[format::kVersionAt];
        def_offset_ = out_.def_block_offset = format::load_u32le(bytes_.data() + format::kDefBlockOffsetAt);
        dict_offset_ = out_.dict_block_offset = format::load_u32le(bytes_.data() + format::kDictBlockOffsetAt);
        data_offset_ = out_.data_block_offset = format::load_u32le(bytes_.data() + format::kDataBlockOffsetAt);
        if (out_.version != format::kFormatVersion) return fail(ReadFaultCode::UnsupportedVersion, format::kVersionAt, out_.version);
        if (def_offset_ < format::kHeaderSize) return fail(ReadFaultCode::DefBlockBeforeHeader, format::kDefBlockOffsetAt, def_offset_);
        if (dict_offset_ < def_offset_) {
            return fail(ReadFaultCode::DictBlockBeforeDefs, format::kDictBlockOffsetAt, dict_offset_);
        }
        if (data_offset_ < dict_offset_) {
            return fail(ReadFaultCode::DataBlockBeforeDict, format::kDataBlockOffsetAt, data_offset_);
        }
        if (data_offset_ > size) return fail(ReadFaultCode::DataBlockPastEnd, format::kDataBlockOffsetAt, data_offset_, size);
        return true;
    }

    bool type_byte_at(std::size_t position, format::VeskType& out) {
        const std::uint8_t byte = bytes_[position];
        if (!format::is_vesk_type_byte(byte)) return fail(ReadFaultCode::UnknownTypeTag, position, byte);
        out = static_cast<format::VeskType>(byte);
        return true;
    }

    bool definition_block() {
        // Positions are absolute; `end` closes the block.
        const std::size_t end = dict_offset_;
        const std::size_t size = end - def_offset_;
        if (size < format::kDefinitionCountSize) return fail(ReadFaultCode::DefinitionBlockTooShort, def_offset_, size);
        const std::size_t count = format::load_u16le(bytes_.data() + def_offset_);
        const std::size_t needed = format::kDefinitionHeaderSize * count + format::kDefinitionCountSize;
        if (size < needed) return fail(ReadFaultCode::DefinitionBlockTooSmall, def_offset_, size, count, needed);
        out_.definitions.resize(count);
        // At their final size: growing would hold the old table and the new.
        // A table with room for a field in every two bytes of the block (one
        // reused from a scan before) need not count them.
        if (const std::size_t most = most_fields(size); out_.fields.capacity() < most) {
            out_.fields.reserve(most <= kUncountedFieldRoom
                                    ? most
                                    : count_fields(bytes_, def_offset_ + format::kDefinitionCountSize, end, count).fields);
        }
        definition_count_ = count;
        std::size_t at = def_offset_ + format::kDefinitionCountSize;
        std::size_t position = 0;
        // The writers open every block with the same primitive definitions,
        // which are taken at once.
        if (count >= format::kPrimitiveDefinitionCount && end - at >= kPrimitiveRecords.size() &&
            std::memcmp(bytes_.data() + at, kPrimitiveRecords.data(), kPrimitiveRecords.size()) == 0) {
            for (; position < format::kPrimitiveDefinitionCount; ++position) {
                out_.definitions[position].kind = static_cast<format::VeskType>(position);
                out_.definitions[position].index = static_cast<std::uint16_t>(position);
            }
            at += kPrimitiveRecords.size();
        }
        for (; position < count; ++position) {
            ScanDefinition& definition = out_.definitions[position];
            if (at >= end) return fail(ReadFaultCode::TruncatedDefinitionBlock, at, position);
            if (!type_byte_at(at, definition.kind)) return false;
            if (at + format::kDefinitionHeaderSize > end) return fail(ReadFaultCode::TruncatedDefinitionIndex, at);
            definition.index = format::load_u16le(bytes_.data() + at + 1);
            switch (definition.kind) {
                case format::VeskType::Array:
                    if (at + format::kDefinitionHeaderSize >= end) return fail(ReadFaultCode::TruncatedElemType, at);
                    if (!type_byte_at(at + format::kDefinitionHeaderSize, definition.elem_type)) return false;
                    at += format::kArrayDefinitionSize;
                    break;
                case format::VeskType::Object:
                    if (!fields(at + format::kDefinitionHeaderSize, end, definition, at)) return false;
                    break;
                case format::VeskType::Null:
                case format::VeskType::Bool:
                case format::VeskType::Int32:
                case format::VeskType::Uint32:
                case format::VeskType::Float32:
                case format::VeskType::String: at += format::kDefinitionHeaderSize; break;
            }
        }
        return true;
    }

    // Reads the field list whose count sits at `at`; `next` gets the position after it.
    bool fields(std::size_t at, std::size_t end, ScanDefinition& definition, std::size_t& next) {
        if (at + 2 > end) return fail(ReadFaultCode::TruncatedFieldCount, at);
        const std::size_t count = format::load_u16le(bytes_.data() + at);
        definition.first_field = static_cast<std::uint32_t>(out_.fields.size());
        definition.key_field = definition.first_field;
        definition.field_count = static_cast<std::uint32_t>(count);
        at += 2;
        definition.fixed = true;
        for (std::size_t j = 0; j < count; ++j) {
            if (at >= end) return fail(ReadFaultCode::TruncatedFieldNameLength, at, j);
            const std::size_t length = bytes_[at];
            // The name and the type byte after it both lie in the block.
            if (at + length + 1 >= end) return fail(ReadFaultCode::TruncatedFieldNameData, at, j);
            if (!text(at + 1, length, TextPlace::FieldName)) return false;
            ScanField& field = out_.fields.emplace_back();
            field.name_offset = static_cast<std::uint32_t>(at + 1);
            field.name_length = static_cast<std::uint8_t>(length);
            if (!type_byte_at(at + length + 1, field.type)) return false;
            at += length + 2;
            definition.fixed = definition.fixed && (field.type == format::VeskType::Null || fixed_size_of(field.type) > 0);
            definition.fixed_size += fixed_size_of(field.type);
            definition.fixed_numbers += fixed_size_of(field.type) / 4;
        }
        next = at;
        lay_out_members(definition);
        return true;
    }

    // Finds the definition that names the keys of each object definition's
    // values.
    void link_definitions() {
        tables::TableVector<ScanDefinition>& definitions = out_.definitions;
        const std::size_t count = definitions.size();
        // The first position of each index below the count, made only when
        // some object definition's index is not its position.
        tables::TableVector<std::uint32_t> first_with_index(definitions.get_allocator());
        for (std::size_t position = 0; position < count; ++position) {
            ScanDefinition& definition = definitions[position];
            if (definition.kind != format::VeskType::Object) continue;
            if (definition.index == position) {
                definition.named_by = static_cast<std::uint32_t>(position);
                continue;
            }
            if (first_with_index.empty()) {
                first_with_index.assign(count, kNoDefinition);
                for (std::size_t p = count; p-- > 0;) {
                    if (definitions[p].index < count) first_with_index[definitions[p].index] = static_cast<std::uint32_t>(p);
                }
            }
            definition.named_by = first_with_index[position];
            const ScanDefinition* naming = definition.named_by == kNoDefinition ? nullptr : &definitions[definition.named_by];
            definition.names_fit = naming != nullptr && naming->kind == format::VeskType::Object &&
                                   naming->field_count == definition.field_count;
            if (definition.names_fit) {
                definition.key_field = naming->first_field;
                definition.keys_in_field_order = naming->keys_in_field_order;
                definition.first_member = naming->first_member;
                definition.member_count = naming->member_count;
            }
        }
    }

    // Finds, for every field, the first field with the same name, through an
    // open-addressing table of field numbers at most half full.
    void name_fields() {
        tables::TableVector<ScanField>& fields = out_.fields;
        if (fields.empty()) return;
        const std::size_t size = std::bit_ceil(2 * fields.size());
        tables::TableVector<std::uint32_t>& table = out_.name_slots;
        table.assign(size, kNoField);
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
        tables::TableVector<std::uint32_t> order(count, out_.members.get_allocator());
        std::iota(order.begin(), order.end(), 0u);
        std::stable_sort(order.begin(), order.end(),
                         [&](std::uint32_t a, std::uint32_t b) { return name(fields[a]) < name(fields[b]); });
        // Room for a member per field, as scan_table_bytes counts: growing
        // would hold the old table and the new.
        if (out_.members.empty()) out_.members.reserve(out_.fields.capacity());
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
        if (end - at < format::kStringCountSize) return fail(ReadFaultCode::DictBlockTooShort, at);
        const std::size_t count = format::load_u32le(bytes_.data() + at);
        at += format::kStringCountSize;
        // Every string takes at least a byte: a count beyond the block runs
        // out of bytes before it costs memory.
        out_.dict.reserve(std::min(count, end - at));
        for (std::size_t i = 0; i < count; ++i) {
            if (at == end) return fail(ReadFaultCode::TruncatedDictString, at);
            const std::uint8_t first = bytes_[at];
            // Unlike inline strings, the dictionary refuses every first byte
            // that the writer never produces.
            if (!format::is_written_string_start(first)) return fail(ReadFaultCode::InvalidDictStringByte, at, first);
            const format::StringClass string_class = format::string_class_of(first);
            const std::size_t header = format::string_prefix_size(string_class);
            if (end - at < header) {
                return fail_naming(ReadFaultCode::TruncatedDictStringPrefix, format::string_class_name(string_class), at);
            }
            const std::size_t length = format::prefixed_length(string_class, bytes_.data() + at);
            if (end - at - header < length) return fail(ReadFaultCode::TruncatedDictStringData, at);
            if (!text(at + header, length, TextPlace::Dictionary)) return false;
            out_.dict.push_back(ScanText{static_cast<std::uint32_t>(at + header), static_cast<std::uint32_t>(length)});
            ++dict_count_;
            counts_.dict_bytes += length;
            at += header + length;
        }
        return true;
    }

    void start_census() {
        if constexpr (kCensus) {
            census_->definition_uses.assign(out_.definitions.size(), 0);
            census_->dictionary_uses.assign(out_.dict.size(), 0);
        }
    }

    void take(format::VeskType type, std::uint64_t count = 1) {
        if constexpr (kCensus) census_->values_by_type[format::type_index(type)] += count;
    }

    void use_definition(std::size_t position) {
        if constexpr (kCensus) ++census_->definition_uses[position];
    }

    bool data_block() {
        const std::uint8_t* const data = bytes_.data();
        const std::size_t end = bytes_.size();
        std::size_t at = data_offset_;
        if (end - at < format::kEntryCountSize) return fail(ReadFaultCode::DataBlockTooShort, at, end - at);
        const std::size_t count = format::load_u32le(data + at);
        if (count > format::kMaxReadEntries) return fail(ReadFaultCode::TooManyEntries, at, count, format::kMaxReadEntries);
        out_.entries = static_cast<std::uint32_t>(count);
        at += format::kEntryCountSize;
        for (std::size_t i = 0; i < count; ++i) {
            if (end - at < format::kEntryHeaderSize) return fail(ReadFaultCode::TruncatedEntryHeader, at, i);
            const std::size_t def_index = format::load_u16le(data + at);
            const std::size_t payload = format::load_u32le(data + at + 2);
            if (end - at - format::kEntryHeaderSize < payload) return fail(ReadFaultCode::PayloadPastEnd, at, i, payload);
            if (def_index >= definition_count_) return fail(ReadFaultCode::UnknownDefinitionIndex, at, def_index);
            const format::VeskType kind = out_.definitions[def_index].kind;
            if (kind != format::VeskType::Array && kind != format::VeskType::Object) use_definition(def_index);
            Cursor cursor = data + at + format::kEntryHeaderSize;
            const Cursor payload_end = cursor + payload;
            if (!value(cursor, payload_end, kind, 1, false)) return false;
            if (cursor != payload_end) {
                const std::size_t consumed = static_cast<std::size_t>(cursor - (data + at + format::kEntryHeaderSize));
                return fail(ReadFaultCode::EntryMismatch, at, i, consumed, payload);
            }
            at += format::kEntryHeaderSize + payload;
        }
        return true;
    }

    // Checks the value at `at` and moves `at` past it. `nested`: inside an
    // array or object, not an entry's own value.
    bool value(Cursor& at, Cursor end, format::VeskType type, unsigned depth, bool nested) {
        ++counts_.values;
        switch (type) {
            case format::VeskType::Null: take(type); return true;
            case format::VeskType::Bool: take(type); return fixed(at, end, type, 1, 1);
            case format::VeskType::Int32:
            case format::VeskType::Uint32:
            case format::VeskType::Float32:
                ++counts_.numbers;
                take(type);
                return fixed(at, end, type, 1, 4);
            case format::VeskType::String: return string(at, end, nested);
            case format::VeskType::Array: return array(at, end, depth);
            case format::VeskType::Object: return object(at, end, depth);
        }
        return false;
    }

    // Skips `count` values of `size` bytes each.
    bool fixed(Cursor& at, Cursor end, format::VeskType type, std::size_t count, std::size_t size) {
        if (static_cast<std::size_t>(end - at) < count * size) [[unlikely]] {
            // At the first value cut short.
            return fail(cut_short(type), offset(at) + (static_cast<std::size_t>(end - at) / size) * size);
        }
        at += count * size;
        return true;
    }

    bool string(Cursor& at, Cursor end, bool nested) {
        StringValue value;
        if (!read_string_value(at, end, value)) [[unlikely]] {
            return string_cut_short(at, end);
        }
        if (value.is_reference) {
            if (value.length >= dict_count_) [[unlikely]] {
                if (nested) {
                    hold(ReadFaultCode::NestedStrRefOutOfBounds, offset(at), value.length);
                } else {
                    hold(ReadFaultCode::StrRefOutOfBounds, offset(at), value.length, out_.dict.size());
                }
            } else if constexpr (kCensus) {
                ++census_->dictionary_uses[value.length];
            }
            if constexpr (kCensus) ++census_->references;
            at += value.size;
            return true;
        }
        if (kCheckText && !text(offset(at) + value.size - value.length, value.length, TextPlace::Value)) return false;
        take(format::VeskType::String);
        ++counts_.inline_strings;
        counts_.inline_bytes += value.length;
        at += value.size;
        return true;
    }

    // Which part of the string at `at` runs past `end`.
    [[gnu::cold, gnu::noinline]] bool string_cut_short(Cursor at, Cursor end) {
        const std::size_t available = static_cast<std::size_t>(end - at);
        if (available == 0) return fail(ReadFaultCode::ExpectedString, offset(at));
        const format::StringClass string_class = format::string_class_of(at[0]);
        const std::size_t header = format::string_prefix_size(string_class);
        if (string_class == format::StringClass::Reference) return fail(ReadFaultCode::TruncatedStrRef, offset(at));
        const std::string_view class_name = format::string_class_name(string_class);
        if (available < header) return fail_naming(ReadFaultCode::TruncatedStringLength, class_name, offset(at));
        const std::size_t length = format::prefixed_length(string_class, at);
        return fail_naming(ReadFaultCode::TruncatedString, class_name, offset(at), header + length, available);
    }

    bool array(Cursor& at, Cursor end, unsigned depth) {
        const std::size_t available = static_cast<std::size_t>(end - at);
        if (depth > format::kMaxReadDepth) return fail(ReadFaultCode::ArrayTooDeep, offset(at));
        if (available < 2) return fail(ReadFaultCode::TruncatedArraySelfIndex, offset(at));
        const std::size_t self_index = format::load_u16le(at);
        if (self_index >= definition_count_) {
            return fail(ReadFaultCode::UnknownDefinitionIndex, offset(at), self_index);
        }
        if (out_.definitions[self_index].kind != format::VeskType::Array) {
            return fail(ReadFaultCode::ArrayWithoutElemType, offset(at), self_index);
        }
        if (available < 4) return fail(ReadFaultCode::TruncatedArrayElemIndex, offset(at));
        if (available < format::kArrayHeaderSize) return fail(ReadFaultCode::TruncatedArrayCount, offset(at));
        const std::size_t count = format::load_u16le(at + 4);
        const format::VeskType elem_type = out_.definitions[self_index].elem_type;
        at += format::kArrayHeaderSize;
        ++counts_.arrays;
        take(format::VeskType::Array);
        use_definition(self_index);
        counts_.values += count;
        switch (elem_type) {
            // Fixed-size items are checked all at once.
            case format::VeskType::Null: take(elem_type, count); return true;
            case format::VeskType::Bool: take(elem_type, count); return fixed(at, end, elem_type, count, 1);
            case format::VeskType::Int32:
            case format::VeskType::Uint32:
            case format::VeskType::Float32:
                counts_.numbers += count;
                take(elem_type, count);
                return fixed(at, end, elem_type, count, 4);
            case format::VeskType::String:
                for (std::size_t i = 0; i < count; ++i) {
                    if (!string(at, end, true)) return false;
                }
                return true;
            case format::VeskType::Array:
                for (std::size_t i = 0; i < count; ++i) {
                    if (!array(at, end, depth + 1)) return false;
                }
                return true;
            case format::VeskType::Object:
                for (std::size_t i = 0; i < count; ++i) {
                    if (!object(at, end, depth + 1)) return false;
                }
                return true;
        }
        return false;
    }

    bool object(Cursor& at, Cursor end, unsigned depth) {
        if (depth > format::kMaxReadDepth) return fail(ReadFaultCode::ObjectTooDeep, offset(at), format::kMaxReadDepth);
        if (static_cast<std::size_t>(end - at) < format::kObjectHeaderSize) {
            return fail(ReadFaultCode::TruncatedObjectSelfIndex, offset(at));
        }
        const std::size_t self_index = format::load_u16le(at);
        if (self_index >= definition_count_) {
            return fail(ReadFaultCode::UnknownDefinitionIndex, offset(at), self_index);
        }
        const ScanDefinition& definition = out_.definitions[self_index];
        if (definition.kind != format::VeskType::Object) return fail(ReadFaultCode::ObjectWithoutFields, offset(at), self_index);
        if (!definition.names_fit) [[unlikely]] {
            hold_naming_fault(definition, self_index, offset(at));
        }
        at += format::kObjectHeaderSize;
        ++counts_.objects;
        take(format::VeskType::Object);
        use_definition(self_index);
        counts_.members += definition.member_count;
        if (!kCensus && definition.fixed && static_cast<std::size_t>(end - at) >= definition.fixed_size) {
            counts_.values += definition.field_count;
            counts_.numbers += definition.fixed_numbers;
            at += definition.fixed_size;
            return true;
        }
        const ScanField* fields = out_.fields.data() + definition.first_field;
        for (std::uint32_t k = 0; k < definition.field_count; ++k) {
            if (!value(at, end, fields[k].type, depth + 1, true)) return false;
        }
        return true;
    }

    // An object whose number names no definition fit to give its keys.
    [[gnu::cold, gnu::noinline]] void hold_naming_fault(const ScanDefinition& definition, std::size_t self_index,
                                                        std::size_t position) {
        if (definition.named_by == kNoDefinition) {
            hold(ReadFaultCode::UnknownDefinitionIndex, position, self_index);
            return;
        }
        const ScanDefinition& naming = out_.definitions[definition.named_by];
        if (naming.kind != format::VeskType::Object) {
            hold(ReadFaultCode::NoFieldDefinitions, position, self_index);
        } else {
            hold(ReadFaultCode::FieldCountMismatch, position, self_index, naming.field_count, definition.field_count);
        }
    }

    std::span<const std::uint8_t> bytes_;
    ContainerScan& out_;
    ScanCensus* census_;
    std::size_t def_offset_;
    std::size_t dict_offset_;
    std::size_t data_offset_;
    // The sizes of the two tables, at hand for every value that names an entry.
    std::size_t definition_count_;
    std::size_t dict_count_;
    ScanCounts counts_;
};

}  // namespace

std::uint64_t scan_table_bytes(std::span<const std::uint8_t> bytes, std::uint64_t enough) noexcept {
    if (bytes.size() < format::kHeaderSize) return 0;
    const std::size_t def_offset = format::load_u32le(bytes.data() + format::kDefBlockOffsetAt);
    const std::size_t dict_offset = std::min<std::size_t>(format::load_u32le(bytes.data() + format::kDictBlockOffsetAt), bytes.size());
    const std::size_t data_offset = std::min<std::size_t>(format::load_u32le(bytes.data() + format::kDataBlockOffsetAt), bytes.size());
    // The scan makes the definitions' table only for a block that can hold
    // them all.
    std::uint64_t definitions = 0;
    const bool has_count = def_offset + format::kDefinitionCountSize <= dict_offset;
    if (has_count) {
        const std::size_t count = format::load_u16le(bytes.data() + def_offset);
        if (format::kDefinitionHeaderSize * count + format::kDefinitionCountSize <= dict_offset - def_offset) definitions = count;
    }
    // The dictionary's table is reserved for at most a string per byte.
    std::uint64_t dict = 0;
    if (dict_offset <= data_offset && data_offset - dict_offset >= format::kStringCountSize) {
        dict = std::min<std::uint64_t>(format::load_u32le(bytes.data() + dict_offset), data_offset - dict_offset);
    }
    const std::uint64_t fixed = definitions * sizeof(ScanDefinition) + dict * sizeof(ScanText);
    if (fixed > enough) return fixed;
    // Members for every field (only definitions whose names are out of byte
    // order get them), the table of names at most half full, kept with the
    // scan, and one of two held for a while: the sort order of one
    // definition's names with the sort's buffer of as many, or the first
    // definition of each index. Counting fields takes a step for each: it
    // stops once they alone, with their part of the table of names, pass
    // `enough`.
    constexpr std::uint64_t kFieldBytes = sizeof(ScanField) + sizeof(ScanMember);
    FieldCount fields;
    if (has_count) {
        // The table of names takes two slots a field at the least.
        const std::uint64_t enough_fields = (enough - fixed) / (kFieldBytes + 2 * sizeof(std::uint32_t));
        fields = count_fields(bytes, def_offset + format::kDefinitionCountSize, dict_offset, definitions,
                              static_cast<std::size_t>(
                                  std::min<std::uint64_t>(enough_fields, std::numeric_limits<std::size_t>::max())));
        if (const std::size_t most = most_fields(dict_offset - def_offset); most <= kUncountedFieldRoom) {
            fields.fields = most;
        }
    }
    const std::uint64_t name_table = fields.fields == 0 ? 0 : std::bit_ceil(2 * fields.fields) * sizeof(std::uint32_t);
    const std::uint64_t passing = std::max<std::uint64_t>(definitions, 2 * fields.largest) * sizeof(std::uint32_t);
    return fixed + fields.fields * kFieldBytes + name_table + passing;
}

ContainerScan scan_container(std::span<const std::uint8_t> bytes, std::pmr::memory_resource* memory) {
    ContainerScan scan(memory);
    Scanner<false, false>(bytes, scan, nullptr).run();
    return scan;
}

void scan_container(std::span<const std::uint8_t> bytes, ContainerScan& out) {
    out.clear();
    Scanner<false, false>(bytes, out, nullptr).run();
}

ContainerScan scan_container(std::span<const std::uint8_t> bytes, ScanCensus& census,
                             std::pmr::memory_resource* memory) {
    ContainerScan scan(memory);
    Scanner<true, true>(bytes, scan, &census).run();
    return scan;
}

}  // namespace vesk::loads
