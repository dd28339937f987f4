#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "error/result.hpp"
#include "format/array_item_rule.hpp"
#include "format/byte_order.hpp"
#include "format/container_layout.hpp"
#include "format/format_limits.hpp"
#include "format/string_prefix.hpp"
#include "structure/document.hpp"
#include "tables/string_table.hpp"
#include "tables/table_memory.hpp"
#include "tables/text_hash.hpp"

namespace vesk {

// Where a finished container goes: emit writes it straight into the bytes
// object it returns.
class ContainerMemory {
public:
    // A block of exactly `size` bytes for the container. Throws
    // std::bad_alloc when there is none.
    virtual std::uint8_t* allocate(std::size_t size) = 0;

protected:
    ~ContainerMemory() = default;
};

// The container of one value that emit converts, written in one pass while
// the value is walked. Dicts are objects whose values alternate key and
// value, with positional field names f0, f1, ...; every string, key or value,
// goes into the dictionary at its first occurrence and stays inline in the
// data. Definitions are numbered as they are asked for: an array when its
// element type is known (at its first item if that is a container, else at
// its end, which gives the same order since a list of scalars holds no
// shapes), an object when its values are done, its number patched into the
// header written before them.
//
// Where the data block starts is known only at the end, once the definitions
// and the dictionary are complete, so the data is written into chunks of its
// own, which never move (headers and numbers are patched through pointers),
// and finish() writes the container into its block in one go: the header,
// definition and dictionary blocks where they belong, then the data copied
// from the chunks. The writer's refusals (too many definitions, fields or
// items, strings or a container too large) are noted as they turn up and
// reported by finish() in the order the document writer checks them, so the
// result matches what that writer makes of the same document, bytes and
// refusals alike.
class DataContainer {
public:
    explicit DataContainer(std::uint64_t seed, std::size_t max_container_size = kMaxContainerSize);

    DataContainer(const DataContainer&) = delete;
    DataContainer& operator=(const DataContainer&) = delete;

    // --- Scalars, appended to the data.
    void write_bool(bool value) {
        std::uint8_t* at = room(1);
        *at = value ? 1 : 0;
        cursor_ = at + 1;
    }
    void write_int32(std::int32_t value) { write_u32(static_cast<std::uint32_t>(value)); }
    void write_float32(float value) { write_u32(std::bit_cast<std::uint32_t>(value)); }

    // A string, inline. Every string belongs in the dictionary as well,
    // which finish() gathers from the data: each string's place is noted
    // with its hash, taken while the text is at hand, and the first of each
    // text becomes an entry, encoded as it is inline. The text lies in
    // memory, an empty one too (a short text may be loaded as a block from
    // where it starts).
    //
    // Returns where it was written, for writing it again with write_again().
    struct WrittenString {
        const std::uint8_t* at;
        std::uint32_t size;  // of its encoding, or as a StringPlace's
    };
    [[gnu::always_inline]] WrittenString write_string(std::string_view text) {
        if (text.size() > kMaxStringLength) [[unlikely]] {
            const auto hash = static_cast<std::uint32_t>(hash_text(text, seed_));
            add_place(StringPlace{write_unencodable(text), kUnencodable, hash});
            return WrittenString{string_places_.back().at, kUnencodable};
        }
        // The text is hashed as it is copied in, in one pass over it; most
        // are short, and loaded, hashed and stored as one padded block,
        // without a branch on their size.
        std::uint8_t* at = room(kMaxLengthPrefixSize + text.size());
        const LengthPrefix prefix = length_prefix_for(text.size());
        std::memcpy(at, prefix.bytes, kMaxLengthPrefixSize);
        std::uint32_t hash;
        if (text.size() <= kShortText && loadable_as_block(text.data())) {
            const PaddedWords words = padded_words_in_block(text.data(), text.size());
            std::memcpy(at + prefix.size, &words.low, 8);
            std::memcpy(at + prefix.size + 8, &words.high, 8);
            hash = static_cast<std::uint32_t>(hash_padded_words(words.low, words.high, text.size(), seed_));
        } else {
            hash = static_cast<std::uint32_t>(hash_text_copying(text, seed_, at + prefix.size));
        }
        const auto size = static_cast<std::uint32_t>(prefix.size + text.size());
        cursor_ = at + size;
        add_place(StringPlace{at, size, hash});
        return WrittenString{at, size};
    }
    // The same for a text of at least kLeftInPlace bytes that stays where it
    // is, unchanged, until finish() has returned: only its length prefix
    // goes into the chunks, and finish() copies the text from where it lies,
    // written once rather than written to a chunk and read back from it as
    // well. Unlike shorter ones, a long text is looked up among those met
    // before at once, by a hash of a sample of it (see long_text_hash()):
    // a new one is read by the copy alone, a repeat by its comparison too,
    // and its piece of the data is the first occurrence's text, which
    // finish() reads anyway, not a cold copy.
    static constexpr std::size_t kLeftInPlace = 256;
    WrittenString write_string_in_place(std::string_view text);
    // A string written before, copied from there as it was written: it
    // needs no note, having one already. Most are short, keys above all,
    // and are moved as one block; the data's slack has room for it.
    [[gnu::always_inline]] void write_again(const WrittenString& string) {
        const std::uint32_t size = string.size;
        if (size <= kMoveBlock) [[likely]] {
            std::uint8_t* to = room(size);
            // A move, since the string may lie less than a block before: the
            // whole block is loaded before any of it is stored, inline (a
            // memmove of a constant size is still a call).
            std::uint8_t block[kMoveBlock];
            std::memcpy(block, string.at, kMoveBlock);
            std::memcpy(to, block, kMoveBlock);
            cursor_ = to + size;
            return;
        }
        write_again_long(string);
    }

    // --- Arrays: begin_array() writes the header, number_array() fills in
    // its definition numbers, end_array() its item count.
    struct ArrayStart {
        std::uint8_t* header;
        std::size_t at;  // its place in the data
    };
    ArrayStart begin_array() {
        room(kArrayHeaderSize);
        const ArrayStart start{cursor_, data_size()};
        cursor_ += kArrayHeaderSize;
        return start;
    }
    std::uint16_t number_array(const ArrayStart& array, VeskType element_type) {
        std::uint32_t known = array_numbers_[type_index(element_type)];
        if (known == 0) [[unlikely]]
            known = number_array_shape(element_type);
        const auto number = static_cast<std::uint16_t>(known);
        // The same number twice, in one store.
        store_u32le(array.header, number * 0x10001u);
        return number;
    }
    void end_array(const ArrayStart& array, std::size_t count) {
        if (count > kMaxArrayItems && (!long_array_ || array.at < long_array_->at)) {
            long_array_ = LongArray{array.at, count};
        }
        store_u16le(array.header + 4, static_cast<std::uint16_t>(count));
    }

    // --- Objects: begin_object() writes the header, add_item() takes the
    // type of one item's value (its key is a String), end_object() numbers
    // the shape.
    //
    // Field names are positional, so the value types alone tell a shape. A
    // shape is found step by step, as a path from the empty shape with one
    // step per item: each shape knows, for each of the eight types, the
    // shape one more item of that type leads to.
    struct ObjectStart {
        std::uint8_t* header;
        std::uint32_t shape;  // of the items so far
    };
    ObjectStart begin_object() {
        room(kObjectHeaderSize);
        const ObjectStart start{cursor_, 0};
        cursor_ += kObjectHeaderSize;
        return start;
    }
    void add_item(ObjectStart& object, VeskType value_type) {
        const std::uint32_t next = shape_steps_[object.shape].next[type_index(value_type)];
        object.shape = next != 0 ? next : step_to(object.shape, value_type);
    }
    std::uint16_t end_object(const ObjectStart& object) {
        std::uint32_t number = shape_steps_[object.shape].number;
        if (number == 0) [[unlikely]]
            number = number_object_shape(object.shape);
        store_u16le(object.header, static_cast<std::uint16_t>(number));
        return static_cast<std::uint16_t>(number);
    }

    // --- The whole container, written into a block of `memory`; returns its
    // size, or the writer's refusal. `root_definition` names the value's
    // definition: its own number for an array or object, its type byte for a
    // scalar. Once only.
    Result<std::size_t> finish(ContainerMemory& memory, std::uint16_t root_definition);

    // Room for `count` four-byte numbers in one piece at the end of the data,
    // for a caller that writes a run of them itself and then passes how many
    // it wrote to numbers_written().
    std::uint8_t* number_room(std::size_t count) { return room(4 * count); }
    void numbers_written(std::size_t count) noexcept { cursor_ += 4 * count; }

    // The last `size` bytes written, which the caller may change in place.
    std::uint8_t* last_written(std::size_t size) noexcept { return cursor_ - size; }

    // Scratch of the list being written, for when it turns out to mix ints
    // and floats: where runs of its ints lie (a chunk ends a run), and its
    // ints that do not fit 32 bits, both by position.
    TableVector<std::pair<std::size_t, std::uint8_t*>>& int_runs() noexcept { return int_runs_; }
    TableVector<std::pair<std::size_t, std::int64_t>>& wide_integers() noexcept { return wide_integers_; }

private:
    struct LongArray {
        std::size_t at;
        std::size_t count;
    };
    // A piece of the data: part of a chunk, or a text left in place.
    struct Chunk {
        const std::uint8_t* start;
        std::size_t size;
    };

    const std::uint8_t* write_unencodable(std::string_view text);
    void write_again_long(const WrittenString& string);

    void write_u32(std::uint32_t bits) {
        std::uint8_t* at = room(4);
        store_u32le(at, bits);
        cursor_ = at + 4;
    }
    // Room for `bytes` in one piece at the cursor. Writers move the cursor
    // on from the place it returns, not by adding to the cursor: for all the
    // compiler knows, the bytes they store may have changed the cursor
    // itself, which it would then read back.
    std::uint8_t* room(std::size_t bytes) {
        if (static_cast<std::size_t>(limit_ - cursor_) < bytes) [[unlikely]]
            next_chunk(bytes);
        return cursor_;
    }
    void next_chunk(std::size_t bytes);
    std::size_t data_size() const noexcept { return chunked_ + static_cast<std::size_t>(cursor_ - chunk_start_); }

    // The definitions after the primitive ones, in the order they are
    // numbered. An object's fields follow from its shape: item i is field
    // 2i, its key, and field 2i + 1, its value.
    struct Definition {
        VeskType kind;       // Array or Object
        VeskType elem_type;  // arrays
        std::uint32_t shape;  // objects
    };
    // Its number. Numbers past 16 bits never reach the output: finish()
    // refuses that many definitions.
    std::uint32_t new_definition(const Definition& definition) {
        definitions_.push_back(definition);
        return static_cast<std::uint32_t>(kPrimitiveDefinitionCount + definitions_.size() - 1);
    }
    std::size_t field_count(const Definition& definition) const noexcept {
        return 2 * std::size_t{shape_steps_[definition.shape].items};
    }

    std::uint32_t step_to(std::uint32_t shape, VeskType value_type);
    std::uint32_t number_array_shape(VeskType element_type);
    std::uint32_t number_object_shape(std::uint32_t shape);
    class FieldRecords;
    std::size_t record_size(const Definition& definition, const FieldRecords& records) const noexcept;
    std::uint8_t* write_definition_block(std::uint8_t* at, const FieldRecords& records) const noexcept;

    // The dictionary: how many entries it has and the bytes of their
    // encodings. Its entries are the first string_places_, in order.
    struct Dictionary {
        std::size_t count = 0;
        std::size_t bytes = 0;
    };
    Dictionary gather_dictionary();
    std::optional<VeskError> refusal(std::size_t prefix_size, const FieldRecords& records,
                                     const Dictionary& dictionary) const;

    // The memory of the tables below, first so that it outlives them: a
    // message's of a few dozen strings and shapes fit in it.
    SmallBlockArena<8192> memory_;
    std::size_t max_size_;
    std::uint64_t seed_;

    // The data: the chunks filled so far, then the one being filled. The
    // first is part of this object, so a small value allocates none.
    static constexpr std::size_t kFirstChunkSize = 1024;
    static constexpr std::size_t kLargestChunkSize = std::size_t{1} << 20;
    // Every chunk has room for this many bytes past its limit, which never
    // hold data, so that a string's encoding can be read, and a short one
    // moved, in whole blocks of this size.
    static constexpr std::size_t kChunkSlack = 32;
    static constexpr std::size_t kShortText = 16;  // stored as a block of this many bytes
    static_assert(kShortText <= kChunkSlack);
    static constexpr std::size_t kMoveBlock = 32;
    static_assert(kMoveBlock <= kChunkSlack);
    std::uint8_t first_chunk_[kFirstChunkSize + kChunkSlack];
    std::vector<std::unique_ptr<std::uint8_t[]>> chunk_storage_;
    TableVector<Chunk> chunks_;  // the data before chunk_start_, in pieces
    std::size_t chunked_ = 0;  // bytes in chunks_
    std::size_t next_chunk_size_ = 2 * kFirstChunkSize;
    std::uint8_t* chunk_start_;
    std::uint8_t* cursor_;
    std::uint8_t* limit_;

    // A string's encoding in the data, its size and the low half of its
    // text's hash. Two strings are equal when their encodings are, the
    // length being part of it, so the dictionary is gathered from the
    // encodings alone. A text left in place is marked in its size, and its
    // place is its text (its prefix follows from its length): texts of one
    // length are all left in place or none, so they compare alike.
    struct StringPlace {
        const std::uint8_t* at;
        std::uint32_t size;  // kUnencodable: too long for the format; with kInPlace: its text's length
        std::uint32_t hash;
    };
    static constexpr std::uint32_t kUnencodable = 0xFFFFFFFF;
    static constexpr std::uint32_t kInPlace = 0x80000000;
    static_assert(kMaxStringLength < kInPlace);
    static bool in_place(std::uint32_t size) noexcept { return (size & kInPlace) != 0 && size != kUnencodable; }
    static std::size_t encoding_size(const StringPlace& place) noexcept {
        if ((place.size & kInPlace) == 0) [[likely]]
            return place.size;
        return marked_encoding_size(place);
    }
    static std::size_t marked_encoding_size(const StringPlace& place) noexcept;
    // The bytes at place.at that tell it from another of its size.
    static std::size_t compared_size(const StringPlace& place) noexcept {
        if ((place.size & kInPlace) == 0) [[likely]]
            return place.size;
        return in_place(place.size) ? place.size & ~kInPlace : marked_encoding_size(place);
    }
    TableVector<StringPlace> string_places_;  // every string's, in order
    [[gnu::always_inline]] void add_place(const StringPlace& place) {
        if (string_places_.size() == string_places_.capacity()) [[unlikely]]
            make_room_for_places();
        string_places_.push_back(place);
    }
    [[gnu::noinline]] void make_room_for_places();
    std::size_t longest_string_ = 0;
    // The texts left in place, each once: see write_string_in_place().
    StringTable long_texts_;
    // A long text's hash in long_texts_: of its length and three blocks of
    // its bytes, from its start, its middle and its end, where texts that
    // differ mostly differ, their length above all. Texts that share all of
    // them are compared whole; once too many have proved different, every
    // long text is hashed whole instead, for the rest of the value, since
    // texts made to share their samples would otherwise have each lookup
    // compare them all.
    std::uint64_t long_text_hash(std::string_view text) const noexcept;
    void hash_long_texts_whole();
    std::uint32_t long_texts_compared_in_vain_ = 0;
    bool long_texts_hashed_whole_ = false;

    TableVector<Definition> definitions_;
    std::array<std::uint32_t, kTypeCount> array_numbers_{};  // by type index; 0: none yet
    std::size_t widest_object_ = 0;

    // The object shapes met so far, by a number of their own: 0 is the empty
    // shape, and every other is the step of one item from an earlier one.
    // Each path of steps is a different list of value types, so each shape
    // is met once and needs no lookup by its fields.
    struct ShapeStep {
        std::uint32_t from = 0;
        std::uint32_t items = 0;
        std::uint32_t number = 0;  // its definition; 0: none yet
        VeskType value_type = VeskType::Null;
        std::array<std::uint32_t, kTypeCount> next{};  // by type index; 0: not taken yet
    };
    TableVector<ShapeStep> shape_steps_;

    TableVector<std::pair<std::size_t, std::uint8_t*>> int_runs_;
    TableVector<std::pair<std::size_t, std::int64_t>> wide_integers_;
    std::optional<LongArray> long_array_;  // the first in the data
};

// The items of one list as they are written. All must have the first item's
// type, except that ints and floats may mix; every int of such a list is then
// written as Float32, rounded once from its full value (so 2**40 stays 2**40
// instead of turning into its low 32 bits). Ints written before the first
// float are rewritten in place when it comes: numbers take four bytes either
// way.
class ListItems {
public:
    explicit ListItems(DataContainer& out) noexcept
        : out_(out), runs_from_(out.int_runs().size()), wide_from_(out.wide_integers().size()) {}
    ~ListItems() {
        if (out_.int_runs().size() != runs_from_) out_.int_runs().resize(runs_from_);
        if (out_.wide_integers().size() != wide_from_) out_.wide_integers().resize(wide_from_);
    }

    ListItems(const ListItems&) = delete;
    ListItems& operator=(const ListItems&) = delete;

    // Item `position`, of `type`, has just been written; an Int32 item holds
    // the low 32 bits of `integer`. False if its type does not fit the list:
    // the caller reports mixed_array_item(position, type, expected()).
    bool admit(std::size_t position, VeskType type, std::int64_t integer) {
        if (position == 0) {
            first_ = type;
        } else if (type != first_) {
            if (!fits_array_items(type, first_)) return false;
            if (!floats_) turn_to_floats(position);
        }
        if (type == VeskType::Int32) {
            std::uint8_t* item = out_.last_written(4);
            if (floats_) {
                store_u32le(item, std::bit_cast<std::uint32_t>(static_cast<float>(integer)));
                return true;
            }
            if (item != next_int_) out_.int_runs().emplace_back(position, item);
            next_int_ = item + 4;
            if (integer != static_cast<std::int32_t>(integer)) out_.wide_integers().emplace_back(position, integer);
        }
        return true;
    }

    // The same for items written as a run by the caller: `count` Float32
    // items from the first one on.
    void admit_floats(std::size_t count) noexcept {
        if (count > 0) first_ = VeskType::Float32;
    }
    // `count` Int32 items that fit 32 bits, from item `position` on, lying
    // end to end from `first`; every item before them was an Int32 too.
    void admit_ints(std::size_t position, std::uint8_t* first, std::size_t count) {
        if (count == 0) return;
        if (position == 0) first_ = VeskType::Int32;
        if (first != next_int_) out_.int_runs().emplace_back(position, first);
        next_int_ = first + 4 * count;
    }

    VeskType expected() const noexcept { return first_; }

    // The element type of the list as written: its first item's, Float32 for
    // mixed numbers, Null when it has no items.
    VeskType element_type() const noexcept { return floats_ ? VeskType::Float32 : first_; }

private:
    void turn_to_floats(std::size_t count);

    DataContainer& out_;
    std::size_t runs_from_;
    std::size_t wide_from_;
    std::uint8_t* next_int_ = nullptr;  // where the next int goes if it follows on
    VeskType first_ = VeskType::Null;
    bool floats_ = false;
};

}  // namespace vesk
