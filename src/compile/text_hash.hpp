#pragma once

#include <chrono>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace vesk {

// The high and low halves of the full 128-bit product, folded together.
// Unlike a plain 64-bit multiply, a change in one factor reaches the result
// in a way that depends on the other, so with a secret factor no difference
// between two inputs can be chosen to cancel out.
inline std::uint64_t fold_multiply(std::uint64_t a, std::uint64_t b) noexcept {
    unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
    return static_cast<std::uint64_t>(product) ^ static_cast<std::uint64_t>(product >> 64);
}

// A fast 64-bit hash for the compiler's lookup tables, taking sixteen bytes
// per multiply, in three lanes whose multiplies overlap for long texts. Each
// step multiplies one word by the other, both masked with secrets, so that
// neither can be chosen to cancel what came before. Only lookups depend on
// the hash, never the output, so it needs no stability across versions or
// runs. The texts come from the input, so the caller passes a seed chosen
// afresh for every compilation: without it, texts could be crafted to share
// one hash and turn every lookup into a walk over all of them. It is never 0:
// the tables use 0 to mark a free slot.
inline std::uint64_t hash_text(std::string_view text, std::uint64_t seed) noexcept {
    constexpr std::uint64_t multiplier = 0x9E3779B97F4A7C15ull;
    const std::uint64_t mask1 = seed ^ 0x94D049BB133111EBull;
    const auto word_at = [](const char* from) {
        std::uint64_t word;
        std::memcpy(&word, from, 8);
        return word;
    };
    const char* at = text.data();
    std::size_t left = text.size();
    std::uint64_t state = seed ^ (static_cast<std::uint64_t>(left) * multiplier);
    if (left > 48) {
        const std::uint64_t mask2 = seed ^ 0xD6E8FEB86659FD93ull;
        const std::uint64_t mask3 = seed ^ 0xA0761D6478BD642Full;
        std::uint64_t lane2 = state ^ mask2;
        std::uint64_t lane3 = state ^ mask3;
        do {
            state = fold_multiply(word_at(at) ^ mask1, word_at(at + 8) ^ state);
            lane2 = fold_multiply(word_at(at + 16) ^ mask2, word_at(at + 24) ^ lane2);
            lane3 = fold_multiply(word_at(at + 32) ^ mask3, word_at(at + 40) ^ lane3);
            at += 48;
            left -= 48;
        } while (left > 48);
        state ^= lane2 ^ lane3;
    }
    while (left > 16) {
        state = fold_multiply(word_at(at) ^ mask1, word_at(at + 8) ^ state);
        at += 16;
        left -= 16;
    }
    // The last one to sixteen bytes as two words, read in loads of a fixed
    // size (a copy of `left` bytes would cost a call): the text's last
    // sixteen bytes where there are sixteen, overlapping words already taken
    // in, else loads that overlap as needed. Together with the length, taken
    // in first, the words tell texts apart all the same.
    std::uint64_t low = 0;
    std::uint64_t high = 0;
    if (text.size() >= 16) {
        low = word_at(text.data() + text.size() - 16);
        high = word_at(text.data() + text.size() - 8);
    } else if (left >= 8) {
        low = word_at(at);
        high = word_at(at + left - 8);
    } else if (left >= 4) {
        std::uint32_t first;
        std::uint32_t last;
        std::memcpy(&first, at, 4);
        std::memcpy(&last, at + left - 4, 4);
        low = first | static_cast<std::uint64_t>(last) << 32;
    } else if (left > 0) {
        const auto byte = [at](std::size_t i) { return std::uint64_t{static_cast<unsigned char>(at[i])}; };
        low = byte(0) | byte(left / 2) << 8 | byte(left - 1) << 16;
    }
    // The product's halves, folded, mix every bit of both words into the
    // low bits that pick a slot and the high bits kept beside it.
    state = fold_multiply(low ^ mask1, high ^ state);
    return state == 0 ? 1 : state;
}

// A hash seed the author of the input cannot know in advance: the clock's
// finest ticks and the address of the compiler's state, which differs
// between processes. A system call for random bytes would cost more than
// compiling a small text; nothing here needs more than unpredictability,
// since only lookups depend on the seed, never the output.
inline std::uint64_t fresh_hash_seed(const void* owner) noexcept {
    auto ticks = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    auto address = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(owner));
    return fold_multiply(ticks ^ 0x2545F4914F6CDD1Dull, address ^ 0x9E3779B97F4A7C15ull);
}

}  // namespace vesk
