#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "format/byte_order.hpp"
#include "platform/intrinsics.hpp"

namespace vesk {
namespace {

// The same bytes give the same numbers on machines of either byte order.
TEST(MachineWordsTest, LoadsAndStoresMeanTheSameBytesOnEveryMachine) {
    const std::array<std::uint8_t, 9> bytes = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0xF0};
    EXPECT_EQ(format::load_u64le(bytes.data()), 0x0807060504030201ull);
    EXPECT_EQ(format::load_u64le(bytes.data() + 1), 0xF008070605040302ull);  // at any address
    EXPECT_EQ(format::load_u64be(bytes.data()), 0x0102030405060708ull);
    EXPECT_EQ(platform::byte_swap64(0x0102030405060708ull), 0x0807060504030201ull);
    EXPECT_EQ(platform::byte_swap32(0x01020304u), 0x04030201u);

    std::array<std::uint8_t, 9> stored{};
    format::store_u64le(stored.data() + 1, 0x0807060504030201ull);
    EXPECT_EQ(stored, (std::array<std::uint8_t, 9>{0, 1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST(MachineWordsTest, WideProductsAreExact) {
    constexpr std::uint64_t max = ~std::uint64_t{0};
    const struct {
        std::uint64_t a, b, low, high;
    } cases[] = {
        {0, max, 0, 0},
        {1, max, max, 0},
        {max, max, 1, max - 1},
        {std::uint64_t{1} << 32, std::uint64_t{1} << 32, 0, 1},
        {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFE00000001ull, 0},
        // Carries out of the middle column.
        {0xFFFFFFFF00000000ull, 0xFFFFFFFFFFFFFFFFull, 0x0000000100000000ull, 0xFFFFFFFEFFFFFFFFull},
        {0x9E3779B97F4A7C15ull, 0xBF58476D1CE4E5B9ull, 0xD67411C46C86742Dull, 0x7641F3080FF92329ull},
    };
    for (const auto& c : cases) {
        const platform::WideProduct portable = platform::multiply_wide_portable(c.a, c.b);
        EXPECT_EQ(portable.low, c.low) << c.a << " * " << c.b;
        EXPECT_EQ(portable.high, c.high) << c.a << " * " << c.b;
        const platform::WideProduct product = platform::multiply_wide(c.a, c.b);
        EXPECT_EQ(product.low, c.low) << c.a << " * " << c.b;
        EXPECT_EQ(product.high, c.high) << c.a << " * " << c.b;
    }
}

// Wherever the machine multiplies in one instruction, the portable form
// agrees with it on factors with every bit pattern.
TEST(MachineWordsTest, PortableProductAgreesWithTheMachines) {
    std::uint64_t a = 0x2545F4914F6CDD1Dull, b = 0xD6E8FEB86659FD93ull;
    for (int i = 0; i < 10000; ++i) {
        a ^= a << 13, a ^= a >> 7, a ^= a << 17;
        b ^= b << 13, b ^= b >> 7, b ^= b << 17;
        const std::uint64_t x = a >> (i % 64), y = b >> ((i / 64) % 64);
        const platform::WideProduct portable = platform::multiply_wide_portable(x, y), product = platform::multiply_wide(x, y);
        ASSERT_EQ(portable.low, product.low) << x << " * " << y;
        ASSERT_EQ(portable.high, product.high) << x << " * " << y;
    }
}

}  // namespace
}  // namespace vesk
