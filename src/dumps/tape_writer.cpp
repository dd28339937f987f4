#include "dumps/tape_writer.hpp"

#include <bit>
#include <cstring>
#include <optional>

#include "dumps/json_tape.hpp"
#include "dumps/member_layouts.hpp"
#include "format/byte_order.hpp"
#include "format/container_layout.hpp"
#include "format/string_prefix.hpp"
#include "format/vesk_type.hpp"
#include "tables/container_blocks.hpp"

namespace vesk::dumps {

std::uint8_t* write_string_of_units(const json::TextUnits& units, std::uint8_t* out, std::string_view kept) noexcept {
    const format::LengthPrefix prefix = format::length_prefix_for(kept.size());
    std::memcpy(out, prefix.bytes, prefix.size);
    return json::write_units_as_utf8(units, kept.data(), kept.size(), out + prefix.size);
}

TapeWriter::TapeWriter(const JsonContainerParts& parts, std::pmr::memory_resource* memory,
                       tables::TableVector<std::uint32_t>&& spare, std::uint8_t* out)
    : parts_(parts),
      tape_(parts.tape.data()),
      numbering_(memory),
      dictionary_(parts.strings.size(), std::move(spare)),
      out_(out),
      positions_(memory) {
    positions_.reserve(256);
    // The numbering grows its table half again past the shape asked
    // for; twice the shapes in use spares it every growth.
    numbering_.reserve(parts.shape_uses.size() * 2);
}

[[gnu::flatten]] std::uint32_t TapeWriter::write_value(std::uint32_t at, std::uint16_t& element, std::uint16_t& definition) {
    switch (tag_of(tape_[at])) {
        case kArrayTag: return write_array(at, element, definition);
        case kObjectTag: return write_object(at, element, definition);
        case kNullTag:
        case kBoolTag:
        case kNumberTag:
        case kStringTag:
        case kDroppedTag: return write_item(at, element, definition);
    }
    return at + 1;
}

// write_value for the items and members of a container: scalars, most of
// them, are written inline, without the call (and the saving of registers)
// that the recursion through containers takes.
[[gnu::always_inline]] inline std::uint32_t TapeWriter::write_item(std::uint32_t at, std::uint16_t& element,
                                                                   std::uint16_t& definition) {
    const std::uint32_t word = tape_[at];
    switch (tag_of(word)) {
        case kNullTag:
            element = definition = format::type_byte(format::VeskType::Null);
            return at + 1;
        case kBoolTag:
            *out_++ = static_cast<std::uint8_t>(record::bool_value(word));
            element = definition = format::type_byte(format::VeskType::Bool);
            return at + 1;
        case kNumberTag:
            format::store_u32le(out_, record::narrowed_bits(tape_, at));
            out_ += 4;
            element = definition = record::number_type_byte(word);
            return at + record::number_size(word);
        case kStringTag: {
            const std::uint32_t id = record::string_id(word);
            if (const std::optional<std::uint32_t> entry = dictionary_.occurrence(id)) {
                *out_ = format::kStrRefMarker;
                format::store_u32le(out_ + 1, *entry);
                out_ += format::string_prefix_size(format::StringClass::Reference);
            } else {
                const std::string_view text = parts_.strings.text(id);
                if (parts_.units.hold(text.data())) [[unlikely]] {
                    out_ = write_string_of_units(parts_.units, out_, text);
                } else {
                    out_ = text.size() <= 16    ? write_short_string(out_, text)
                           : text.size() < 0x80 ? write_medium_string(out_, text)
                                                : tables::write_string(out_, text);
                }
            }
            element = definition = format::type_byte(format::VeskType::String);
            return at + 1;
        }
        case kArrayTag:
        case kObjectTag: return write_value(at, element, definition);
        // Never written: layouts leave dropped values out.
        case kDroppedTag: return record_end(tape_, at);
    }
    return at + 1;
}

// write_string for texts of up to sixteen bytes, all in one prefix byte:
// two overlapping moves rather than a call that sorts sizes out again.
std::uint8_t* TapeWriter::write_short_string(std::uint8_t* out, std::string_view text) noexcept {
    const std::size_t size = text.size();
    const char* bytes = text.data();
    static_assert(format::length_prefix_for(16).size == 1);
    *out++ = format::length_prefix_for(size).bytes[0];
    if (size >= 8) {
        std::memcpy(out, bytes, 8);
        std::memcpy(out + size - 8, bytes + size - 8, 8);
    } else if (size >= 4) {
        std::memcpy(out, bytes, 4);
        std::memcpy(out + size - 4, bytes + size - 4, 4);
    } else if (size > 0) {
        out[0] = static_cast<std::uint8_t>(bytes[0]);
        out[size / 2] = static_cast<std::uint8_t>(bytes[size / 2]);
        out[size - 1] = static_cast<std::uint8_t>(bytes[size - 1]);
    }
    return out + size;
}

// write_string for texts of 17 to 127 bytes, also in one prefix byte:
// moves of sixteen bytes, the last one ending with the text.
std::uint8_t* TapeWriter::write_medium_string(std::uint8_t* out, std::string_view text) noexcept {
    const std::size_t size = text.size();
    const char* bytes = text.data();
    static_assert(format::length_prefix_for(0x7F).size == 1);
    *out++ = format::length_prefix_for(size).bytes[0];
    for (std::size_t at = 0; at + 16 < size; at += 16) std::memcpy(out + at, bytes + at, 16);
    std::memcpy(out + size - 16, bytes + size - 16, 16);
    return out + size;
}

std::uint32_t TapeWriter::write_array(std::uint32_t at, std::uint16_t& element, std::uint16_t& definition) {
    const std::uint32_t word = tape_[at];
    const std::uint32_t count = record::item_count(tape_, at);
    std::uint8_t* header = out_;
    out_ += format::kArrayHeaderSize;
    std::uint16_t first_element = 0;
    std::uint32_t item = at + kContainerRecordSize;
    if (record::holds_mixed_numbers(word)) {
        // Mixed numbers: every item becomes the binary32 nearest its
        // full value.
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint32_t number = tape_[item];
            std::uint32_t bits = record::narrowed_bits(tape_, item);
            if (record::is_wide(number)) {
                bits = record::full_float_bits(tape_, item);
            } else if (record::number_type_byte(number) != format::type_byte(format::VeskType::Float32)) {
                bits = std::bit_cast<std::uint32_t>(static_cast<float>(static_cast<std::int32_t>(bits)));
            }
            format::store_u32le(out_, bits);
            out_ += 4;
            item = record_end(tape_, item);
        }
        first_element = format::type_byte(format::VeskType::Float32);
    } else if (count != 0 && tag_of(tape_[item]) == kNumberTag) {
        // Numbers of one type (coordinates, mostly) need only their
        // narrowed values, one after the other.
        first_element = record::number_type_byte(tape_[item]);
        for (std::uint32_t i = 0; i < count; ++i) {
            format::store_u32le(out_, record::narrowed_bits(tape_, item));
            out_ += 4;
            item += record::number_size(tape_[item]);
        }
    } else {
        std::uint16_t item_definition = 0;
        for (std::uint32_t i = 0; i < count; ++i) {
            std::uint16_t item_element = 0;
            item = write_item(item, item_element, item_definition);
            // Items are all null or none is: the first one speaks for all.
            if (i == 0) first_element = item_element;
        }
    }
    const auto number = static_cast<std::uint16_t>(numbering_.number(record::array_shape(word)));
    format::store_u16le(header, number);
    format::store_u16le(header + 2, first_element);
    format::store_u16le(header + 4, static_cast<std::uint16_t>(count));
    element = first_element;
    definition = number;
    return record::end_of(tape_, at);
}

std::uint32_t TapeWriter::write_object(std::uint32_t at, std::uint16_t& element, std::uint16_t& definition) {
    const std::uint32_t word = tape_[at];
    const LayoutTable::Layout& layout = parts_.layouts.layout(record::layout_of(tape_, at));
    std::uint8_t* header = out_;
    out_ += format::kObjectHeaderSize;
    std::uint16_t unused_element = 0;
    std::uint16_t unused_definition = 0;
    std::uint32_t value = at + kContainerRecordSize;
    if (layout.in_name_order) {
        for (std::uint32_t i = 0; i < layout.member_count; ++i) {
            value = write_item(value, unused_element, unused_definition);
        }
    } else {
        const std::size_t base = positions_.size();
        for (std::uint32_t i = 0; i < layout.member_count; ++i) {
            positions_.push_back(value);
            value = record_end(tape_, value);
        }
        for (const std::uint32_t member : parts_.layouts.order(layout)) {
            write_item(positions_[base + member], unused_element, unused_definition);
        }
        positions_.resize(base);
    }
    const auto number = static_cast<std::uint16_t>(numbering_.number(record::object_shape(word)));
    format::store_u16le(header, number);
    element = definition = number;
    return record::end_of(tape_, at);
}

}  // namespace vesk::dumps
