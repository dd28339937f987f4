#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <iterator>
#include <vector>

#include "tables/table_memory.hpp"

namespace vesk {
namespace {

// Blocks of many sizes and alignments, written whole and read back: none may
// overlap another, or reach past the buffer (onto the guard after it),
// whether it came from the buffer or, once that is used up, from the heap.
TEST(SmallBlockArenaTest, BlocksAreAlignedAndApartInsideTheBufferAndPastIt) {
    constexpr std::size_t kSize = 1024;
    constexpr std::uint64_t kGuard = 0x5A5A5A5A5A5A5A5Aull;
    struct {
        tables::SmallBlockArena<kSize> arena;
        std::uint64_t guard = kGuard;
    } guarded;
    tables::SmallBlockArena<kSize>& arena = guarded.arena;
    struct Block {
        std::uint8_t* at;
        std::size_t size;
        std::size_t alignment;
    };
    std::vector<Block> blocks;
    const std::size_t sizes[] = {1, 3, 8, 17, 64, 128, 129, 300, 5};
    const std::size_t alignments[] = {1, 2, 4, 8, 16};
    for (int round = 0; round < 12; ++round) {
        for (std::size_t i = 0; i < std::size(sizes); ++i) {
            const std::size_t alignment = alignments[(i + round) % std::size(alignments)];
            auto* at = static_cast<std::uint8_t*>(arena.allocate(sizes[i], alignment));
            ASSERT_EQ(reinterpret_cast<std::uintptr_t>(at) % alignment, 0u);
            std::fill_n(at, sizes[i], static_cast<std::uint8_t>(blocks.size()));
            blocks.push_back({at, sizes[i], alignment});
        }
    }
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        for (std::size_t k = 0; k < blocks[b].size; ++k) ASSERT_EQ(blocks[b].at[k], static_cast<std::uint8_t>(b));
    }
    EXPECT_EQ(guarded.guard, kGuard);
    for (const Block& block : blocks) arena.deallocate(block.at, block.size, block.alignment);
}

// A table that outgrows the buffer keeps its contents across the move.
TEST(SmallBlockArenaTest, ATableGrowsFromTheBufferOntoTheHeap) {
    tables::SmallBlockArena<512> arena;
    tables::TableVector<std::uint32_t> table(&arena);
    for (std::uint32_t i = 0; i < 5000; ++i) table.push_back(i * 7);
    std::vector<std::uint32_t> expected(5000);
    for (std::uint32_t i = 0; i < 5000; ++i) expected[i] = i * 7;
    EXPECT_TRUE(std::equal(table.begin(), table.end(), expected.begin(), expected.end()));
}

}  // namespace
}  // namespace vesk
