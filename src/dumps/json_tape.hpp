#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory_resource>
#include <new>

#include "format/vesk_type.hpp"

namespace vesk::dumps {

// The tape: one record per value, in text order, of 32-bit words. The low
// three bits of a record's first word are its tag; the rest of that word and
// the words after it depend on the tag:
//   Null    nothing more
//   Bool    the value
//   Number  the value type, and whether the number is wide or a kept
//           float. Word 1: the narrowed value. A wide number, an integer
//           outside the Int32 range, has a word 2 with the binary32 nearest
//           its full value, which it takes in an array of mixed numbers (for
//           the others that value follows from word 1), and a word 3 with
//           the high half of its 64 bits. A kept float, one whose binary32
//           is infinite or zero though it is neither, has its binary64 in
//           words 2 and 3 (low half first). Both are what a strict compile
//           reports.
//   String  the string's id
//   Array   the shape; whether the items are numbers of more than one type
//           (every item becomes Float32); whether they disagree otherwise,
//           which refuses the array (and then it has no shape). Word 1: the
//           position after the array's last item; word 2: the item count.
//           The items follow.
//   Object  the shape. Word 1: the position after the last value; word 2:
//           the member layout. The values follow in text order, duplicates
//           included.
//   Dropped a value that a repeated member name dropped, whose first word
//           this overwrites: the size in words of a scalar's record, or 0
//           for a container, whose word 1 still says where it ends. Its
//           contents are out of the counts already, so a value dropped later
//           that holds it must not take them out again.
// The accessors below are the only code that knows the bits.
enum Tag : std::uint32_t { kNullTag, kBoolTag, kNumberTag, kStringTag, kArrayTag, kObjectTag, kDroppedTag };
inline constexpr std::size_t kContainerRecordSize = 3;
// The largest string id and shape a record holds; more than that many of
// either would take far more memory than a tape is given.
inline constexpr std::uint32_t kMaxStringId = (1u << 29) - 1;
inline constexpr std::uint32_t kMaxArrayShape = (1u << 27) - 1;
inline constexpr std::uint32_t kMaxObjectShape = (1u << 29) - 1;
// Tape positions are 32-bit, with room for a record past the last.
inline constexpr std::size_t kMaxTapeSize = 0xFFFFFFF0u;

namespace record {

inline constexpr std::uint32_t kTagBits = 3;
inline constexpr std::uint32_t kTagMask = (1u << kTagBits) - 1;
inline constexpr std::uint32_t kWideNumber = 1u << 11;
inline constexpr std::uint32_t kKeptFloat = 1u << 12;
inline constexpr std::uint32_t kMixedNumbers = 1u << 3;
inline constexpr std::uint32_t kRefusedArray = 1u << 4;
inline constexpr std::uint32_t kArrayShapeShift = 5;

constexpr Tag tag_of(std::uint32_t word) noexcept { return static_cast<Tag>(word & kTagMask); }

constexpr std::uint32_t null_word() noexcept { return kNullTag; }
constexpr std::uint32_t bool_word(bool value) noexcept { return kBoolTag | (std::uint32_t{value} << kTagBits); }
constexpr bool bool_value(std::uint32_t word) noexcept { return (word >> kTagBits) & 1; }

constexpr std::uint32_t number_word(format::VeskType type, bool wide) noexcept {
    return kNumberTag | (std::uint32_t{format::type_byte(type)} << kTagBits) | (wide ? kWideNumber : 0);
}
constexpr std::uint32_t kept_float_word() noexcept {
    return number_word(format::VeskType::Float32, false) | kKeptFloat;
}
constexpr std::uint8_t number_type_byte(std::uint32_t word) noexcept {
    return static_cast<std::uint8_t>(word >> kTagBits);
}
constexpr bool is_wide(std::uint32_t word) noexcept { return (word & kWideNumber) != 0; }
constexpr bool is_kept_float(std::uint32_t word) noexcept { return (word & kKeptFloat) != 0; }
inline constexpr std::uint32_t kLongNumberSize = 4;
constexpr std::uint32_t number_size(std::uint32_t word) noexcept {
    return (word & (kWideNumber | kKeptFloat)) != 0 ? kLongNumberSize : 2;
}

constexpr std::uint32_t string_word(std::uint32_t id) noexcept { return kStringTag | (id << kTagBits); }
constexpr std::uint32_t string_id(std::uint32_t word) noexcept { return word >> kTagBits; }

constexpr std::uint32_t array_word(std::uint32_t shape, bool mixed_numbers) noexcept {
    return kArrayTag | (mixed_numbers ? kMixedNumbers : 0) | (shape << kArrayShapeShift);
}
constexpr std::uint32_t refused_array_word() noexcept { return kArrayTag | kRefusedArray; }
constexpr std::uint32_t array_shape(std::uint32_t word) noexcept { return word >> kArrayShapeShift; }
constexpr bool holds_mixed_numbers(std::uint32_t word) noexcept { return (word & kMixedNumbers) != 0; }
constexpr bool is_refused(std::uint32_t word) noexcept { return (word & kRefusedArray) != 0; }

constexpr std::uint32_t object_word(std::uint32_t shape) noexcept { return kObjectTag | (shape << kTagBits); }
constexpr std::uint32_t object_shape(std::uint32_t word) noexcept { return word >> kTagBits; }

// The word that drops the value whose record starts with `word`, `size`
// words long.
constexpr std::uint32_t dropped_word(std::uint32_t word, std::uint32_t size) noexcept {
    const Tag tag = tag_of(word);
    return kDroppedTag | (tag == kArrayTag || tag == kObjectTag ? 0 : size << kTagBits);
}

// A number's narrowed value, and a wide one's binary32 nearest its full value.
inline std::uint32_t narrowed_bits(const std::uint32_t* tape, std::uint32_t at) noexcept { return tape[at + 1]; }
inline std::uint32_t full_float_bits(const std::uint32_t* tape, std::uint32_t at) noexcept { return tape[at + 2]; }
// A wide number's 64 bits; a kept float's binary64.
inline std::uint64_t full_integer_bits(const std::uint32_t* tape, std::uint32_t at) noexcept {
    return std::uint64_t{tape[at + 3]} << 32 | tape[at + 1];
}
inline std::uint64_t kept_double_bits(const std::uint32_t* tape, std::uint32_t at) noexcept {
    return std::uint64_t{tape[at + 3]} << 32 | tape[at + 2];
}

// A container's record, completed once its contents are read: its first
// word, where the contents end, and its word 2 (below).
inline void close_container(std::uint32_t* tape, std::uint32_t at, std::uint32_t word, std::uint32_t end,
                            std::uint32_t word2) noexcept {
    tape[at] = word;
    tape[at + 1] = end;
    tape[at + 2] = word2;
}

// Where a container's contents end, and its word 2: an array's item count,
// an object's layout.
inline std::uint32_t end_of(const std::uint32_t* tape, std::uint32_t at) noexcept { return tape[at + 1]; }
inline std::uint32_t item_count(const std::uint32_t* tape, std::uint32_t at) noexcept { return tape[at + 2]; }
inline std::uint32_t layout_of(const std::uint32_t* tape, std::uint32_t at) noexcept { return tape[at + 2]; }

// The type of the value at `at`, which is not dropped.
inline format::VeskType value_type(std::uint32_t word) noexcept {
    switch (tag_of(word)) {
        case kNullTag: return format::VeskType::Null;
        case kBoolTag: return format::VeskType::Bool;
        case kNumberTag: return static_cast<format::VeskType>(number_type_byte(word));
        case kStringTag: return format::VeskType::String;
        case kArrayTag: return format::VeskType::Array;
        case kObjectTag:
        case kDroppedTag: break;
    }
    return format::VeskType::Object;
}

}  // namespace record

using record::tag_of;

// The position after the record at `at`, skipping a container's contents.
inline std::uint32_t record_end(const std::uint32_t* tape, std::uint32_t at) noexcept {
    const std::uint32_t word = tape[at];
    switch (tag_of(word)) {
        case kNullTag:
        case kBoolTag:
        case kStringTag: return at + 1;
        case kNumberTag: return at + record::number_size(word);
        case kArrayTag:
        case kObjectTag: return record::end_of(tape, at);
        case kDroppedTag: {
            const std::uint32_t size = word >> record::kTagBits;
            return size != 0 ? at + size : record::end_of(tape, at);
        }
    }
    return at + 1;
}

// The tape's words. Unlike a vector's, an append is a store and a bump, all
// inline, whatever the compiler makes of the code around it; only growing
// is a call.
class Tape {
public:
    explicit Tape(std::pmr::memory_resource* memory) noexcept : memory_(memory) {}
    Tape(const Tape&) = delete;
    Tape& operator=(const Tape&) = delete;
    ~Tape() { release(); }

    void reserve(std::size_t count) {
        if (count > capacity_) resize_storage(count);
    }
    std::size_t size() const noexcept { return size_; }
    const std::uint32_t* data() const noexcept { return words_; }
    std::uint32_t* data() noexcept { return words_; }
    std::uint32_t& operator[](std::size_t at) noexcept { return words_[at]; }
    std::uint32_t operator[](std::size_t at) const noexcept { return words_[at]; }

    // `count` (at most four) more words, for the caller to fill.
    [[gnu::always_inline]] std::uint32_t* append(std::size_t count) {
        if (capacity_ - size_ < kMaxAppend) [[unlikely]] resize_storage(capacity_ * 2 + 64);
        std::uint32_t* at = words_ + size_;
        size_ += count;
        return at;
    }
    void push_back(std::uint32_t word) { *append(1) = word; }

    static constexpr std::size_t kMaxAppend = 4;

private:
    // Positions are 32-bit: a text that needs more words would need far more
    // memory than that anyway, and is refused as memory is.
    [[gnu::noinline]] void resize_storage(std::size_t capacity) {
        if (capacity > kMaxTapeSize) {
            if (size_ + kMaxAppend > kMaxTapeSize) throw std::bad_alloc();
            capacity = kMaxTapeSize;
        }
        void* block = memory_->allocate(capacity * sizeof(std::uint32_t), alignof(std::uint32_t));
        auto* words = static_cast<std::uint32_t*>(block);
        if (size_ != 0) std::memcpy(words, words_, size_ * sizeof(std::uint32_t));
        release();
        words_ = words;
        capacity_ = capacity;
    }
    void release() noexcept {
        if (words_ != nullptr) memory_->deallocate(words_, capacity_ * sizeof(std::uint32_t), alignof(std::uint32_t));
    }

    std::pmr::memory_resource* memory_;
    std::uint32_t* words_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

}  // namespace vesk::dumps
