#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory_resource>
#include <string_view>

#include "format/format_limits.hpp"
#include "format/string_prefix.hpp"
#include "tables/string_table.hpp"
#include "tables/table_memory.hpp"

namespace vesk::emit {

// Every string of a value as it is written, by where its encoding lies in
// the data; the dictionary is gathered from them at the end. Two strings are
// equal when their encodings are, the length being part of it, so the
// dictionary is gathered from the encodings alone.
class StringLog {
public:
    // A string's encoding in the data, its size and the low half of its
    // text's hash. A text left in place is marked in its size, and its place
    // is its text (its prefix follows from its length): texts of one length
    // are all left in place or none, so they compare alike.
    struct Place {
        const std::uint8_t* at;
        std::uint32_t size;  // kUnencodable: too long for the format; with kInPlace: its text's length
        std::uint32_t hash;
    };
    static constexpr std::uint32_t kUnencodable = 0xFFFFFFFF;
    static constexpr std::uint32_t kInPlace = 0x80000000;
    static_assert(format::kMaxStringLength < kInPlace);

    // A string too long for the format still goes into the data, so that
    // the dictionary can be gathered in full and the refusal reported where
    // the document writer would: marked by a first byte no string starts
    // with, its length in the next eight bytes. Such a container is never
    // returned.
    static constexpr std::uint8_t kUnencodableMark = format::kStrRefMarker;
    static constexpr std::size_t kUnencodablePrefixSize = 1 + 8;

    static bool in_place(std::uint32_t size) noexcept { return (size & kInPlace) != 0 && size != kUnencodable; }
    static std::size_t encoding_size(const Place& place) noexcept {
        if ((place.size & kInPlace) == 0) [[likely]]
            return place.size;
        return marked_encoding_size(place);
    }

    StringLog(std::uint64_t seed, std::pmr::memory_resource* memory);

    [[gnu::always_inline]] void add(const Place& place) {
        if (places_.size() == places_.capacity()) [[unlikely]]
            make_room();
        places_.push_back(place);
    }
    void note_unencodable(std::size_t length) noexcept { longest_ = length > longest_ ? length : longest_; }
    std::size_t longest() const noexcept { return longest_; }

    // A text left in place, of at least kShortestLongText bytes (a sample of
    // three blocks of it is hashed), looked up among those met before: the first
    // occurrence's text, its hash, and whether it is new (and so was added).
    struct LongText {
        const std::uint8_t* first;
        std::uint32_t hash;
        bool added;
    };
    static constexpr std::size_t kShortestLongText = 96;
    LongText intern_long(std::string_view text);
    std::size_t long_text_count() const noexcept { return long_texts_.size(); }
    const std::uint8_t* long_text(std::uint32_t id) const noexcept {
        return reinterpret_cast<const std::uint8_t*>(long_texts_.text(id).data());
    }

    // Keeps the first place of each text, in order: the dictionary's
    // entries. Returns the bytes of their encodings. Once only.
    std::size_t gather_dictionary();
    std::size_t size() const noexcept { return places_.size(); }
    const Place& operator[](std::size_t entry) const noexcept { return places_[entry]; }

private:
    static std::size_t marked_encoding_size(const Place& place) noexcept;
    // The bytes at place.at that tell it from another of its size.
    static std::size_t compared_size(const Place& place) noexcept {
        if ((place.size & kInPlace) == 0) [[likely]]
            return place.size;
        return in_place(place.size) ? place.size & ~kInPlace : marked_encoding_size(place);
    }
    [[gnu::noinline]] void make_room();

    // A long text's hash in long_texts_: of its length and three blocks of
    // its bytes, from its start, its middle and its end, where texts that
    // differ mostly differ, their length above all. Texts that share all of
    // them are compared whole; once too many have proved different, every
    // long text is hashed whole instead, for the rest of the value, since
    // texts made to share their samples would otherwise have each lookup
    // compare them all.
    std::uint64_t long_text_hash(std::string_view text) const noexcept;
    void hash_long_texts_whole();

    std::pmr::memory_resource* memory_;
    std::uint64_t seed_;
    tables::TableVector<Place> places_;  // every string's, in order
    std::size_t longest_ = 0;
    tables::StringTable long_texts_;  // each once
    std::uint32_t long_texts_compared_in_vain_ = 0;
    bool long_texts_hashed_whole_ = false;
};

}  // namespace vesk::emit
