#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory_resource>
#include <new>
#include <vector>

#include "tables/bounds_checks.hpp"

namespace vesk::tables {

// Under AddressSanitizer every block comes from the heap: the sanitizer
// checks the bounds of each heap block, but not of blocks cut from one buffer.
inline constexpr bool kTableBlocksFromHeapOnly = kBoundsChecked;

// Blocks from the heap through this module's own operator new, which the
// allocation-failure sweep's build replaces to count blocks and fail them on
// demand; the standard library's new_delete_resource would call its own.
class HeapMemory final : public std::pmr::memory_resource {
private:
    void* do_allocate(std::size_t bytes, std::size_t alignment) override {
        if (alignment <= __STDCPP_DEFAULT_NEW_ALIGNMENT__) return ::operator new(bytes);
        return ::operator new(bytes, std::align_val_t(alignment));
    }
    // Unsized: clang declares the sized forms only with -fsized-deallocation.
    void do_deallocate(void* block, std::size_t, std::size_t alignment) override {
        if (alignment <= __STDCPP_DEFAULT_NEW_ALIGNMENT__) return ::operator delete(block);
        ::operator delete(block, std::align_val_t(alignment));
    }
    bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override { return this == &other; }
};

// The one HeapMemory; it holds nothing.
inline std::pmr::memory_resource* heap_memory() noexcept {
    static HeapMemory memory;
    return &memory;
}

// Memory for the tables of one call (a compilation, a read). Blocks of up
// to an eighth of kSize bytes are cut one after another from a buffer of its
// own and are never handed back one by one: the dozens of small blocks that
// a short message's tables start with then cost no trip to the heap, which
// would take about as long as reading the message (and longer to take them
// back). Larger blocks, and every block once the buffer is used up, come from
// the heap and go back to it as usual, so a large input's tables grow as they
// would without it.
template <std::size_t kSize>
class SmallBlockArena final : public std::pmr::memory_resource {
public:
    SmallBlockArena() = default;
    SmallBlockArena(const SmallBlockArena&) = delete;
    SmallBlockArena& operator=(const SmallBlockArena&) = delete;

private:
    static constexpr std::size_t kLargestSmallBlock = kSize / 8;

    void* do_allocate(std::size_t bytes, std::size_t alignment) override {
        if (!kTableBlocksFromHeapOnly && bytes <= kLargestSmallBlock && alignment <= alignof(std::max_align_t)) {
            const std::size_t at = (used_ + alignment - 1) & ~(alignment - 1);
            if (at <= kSize && bytes <= kSize - at) {
                used_ = at + bytes;
                return buffer_ + at;
            }
        }
        return heap_memory()->allocate(bytes, alignment);
    }

    void do_deallocate(void* block, std::size_t bytes, std::size_t alignment) override {
        if (holds(block)) return;
        heap_memory()->deallocate(block, bytes, alignment);
    }

    bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override { return this == &other; }

    bool holds(const void* block) const noexcept {
        const auto at = reinterpret_cast<std::uintptr_t>(block);
        const auto start = reinterpret_cast<std::uintptr_t>(buffer_);
        return at >= start && at - start < kSize;
    }

    std::size_t used_ = 0;
    alignas(std::max_align_t) std::byte buffer_[kSize];
};

// The allocator of the tables' vectors: a memory resource's blocks, and
// nothing else. Elements are made as std::allocator makes them, and blocks
// are taken and given back through calls kept out of line, so that a
// table's appends compile as a plain vector's do: with the polymorphic
// allocator, or with these calls inlined into the JSON reader, every text
// was read a few percent slower.
template <class T>
class TableAllocator {
public:
    using value_type = T;

    TableAllocator(std::pmr::memory_resource* memory = heap_memory()) noexcept : memory_(memory) {}
    template <class U>
    TableAllocator(const TableAllocator<U>& other) noexcept : memory_(other.resource()) {}

    [[gnu::noinline]] T* allocate(std::size_t count) {
        return static_cast<T*>(memory_->allocate(count * sizeof(T), alignof(T)));
    }
    [[gnu::noinline]] void deallocate(T* block, std::size_t count) noexcept {
        memory_->deallocate(block, count * sizeof(T), alignof(T));
    }
    std::pmr::memory_resource* resource() const noexcept { return memory_; }

    friend bool operator==(const TableAllocator& a, const TableAllocator& b) noexcept { return a.memory_ == b.memory_; }

private:
    std::pmr::memory_resource* memory_;
};

template <class T>
using TableVector = std::vector<T, TableAllocator<T>>;

// Room in a full table. Past the few entries of a call's own small blocks,
// at once for an input of some size (`first_size`); then twice as much each
// time.
template <class T>
void grow_full_table(TableVector<T>& table, std::size_t first_size) {
    table.reserve(std::max(2 * table.capacity(), first_size));
}

}  // namespace vesk::tables
