#include "dumps/json_container.hpp"

#include <memory>
#include <new>
#include <optional>
#include <string_view>
#include <utility>

#include "dumps/json_container_parts.hpp"
#include "dumps/json_tape.hpp"
#include "dumps/tape_builder.hpp"
#include "dumps/tape_refusal.hpp"
#include "dumps/tape_writer.hpp"
#include "format/byte_order.hpp"
#include "format/container_layout.hpp"
#include "format/string_prefix.hpp"
#include "json/code_point_text.hpp"
#include "json/json_events.hpp"
#include "tables/container_blocks.hpp"
#include "tables/string_table.hpp"
#include "tables/text_hash.hpp"

namespace vesk::dumps {


PartsRoom::~PartsRoom() { ::operator delete(block_, std::align_val_t(alignof(JsonContainerParts))); }

void JsonContainer::PartsEnd::operator()(JsonContainerParts* parts) const noexcept {
    parts->~JsonContainerParts();
    if (room != nullptr) {
        room->in_use_ = false;
    } else {
        ::operator delete(parts, std::align_val_t(alignof(JsonContainerParts)));
    }
}

JsonContainer::OwnedParts JsonContainer::make_parts(std::size_t text_size, PartsRoom* room) {
    const std::uint64_t seed = tables::fresh_hash_seed(&text_size);
    const auto new_block = [] {
        return ::operator new(sizeof(JsonContainerParts), std::align_val_t(alignof(JsonContainerParts)));
    };
    if (room == nullptr || room->in_use_) {
        void* block = new_block();
        try {
            return OwnedParts(new (block) JsonContainerParts(seed, text_size), PartsEnd{});
        } catch (...) {
            ::operator delete(block, std::align_val_t(alignof(JsonContainerParts)));
            throw;
        }
    }
    if (room->block_ == nullptr) room->block_ = new_block();
    OwnedParts parts(new (room->block_) JsonContainerParts(seed, text_size), PartsEnd{room});
    room->in_use_ = true;
    return parts;
}

JsonContainer::JsonContainer(OwnedParts parts) noexcept : parts_(std::move(parts)) {}
JsonContainer::JsonContainer(JsonContainer&&) noexcept = default;
JsonContainer& JsonContainer::operator=(JsonContainer&&) noexcept = default;
JsonContainer::~JsonContainer() = default;

std::size_t JsonContainer::size() const noexcept { return parts_->size; }

NumberLosses JsonContainer::number_losses(bool count_all) const {
    if (!parts_->may_lose) return NumberLosses{};
    return find_number_losses(*parts_, count_all);
}

Result<JsonContainer> JsonContainer::compile(std::string_view json_text, std::size_t max_container_size,
                                             KnownUtf8 known_utf8, PartsRoom* room) {
    return compile_read(
        json_text.size(), max_container_size, room,
        [&](TapeBuilder& builder, json::JsonSyntaxFault& fault) {
            auto read = [&](auto&& reader) {
                if (reader.read_document()) return true;
                fault = reader.fault();
                return false;
            };
            return known_utf8 == KnownUtf8::Yes ? read(json::JsonEventReader<TapeBuilder, true>(json_text, builder))
                                                : read(json::JsonEventReader<TapeBuilder>(json_text, builder));
        },
        [&](const json::JsonSyntaxFault& fault) { return json::json_syntax_error(json_text, fault); });
}

Result<JsonContainer> JsonContainer::compile(const json::CodePointText& json_text, std::size_t max_container_size,
                                             PartsRoom* room) {
    return compile_read(
        json_text.size(), max_container_size, room,
        [&](TapeBuilder& builder, json::JsonSyntaxFault& fault) {
            builder.keep_strings_in(json_text.units());
            TapeEvents events(builder);
            return json_text.read_events(events, fault);
        },
        [&](const json::JsonSyntaxFault& fault) { return json_text.syntax_error(fault); });
}

// `read(builder, fault)` reads the text, of `text_size` bytes or code
// points, into the builder; `describe(fault)` is the error where it stops.
// Sizes are only estimated from the text's.
template <class Read, class Describe>
Result<JsonContainer> JsonContainer::compile_read(std::size_t text_size, std::size_t max_container_size,
                                                  PartsRoom* room, Read&& read, Describe&& describe) {
    OwnedParts parts = new_parts(text_size, room);
    TapeBuilder builder(*parts, text_size);
    json::JsonSyntaxFault fault;
    if (!read(builder, fault)) return describe(fault);
    return from_parts(std::move(parts), builder.fixed_data_size(), builder.noted_fault(), builder.may_lose(),
                      max_container_size);
}

JsonContainer::OwnedParts JsonContainer::new_parts(std::size_t text_size, PartsRoom* room) {
    OwnedParts parts = make_parts(text_size, room);
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
    parts->names.reserve(starting_room(64, text_size, kMinNameBytes));
    return parts;
}

Result<JsonContainer> JsonContainer::from_parts(OwnedParts&& parts, std::size_t fixed_data_size, bool noted_fault,
                                                bool may_lose,
                                                std::size_t max_container_size) {
    parts->may_lose = may_lose;
    // Shapes met only inside values that a repeated member name dropped are
    // not written, and neither are such strings.
    std::size_t definition_count = format::kPrimitiveDefinitionCount;
    std::size_t definitions_size = tables::definition_block_base_size();
    for (std::uint32_t shape = 0; shape < parts->shape_uses.size(); ++shape) {
        if (parts->shape_uses[shape] == 0) continue;
        ++definition_count;
        definitions_size += tables::definition_record_size(parts->shapes, parts->names, shape);
    }
    // Each string is written inline once and referred to at every later
    // occurrence; a string met twice or more is also a dictionary entry.
    std::size_t dictionary_size = format::kStringCountSize;
    std::size_t data_size = fixed_data_size;
    for (std::uint32_t id = 0; id < parts->strings.size(); ++id) {
        const std::uint32_t count = parts->string_counts[id];
        if (count == 0) continue;
        const std::size_t inline_size = format::string_encoding_size(parts->strings.text(id).size());
        data_size += inline_size + std::size_t{count - 1} * format::string_prefix_size(format::StringClass::Reference);
        if (count > 1) dictionary_size += inline_size;
    }
    parts->dict_block_offset = format::kHeaderSize + definitions_size;
    parts->data_block_offset = parts->dict_block_offset + dictionary_size;
    parts->size = parts->data_block_offset + format::kEntryCountSize + format::kEntryHeaderSize + data_size;
    if (noted_fault || definition_count > format::kMaxDefinitions || parts->size > max_container_size) {
        if (std::optional<VeskError> refusal = first_refusal(*parts, max_container_size)) return std::move(*refusal);
    }
    return JsonContainer(std::move(parts));
}

void JsonContainer::write(std::span<std::uint8_t> out) {
    JsonContainerParts& parts = *parts_;
    std::uint8_t* const container = out.data();
    std::uint8_t* const entry = container + parts.data_block_offset;
    std::uint8_t* const payload = entry + format::kEntryCountSize + format::kEntryHeaderSize;
    // The occurrence counts are spent; their pages take the numbering.
    TapeWriter writer(parts, &parts.memory, std::move(parts.string_counts), payload);
    std::uint16_t element = 0;
    std::uint16_t definition = 0;
    writer.write_value(0, element, definition);
    format::store_u32le(entry, 1);
    format::store_u16le(entry + format::kEntryCountSize, definition);
    format::store_u32le(entry + format::kEntryCountSize + 2, static_cast<std::uint32_t>(writer.position() - payload));
    tables::write_definition_block(container + format::kHeaderSize, parts.shapes, parts.names, writer.numbering());
    tables::write_dictionary_block(container + parts.dict_block_offset, writer.dictionary().entries(),
                           [&parts](std::uint8_t* at, std::uint32_t id) {
                               const std::string_view text = parts.strings.text(id);
                               return parts.units.hold(text.data()) ? write_string_of_units(parts.units, at, text)
                                                                    : tables::write_string(at, text);
                           });
    tables::write_header(container, parts.dict_block_offset, parts.data_block_offset);
}

Result<format::ByteBuffer> compile_json_container(std::string_view json_text, std::size_t max_container_size) {
    Result<JsonContainer> compiled = JsonContainer::compile(json_text, max_container_size);
    if (!compiled) return std::move(compiled).error();
    format::ByteBuffer out(compiled->size());
    compiled->write(out);
    return out;
}

}  // namespace vesk::dumps
