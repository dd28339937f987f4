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

#include "emit/data_chunks.hpp"
#include "emit/shape_numbering.hpp"
#include "emit/string_log.hpp"
#include "error/result.hpp"
#include "format/byte_order.hpp"
#include "format/container_layout.hpp"
#include "format/format_limits.hpp"
#include "format/string_prefix.hpp"
#include "format/vesk_type.hpp"
#include "tables/table_memory.hpp"
#include "tables/text_hash.hpp"

namespace vesk::emit {

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
// data. Definitions are numbered as they are asked for (ShapeNumbering): an
// array when its element type is known (at its first item if that is a
// container, else at its end, which gives the same order since a list of
// scalars holds no shapes), an object when its values are done, its number
// patched into the header written before them.
//
// The data goes into DataChunks, and finish() writes the container into its
// block in one go: the header, definition and dictionary blocks where they
// belong, then the data copied from the chunks. The writer's refusals (too many definitions, fields or
// items, strings or a container too large) are noted as they turn up and
// reported by finish() in the order the document writer checks them, so the
// result matches what that writer makes of the same document, bytes and
// refusals alike.
class DataContainer {
public:
    explicit DataContainer(std::uint64_t seed, std::size_t max_container_size = format::kMaxContainerSize);

    DataContainer(const DataContainer&) = delete;
    DataContainer& operator=(const DataContainer&) = delete;

    // --- Scalars, appended to the data.
    void write_bool(bool value) {
        std::uint8_t* at = data_.room(1);
        *at = value ? 1 : 0;
        data_.move_to(at + 1);
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
        if (text.size() > format::kMaxStringLength) [[unlikely]] {
            const auto hash = static_cast<std::uint32_t>(tables::hash_text(text, seed_));
            const std::uint8_t* at = write_unencodable(text);
            strings_.add(StringLog::Place{at, StringLog::kUnencodable, hash});
            return WrittenString{at, StringLog::kUnencodable};
        }
        // The text is hashed as it is copied in, in one pass over it; most
        // are short, and loaded, hashed and stored as one padded block,
        // without a branch on their size.
        std::uint8_t* at = data_.room(format::kMaxLengthPrefixSize + text.size());
        const format::LengthPrefix prefix = format::length_prefix_for(text.size());
        std::memcpy(at, prefix.bytes, format::kMaxLengthPrefixSize);
        std::uint32_t hash;
        if (text.size() <= kShortText && tables::loadable_as_block(text.data())) {
            const tables::PaddedWords words = tables::padded_words_in_block(text.data(), text.size());
            format::store_u64le(at + prefix.size, words.low);
            format::store_u64le(at + prefix.size + 8, words.high);
            hash = static_cast<std::uint32_t>(tables::hash_padded_words(words.low, words.high, text.size(), seed_));
        } else {
            hash = static_cast<std::uint32_t>(tables::hash_text_copying(text, seed_, at + prefix.size));
        }
        const auto size = static_cast<std::uint32_t>(prefix.size + text.size());
        data_.move_to(at + size);
        strings_.add(StringLog::Place{at, size, hash});
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
    static_assert(kLeftInPlace >= StringLog::kShortestLongText);
    WrittenString write_string_in_place(std::string_view text);
    // A string written before, copied from there as it was written: it
    // needs no note, having one already. Most are short, keys above all,
    // and are moved as one block; the data's slack has room for it.
    [[gnu::always_inline]] void write_again(const WrittenString& string) {
        const std::uint32_t size = string.size;
        if (size <= kMoveBlock) [[likely]] {
            std::uint8_t* to = data_.room(size);
            // A move, since the string may lie less than a block before: the
            // whole block is loaded before any of it is stored, inline (a
            // memmove of a constant size is still a call).
            std::uint8_t block[kMoveBlock];
            std::memcpy(block, string.at, kMoveBlock);
            std::memcpy(to, block, kMoveBlock);
            data_.move_to(to + size);
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
        std::uint8_t* at = data_.room(format::kArrayHeaderSize);
        const ArrayStart start{at, data_.size()};
        data_.move_to(at + format::kArrayHeaderSize);
        return start;
    }
    std::uint16_t number_array(const ArrayStart& array, format::VeskType element_type) {
        const auto number = static_cast<std::uint16_t>(shapes_.array_number(element_type));
        // The same number twice, in one store.
        format::store_u32le(array.header, number * 0x10001u);
        return number;
    }
    void end_array(const ArrayStart& array, std::size_t count) {
        if (count > format::kMaxArrayItems && (!long_array_ || array.at < long_array_->at)) {
            long_array_ = LongArray{array.at, count};
        }
        format::store_u16le(array.header + 4, static_cast<std::uint16_t>(count));
    }

    // --- Objects: begin_object() writes the header, add_item() takes the
    // type of one item's value (its key is a String), end_object() numbers
    // the shape.
    struct ObjectStart {
        std::uint8_t* header;
        std::uint32_t shape;  // of the items so far
    };
    ObjectStart begin_object() {
        std::uint8_t* at = data_.room(format::kObjectHeaderSize);
        data_.move_to(at + format::kObjectHeaderSize);
        return ObjectStart{at, 0};
    }
    void add_item(ObjectStart& object, format::VeskType value_type) {
        object.shape = shapes_.step(object.shape, value_type);
    }
    std::uint16_t end_object(const ObjectStart& object) {
        const auto number = static_cast<std::uint16_t>(shapes_.object_number(object.shape));
        format::store_u16le(object.header, number);
        return number;
    }

    // --- The whole container, written into a block of `memory`; returns its
    // size, or the writer's refusal. `root_definition` names the value's
    // definition: its own number for an array or object, its type byte for a
    // scalar. Once only.
    Result<std::size_t> finish(ContainerMemory& memory, std::uint16_t root_definition);

    // Room for `count` four-byte numbers in one piece at the end of the data,
    // for a caller that writes a run of them itself and then passes how many
    // it wrote to numbers_written().
    std::uint8_t* number_room(std::size_t count) { return data_.room(4 * count); }
    void numbers_written(std::size_t count) noexcept { data_.move_to(data_.cursor() + 4 * count); }

    // The last `size` bytes written, which the caller may change in place.
    std::uint8_t* last_written(std::size_t size) noexcept { return data_.cursor() - size; }

    // Scratch of the list being written, for when it turns out to mix ints
    // and floats: where runs of its ints lie (a chunk ends a run), and its
    // ints that do not fit 32 bits, both by position.
    tables::TableVector<std::pair<std::size_t, std::uint8_t*>>& int_runs() noexcept { return int_runs_; }
    tables::TableVector<std::pair<std::size_t, std::int64_t>>& wide_integers() noexcept { return wide_integers_; }

private:
    struct LongArray {
        std::size_t at;
        std::size_t count;
    };

    const std::uint8_t* write_unencodable(std::string_view text);
    void write_again_long(const WrittenString& string);

    void write_u32(std::uint32_t bits) {
        std::uint8_t* at = data_.room(4);
        format::store_u32le(at, bits);
        data_.move_to(at + 4);
    }

    std::optional<VeskError> refusal(std::size_t prefix_size, const ShapeNumbering::FieldRecords& records,
                                     std::size_t dictionary_count) const;

    // The memory of the tables below, first so that it outlives them: a
    // message's of a few dozen strings and shapes fit in it.
    tables::SmallBlockArena<8192> memory_;
    std::size_t max_size_;
    std::uint64_t seed_;
    DataChunks data_;
    StringLog strings_;
    ShapeNumbering shapes_;

    static constexpr std::size_t kShortText = 16;  // stored as a block of this many bytes
    static_assert(kShortText <= DataChunks::kSlack);
    static constexpr std::size_t kMoveBlock = 32;
    static_assert(kMoveBlock <= DataChunks::kSlack);

    tables::TableVector<std::pair<std::size_t, std::uint8_t*>> int_runs_;
    tables::TableVector<std::pair<std::size_t, std::int64_t>> wide_integers_;
    std::optional<LongArray> long_array_;  // the first in the data
};

}  // namespace vesk::emit
