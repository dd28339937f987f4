#include "emit/data_container.hpp"

#include <algorithm>

#include "format/writer_faults.hpp"
#include "tables/container_blocks.hpp"

namespace vesk::emit {

namespace {

// The data block opens with its entry count and the one entry's header
// (definition number and payload length), filled in by finish().
constexpr std::size_t kDataHeaderSize = format::kEntryCountSize + format::kEntryHeaderSize;

// Copies `size` bytes, and up to kCopyBlock - 1 more after them, in whole
// blocks: a loop whose length follows the size in steps rather than a call
// whose branches depend on it.
constexpr std::size_t kCopyBlock = 32;

inline void copy_in_blocks(std::uint8_t* to, const std::uint8_t* from, std::size_t size) noexcept {
    for (std::size_t done = 0; done < size; done += kCopyBlock) std::memcpy(to + done, from + done, kCopyBlock);
}

}  // namespace

DataContainer::DataContainer(std::uint64_t seed, std::size_t max_container_size)
    : max_size_(max_container_size),
      seed_(seed),
      data_(&memory_, kDataHeaderSize),
      strings_(seed, &memory_),
      shapes_(&memory_),
      int_runs_(&memory_),
      wide_integers_(&memory_) {}

const std::uint8_t* DataContainer::write_unencodable(std::string_view text) {
    std::uint8_t* at = data_.room(StringLog::kUnencodablePrefixSize + text.size());
    at[0] = StringLog::kUnencodableMark;
    const std::uint64_t length = text.size();
    std::memcpy(at + 1, &length, 8);
    std::memcpy(at + StringLog::kUnencodablePrefixSize, text.data(), text.size());
    data_.move_to(at + StringLog::kUnencodablePrefixSize + text.size());
    strings_.note_unencodable(text.size());
    return at;
}

DataContainer::WrittenString DataContainer::write_string_in_place(std::string_view text) {
    if (text.size() > format::kMaxStringLength) return write_string(text);
    const StringLog::LongText seen = strings_.intern_long(text);
    std::uint8_t* at = data_.room(format::kMaxLengthPrefixSize);
    const format::LengthPrefix prefix = format::length_prefix_for(text.size());
    std::memcpy(at, prefix.bytes, format::kMaxLengthPrefixSize);
    data_.move_to(at + prefix.size);
    data_.add_piece(seen.first, text.size());
    const auto size = StringLog::kInPlace | static_cast<std::uint32_t>(text.size());
    if (seen.added) strings_.add(StringLog::Place{seen.first, size, seen.hash});
    return WrittenString{seen.first, size};
}

void DataContainer::write_again_long(const WrittenString& string) {
    if (StringLog::in_place(string.size)) {
        write_string_in_place({reinterpret_cast<const char*>(string.at), string.size & ~StringLog::kInPlace});
        return;
    }
    if (string.size == StringLog::kUnencodable) {
        std::uint64_t length = 0;
        std::memcpy(&length, string.at + 1, 8);
        write_unencodable({reinterpret_cast<const char*>(string.at + StringLog::kUnencodablePrefixSize), length});
        return;
    }
    std::uint8_t* to = data_.room(string.size);
    std::memcpy(to, string.at, string.size);
    data_.move_to(to + string.size);
}

// Texts left in place are compared by a call, never read past their end.
static_assert(DataContainer::kLeftInPlace > tables::kSameBytesBlock);

std::optional<VeskError> DataContainer::refusal(std::size_t prefix_size, const ShapeNumbering::FieldRecords& records,
                                                std::size_t dictionary_count) const {
    const std::size_t total = prefix_size + data_.size();
    if (total <= max_size_ && shapes_.widest_object() <= format::kMaxFields && strings_.longest() <= format::kMaxStringLength &&
        !long_array_) {
        return std::nullopt;
    }
    // Something is refused, or the container is too large, and whichever the
    // document writer meets first is reported. Its output only grows, so the
    // size is found too large exactly where it checks it past the ceiling.
    std::size_t offset = format::kHeaderSize + tables::definition_block_base_size();
    std::size_t number = format::kPrimitiveDefinitionCount;
    for (const ShapeNumbering::Definition& definition : shapes_.definitions()) {
        if (offset > max_size_) return format::container_too_large();
        if (definition.kind == format::VeskType::Object && shapes_.field_count(definition) > format::kMaxFields) {
            return format::too_many_fields(number, shapes_.field_count(definition));
        }
        offset += shapes_.record_size(definition, records);
        ++number;
    }
    if (offset > max_size_ || dictionary_count > max_size_) return format::container_too_large();
    offset += format::kStringCountSize;
    for (std::size_t entry = 0; entry < dictionary_count; ++entry) {
        if (offset > max_size_) return format::container_too_large();
        if (strings_[entry].size == StringLog::kUnencodable) return format::string_too_long();
        offset += StringLog::encoding_size(strings_[entry]);
    }
    // The data: the entry count, then the one entry, whose header is written
    // unchecked.
    if (offset > max_size_ || max_size_ < 1) return format::container_too_large();
    if (long_array_) {
        if (prefix_size + long_array_->at > max_size_) return format::container_too_large();
        return format::too_many_items(long_array_->count);
    }
    if (total > max_size_) return format::container_too_large();
    return std::nullopt;
}

Result<std::size_t> DataContainer::finish(ContainerMemory& memory, std::uint16_t root_definition) {
    const std::size_t definition_count = shapes_.count();
    if (definition_count > format::kMaxDefinitions) return format::too_many_definitions(definition_count);

    const ShapeNumbering::FieldRecords records(shapes_.widest_object(), &memory_);
    std::size_t definition_block_size = tables::definition_block_base_size();
    for (const ShapeNumbering::Definition& definition : shapes_.definitions()) {
        definition_block_size += shapes_.record_size(definition, records);
    }
    const std::size_t dictionary_bytes = strings_.gather_dictionary();
    const std::size_t dictionary_count = strings_.size();
    const std::size_t dict_block_offset = format::kHeaderSize + definition_block_size;
    const std::size_t data_block_offset = dict_block_offset + format::kStringCountSize + dictionary_bytes;
    if (std::optional<VeskError> refused = refusal(data_block_offset, records, dictionary_count)) {
        return std::move(*refused);
    }

    const std::size_t data_size = data_.size();
    std::uint8_t* const data_header = data_.reserved();
    format::store_u32le(data_header, 1);
    format::store_u16le(data_header + format::kEntryCountSize, root_definition);
    format::store_u32le(data_header + format::kEntryCountSize + 2, static_cast<std::uint32_t>(data_size - kDataHeaderSize));

    const std::size_t total = data_block_offset + data_size;
    std::uint8_t* const container = memory.allocate(total);
    tables::write_header(container, dict_block_offset, data_block_offset);
    std::uint8_t* at = shapes_.write_definition_block(container + format::kHeaderSize, records);
    // Each entry is encoded as its first occurrence is inline, and copied
    // from there.
    format::store_u32le(at, static_cast<std::uint32_t>(dictionary_count));
    at += format::kStringCountSize;
    // Read in blocks past their end, which the chunks' slack allows, and
    // written so too, over what comes next, as long as the container's end
    // is not in reach.
    static_assert(kCopyBlock <= DataChunks::kSlack && tables::kSameBytesBlock <= DataChunks::kSlack);
    std::uint8_t* const end = container + total;
    // A text left in place is copied into its entry when the data's copy has
    // just read it, rather than read cold twice: here its entry gets its
    // length, and the place of its text is kept, by its number among the
    // long texts (the order of their entries).
    tables::TableVector<std::uint8_t*> long_entries(strings_.long_text_count(), nullptr, &memory_);
    std::size_t long_entry = 0;
    for (std::size_t entry = 0; entry < dictionary_count; ++entry) {
        const StringLog::Place& place = strings_[entry];
        if (StringLog::in_place(place.size)) {
            const format::LengthPrefix prefix = format::length_prefix_for(place.size & ~StringLog::kInPlace);
            std::memcpy(at, prefix.bytes, prefix.size);
            at += prefix.size;
            long_entries[long_entry++] = at;
            at += place.size & ~StringLog::kInPlace;
            continue;
        }
        if (static_cast<std::size_t>(end - at) >= place.size + kCopyBlock) [[likely]] {
            copy_in_blocks(at, place.at, place.size);
        } else {
            std::memcpy(at, place.at, place.size);
        }
        at += place.size;
    }
    // The pieces that are texts left in place come in the order of the
    // texts' first occurrences; those met again point at their first one.
    long_entry = 0;
    data_.copy_to(at, [&](const DataChunks::Piece& piece, const std::uint8_t* copied) {
        if (long_entry != long_entries.size() &&
            piece.start == strings_.long_text(static_cast<std::uint32_t>(long_entry))) {
            std::memcpy(long_entries[long_entry++], copied, piece.size);
        }
    });
    return total;
}

}  // namespace vesk::emit
