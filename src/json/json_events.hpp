#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

#include "format/format_limits.hpp"
#include "format/utf8.hpp"
#include "json/json_number.hpp"
#include "json/json_scanner.hpp"
#include "json/json_value.hpp"
#include "json/plain_run.hpp"
#include "json/quick_number.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vesk::json {

// A string of at most fifteen bytes, found within the sixteen read at its
// start, as those bytes padded with zeros: two words, the first byte lowest.
struct JsonShortText {
    std::uint64_t low;
    std::uint64_t high;
};

// The one JSON reader: one pass over the text that hands each value to a
// handler as it is read. Numbers come in three classes (non-negative
// integers up to 2^64 - 1, negative ones down to -2^63, every other number
// as the nearest binary64), strings with escapes resolved, object members in
// text order, duplicates included. At the first thing it refuses it stops,
// keeping the fault's description and how much of the text came before the
// failure (line and column are worked out only for a message).
//
// The handler has these members:
//   null_value(), boolean(bool), number(JsonKind, std::uint64_t bits),
//   string(std::string_view text, bool in_input), begin_array(), end_array(),
//   begin_object(), member_name(std::string_view name, bool in_input), end_object().
// A text `in_input` is a view into the JSON text; any other view is valid
// only during the call. A handler that also has string(std::string_view,
// JsonShortText) and member_name(std::string_view, JsonShortText) gets the
// short texts of UTF-8 input there, views into the input with their bytes
// in registers already. A handler that also has float32(float) gets every
// float there, as the binary32 nearest to its nearest binary64, which is
// mostly found without finding that binary64.
//
// With kWellFormedUtf8 the caller vouches that the text is well-formed UTF-8
// (as a Python str's UTF-8 form always is), and strings are not checked
// again.
//
// A Unit other than char reads text of code points, one per unit, the way a
// Python str holds them: Latin-1 bytes (std::uint8_t), UCS-2 (std::uint16_t)
// or UCS-4 (std::uint32_t). Such text is read where it lies and the handler
// still sees UTF-8 only: a string of ASCII units in Latin-1 text is its own
// UTF-8 form and stays in the input, any other string is transcoded into the
// scratch copy. A surrogate has no UTF-8 form: the reader stops there, as at
// a code point that is not one. Positions are then counted in units. Such a
// handler also has plain_string(std::string_view text, const Unit* first,
// std::size_t count), which gets the string values without escapes, with
// where their units lie.
template <class Handler, bool kWellFormedUtf8 = false, class Unit = char>
class JsonEventReader {
    static_assert(std::is_same_v<Unit, char> || std::is_same_v<Unit, std::uint8_t> ||
                  std::is_same_v<Unit, std::uint16_t> || std::is_same_v<Unit, std::uint32_t>);
    static constexpr bool kUtf8 = std::is_same_v<Unit, char>;
    static constexpr bool kShortTexts =
        kUtf8 && requires(Handler& handler, std::string_view text, JsonShortText words) {
            handler.string(text, words);
            handler.member_name(text, words);
        };

    static constexpr bool kFloat32Only = requires(Handler& handler, float value) { handler.float32(value); };

public:
    JsonEventReader(std::span<const Unit> text, Handler& handler)
        : begin_(text.data()), at_(text.data()), end_(text.data() + text.size()), handler_(handler) {}

    // Whether the whole text was read; if not, fault() says why.
    //
    // One loop over the text, not a call per value, which would save and
    // restore registers for every value, a string or a number as much as an
    // object: the containers open are a stack of their kinds, and the labels
    // are the places the reader can be in.
    [[gnu::noinline]] bool read_document() {
        namespace fail = json_failure;
        // By depth, whether the container open there is an object.
        bool in_object[format::kMaxJsonNesting];
        skip_whitespace();
    value:  // at a value, after any whitespace before it
        if (at_ == end_) return fail_at_end(fail::eof_value);
        switch (*at_) {
            case '[':
                if (!open_container()) return false;
                handler_.begin_array();
                in_object[depth_ - 1] = false;
                skip_whitespace();
                if (at_ == end_) return fail_at_end(fail::eof_list);
                if (*at_ == ']') goto close_array;
                goto value;
            case '{':
                if (!open_container()) return false;
                handler_.begin_object();
                in_object[depth_ - 1] = true;
                skip_whitespace();
                if (at_ == end_) return fail_at_end(fail::eof_object);
                if (*at_ == '}') goto close_object;
                goto member;
            default:
                if (!read_scalar()) [[unlikely]] {
                    // A bracket where an item should be follows a comma:
                    // an array's first item is looked for past its bracket.
                    const bool in_array = depth_ != 0 && !in_object[depth_ - 1];
                    const bool no_value = fault_.description == fail::expected_value;
                    return no_value && in_array && *at_ == ']' ? fail_here(fail::trailing_comma) : false;
                }
                goto after_value;
        }
    member:  // at what must be a member's name, after any whitespace before it
        if (*at_ != '"') {
            // A brace here follows a comma: an object's first member is
            // looked for past its brace.
            return fail_here(*at_ == '}' ? fail::trailing_comma : fail::key_must_be_string);
        }
        ++at_;
        if (!read_member_name()) return false;
        // Mostly no whitespace comes before a colon or comma: it is looked
        // for only when they are not there.
        if (at_ == end_ || *at_ != ':') {
            skip_whitespace();
            if (at_ == end_) return fail_at_end(fail::eof_object);
            if (*at_ != ':') return fail_here(fail::expected_colon);
        }
        ++at_;
        skip_whitespace();
        goto value;
    after_value:  // just after a value
        if (depth_ == 0) {
            skip_whitespace();
            return at_ == end_ || fail_here(fail::trailing_characters);
        }
        if (at_ == end_ || *at_ != ',') {
            skip_whitespace();
            if (at_ == end_) return fail_at_end(in_object[depth_ - 1] ? fail::eof_object : fail::eof_list);
        }
        if (in_object[depth_ - 1]) {
            if (*at_ == '}') goto close_object;
            if (*at_ != ',') return fail_here(fail::expected_object_comma);
            ++at_;
            skip_whitespace();
            if (at_ == end_) return fail_at_end(fail::eof_value);
            goto member;
        }
        if (*at_ == ']') goto close_array;
        if (*at_ != ',') return fail_here(fail::expected_list_comma);
        ++at_;
        skip_whitespace();
        goto value;
    close_array:  // at the closing bracket
        ++at_;
        --depth_;
        handler_.end_array();
        goto after_value;
    close_object:  // at the closing brace
        ++at_;
        --depth_;
        handler_.end_object();
        goto after_value;
    }

    // Why read_document() stopped; the position counts units of the text.
    const JsonSyntaxFault& fault() const noexcept { return fault_; }

private:
    static bool is_whitespace(Unit c) noexcept { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }
    static bool is_digit(Unit c) noexcept { return c >= '0' && c <= '9'; }

    // The fault, after the units up to (not including) `until`; always false.
    bool fail_before(std::string_view description, const Unit* until) noexcept {
        fault_ = JsonSyntaxFault{description, static_cast<std::size_t>(until - begin_), 1};
        return false;
    }
    // The fault is the unit at the read position, which counts as read.
    bool fail_here(std::string_view description) noexcept { return fail_before(description, at_ + 1); }
    // The text ran out.
    bool fail_at_end(std::string_view description) noexcept {
        fault_ = JsonSyntaxFault{description, static_cast<std::size_t>(end_ - begin_), 0};
        return false;
    }

    [[gnu::always_inline]] void skip_whitespace() noexcept {
        // Most gaps are empty, a single space, or a line break and its
        // indentation, which is scanned sixteen bytes at a time.
        if (at_ == end_ || !is_whitespace(*at_)) return;
        ++at_;
        if (at_ == end_ || !is_whitespace(*at_)) return;
#if defined(__SSE2__)
        while (end_ - at_ >= 16) {
            const __m128i chunk = load_sixteen_units(at_);
            const __m128i blank = _mm_or_si128(
                _mm_or_si128(_mm_cmpeq_epi8(chunk, _mm_set1_epi8(' ')), _mm_cmpeq_epi8(chunk, _mm_set1_epi8('\n'))),
                _mm_or_si128(_mm_cmpeq_epi8(chunk, _mm_set1_epi8('\r')), _mm_cmpeq_epi8(chunk, _mm_set1_epi8('\t'))));
            const auto others = static_cast<unsigned>(~_mm_movemask_epi8(blank)) & 0xFFFFu;
            if (others != 0) {
                at_ += std::countr_zero(others);
                return;
            }
            at_ += 16;
        }
#endif
        while (at_ != end_ && is_whitespace(*at_)) ++at_;
    }

    // Any value but a container, at at_.
    [[gnu::always_inline]] bool read_scalar() {
        switch (*at_) {
            case '"': {
                ++at_;
                std::string_view text;
                if constexpr (kShortTexts) {
                    JsonShortText words;
                    if (read_short_string(text, words)) {
                        handler_.string(text, words);
                        return true;
                    }
                }
                bool in_input = false;
                if constexpr (!kUtf8) {
                    const Unit* first = at_;
                    if (!read_string(text, in_input)) return false;
                    if (escaped_) {
                        handler_.string(text, in_input);
                    } else {
                        handler_.plain_string(text, first, static_cast<std::size_t>(at_ - 1 - first));
                    }
                } else {
                    if (!read_string(text, in_input)) return false;
                    handler_.string(text, in_input);
                }
                return true;
            }
            case 'n':
                if (!read_literal("null", 4)) return false;
                handler_.null_value();
                return true;
            case 't':
                if (!read_literal("true", 4)) return false;
                handler_.boolean(true);
                return true;
            case 'f':
                if (!read_literal("false", 5)) return false;
                handler_.boolean(false);
                return true;
            case '-':
            case '0': case '1': case '2': case '3': case '4':
            case '5': case '6': case '7': case '8': case '9': return read_number();
            default: return fail_here(json_failure::expected_value);
        }
    }

    bool read_literal(const char* word, std::size_t size) noexcept {
        if (static_cast<std::size_t>(end_ - at_) < size) return literal_fault(word, size);
        if constexpr (kUtf8) {
            if (std::memcmp(at_, word, size) != 0) return literal_fault(word, size);
        } else {
            for (std::size_t i = 0; i < size; ++i) {
                if (at_[i] != static_cast<Unit>(word[i])) return literal_fault(word, size);
            }
        }
        at_ += size;
        return true;
    }

    // The first letter matched: the first letter after it that does not, or
    // the end of the text before one does.
    [[gnu::noinline, gnu::cold]] bool literal_fault(const char* word, std::size_t size) noexcept {
        for (std::size_t i = 1; i < size; ++i) {
            if (at_ + i == end_) return fail_at_end(json_failure::eof_value);
            if (at_[i] != static_cast<Unit>(word[i])) return fail_before(json_failure::expected_ident, at_ + i + 1);
        }
        return true;
    }

    bool read_number() {
        const Unit* after = read_quick_number<kFloat32Only>(at_, end_, handler_);
        if (after == nullptr) return read_exact_number();
        at_ = after;
        return true;
    }

    bool read_exact_number() requires kUtf8 {
        JsonScanner scanner(std::string_view(begin_, static_cast<std::size_t>(end_ - begin_)));
        scanner.at = at_;
        JsonValue number;
        if (!read_json_number(scanner, number)) {
            fault_ = JsonSyntaxFault{scanner.failure_description, scanner.failure_consumed};
            return false;
        }
        at_ = scanner.at;
        handler_.number(number.kind, number.bits);
        return true;
    }

    // Code-point text: the run of characters a number can hold is copied as
    // bytes for read_json_number, with a space after it where the text goes
    // on: the character there continues no number either, so the copy stops
    // or fails the reading just as that character would, one unit per byte.
    bool read_exact_number() requires(!kUtf8) {
        number_text_.clear();
        const Unit* p = at_;
        for (; p != end_; ++p) {
            const Unit c = *p;
            if (!is_digit(c) && c != '-' && c != '+' && c != '.' && c != 'e' && c != 'E') break;
            number_text_.push_back(static_cast<char>(c));
        }
        if (p != end_) number_text_.push_back(' ');
        JsonScanner scanner(number_text_);
        JsonValue number;
        if (!read_json_number(scanner, number)) {
            const std::size_t read = static_cast<std::size_t>(at_ - begin_);
            // Number characters are ASCII: one byte each in the UTF-8 form.
            fault_ = JsonSyntaxFault{scanner.failure_description, read + scanner.failure_consumed, 1};
            return false;
        }
        at_ += scanner.at - scanner.begin;
        handler_.number(number.kind, number.bits);
        return true;
    }

    // The opening quote has been consumed. A string without escapes is a
    // view into the input; one with escapes is resolved into a scratch copy.
    // The plain case is inlined into its two callers: the call cost more
    // than scanning a short string.
    [[gnu::always_inline]] bool read_string(std::string_view& text, bool& in_input) requires kUtf8 {
        const char* start = at_;
        const char* p = start;
        for (;;) {
            p = skip_plain_run<kWellFormedUtf8>(p, end_);
            if (p == end_) return fail_at_end(json_failure::eof_string);
            const auto byte = static_cast<unsigned char>(*p);
            if (byte == '"') {
                text = std::string_view(start, static_cast<std::size_t>(p - start));
                in_input = true;
                at_ = p + 1;
                return true;
            }
            if (byte == '\\') return read_escaped_string(start, p, text, in_input);
            if (byte < 0x20) return fail_before(json_failure::control_character, p + 1);
            const std::size_t width = format::read_utf8_sequence(reinterpret_cast<const std::uint8_t*>(p),
                                                         reinterpret_cast<const std::uint8_t*>(end_)).width;
            if (width == 0) return fail_after_bad_utf8(p);
            p += width;
        }
    }

    // A string's bytes at `p` are no UTF-8. That is reported at the string's
    // closing quote, unless the rest of the string fails otherwise first:
    // the rest is read for that, each bad byte stepped over alone, so that a
    // quote or backslash after it is still seen.
    [[gnu::noinline, gnu::cold]] bool fail_after_bad_utf8(const char* p) requires kUtf8 {
        ++p;
        for (;;) {
            p = skip_plain_run<false>(p, end_);
            if (p == end_) return fail_at_end(json_failure::eof_string);
            const auto byte = static_cast<unsigned char>(*p);
            if (byte == '"') return fail_before(json_failure::invalid_code_point, p + 1);
            if (byte >= 0x80) {
                const std::size_t width = format::read_utf8_sequence(reinterpret_cast<const std::uint8_t*>(p),
                                                             reinterpret_cast<const std::uint8_t*>(end_)).width;
                p += width == 0 ? 1 : width;
                continue;
            }
            if (byte < 0x20) return fail_before(json_failure::control_character, p + 1);
            char resolved[4];
            if (read_escape_into(p, resolved) == 0) return false;
        }
    }

    // The opening quote has been consumed. A string that ends, without
    // escapes, within the sixteen bytes that follow is taken with those
    // bytes; anything else is left for read_string.
    [[gnu::always_inline]] bool read_short_string(std::string_view& text, JsonShortText& words) requires kUtf8 {
#if defined(__SSE2__) && defined(__x86_64__)
        if (end_ - at_ < 16) return false;
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at_));
        const unsigned breaks = plain_run_breaks<kWellFormedUtf8>(chunk);
        if (breaks == 0) return false;
        const int size = std::countr_zero(breaks);
        if (at_[size] != '"') return false;
        static constexpr std::array<std::uint8_t, 32> keep = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                                              0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
        const __m128i kept =
            _mm_and_si128(chunk, _mm_loadu_si128(reinterpret_cast<const __m128i*>(keep.data() + 16 - size)));
        words.low = static_cast<std::uint64_t>(_mm_cvtsi128_si64(kept));
        words.high = static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(kept, kept)));
        text = std::string_view(at_, static_cast<std::size_t>(size));
        at_ += size + 1;
        return true;
#else
        (void)text;
        (void)words;
        return false;
#endif
    }

    // The rest of a string from its first escape at `p`, resolved into a
    // buffer of our own: runs are copied whole and escapes written in place,
    // which std::string's appends cost many times over on text rich in them.
    [[gnu::noinline]] bool read_escaped_string(const char* start, const char* p, std::string_view& text,
                                               bool& in_input) requires kUtf8 {
        std::size_t size = static_cast<std::size_t>(p - start);
        // With room for the escape at `p` too, so that the buffer exists.
        char* out = unescaped_room(0, size + 4);
        std::memcpy(out, start, size);
        for (;;) {
            const auto byte = static_cast<unsigned char>(*p);
            if (byte == '\\') {
                // An escape stands for at most four bytes.
                out = unescaped_room(size, 4);
                const std::size_t width = read_escape_into(p, out + size);
                if (width == 0) return false;
                size += width;
            } else if (byte == '"') {
                break;
            } else if (byte < 0x20) {
                return fail_before(json_failure::control_character, p + 1);
            } else {
                const std::size_t width = format::read_utf8_sequence(reinterpret_cast<const std::uint8_t*>(p),
                                                             reinterpret_cast<const std::uint8_t*>(end_)).width;
                if (width == 0) return fail_after_bad_utf8(p);
                out = unescaped_room(size, width);
                std::memcpy(out + size, p, width);
                size += width;
                p += width;
            }
            // The plain run that follows. Escapes mostly come close together
            // (line breaks in text): a run that ends within sixteen bytes is
            // copied as those bytes, the bytes past its end overwritten next.
#if defined(__SSE2__)
            if (end_ - p >= 16) {
                const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
                if (const unsigned breaks = plain_run_breaks<kWellFormedUtf8>(chunk)) {
                    out = unescaped_room(size, 16);
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + size), chunk);
                    const int run_size = std::countr_zero(breaks);
                    p += run_size;
                    size += static_cast<std::size_t>(run_size);
                    continue;
                }
            }
#endif
            const char* run = p;
            p = skip_plain_run<kWellFormedUtf8>(p, end_);
            const auto run_size = static_cast<std::size_t>(p - run);
            out = unescaped_room(size, run_size);
            std::memcpy(out + size, run, run_size);
            size += run_size;
            if (p == end_) return fail_at_end(json_failure::eof_string);
        }
        text = std::string_view(unescaped_.get(), size);
        in_input = false;
        at_ = p + 1;
        return true;
    }

    // The buffer of read_escaped_string, with room for `more` bytes past
    // the first `used`, which it keeps.
    char* unescaped_room(std::size_t used, std::size_t more) {
        if (unescaped_capacity_ - used < more) [[unlikely]] grow_unescaped(used, used + more);
        return unescaped_.get();
    }

    [[gnu::noinline]] void grow_unescaped(std::size_t used, std::size_t needed) {
        const std::size_t capacity = std::max<std::size_t>(needed, unescaped_capacity_ * 2 + 256);
        auto bytes = std::make_unique_for_overwrite<char[]>(capacity);
        if (used != 0) std::memcpy(bytes.get(), unescaped_.get(), used);
        unescaped_ = std::move(bytes);
        unescaped_capacity_ = capacity;
    }

    // `p` is at a backslash; writes what the escape stands for, as UTF-8, at
    // `out` and returns its size, 0 for an escape that is not one.
    std::size_t read_escape_into(const Unit*& p, char* out) noexcept {
        namespace fail = json_failure;
        if (end_ - p < 2) return fail_at_end(fail::eof_string);
        const Unit code = p[1];
        p += 2;
        switch (code) {
            case '"': *out = '"'; return 1;
            case '\\': *out = '\\'; return 1;
            case '/': *out = '/'; return 1;
            case 'b': *out = '\b'; return 1;
            case 'f': *out = '\f'; return 1;
            case 'n': *out = '\n'; return 1;
            case 'r': *out = '\r'; return 1;
            case 't': *out = '\t'; return 1;
            case 'u': break;
            default: return fail_before(fail::invalid_escape, p);
        }
        char32_t unit = 0;
        if (!read_code_unit(p, unit)) return 0;
        if (unit >= 0xDC00 && unit <= 0xDFFF) return fail_before(fail::lone_surrogate, p);
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            for (const char expected : {'\\', 'u'}) {
                if (p == end_) return fail_at_end(fail::eof_string);
                if (*p != static_cast<Unit>(expected)) return fail_before(fail::unexpected_end_of_hex_escape, p + 1);
                ++p;
            }
            char32_t low = 0;
            if (!read_code_unit(p, low)) return 0;
            if (low < 0xDC00 || low > 0xDFFF) return fail_before(fail::lone_surrogate, p);
            unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        }
        return format::encode_utf8(unit, out);
    }

    // Code-point text: see the class comment.
    bool read_string(std::string_view& text, bool& in_input) requires(!kUtf8) {
        escaped_ = false;
        const Unit* p = skip_plain_units(at_, end_);
        if constexpr (std::is_same_v<Unit, std::uint8_t>) {
            if (p != end_ && *p == '"') {
                text = std::string_view(reinterpret_cast<const char*>(at_), static_cast<std::size_t>(p - at_));
                in_input = true;
                at_ = p + 1;
                return true;
            }
        }
        scratch_.clear();
        append_ascii(at_, p);
        for (;;) {
            const Unit* run = p;
            p = skip_plain_units(p, end_);
            append_ascii(run, p);
            if (p == end_) return fail_at_end(json_failure::eof_string);
            const char32_t unit = *p;
            if (unit == '"') break;
            if (unit == '\\') {
                escaped_ = true;
                if (!read_escape(p)) return false;
                continue;
            }
            if (unit < 0x20) return fail_before(json_failure::control_character, p + 1);
            if ((unit >= 0xD800 && unit <= 0xDFFF) || unit > 0x10FFFF) {
                return fail_before(json_failure::invalid_code_point, p + 1);
            }
            format::append_utf8(scratch_, unit);
            ++p;
        }
        text = scratch_;
        in_input = false;
        at_ = p + 1;
        return true;
    }

    // Units below 0x80, one byte each.
    void append_ascii(const Unit* begin, const Unit* end) {
        const std::size_t old_size = scratch_.size();
        const auto count = static_cast<std::size_t>(end - begin);
        scratch_.resize(old_size + count);
        store_ascii_units(begin, count, scratch_.data() + old_size);
    }

    static int hex_value(Unit c) noexcept {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }

    // Four hex digits at `p`, after a `\u`.
    bool read_code_unit(const Unit*& p, char32_t& unit) noexcept {
        if (end_ - p < 4) return code_unit_fault(p);
        int value = 0;
        for (int i = 0; i < 4; ++i) {
            const int digit = hex_value(p[i]);
            if (digit < 0) return code_unit_fault(p);
            value = value * 16 + digit;
        }
        unit = static_cast<char32_t>(value);
        p += 4;
        return true;
    }

    // The four bytes after a `\u` at `p` are not all hex digits, or the text
    // ends before four. Bytes of the UTF-8 form: in text of code points the
    // fourth may lie inside a letter of several.
    [[gnu::noinline, gnu::cold]] bool code_unit_fault(const Unit* p) noexcept {
        if constexpr (kUtf8) {
            if (end_ - p < 4) return fail_at_end(json_failure::eof_string);
            return fail_before(json_failure::invalid_escape, p + 4);
        } else {
            std::size_t bytes = 0;
            std::size_t last_width = 0;
            while (p != end_ && bytes < 4) {
                last_width = format::utf8_width(*p++);
                bytes += last_width;
            }
            if (bytes < 4) return fail_at_end(json_failure::eof_string);
            const auto last_unit_bytes = static_cast<std::uint8_t>(4 - (bytes - last_width));
            fault_ = JsonSyntaxFault{json_failure::invalid_escape, static_cast<std::size_t>(p - begin_), last_unit_bytes};
            return false;
        }
    }

    // `p` is at a backslash; appends what the escape stands for.
    bool read_escape(const Unit*& p) {
        char bytes[4];
        const std::size_t width = read_escape_into(p, bytes);
        scratch_.append(bytes, width);
        return width != 0;
    }

    bool open_container() noexcept {
        if (depth_ == format::kMaxJsonNesting) return fail_here(json_failure::recursion_limit);
        ++depth_;
        ++at_;
        return true;
    }

    // A member's name, its opening quote consumed.
    [[gnu::always_inline]] bool read_member_name() {
        std::string_view name;
        if constexpr (kShortTexts) {
            JsonShortText words;
            if (read_short_string(name, words)) {
                handler_.member_name(name, words);
                return true;
            }
        }
        bool in_input = false;
        if (!read_string(name, in_input)) return false;
        handler_.member_name(name, in_input);
        return true;
    }

    const Unit* begin_;
    const Unit* at_;
    const Unit* end_;
    Handler& handler_;
    unsigned depth_ = 0;
    JsonSyntaxFault fault_;
    std::string scratch_;  // code-point text: a string being transcoded
    std::unique_ptr<char[]> unescaped_;  // UTF-8 text: see read_escaped_string
    std::size_t unescaped_capacity_ = 0;
    std::string number_text_;  // code-point text: a number for read_json_number
    bool escaped_ = false;     // code-point text: the last string read had an escape
};

}  // namespace vesk::json
