#pragma once

#include <chrono>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "format/byte_order.hpp"
#include "platform/intrinsics.hpp"
#include "tables/bounds_checks.hpp"

namespace vesk::tables {

// The high and low halves of the full 128-bit product, folded together.
// Unlike a plain 64-bit multiply, a change in one factor reaches the result
// in a way that depends on the other, so with a secret factor no difference
// between two inputs can be chosen to cancel out.
inline std::uint64_t fold_multiply(std::uint64_t a, std::uint64_t b) noexcept {
    const platform::WideProduct product = platform::multiply_wide(a, b);
    return product.low ^ product.high;
}

// Loads of 8 and 4 bytes from anywhere, as little-endian numbers on every
// machine: the shifts below take the first byte as the low one, and every
// way of reading a text (whole, as padded words, as a masked block) must put
// the same bytes in the same places of the words it hashes.
inline std::uint64_t load_word(const char* at) noexcept { return format::load_u64le(at); }

inline std::uint64_t load_half_word(const char* at) noexcept {
    return format::load_u32le(reinterpret_cast<const std::uint8_t*>(at));
}

// The last 1 to 8 bytes of a text as one word, without reading past them:
// two overlapping loads where there are four bytes or more. Texts of equal
// length always overlap alike, and the length goes into the hash.
inline std::uint64_t tail_word(const char* at, std::size_t left) noexcept {
    if (left >= 4) return load_half_word(at) | (load_half_word(at + left - 4) << 32);
    return static_cast<std::uint64_t>(static_cast<unsigned char>(at[0])) |
           (static_cast<std::uint64_t>(static_cast<unsigned char>(at[left / 2])) << 8) |
           (static_cast<std::uint64_t>(static_cast<unsigned char>(at[left - 1])) << 16);
}

// The first `size` bytes at `at` (1 to 8) as a word padded with zeros,
// without reading past them.
inline std::uint64_t padded_word(const char* at, std::size_t size) noexcept {
    if (size == 8) return load_word(at);
    if (size >= 4) return load_half_word(at) | ((load_half_word(at + size - 4) >> (8 * (8 - size))) << 32);
    std::uint64_t word = static_cast<unsigned char>(at[0]);
    if (size > 1) word |= static_cast<std::uint64_t>(static_cast<unsigned char>(at[1])) << 8;
    if (size > 2) word |= static_cast<std::uint64_t>(static_cast<unsigned char>(at[2])) << 16;
    return word;
}

namespace text_hash_detail {

// The inverse of load_word and load_half_word: the bytes go back as read.
inline void store_word(std::uint8_t* to, std::uint64_t word) noexcept { format::store_u64le(to, word); }
inline void store_half_word(std::uint8_t* to, std::uint64_t half) noexcept {
    format::store_u32le(to, static_cast<std::uint32_t>(half));
}

// hash_text, and with kCopy the text copied to `to` as well: every byte is
// loaded by the hash anyway, so storing the words it loads copies the text
// in the same pass. The stores leave the values alone.
template <bool kCopy>
inline std::uint64_t hash_text(const char* at, std::size_t left, std::uint64_t seed, std::uint8_t* to) noexcept {
    constexpr std::uint64_t multiplier = 0x9E3779B97F4A7C15ull;
    const std::uint64_t secret = (seed ^ 0xBF58476D1CE4E5B9ull) | 1;
    const std::uint64_t other_secret = (seed ^ 0x94D049BB133111EBull) | 1;
    std::uint64_t state = seed ^ (static_cast<std::uint64_t>(left) * multiplier);
    std::uint64_t low = 0;
    std::uint64_t high = 0;
    if (left > 16) {
        if (left > 48) {
            std::uint64_t second = seed ^ 0x2545F4914F6CDD1Dull;
            std::uint64_t third = seed ^ 0xD6E8FEB86659FD93ull;
            do {
                const std::uint64_t w0 = load_word(at), w1 = load_word(at + 8), w2 = load_word(at + 16);
                const std::uint64_t w3 = load_word(at + 24), w4 = load_word(at + 32), w5 = load_word(at + 40);
                if constexpr (kCopy) {
                    store_word(to, w0);
                    store_word(to + 8, w1);
                    store_word(to + 16, w2);
                    store_word(to + 24, w3);
                    store_word(to + 32, w4);
                    store_word(to + 40, w5);
                    to += 48;
                }
                state = fold_multiply(w0 ^ secret, w1 ^ state);
                second = fold_multiply(w2 ^ other_secret, w3 ^ second);
                third = fold_multiply(w4 ^ multiplier, w5 ^ third);
                at += 48;
                left -= 48;
            } while (left > 48);
            state ^= second ^ third;
        }
        while (left > 16) {
            const std::uint64_t w0 = load_word(at), w1 = load_word(at + 8);
            if constexpr (kCopy) {
                store_word(to, w0);
                store_word(to + 8, w1);
                to += 16;
            }
            state = fold_multiply(w0 ^ secret, w1 ^ state);
            at += 16;
            left -= 16;
        }
        // The last sixteen bytes of the text, some of them hashed already:
        // the length tells how many.
        low = load_word(at + left - 16);
        high = load_word(at + left - 8);
        if constexpr (kCopy) {
            store_word(to + left - 16, low);
            store_word(to + left - 8, high);
        }
    } else if (left > 8) {
        // A text of up to sixteen bytes is hashed as its bytes padded with
        // zeros to sixteen, taken as two words, the first eight in the low
        // one (see hash_padded_words), though read without going past it.
        low = load_word(at);
        const std::uint64_t last = load_word(at + left - 8);
        if constexpr (kCopy) {
            store_word(to, low);
            store_word(to + left - 8, last);
        }
        high = last >> (8 * (16 - left));
    } else if (left >= 4) {
        const std::uint64_t first = load_half_word(at);
        const std::uint64_t last = load_half_word(at + left - 4);
        if constexpr (kCopy) {
            store_half_word(to, first);
            store_half_word(to + left - 4, last);
        }
        low = first | ((last >> (8 * (8 - left))) << 32);
    } else if (left > 0) {
        // Bytes 0, left / 2 and left - 1 cover the text, in place.
        low = static_cast<std::uint64_t>(static_cast<unsigned char>(at[0])) |
              (static_cast<std::uint64_t>(static_cast<unsigned char>(at[left / 2])) << (8 * (left / 2))) |
              (static_cast<std::uint64_t>(static_cast<unsigned char>(at[left - 1])) << (8 * (left - 1)));
        if constexpr (kCopy) {
            to[0] = static_cast<std::uint8_t>(at[0]);
            to[left / 2] = static_cast<std::uint8_t>(at[left / 2]);
            to[left - 1] = static_cast<std::uint8_t>(at[left - 1]);
        }
    }
    // The last pair is masked on both sides, so that no state (the length
    // alone, for a short text) can zero the multiply.
    state ^= fold_multiply(low ^ secret, high ^ other_secret);
    state = fold_multiply(state ^ multiplier, secret);
    return state == 0 ? 1 : state;
}

}  // namespace text_hash_detail

// A fast 64-bit hash for the compiler's lookup tables, taking sixteen bytes
// in every multiply (three lanes of them past 48 bytes). Only lookups depend
// on it, never the output, so it needs no stability across versions or runs.
// The texts come from the input, so the caller passes a seed chosen afresh
// for every compilation: without it, texts could be crafted to share one hash
// and turn every lookup into a walk over all of them. It is never 0: the
// tables use 0 to mark a free slot.
inline std::uint64_t hash_text(std::string_view text, std::uint64_t seed) noexcept {
    return text_hash_detail::hash_text<false>(text.data(), text.size(), seed, nullptr);
}

// hash_text's value, with the text copied to `to` (text.size() bytes, which
// must not overlap it) in the same pass: a writer that keeps what it hashes
// reads it once.
inline std::uint64_t hash_text_copying(std::string_view text, std::uint64_t seed, std::uint8_t* to) noexcept {
    return text_hash_detail::hash_text<true>(text.data(), text.size(), seed, to);
}

// hash_text's value of a text of up to sixteen bytes, from those bytes
// padded with zeros to sixteen, taken as two words (the first eight bytes in
// the low one): a reader that already holds them in registers hashes the
// text from there, without reading it again.
inline std::uint64_t hash_padded_words(std::uint64_t low, std::uint64_t high, std::size_t size,
                                       std::uint64_t seed) noexcept {
    constexpr std::uint64_t multiplier = 0x9E3779B97F4A7C15ull;
    const std::uint64_t secret = (seed ^ 0xBF58476D1CE4E5B9ull) | 1;
    const std::uint64_t other_secret = (seed ^ 0x94D049BB133111EBull) | 1;
    std::uint64_t state = seed ^ (static_cast<std::uint64_t>(size) * multiplier);
    state ^= fold_multiply(low ^ secret, high ^ other_secret);
    state = fold_multiply(state ^ multiplier, secret);
    return state == 0 ? 1 : state;
}

// hash_text's value, for a short text without a call: from its padded words.
inline std::uint64_t hash_text_padded(std::string_view text, std::uint64_t seed) noexcept {
    const std::size_t size = text.size();
    if (size > 16) return hash_text(text, seed);
    if (size > 8) return hash_padded_words(load_word(text.data()), padded_word(text.data() + 8, size - 8), size, seed);
    return hash_padded_words(size == 0 ? 0 : padded_word(text.data(), size), 0, size, seed);
}

// Whether the sixteen bytes from `at` can be loaded as one block, though the
// text there may be shorter: where they lie in one page the load cannot
// fault, since memory is mapped a page at a time, and the bytes past the
// text, whatever they belong to, are masked off (padded_words_in_block).
// Never in builds that check the bounds of every read.
inline bool loadable_as_block(const char* at) noexcept {
    constexpr std::uintptr_t kPage = 4096;
    return !kBoundsChecked && (reinterpret_cast<std::uintptr_t>(at) & (kPage - 1)) <= kPage - 16;
}

// A block's mask that keeps its first `size` bytes (0 to 32) and clears the
// rest, read as words from the place returned.
inline constexpr std::size_t kLongestMaskedBlock = 32;
inline const char* leading_bytes_mask(std::size_t size) noexcept {
    static constexpr unsigned char kMask[2 * kLongestMaskedBlock] = {
        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    return reinterpret_cast<const char*>(kMask) + kLongestMaskedBlock - size;
}

// The padded words of a text of up to sixteen bytes that is loadable as a
// block, without a branch on its size.
struct PaddedWords {
    std::uint64_t low;
    std::uint64_t high;
};
inline PaddedWords padded_words_in_block(const char* at, std::size_t size) noexcept {
    const char* keep = leading_bytes_mask(size);
    return {load_word(at) & load_word(keep), load_word(at + 8) & load_word(keep + 8)};
}

// Whether two texts of `size` bytes each are equal; short ones without a call.
inline bool same_bytes(const char* a, const char* b, std::size_t size) noexcept {
    if (size > 16) return std::memcmp(a, b, size) == 0;
    if (size >= 8) return load_word(a) == load_word(b) && load_word(a + size - 8) == load_word(b + size - 8);
    if (size == 0) return true;
    return tail_word(a, size) == tail_word(b, size);
}

// The same for texts that may be read a whole block past their start: those
// of up to a block are compared at once, the bytes past them masked off,
// without a branch on their size.
inline constexpr std::size_t kSameBytesBlock = 32;

inline bool same_bytes_in_block(const char* a, const char* b, std::size_t size) noexcept {
    static_assert(kSameBytesBlock <= kLongestMaskedBlock);
    if (size > kSameBytesBlock) return std::memcmp(a, b, size) == 0;
    const char* mask = leading_bytes_mask(size);
    std::uint64_t differ = 0;
    for (std::size_t word = 0; word < kSameBytesBlock; word += 8) {
        differ |= (load_word(a + word) ^ load_word(b + word)) & load_word(mask + word);
    }
    return differ == 0;
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

}  // namespace vesk::tables
