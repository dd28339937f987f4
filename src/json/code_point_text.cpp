#include "json/code_point_text.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

#include "format/utf8.hpp"
#include "json/json_events.hpp"
#include "json/plain_run.hpp"

namespace vesk::json {

namespace {

template <class Unit>
bool read_units(const void* units, std::size_t length, JsonEventSink& sink, JsonSyntaxFault& fault) {
    const std::span<const Unit> text(static_cast<const Unit*>(units), length);
    JsonEventReader<JsonEventSink, false, Unit> reader(text, sink);
    if (reader.read_document()) return true;
    fault = reader.fault();
    return false;
}

// The bytes of the UTF-8 form of the units [p, end): a refusal near the
// end of a long text counts all of them, sixteen bytes of units at a time.
// The lanes past each bound a code point's width steps at are counted in
// vector lanes (a compare's all-ones is -1), summed up before they can
// overflow.
template <class Unit>
std::size_t utf8_size(const Unit* p, const Unit* end) {
    std::size_t bytes = static_cast<std::size_t>(end - p);
#if defined(__SSE2__)
    constexpr std::ptrdiff_t kStep = 16 / sizeof(Unit);
    const __m128i zero = _mm_setzero_si128();
    while (end - p >= kStep) {
        // Steps before a lane of the counts could pass its largest value.
        std::ptrdiff_t steps = std::min<std::ptrdiff_t>((end - p) / kStep, sizeof(Unit) == 1 ? 255 : 8191);
        __m128i counts = zero;
        for (; steps > 0; --steps, p += kStep) {
            const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            if constexpr (sizeof(Unit) == 1) {
                counts = _mm_sub_epi8(counts, _mm_cmplt_epi8(units, zero));
            } else if constexpr (sizeof(Unit) == 2) {
                // A unit below a bound saturates to zero.
                const __m128i below_two = _mm_cmpeq_epi16(_mm_subs_epu16(units, _mm_set1_epi16(0x7F)), zero);
                const __m128i below_three = _mm_cmpeq_epi16(_mm_subs_epu16(units, _mm_set1_epi16(0x7FF)), zero);
                counts = _mm_add_epi16(counts, _mm_add_epi16(_mm_set1_epi16(2), _mm_add_epi16(below_two, below_three)));
            } else {
                // Code points are below 0x110000: positive as signed words.
                counts = _mm_sub_epi32(counts, _mm_add_epi32(_mm_cmpgt_epi32(units, _mm_set1_epi32(0x7F)),
                                                             _mm_add_epi32(_mm_cmpgt_epi32(units, _mm_set1_epi32(0x7FF)),
                                                                           _mm_cmpgt_epi32(units, _mm_set1_epi32(0xFFFF)))));
            }
        }
        // The lanes' sum.
        if constexpr (sizeof(Unit) == 1) {
            counts = _mm_sad_epu8(counts, zero);
        } else if constexpr (sizeof(Unit) == 2) {
            counts = _mm_madd_epi16(counts, _mm_set1_epi16(1));
        }
        alignas(16) std::uint32_t words[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(words), counts);
        bytes += std::size_t{words[0]} + words[1] + words[2] + words[3];
    }
#endif
    for (; p != end; ++p) bytes += format::utf8_width(*p) - 1;
    return bytes;
}

// The error positioned by line and column in the UTF-8 form.
template <class Unit>
VeskError positioned_error(const void* units, std::size_t length, const JsonSyntaxFault& fault) {
    const auto* first = static_cast<const Unit*>(units);
    const Unit* end = first + std::min(fault.consumed, length);
    // A refusal near the end of a long text counts the lines of all of it:
    // sixteen units at a time.
    std::size_t line = 1;
    const Unit* p = first;
#if defined(__SSE2__)
    for (; end - p >= 16; p += 16) {
        const int feeds = _mm_movemask_epi8(_mm_cmpeq_epi8(load_sixteen_units(p), _mm_set1_epi8('\n')));
        line += static_cast<std::size_t>(std::popcount(static_cast<unsigned>(feeds)));
    }
#endif
    for (; p != end; ++p) line += *p == '\n';
    const Unit* line_start = end;
    while (line_start != first && line_start[-1] != '\n') --line_start;
    std::size_t column = 0;
    for (const Unit* p = line_start; p != end; ++p) column += format::utf8_width(*p);
    if (fault.last_unit_bytes != 0 && end != line_start) column -= format::utf8_width(end[-1]) - fault.last_unit_bytes;
    const std::size_t before_line = utf8_size(first, line_start);
    return json_syntax_error(fault.description, TextPosition{line, column, before_line + column});
}

#if defined(__SSE2__)
// Whether the sixteen units from `p` are all ASCII.
inline bool sixteen_ascii(const std::uint8_t* p) noexcept {
    return _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))) == 0;
}
inline bool sixteen_ascii(const std::uint16_t* p) noexcept {
    const __m128i units = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)),
                                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8)));
    return _mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(units, _mm_set1_epi16(static_cast<short>(0xFF80))),
                                             _mm_setzero_si128())) == 0xFFFF;
}
inline bool sixteen_ascii(const std::uint32_t* p) noexcept {
    const __m128i units = _mm_or_si128(
        _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)),
                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 4))),
        _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8)),
                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 12))));
    return _mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(units, _mm_set1_epi32(~0x7F)), _mm_setzero_si128())) ==
           0xFFFF;
}

// The same for eight units, stored as bytes at `out` if they are.
inline bool store_eight_ascii(const std::uint8_t* p, std::uint8_t* out) noexcept {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    if ((word & 0x8080808080808080ull) != 0) return false;
    std::memcpy(out, &word, 8);
    return true;
}
inline bool store_eight_ascii(const std::uint16_t* p, std::uint8_t* out) noexcept {
    const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(units, _mm_set1_epi16(static_cast<short>(0xFF80))),
                                          _mm_setzero_si128())) != 0xFFFF) {
        return false;
    }
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(units, units));
    return true;
}
inline bool store_eight_ascii(const std::uint32_t* p, std::uint8_t* out) noexcept {
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 4));
    const __m128i all = _mm_or_si128(low, high);
    if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(all, _mm_set1_epi32(~0x7F)), _mm_setzero_si128())) != 0xFFFF) {
        return false;
    }
    const __m128i words = _mm_packs_epi32(low, high);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(words, words));
    return true;
}
#endif

// Strings are mostly ASCII: sixteen such units are written at once where
// the text has them.
template <class Unit>
std::uint8_t* write_as_utf8(const Unit* p, const Unit* text_end, std::size_t utf8_size, std::uint8_t* out) noexcept {
    for (std::uint8_t* const end = out + utf8_size; out != end; ++p) {
#if defined(__SSE2__)
        // Sixteen ASCII units give sixteen bytes, so they are the string's
        // own when that many bytes are left.
        while (end - out >= 16 && text_end - p >= 16 && sixteen_ascii(p)) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), load_sixteen_units(p));
            p += 16;
            out += 16;
        }
        if (end - out >= 8 && text_end - p >= 8 && store_eight_ascii(p, out)) {
            p += 8;
            out += 8;
        }
        if (out == end) break;
#endif
        out += format::encode_utf8(*p, reinterpret_cast<char*>(out));
    }
    return out;
}

template <class Unit>
bool start_with(const Unit* p, const Unit* end, std::string_view utf8) noexcept {
    for (std::size_t at = 0; at < utf8.size(); ++p) {
        if (p == end) return false;
        char bytes[4];
        const std::size_t size = format::encode_utf8(*p, bytes);
        if (size > utf8.size() - at || std::memcmp(bytes, utf8.data() + at, size) != 0) return false;
        at += size;
    }
    return true;
}

}  // namespace

std::uint8_t* write_units_as_utf8(const TextUnits& units, const char* first, std::size_t utf8_size,
                                  std::uint8_t* out) noexcept {
    switch (units.unit_size) {
        case 1:
            return write_as_utf8(reinterpret_cast<const std::uint8_t*>(first),
                                 reinterpret_cast<const std::uint8_t*>(units.end), utf8_size, out);
        case 2:
            return write_as_utf8(reinterpret_cast<const std::uint16_t*>(first),
                                 reinterpret_cast<const std::uint16_t*>(units.end), utf8_size, out);
        default:
            return write_as_utf8(reinterpret_cast<const std::uint32_t*>(first),
                                 reinterpret_cast<const std::uint32_t*>(units.end), utf8_size, out);
    }
}

bool units_start_with(const TextUnits& units, const char* first, std::string_view utf8) noexcept {
    switch (units.unit_size) {
        case 1:
            return start_with(reinterpret_cast<const std::uint8_t*>(first),
                              reinterpret_cast<const std::uint8_t*>(units.end), utf8);
        case 2:
            return start_with(reinterpret_cast<const std::uint16_t*>(first),
                              reinterpret_cast<const std::uint16_t*>(units.end), utf8);
        default:
            return start_with(reinterpret_cast<const std::uint32_t*>(first),
                              reinterpret_cast<const std::uint32_t*>(units.end), utf8);
    }
}

TextUnits CodePointText::units() const noexcept {
    std::size_t unit_size = 4;
    switch (width_) {
        case Width::Latin1: unit_size = 1; break;
        case Width::Ucs2: unit_size = 2; break;
        case Width::Ucs4: unit_size = 4; break;
    }
    const char* begin = static_cast<const char*>(units_);
    return TextUnits{begin, begin + length_ * unit_size, unit_size};
}

bool CodePointText::read_events(JsonEventSink& sink, JsonSyntaxFault& fault) const {
    switch (width_) {
        case Width::Latin1: return read_units<std::uint8_t>(units_, length_, sink, fault);
        case Width::Ucs2: return read_units<std::uint16_t>(units_, length_, sink, fault);
        case Width::Ucs4: return read_units<std::uint32_t>(units_, length_, sink, fault);
    }
    return false;
}

VeskError CodePointText::syntax_error(const JsonSyntaxFault& fault) const {
    switch (width_) {
        case Width::Latin1: return positioned_error<std::uint8_t>(units_, length_, fault);
        case Width::Ucs2: return positioned_error<std::uint16_t>(units_, length_, fault);
        case Width::Ucs4: return positioned_error<std::uint32_t>(units_, length_, fault);
    }
    return positioned_error<std::uint32_t>(units_, length_, fault);
}

}  // namespace vesk::json
