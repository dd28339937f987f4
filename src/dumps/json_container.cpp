#include "dumps/json_container.hpp"

#include <memory>
#include <optional>
#include <string_view>
#include <utility>

#include "compile/compile_json.hpp"
#include "dumps/json_container_parts.hpp"
#include "dumps/json_tape.hpp"
#include "dumps/tape_builder.hpp"
#include "dumps/tape_writer.hpp"
#include "encode/encoder.hpp"
#include "format/byte_order.hpp"
#include "format/container_layout.hpp"
#include "format/string_prefix.hpp"
#include "json/code_point_text.hpp"
#include "json/json_events.hpp"
#include "tables/container_blocks.hpp"
#include "tables/string_table.hpp"
#include "tables/text_hash.hpp"

namespace vesk {

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
    auto parts = std::make_unique<JsonContainerParts>(fresh_hash_seed(&text_size), text_size);
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
    TapeBuilder builder(*parts, text_size);
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
    TapeWriter writer(parts, &parts.memory, std::move(parts.string_counts), payload);
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
