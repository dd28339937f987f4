#include "json/json_string.hpp"

#include <bit>
#include <cstdint>
#include <cstring>

#include "format/utf8.hpp"
#include "json/plain_run.hpp"

namespace vesk {

namespace {

namespace fail = json::json_failure;

int hex_value(char c) noexcept {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads the four hex digits after a `\u` whose `u` is at `u`; on success
// leaves `p` after them.
bool read_code_unit(json::JsonScanner& scanner, const char* u, const char*& p, char32_t& unit) {
    if (scanner.end - (u + 1) < 4) return scanner.fail_at_end(fail::eof_string);
    const char* digits = u + 1;
    int value = 0;
    for (int i = 0; i < 4; ++i) {
        int digit = hex_value(digits[i]);
        if (digit < 0) return scanner.fail_before(fail::invalid_escape, digits + 4);
        value = value * 16 + digit;
    }
    unit = static_cast<char32_t>(value);
    p = digits + 4;
    return true;
}

bool is_high_surrogate(char32_t unit) noexcept { return unit >= 0xD800 && unit <= 0xDBFF; }
bool is_low_surrogate(char32_t unit) noexcept { return unit >= 0xDC00 && unit <= 0xDFFF; }

// `u` points at the `u` of a `\u` escape; appends its code point (a pair of
// escapes for code points above U+FFFF) and leaves `p` after the escape.
bool read_unicode_escape(json::JsonScanner& scanner, const char* u, const char*& p, std::string& out) {
    char32_t unit = 0;
    if (!read_code_unit(scanner, u, p, unit)) return false;
    if (is_low_surrogate(unit)) return scanner.fail_before(fail::lone_surrogate, p);
    if (!is_high_surrogate(unit)) {
        format::append_utf8(out, unit);
        return true;
    }
    for (char expected : {'\\', 'u'}) {
        if (p == scanner.end) return scanner.fail_at_end(fail::eof_string);
        if (*p != expected) return scanner.fail_before(fail::unexpected_end_of_hex_escape, p + 1);
        ++p;
    }
    char32_t low = 0;
    if (!read_code_unit(scanner, p - 1, p, low)) return false;
    if (!is_low_surrogate(low)) return scanner.fail_before(fail::lone_surrogate, p);
    format::append_utf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
    return true;
}

// `backslash` points at a backslash; appends what the escape stands for and
// leaves `p` after it.
bool read_escape(json::JsonScanner& scanner, const char* backslash, const char*& p, std::string& out) {
    const char* code = backslash + 1;
    if (code == scanner.end) return scanner.fail_at_end(fail::eof_string);
    char resolved;
    switch (*code) {
        case '"': resolved = '"'; break;
        case '\\': resolved = '\\'; break;
        case '/': resolved = '/'; break;
        case 'b': resolved = '\b'; break;
        case 'f': resolved = '\f'; break;
        case 'n': resolved = '\n'; break;
        case 'r': resolved = '\r'; break;
        case 't': resolved = '\t'; break;
        case 'u': return read_unicode_escape(scanner, code, p, out);
        default: return scanner.fail_before(fail::invalid_escape, code + 1);
    }
    out.push_back(resolved);
    p = code + 1;
    return true;
}

}  // namespace

bool read_json_string(json::JsonScanner& scanner, std::string& out) {
    const char* const end = scanner.end;
    const char* run = scanner.at;  // start of the bytes not yet copied
    const char* p = run;
    bool well_formed = true;
    bool escaped = false;
    for (;;) {
        p = json::skip_plain_run<false>(p, end);
        if (p == end) return scanner.fail_at_end(fail::eof_string);
        unsigned char byte = static_cast<unsigned char>(*p);
        if (byte == '"') break;
        if (byte >= 0x80) {
            std::size_t length = format::read_utf8_sequence(reinterpret_cast<const std::uint8_t*>(p),
                                                    reinterpret_cast<const std::uint8_t*>(end)).width;
            // A bad byte is stepped over alone, so a quote or backslash that
            // follows it is still seen.
            well_formed = well_formed && length != 0;
            p += length == 0 ? 1 : length;
            continue;
        }
        if (byte < 0x20) return scanner.fail_before(fail::control_character, p + 1);
        if (!escaped) out.clear();
        escaped = true;
        out.append(run, p);
        if (!read_escape(scanner, p, p, out)) return false;
        run = p;
    }
    if (escaped) {
        out.append(run, p);
    } else {
        out.assign(run, p);
    }
    scanner.at = p + 1;
    if (!well_formed) return scanner.fail_before(fail::invalid_code_point, p + 1);
    return true;
}

}  // namespace vesk
