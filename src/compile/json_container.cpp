#include "compile/json_container.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "compile/array_item_rule.hpp"
#include "compile/compile_json.hpp"
#include "compile/container_blocks.hpp"
#include "compile/json_container_parts.hpp"
#include "compile/json_tape.hpp"
#include "compile/member_layouts.hpp"
#include "compile/number_narrowing.hpp"
#include "compile/shape_table.hpp"
#include "compile/string_table.hpp"
#include "compile/tape_builder.hpp"
#include "compile/text_arena.hpp"
#include "compile/text_hash.hpp"
#include "encode/encoder.hpp"
#include "json/code_point_text.hpp"
#include "json/json_events.hpp"
#include "structure/byte_order.hpp"
#include "structure/container_layout.hpp"
#include "structure/string_prefix.hpp"

namespace vesk {

namespace json_plan {
namespace {

// write_string for a string kept as a view of its `kept.size()` bytes of
// UTF-8 form in code units.
std::uint8_t* write_string_of_units(const TextUnits& units, std::uint8_t* out, std::string_view kept) noexcept {
    const LengthPrefix prefix = length_prefix_for(kept.size());
    std::memcpy(out, prefix.bytes, prefix.size);
    return write_units_as_utf8(units, kept.data(), kept.size(), out + prefix.size);
}

// Walks the tape in the compiler's order: depth first, array items in
// order, object members in byte order of their names, each container's
// shape numbered after its contents. Writes the data as it goes.
class TapeWriter {
public:
    // `spare` is storage for the dictionary numbering, one word per string.
    TapeWriter(const JsonContainerParts& parts, std::vector<std::uint32_t>&& spare, std::uint8_t* out)
        : parts_(parts), tape_(parts.tape.data()), dictionary_(parts.strings.size(), std::move(spare)), out_(out) {
        positions_.reserve(256);
        // The numbering grows its table half again past the shape asked
        // for; twice the shapes in use spares it every growth.
        numbering_.reserve(parts.shape_uses.size() * 2);
    }

    // Writes the value at `at` and returns the position after it. `element`
    // receives what an array holding this value records as its element
    // definition, `definition` the definition the value names on its own.
    [[gnu::flatten]] std::uint32_t write_value(std::uint32_t at, std::uint16_t& element, std::uint16_t& definition) {
        const std::uint32_t word = tape_[at];
        switch (tag_of(word)) {
            case kNullTag:
                element = definition = type_byte(VeskType::Null);
                return at + 1;
            case kBoolTag:
                *out_++ = static_cast<std::uint8_t>((word >> 3) & 1);
                element = definition = type_byte(VeskType::Bool);
                return at + 1;
            case kNumberTag:
                store_u32le(out_, tape_[at + 1]);
                out_ += 4;
                element = definition = static_cast<std::uint16_t>((word >> 3) & 0xFF);
                return at + ((word & kWideNumber) ? 3 : 2);
            case kStringTag: {
                const std::uint32_t id = word >> 3;
                if (const std::optional<std::uint32_t> entry = dictionary_.occurrence(id)) {
                    *out_ = kStrRefMarker;
                    store_u32le(out_ + 1, *entry);
                    out_ += string_prefix_size(StringClass::Reference);
                } else {
                    const std::string_view text = parts_.strings.text(id);
                    if (parts_.units.hold(text.data())) [[unlikely]] {
                        out_ = write_string_of_units(parts_.units, out_, text);
                    } else {
                        out_ = text.size() <= 16    ? write_short_string(out_, text)
                               : text.size() < 0x80 ? write_medium_string(out_, text)
                                                    : write_string(out_, text);
                    }
                }
                element = definition = type_byte(VeskType::String);
                return at + 1;
            }
            case kArrayTag: return write_array(at, element, definition);
            case kObjectTag: return write_object(at, element, definition);
        }
        return at + 1;
    }

    const DefinitionNumbering& numbering() const noexcept { return numbering_; }
    const DictionaryNumbering& dictionary() const noexcept { return dictionary_; }
    const std::uint8_t* position() const noexcept { return out_; }

private:
    // write_string for texts of up to sixteen bytes, all in one prefix byte:
    // two overlapping moves rather than a call that sorts sizes out again.
    static std::uint8_t* write_short_string(std::uint8_t* out, std::string_view text) noexcept {
        const std::size_t size = text.size();
        const char* bytes = text.data();
        static_assert(length_prefix_for(16).size == 1);
        *out++ = length_prefix_for(size).bytes[0];
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
    static std::uint8_t* write_medium_string(std::uint8_t* out, std::string_view text) noexcept {
        const std::size_t size = text.size();
        const char* bytes = text.data();
        static_assert(length_prefix_for(0x7F).size == 1);
        *out++ = length_prefix_for(size).bytes[0];
        for (std::size_t at = 0; at + 16 < size; at += 16) std::memcpy(out + at, bytes + at, 16);
        std::memcpy(out + size - 16, bytes + size - 16, 16);
        return out + size;
    }

    std::uint32_t write_array(std::uint32_t at, std::uint16_t& element, std::uint16_t& definition) {
        const std::uint32_t word = tape_[at];
        const std::uint32_t count = tape_[at + 2];
        std::uint8_t* header = out_;
        out_ += kArrayHeaderSize;
        std::uint16_t first_element = 0;
        std::uint32_t item = at + kContainerRecordSize;
        if (word & 8u) {
            // Mixed numbers: every item becomes the binary32 nearest its
            // full value.
            for (std::uint32_t i = 0; i < count; ++i) {
                const std::uint32_t number = tape_[item];
                std::uint32_t bits = tape_[item + 1];
                if (number & kWideNumber) {
                    bits = tape_[item + 2];
                } else if (((number >> 3) & 0xFF) != type_byte(VeskType::Float32)) {
                    bits = std::bit_cast<std::uint32_t>(static_cast<float>(static_cast<std::int32_t>(bits)));
                }
                store_u32le(out_, bits);
                out_ += 4;
                item = record_end(tape_, item);
            }
            first_element = type_byte(VeskType::Float32);
        } else if (count != 0 && tag_of(tape_[item]) == kNumberTag) {
            // Numbers of one type (coordinates, mostly) need only their
            // narrowed values, one after the other.
            first_element = static_cast<std::uint16_t>((tape_[item] >> 3) & 0xFF);
            for (std::uint32_t i = 0; i < count; ++i) {
                store_u32le(out_, tape_[item + 1]);
                out_ += 4;
                item += (tape_[item] & kWideNumber) ? 3 : 2;
            }
        } else {
            std::uint16_t item_definition = 0;
            for (std::uint32_t i = 0; i < count; ++i) {
                std::uint16_t item_element = 0;
                item = write_value(item, item_element, item_definition);
                // Items are all null or none is: the first one speaks for all.
                if (i == 0) first_element = item_element;
            }
        }
        const auto number = static_cast<std::uint16_t>(numbering_.number(word >> 4));
        store_u16le(header, number);
        store_u16le(header + 2, first_element);
        store_u16le(header + 4, static_cast<std::uint16_t>(count));
        element = first_element;
        definition = number;
        return tape_[at + 1];
    }

    std::uint32_t write_object(std::uint32_t at, std::uint16_t& element, std::uint16_t& definition) {
        const std::uint32_t word = tape_[at];
        const LayoutTable::Layout& layout = parts_.layouts.layout(tape_[at + 2]);
        std::uint8_t* header = out_;
        out_ += kObjectHeaderSize;
        std::uint16_t unused_element = 0;
        std::uint16_t unused_definition = 0;
        std::uint32_t value = at + kContainerRecordSize;
        if (layout.in_name_order) {
            for (std::uint32_t i = 0; i < layout.member_count; ++i) {
                value = write_value(value, unused_element, unused_definition);
            }
        } else {
            const std::size_t base = positions_.size();
            for (std::uint32_t i = 0; i < layout.member_count; ++i) {
                positions_.push_back(value);
                value = record_end(tape_, value);
            }
            for (const std::uint32_t member : parts_.layouts.order(layout)) {
                write_value(positions_[base + member], unused_element, unused_definition);
            }
            positions_.resize(base);
        }
        const auto number = static_cast<std::uint16_t>(numbering_.number(word >> 3));
        store_u16le(header, number);
        element = definition = number;
        return tape_[at + 1];
    }

    const JsonContainerParts& parts_;
    const std::uint32_t* tape_;
    DefinitionNumbering numbering_;
    DictionaryNumbering dictionary_;
    std::uint8_t* out_;
    // Positions of the values of the objects being written, a stack.
    std::vector<std::uint32_t> positions_;
};

}  // namespace
}  // namespace json_plan

using json_plan::kMaxTapeSize;
using json_plan::TapeBuilder;
using json_plan::TapeEvents;
using json_plan::TapeWriter;
using json_plan::write_string_of_units;

JsonContainer::JsonContainer(std::unique_ptr<JsonContainerParts> parts) noexcept : parts_(std::move(parts)) {}
JsonContainer::JsonContainer(JsonContainer&&) noexcept = default;
JsonContainer& JsonContainer::operator=(JsonContainer&&) noexcept = default;
JsonContainer::~JsonContainer() = default;

std::size_t JsonContainer::size() const noexcept { return parts_->size; }

std::optional<JsonContainer> JsonContainer::plan(std::string_view json_text, std::size_t max_container_size,
                                                 KnownUtf8 known_utf8) {
    return plan_read(json_text.size(), max_container_size, [&](TapeBuilder& builder) {
        return known_utf8 == KnownUtf8::Yes ? JsonEventReader<TapeBuilder, true>(json_text, builder).read_document()
                                            : JsonEventReader<TapeBuilder>(json_text, builder).read_document();
    });
}

std::optional<JsonContainer> JsonContainer::plan(const CodePointText& json_text, std::size_t max_container_size) {
    return plan_read(json_text.size(), max_container_size, [&](TapeBuilder& builder) {
        builder.keep_strings_in(json_text.units());
        TapeEvents events(builder);
        return json_text.read_events(events);
    });
}

// `read(builder)` reads the text, of `text_size` bytes or code points, into
// the builder. Sizes are only estimated from it.
template <class Read>
std::optional<JsonContainer> JsonContainer::plan_read(std::size_t text_size, std::size_t max_container_size, Read&& read) {
    // Tape positions and offsets are 32-bit; such a text is not worth a plan.
    if (text_size > kMaxTapeSize) return std::nullopt;
    auto parts = std::make_unique<JsonContainerParts>(fresh_hash_seed(&text_size));
    // Untouched capacity costs address space only; few texts need more.
    parts->tape.reserve(text_size / 2 + 16);
    // Texts hold a distinct string per 96 bytes or more, mostly (event logs
    // come close, at one per 90), and few names. The index is zeroed, so it
    // starts at that size and grows; the records are not, so they get room
    // for a string per 32 bytes, which spares the copies (and the pages) of
    // growing them on text dense in strings.
    // Records first: the index's own reservation then finds them in place.
    parts->strings.reserve_texts(text_size / 32);
    parts->strings.reserve(text_size / 96);
    parts->string_counts.reserve(text_size / 32);
    parts->names.reserve(64);
    TapeBuilder builder(*parts);
    if (!read(builder)) return std::nullopt;

    // Shapes met only inside values that a repeated member name dropped are
    // not written, and neither are such strings.
    std::size_t definition_count = kPrimitiveDefinitionCount;
    std::size_t definitions_size = definition_block_base_size();
    for (std::uint32_t shape = 0; shape < parts->shape_uses.size(); ++shape) {
        if (parts->shape_uses[shape] == 0) continue;
        ++definition_count;
        definitions_size += definition_record_size(parts->shapes, parts->names, shape);
    }
    if (definition_count > kMaxDefinitions) return std::nullopt;
    // Each string is written inline once and referred to at every later
    // occurrence; a string met twice or more is also a dictionary entry.
    std::size_t dictionary_size = kStringCountSize;
    std::size_t data_size = builder.fixed_data_size();
    for (std::uint32_t id = 0; id < parts->strings.size(); ++id) {
        const std::uint32_t count = parts->string_counts[id];
        if (count == 0) continue;
        const std::size_t inline_size = string_encoding_size(parts->strings.text(id).size());
        data_size += inline_size + std::size_t{count - 1} * string_prefix_size(StringClass::Reference);
        if (count > 1) dictionary_size += inline_size;
    }
    parts->dict_block_offset = kHeaderSize + definitions_size;
    parts->data_block_offset = parts->dict_block_offset + dictionary_size;
    parts->size = parts->data_block_offset + kEntryCountSize + kEntryHeaderSize + data_size;
    if (parts->size > max_container_size) return std::nullopt;
    return JsonContainer(std::move(parts));
}

void JsonContainer::write(std::span<std::uint8_t> out) {
    JsonContainerParts& parts = *parts_;
    std::uint8_t* const container = out.data();
    std::uint8_t* const entry = container + parts.data_block_offset;
    std::uint8_t* const payload = entry + kEntryCountSize + kEntryHeaderSize;
    // The occurrence counts are spent; their pages take the numbering.
    TapeWriter writer(parts, std::move(parts.string_counts), payload);
    std::uint16_t element = 0;
    std::uint16_t definition = 0;
    writer.write_value(0, element, definition);
    store_u32le(entry, 1);
    store_u16le(entry + kEntryCountSize, definition);
    store_u32le(entry + kEntryCountSize + 2, static_cast<std::uint32_t>(writer.position() - payload));
    write_definition_block(container + kHeaderSize, parts.shapes, parts.names, writer.numbering());
    write_dictionary_block(container + parts.dict_block_offset, writer.dictionary().entries(),
                           [&parts](std::uint8_t* at, std::uint32_t id) {
                               const std::string_view text = parts.strings.text(id);
                               return parts.units.hold(text.data()) ? write_string_of_units(parts.units, at, text)
                                                                    : write_string(at, text);
                           });
    write_header(container, parts.dict_block_offset, parts.data_block_offset);
}

Result<ByteBuffer> compile_json_document_container(std::string_view json_text, std::size_t max_container_size) {
    Result<VeskDocument> document = compile_json_str(json_text);
    if (!document) return std::move(document).error();
    return encode_document_within(*document, max_container_size);
}

Result<ByteBuffer> compile_json_container(std::string_view json_text, std::size_t max_container_size) {
    std::optional<JsonContainer> planned = JsonContainer::plan(json_text, max_container_size);
    if (!planned) return compile_json_document_container(json_text, max_container_size);
    ByteBuffer out(planned->size());
    planned->write(out);
    return out;
}

}  // namespace vesk
