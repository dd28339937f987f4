#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vesk::json {

// A plain run of a JSON string is what can be taken as it stands: it ends at
// the quote, the backslash, a control byte and, unless the text is known to
// be well-formed UTF-8, at a byte of a multi-byte sequence (which needs
// checking). Both JSON readers skip such runs here.
template <bool kWellFormedUtf8>
constexpr bool ends_plain_run(unsigned char byte) noexcept {
    return byte == '"' || byte == '\\' || byte < 0x20 || (!kWellFormedUtf8 && byte >= 0x80);
}

// The high bit set in every byte of `word` that ends a plain run. Borrows can
// only mark bytes above (later than) a truly marked byte, so the lowest mark
// is exact, which is all that is used.
template <bool kWellFormedUtf8>
constexpr std::uint64_t plain_run_breaks(std::uint64_t word) noexcept {
    constexpr std::uint64_t ones = 0x0101010101010101ull;
    constexpr std::uint64_t high = 0x8080808080808080ull;
    auto has_zero = [](std::uint64_t x) { return (x - ones) & ~x; };
    const std::uint64_t quote = has_zero(word ^ (ones * '"'));
    const std::uint64_t backslash = has_zero(word ^ (ones * '\\'));
    const std::uint64_t control = (word - ones * 0x20) & ~word;
    return (quote | backslash | control | (kWellFormedUtf8 ? 0 : word)) & high;
}

#if defined(__SSE2__)
// The bytes of `chunk` that end a plain run, one bit each. As signed bytes,
// those of multi-byte sequences are negative and so below 0x20 along with
// the control bytes; as unsigned bytes, only the control bytes are.
template <bool kWellFormedUtf8>
inline unsigned plain_run_breaks(__m128i chunk) noexcept {
    const __m128i low = kWellFormedUtf8 ? _mm_cmpeq_epi8(_mm_min_epu8(chunk, _mm_set1_epi8(0x1F)), chunk)
                                        : _mm_cmplt_epi8(chunk, _mm_set1_epi8(0x20));
    const __m128i breaks = _mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(chunk, _mm_set1_epi8('"')), _mm_cmpeq_epi8(chunk, _mm_set1_epi8('\\'))), low);
    return static_cast<unsigned>(_mm_movemask_epi8(breaks));
}
#endif

// The first byte at or after `p` that ends a plain run, or `end`.
template <bool kWellFormedUtf8>
inline const char* skip_plain_run(const char* p, const char* end) noexcept {
#if defined(__SSE2__)
    while (end - p >= 16) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        if (const unsigned mask = plain_run_breaks<kWellFormedUtf8>(chunk)) return p + std::countr_zero(mask);
        p += 16;
    }
#endif
    if constexpr (std::endian::native == std::endian::little) {
        while (end - p >= 8) {
            std::uint64_t word;
            std::memcpy(&word, p, sizeof word);
            if (const std::uint64_t marks = plain_run_breaks<kWellFormedUtf8>(word)) {
                return p + (std::countr_zero(marks) >> 3);
            }
            p += 8;
        }
    }
    while (p != end && !ends_plain_run<kWellFormedUtf8>(static_cast<unsigned char>(*p))) ++p;
    return p;
}

#if defined(__SSE2__)
// Sixteen code units from `p` as sixteen bytes, for the byte-wise scans: a
// unit below 0x100 as itself, any other as 0x00 or 0xFF, which like the unit
// is neither ASCII nor whitespace and ends a plain run.
inline __m128i load_sixteen_units(const char* p) noexcept {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
inline __m128i load_sixteen_units(const std::uint8_t* p) noexcept {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
inline __m128i load_sixteen_units(const std::uint16_t* p) noexcept {
    // Unsigned saturation of signed words: 0x100 to 0x7FFF become 0xFF, from
    // 0x8000 up 0x00.
    return _mm_packus_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)),
                            _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8)));
}
inline __m128i load_sixteen_units(const std::uint32_t* p) noexcept {
    const __m128i low = _mm_packs_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)),
                                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 4)));
    const __m128i high = _mm_packs_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8)),
                                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 12)));
    return _mm_packus_epi16(low, high);
}
#endif

// In text of code points (Latin-1, UCS-2 or UCS-4 units), the first unit at
// or after `p` that ends a plain run, or `end`; every unit from 0x80 up does.
template <class Unit>
inline const Unit* skip_plain_units(const Unit* p, const Unit* end) noexcept {
    if constexpr (sizeof(Unit) == 1) {
        const char* bytes = reinterpret_cast<const char*>(p);
        return p + (skip_plain_run<false>(bytes, reinterpret_cast<const char*>(end)) - bytes);
    } else {
#if defined(__SSE2__)
        while (end - p >= 16) {
            const __m128i chunk = load_sixteen_units(p);
            const __m128i breaks = _mm_or_si128(
                _mm_or_si128(_mm_cmpeq_epi8(chunk, _mm_set1_epi8('"')), _mm_cmpeq_epi8(chunk, _mm_set1_epi8('\\'))),
                _mm_cmplt_epi8(chunk, _mm_set1_epi8(0x20)));
            if (const auto mask = static_cast<unsigned>(_mm_movemask_epi8(breaks))) return p + std::countr_zero(mask);
            p += 16;
        }
#endif
        while (p != end && *p < 0x80 && !ends_plain_run<false>(static_cast<unsigned char>(*p))) ++p;
        return p;
    }
}

// Writes the `count` units at `p`, all below 0x80, as bytes.
template <class Unit>
inline void store_ascii_units(const Unit* p, std::size_t count, char* out) noexcept {
#if defined(__SSE2__)
    for (; count >= 16; count -= 16, p += 16, out += 16) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), load_sixteen_units(p));
    }
#endif
    for (; count != 0; --count) *out++ = static_cast<char>(*p++);
}

}  // namespace vesk::json
