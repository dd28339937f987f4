#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory_resource>

namespace vesk::json_plan {

// The tape: one record per value, in text order, of 32-bit words. The low
// three bits of a record's first word are its tag; the rest of that word and
// the words after it depend on the tag:
//   Null    nothing more
//   Bool    bit 3: the value
//   Number  bits 3-10: the value type; bit 11: wide. Word 1: the narrowed
//           value. A wide number, an integer outside the Int32 range, has a
//           word 2 with the binary32 nearest its full value, which it takes
//           in an array of mixed numbers; for the others that value follows
//           from word 1.
//   String  bits 3-31: the string's id
//   Array   bit 3: mixed numbers (every item becomes Float32); bits 4-31: the
//           shape. Word 1: the position after the array's last item; word 2:
//           the item count. The items follow.
//   Object  bits 3-31: the shape. Word 1: the position after the last
//           value; word 2: the member layout. The values follow in text
//           order, duplicates included.
//   Dropped bits 3-31: the size in words of the records of a value that a
//           repeated member name dropped, which overwrites its first word.
//           Its contents are out of the counts already, so a value dropped
//           later that holds it must not take them out again.
enum Tag : std::uint32_t { kNullTag, kBoolTag, kNumberTag, kStringTag, kArrayTag, kObjectTag, kDroppedTag };
constexpr std::uint32_t kTagMask = 7;
constexpr std::uint32_t kWideNumber = 1u << 11;
constexpr std::uint32_t kMaxStringId = (1u << 29) - 1;
constexpr std::uint32_t kMaxArrayShape = (1u << 28) - 1;
constexpr std::uint32_t kMaxObjectShape = (1u << 29) - 1;
constexpr std::uint32_t kMaxDroppedSize = (1u << 29) - 1;
constexpr std::size_t kMaxTapeSize = 0xFFFFFFF0u;
constexpr std::size_t kContainerRecordSize = 3;

constexpr Tag tag_of(std::uint32_t word) noexcept { return static_cast<Tag>(word & kTagMask); }

// The position after the record at `at`, skipping a container's contents.
inline std::uint32_t record_end(const std::uint32_t* tape, std::uint32_t at) noexcept {
    const std::uint32_t word = tape[at];
    switch (tag_of(word)) {
        case kNullTag:
        case kBoolTag:
        case kStringTag: return at + 1;
        case kNumberTag: return at + ((word & kWideNumber) ? 3 : 2);
        case kArrayTag:
        case kObjectTag: return tape[at + 1];
        case kDroppedTag: return at + (word >> 3);
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
    std::uint32_t& operator[](std::size_t at) noexcept { return words_[at]; }
    std::uint32_t operator[](std::size_t at) const noexcept { return words_[at]; }

    // `count` (at most three) more words, for the caller to fill.
    [[gnu::always_inline]] std::uint32_t* append(std::size_t count) {
        if (capacity_ - size_ < kMaxAppend) [[unlikely]] resize_storage(capacity_ * 2 + 64);
        std::uint32_t* at = words_ + size_;
        size_ += count;
        return at;
    }
    void push_back(std::uint32_t word) { *append(1) = word; }

    static constexpr std::size_t kMaxAppend = 3;

private:
    [[gnu::noinline]] void resize_storage(std::size_t capacity) {
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

}  // namespace vesk::json_plan
