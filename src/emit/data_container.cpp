#include "emit/data_container.hpp"

#include <algorithm>

#include "format/writer_faults.hpp"
#include "tables/container_blocks.hpp"
#include "tables/index_slot.hpp"

namespace vesk {

namespace {

// The data block opens with its entry count and the one entry's header
// (definition number and payload length), filled in by finish().
constexpr std::size_t kDataHeaderSize = kEntryCountSize + kEntryHeaderSize;

// A string too long for the format still goes into the data, so that the
// dictionary can be gathered in full and the refusal reported where the
// document writer would: marked by a first byte no string starts with, its
// length in the next eight bytes. Such a container is never returned.
constexpr std::uint8_t kUnencodableMark = kStrRefMarker;
constexpr std::size_t kUnencodablePrefixSize = 1 + 8;

// A small value's tables, in the container's own memory; past them, those
// of a value of some size, a few hundred object shapes and a few thousand
// strings: room for them at once spares the copies of growing there step by
// step.
constexpr std::size_t kSmallShapeSteps = 16;
constexpr std::size_t kSmallDefinitions = 16;
constexpr std::size_t kSmallStringPlaces = 32;
constexpr std::size_t kFirstShapeSteps = 256;
constexpr std::size_t kFirstChunks = 16;
constexpr std::size_t kFirstStringPlaces = 1024;
constexpr std::size_t kFirstLongTexts = 32;

// The smallest table of three times as many slots as `count`: at most a
// third full. In a value whose strings are mostly new (ids, URLs), a fuller
// table has more of them find their first slot taken, which the processor
// guesses wrong as often as not: at half full, github_events spent half
// again as long in the gather.
std::size_t slot_count_for(std::size_t count) noexcept {
    return std::bit_ceil(std::max<std::size_t>(3 * count, 16));
}

// The blocks of a long text's sample, and how many long texts may share
// their sample with another and prove different before all are hashed
// whole: each such comparison may read a whole text.
constexpr std::size_t kSampleBlock = 32;
static_assert(DataContainer::kLeftInPlace >= 3 * kSampleBlock);
constexpr std::uint32_t kLongTextsComparedInVain = 16;

// Copies `size` bytes, and up to kCopyBlock - 1 more after them, in whole
// blocks: a loop whose length follows the size in steps rather than a call
// whose branches depend on it.
constexpr std::size_t kCopyBlock = 32;

inline void copy_in_blocks(std::uint8_t* to, const std::uint8_t* from, std::size_t size) noexcept {
    for (std::size_t done = 0; done < size; done += kCopyBlock) std::memcpy(to + done, from + done, kCopyBlock);
}

// Room in a full table. Past the few entries of the container's own
// memory, at once for a value of some size; then twice as much each time.
template <class T>
void grow_full_table(TableVector<T>& table, std::size_t first_size) {
    table.reserve(std::max(2 * table.capacity(), first_size));
}

}  // namespace

DataContainer::DataContainer(std::uint64_t seed, std::size_t max_container_size)
    : max_size_(max_container_size),
      seed_(seed),
      chunks_(&memory_),
      chunk_start_(first_chunk_),
      cursor_(first_chunk_ + kDataHeaderSize),
      limit_(first_chunk_ + kFirstChunkSize),
      string_places_(&memory_),
      long_texts_(seed, &memory_),
      definitions_(&memory_),
      shape_steps_(&memory_),
      int_runs_(&memory_),
      wide_integers_(&memory_) {
    shape_steps_.reserve(kSmallShapeSteps);
    shape_steps_.emplace_back();
    definitions_.reserve(kSmallDefinitions);
    string_places_.reserve(kSmallStringPlaces);
}

void DataContainer::make_room_for_places() { grow_full_table(string_places_, kFirstStringPlaces); }

void DataContainer::next_chunk(std::size_t bytes) {
    if (chunks_.empty()) {
        chunks_.reserve(kFirstChunks);
        chunk_storage_.reserve(kFirstChunks);
    }
    const std::size_t size = std::max(bytes, next_chunk_size_);
    auto storage = std::make_unique_for_overwrite<std::uint8_t[]>(size + kChunkSlack);
    chunks_.push_back(Chunk{chunk_start_, static_cast<std::size_t>(cursor_ - chunk_start_)});
    chunked_ += chunks_.back().size;
    chunk_start_ = cursor_ = storage.get();
    limit_ = chunk_start_ + size;
    chunk_storage_.push_back(std::move(storage));
    next_chunk_size_ = std::min(2 * next_chunk_size_, kLargestChunkSize);
}

const std::uint8_t* DataContainer::write_unencodable(std::string_view text) {
    std::uint8_t* at = room(kUnencodablePrefixSize + text.size());
    at[0] = kUnencodableMark;
    const std::uint64_t length = text.size();
    std::memcpy(at + 1, &length, 8);
    std::memcpy(at + kUnencodablePrefixSize, text.data(), text.size());
    cursor_ += kUnencodablePrefixSize + text.size();
    longest_string_ = std::max(longest_string_, text.size());
    return at;
}

std::uint64_t DataContainer::long_text_hash(std::string_view text) const noexcept {
    if (long_texts_hashed_whole_) return hash_text(text, seed_);
    char sample[8 + 3 * kSampleBlock];
    const std::uint64_t length = text.size();
    std::memcpy(sample, &length, 8);
    std::memcpy(sample + 8, text.data(), kSampleBlock);
    std::memcpy(sample + 8 + kSampleBlock, text.data() + (text.size() - kSampleBlock) / 2, kSampleBlock);
    std::memcpy(sample + 8 + 2 * kSampleBlock, text.data() + text.size() - kSampleBlock, kSampleBlock);
    return hash_text({sample, sizeof sample}, seed_);
}

void DataContainer::hash_long_texts_whole() {
    long_texts_hashed_whole_ = true;
    StringTable whole(seed_, &memory_);
    whole.reserve(long_texts_.size());
    // All different, so each keeps its number.
    for (std::uint32_t id = 0; id < long_texts_.size(); ++id) {
        const std::string_view text = long_texts_.text(id);
        whole.intern(text, hash_text(text, seed_));
    }
    long_texts_ = std::move(whole);
}

DataContainer::WrittenString DataContainer::write_string_in_place(std::string_view text) {
    if (text.size() > kMaxStringLength) return write_string(text);
    const std::uint64_t hash = long_text_hash(text);
    // Room for a few dozen from the container's own memory; a text with
    // more grows the table.
    if (long_texts_.size() == 0) long_texts_.reserve(kFirstLongTexts);
    std::uint32_t in_vain = 0;
    const StringTable::Interned seen = long_texts_.intern_where(text, hash, [text, &in_vain](const char* kept) {
        const bool same = std::memcmp(kept, text.data(), text.size()) == 0;
        in_vain += same ? 0 : 1;
        return same;
    });
    if (in_vain != 0) [[unlikely]] {
        long_texts_compared_in_vain_ += in_vain;
        if (long_texts_compared_in_vain_ > kLongTextsComparedInVain && !long_texts_hashed_whole_) {
            hash_long_texts_whole();
        }
    }
    const auto* const first = reinterpret_cast<const std::uint8_t*>(long_texts_.text(seen.id).data());
    std::uint8_t* at = room(kMaxLengthPrefixSize);
    const LengthPrefix prefix = length_prefix_for(text.size());
    std::memcpy(at, prefix.bytes, kMaxLengthPrefixSize);
    cursor_ += prefix.size;
    // The chunk so far and the text become pieces of their own; the chunk
    // goes on after them.
    if (chunks_.empty()) chunks_.reserve(kFirstChunks);
    chunks_.push_back(Chunk{chunk_start_, static_cast<std::size_t>(cursor_ - chunk_start_)});
    chunks_.push_back(Chunk{first, text.size()});
    chunked_ += chunks_[chunks_.size() - 2].size + text.size();
    chunk_start_ = cursor_;
    const auto size = kInPlace | static_cast<std::uint32_t>(text.size());
    if (seen.added) add_place(StringPlace{first, size, static_cast<std::uint32_t>(hash)});
    return WrittenString{first, size};
}

std::size_t DataContainer::marked_encoding_size(const StringPlace& place) noexcept {
    if (in_place(place.size)) return string_encoding_size(place.size & ~kInPlace);
    std::uint64_t length = 0;
    std::memcpy(&length, place.at + 1, 8);
    return kUnencodablePrefixSize + length;
}

void DataContainer::write_again_long(const WrittenString& string) {
    if (in_place(string.size)) {
        write_string_in_place({reinterpret_cast<const char*>(string.at), string.size & ~kInPlace});
        return;
    }
    if (string.size == kUnencodable) {
        std::uint64_t length = 0;
        std::memcpy(&length, string.at + 1, 8);
        write_unencodable({reinterpret_cast<const char*>(string.at + kUnencodablePrefixSize), length});
        return;
    }
    std::uint8_t* to = room(string.size);
    std::memcpy(to, string.at, string.size);
    cursor_ += string.size;
}

// Texts left in place are compared by a call, never read past their end.
static_assert(DataContainer::kLeftInPlace > kSameBytesBlock);

DataContainer::Dictionary DataContainer::gather_dictionary() {
    // Linear probing in IndexSlots. The entries are the places themselves,
    // moved to the front as they are found to be first: an entry's place is
    // never one still to be read.
    const std::size_t capacity = slot_count_for(string_places_.size());
    const std::uint32_t mask = IndexSlot::mask_for(capacity);
    TableVector<std::uint32_t> slots(capacity, 0, &memory_);
    StringPlace* const places = string_places_.data();
    std::uint32_t count = 0;
    std::size_t bytes = 0;
    for (std::size_t next = 0; next < string_places_.size(); ++next) {
        const StringPlace place = places[next];
        // Texts left in place have a place only where they are new.
        if (in_place(place.size)) [[unlikely]] {
            places[count++] = place;
            bytes += encoding_size(place);
            continue;
        }
        for (std::uint32_t at = place.hash & mask;; at = (at + 1) & mask) {
            const std::uint32_t slot = slots[at];
            if (slot == 0) {
                slots[at] = IndexSlot::make(place.hash, mask, count);
                places[count++] = place;
                bytes += encoding_size(place);
                break;
            }
            if (!IndexSlot::may_hold(slot, place.hash, mask)) continue;
            const StringPlace& entry = places[IndexSlot::id(slot, mask)];
            if (entry.size == place.size) {
                const std::size_t size = compared_size(place);
                if (size == compared_size(entry) && same_bytes_in_block(reinterpret_cast<const char*>(entry.at),
                                                                        reinterpret_cast<const char*>(place.at), size)) {
                    break;
                }
            }
        }
    }
    string_places_.resize(count);
    return Dictionary{count, bytes};
}

std::uint32_t DataContainer::step_to(std::uint32_t shape, VeskType value_type) {
    const auto next = static_cast<std::uint32_t>(shape_steps_.size());
    if (shape_steps_.size() == shape_steps_.capacity()) grow_full_table(shape_steps_, kFirstShapeSteps);
    // Filled in place: a step built aside and copied in is written in parts
    // and read back whole, which the processor cannot forward.
    ShapeStep& step = shape_steps_.emplace_back();
    step.from = shape;
    step.items = shape_steps_[shape].items + 1;
    step.value_type = value_type;
    shape_steps_[shape].next[type_index(value_type)] = next;
    return next;
}

std::uint32_t DataContainer::number_array_shape(VeskType element_type) {
    const std::uint32_t number = new_definition(Definition{VeskType::Array, element_type, 0});
    array_numbers_[type_index(element_type)] = number;
    return number;
}

std::uint32_t DataContainer::number_object_shape(std::uint32_t shape) {
    const std::uint32_t number = new_definition(Definition{VeskType::Object, VeskType::Null, shape});
    shape_steps_[shape].number = number;
    widest_object_ = std::max(widest_object_, 2 * std::size_t{shape_steps_[shape].items});
    return number;
}

// The field records of the widest object, one after another: each field's
// name, f0, f1, ..., with its length before it and a String type byte after
// it. An object of n fields is the first n records with its values' types
// written over the type bytes of the odd ones.
class DataContainer::FieldRecords {
public:
    FieldRecords(std::size_t count, std::pmr::memory_resource* memory) : bytes_(memory), ends_(count, memory) {
        std::size_t widest_name = 2;
        for (std::size_t rest = count; rest >= 10; rest /= 10) ++widest_name;
        bytes_.resize(count * (widest_name + 2));
        // Each name is the one before with its number counted up in place,
        // digit by digit, rather than formatted afresh.
        char name[24] = {'f', '0'};
        std::size_t name_size = 2;
        std::uint8_t* at = bytes_.data();
        for (std::size_t position = 0; position < count; ++position) {
            *at++ = static_cast<std::uint8_t>(name_size);
            std::memcpy(at, name, name_size);
            at += name_size;
            *at++ = type_byte(VeskType::String);
            ends_[position] = static_cast<std::size_t>(at - bytes_.data());
            std::size_t digit = name_size - 1;
            while (digit > 0 && name[digit] == '9') name[digit--] = '0';
            if (digit == 0) {
                std::memmove(name + 2, name + 1, name_size - 1);
                name[1] = '1';
                ++name_size;
            } else {
                ++name[digit];
            }
        }
    }

    // Bytes of the first `count` records.
    std::size_t size(std::size_t count) const noexcept { return count == 0 ? 0 : ends_[count - 1]; }
    const std::uint8_t* bytes() const noexcept { return bytes_.data(); }

private:
    TableVector<std::uint8_t> bytes_;
    TableVector<std::size_t> ends_;
};

std::size_t DataContainer::record_size(const Definition& definition, const FieldRecords& records) const noexcept {
    if (definition.kind == VeskType::Array) return kArrayDefinitionSize;
    return kObjectDefinitionHeaderSize + records.size(field_count(definition));
}

std::uint8_t* DataContainer::write_definition_block(std::uint8_t* at, const FieldRecords& records) const noexcept {
    at = write_primitive_definitions(at, kPrimitiveDefinitionCount + definitions_.size());
    auto number = static_cast<std::uint16_t>(kPrimitiveDefinitionCount);
    for (const Definition& definition : definitions_) {
        at[0] = type_byte(definition.kind);
        store_u16le(at + 1, number++);
        at += kDefinitionHeaderSize;
        if (definition.kind == VeskType::Array) {
            *at++ = type_byte(definition.elem_type);
            continue;
        }
        const ShapeStep* step = &shape_steps_[definition.shape];
        const std::size_t fields = field_count(definition);
        store_u16le(at, static_cast<std::uint16_t>(fields));
        at += 2;
        if (fields == 0) continue;  // an empty dict: no field records, maybe none made at all
        std::memcpy(at, records.bytes(), records.size(fields));
        // The values' types, from the last item back.
        for (std::size_t item = step->items; item > 0; --item) {
            at[records.size(2 * item) - 1] = type_byte(step->value_type);
            step = &shape_steps_[step->from];
        }
        at += records.size(fields);
    }
    return at;
}

std::optional<VeskError> DataContainer::refusal(std::size_t prefix_size, const FieldRecords& records,
                                                const Dictionary& dictionary) const {
    const std::size_t total = prefix_size + data_size();
    if (total <= max_size_ && widest_object_ <= kMaxFields && longest_string_ <= kMaxStringLength &&
        !long_array_) {
        return std::nullopt;
    }
    // Something is refused, or the container is too large, and whichever the
    // document writer meets first is reported. Its output only grows, so the
    // size is found too large exactly where it checks it past the ceiling.
    std::size_t offset = kHeaderSize + definition_block_base_size();
    std::size_t number = kPrimitiveDefinitionCount;
    for (const Definition& definition : definitions_) {
        if (offset > max_size_) return container_too_large();
        if (definition.kind == VeskType::Object && field_count(definition) > kMaxFields) {
            return too_many_fields(number, field_count(definition));
        }
        offset += record_size(definition, records);
        ++number;
    }
    if (offset > max_size_ || dictionary.count > max_size_) return container_too_large();
    offset += kStringCountSize;
    for (std::size_t entry = 0; entry < dictionary.count; ++entry) {
        if (offset > max_size_) return container_too_large();
        if (string_places_[entry].size == kUnencodable) return string_too_long();
        offset += encoding_size(string_places_[entry]);
    }
    // The data: the entry count, then the one entry, whose header is written
    // unchecked.
    if (offset > max_size_ || max_size_ < 1) return container_too_large();
    if (long_array_) {
        if (prefix_size + long_array_->at > max_size_) return container_too_large();
        return too_many_items(long_array_->count);
    }
    if (total > max_size_) return container_too_large();
    return std::nullopt;
}

Result<std::size_t> DataContainer::finish(ContainerMemory& memory, std::uint16_t root_definition) {
    const std::size_t definition_count = kPrimitiveDefinitionCount + definitions_.size();
    if (definition_count > kMaxDefinitions) return too_many_definitions(definition_count);

    const FieldRecords records(widest_object_, &memory_);
    std::size_t definition_block_size = definition_block_base_size();
    for (const Definition& definition : definitions_) definition_block_size += record_size(definition, records);
    const Dictionary dictionary = gather_dictionary();
    const std::size_t dict_block_offset = kHeaderSize + definition_block_size;
    const std::size_t data_block_offset = dict_block_offset + kStringCountSize + dictionary.bytes;
    if (std::optional<VeskError> refused = refusal(data_block_offset, records, dictionary)) {
        return std::move(*refused);
    }

    const std::size_t data_size = this->data_size();
    store_u32le(first_chunk_, 1);
    store_u16le(first_chunk_ + kEntryCountSize, root_definition);
    store_u32le(first_chunk_ + kEntryCountSize + 2, static_cast<std::uint32_t>(data_size - kDataHeaderSize));

    const std::size_t total = data_block_offset + data_size;
    std::uint8_t* const container = memory.allocate(total);
    write_header(container, dict_block_offset, data_block_offset);
    std::uint8_t* at = write_definition_block(container + kHeaderSize, records);
    // Each entry is encoded as its first occurrence is inline, and copied
    // from there.
    store_u32le(at, static_cast<std::uint32_t>(dictionary.count));
    at += kStringCountSize;
    // Read in blocks past their end, which the chunks' slack allows, and
    // written so too, over what comes next, as long as the container's end
    // is not in reach.
    static_assert(kCopyBlock <= kChunkSlack && kSameBytesBlock <= kChunkSlack);
    std::uint8_t* const end = container + total;
    // A text left in place is copied into its entry when the data's copy has
    // just read it, rather than read cold twice: here its entry gets its
    // length, and the place of its text is kept, by its number among the
    // long texts (the order of their entries).
    TableVector<std::uint8_t*> long_entries(long_texts_.size(), nullptr, &memory_);
    std::size_t long_entry = 0;
    for (std::size_t entry = 0; entry < dictionary.count; ++entry) {
        const StringPlace& place = string_places_[entry];
        if (in_place(place.size)) {
            const LengthPrefix prefix = length_prefix_for(place.size & ~kInPlace);
            std::memcpy(at, prefix.bytes, prefix.size);
            at += prefix.size;
            long_entries[long_entry++] = at;
            at += place.size & ~kInPlace;
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
    for (const Chunk& chunk : chunks_) {
        std::memcpy(at, chunk.start, chunk.size);
        if (long_entry != long_entries.size() &&
            chunk.start == reinterpret_cast<const std::uint8_t*>(long_texts_.text(long_entry).data())) {
            std::memcpy(long_entries[long_entry++], at, chunk.size);
        }
        at += chunk.size;
    }
    std::memcpy(at, chunk_start_, static_cast<std::size_t>(cursor_ - chunk_start_));
    return total;
}

void ListItems::turn_to_floats(std::size_t count) {
    floats_ = true;
    if (first_ != VeskType::Int32) return;
    // Every item so far is an Int32, in runs that lie end to end within a
    // chunk. Its full value is its own unless it was noted as wide.
    const auto& runs = out_.int_runs();
    const auto& wide = out_.wide_integers();
    std::size_t next_wide = wide_from_;
    for (std::size_t run = runs_from_; run < runs.size(); ++run) {
        const std::size_t end = run + 1 < runs.size() ? runs[run + 1].first : count;
        for (std::size_t position = runs[run].first; position < end; ++position) {
            std::uint8_t* item = runs[run].second + 4 * (position - runs[run].first);
            std::int64_t whole = static_cast<std::int32_t>(load_u32le(item));
            if (next_wide < wide.size() && wide[next_wide].first == position) whole = wide[next_wide++].second;
            store_u32le(item, std::bit_cast<std::uint32_t>(static_cast<float>(whole)));
        }
    }
}

}  // namespace vesk
