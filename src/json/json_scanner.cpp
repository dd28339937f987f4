#include "json/json_scanner.hpp"

#include <algorithm>
#include <bit>
#include <string>

#include "error/format_message.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vesk::json {

VeskError json_syntax_error(std::string_view description, const TextPosition& position) {
    return VeskError::parse(format_message("{} at line {} column {}", description, position.line, position.column))
        .at_position(position);
}

namespace {

// A refusal near the end of a long text counts the lines of all of it:
// sixteen bytes at a time, as fast as the text was read.
std::size_t count_line_feeds(std::string_view text) noexcept {
    const char* p = text.data();
    const char* const end = p + text.size();
    std::size_t count = 0;
#if defined(__SSE2__)
    const __m128i feed = _mm_set1_epi8('\n');
    for (; end - p >= 16; p += 16) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        count += static_cast<std::size_t>(std::popcount(static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, feed)))));
    }
#endif
    return count + static_cast<std::size_t>(std::count(p, end, '\n'));
}

}  // namespace

VeskError json_syntax_error(std::string_view text, const JsonSyntaxFault& fault) {
    const std::string_view seen = text.substr(0, std::min(fault.consumed, text.size()));
    const std::size_t line = 1 + count_line_feeds(seen);
    const std::size_t last_feed = seen.rfind('\n');
    const std::size_t column = last_feed == std::string_view::npos ? seen.size() : seen.size() - (last_feed + 1);
    return json_syntax_error(fault.description, TextPosition{line, column, seen.size()});
}

}  // namespace vesk::json
