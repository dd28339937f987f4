#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "error/vesk_error.hpp"
#include "json/json_scanner.hpp"
#include "json/json_value.hpp"

namespace vesk::json {

// The handler of a JsonEventReader behind virtual calls, for readers
// compiled apart from the code that handles their events. The members are
// those the reader documents.
class JsonEventSink {
public:
    virtual void null_value() = 0;
    virtual void boolean(bool value) = 0;
    virtual void number(JsonKind kind, std::uint64_t bits) = 0;
    // Every float, as the binary32 nearest to its nearest binary64: this
    // sink keeps no more of one, so the reader narrows it (and may do so
    // without finding that binary64).
    virtual void float32(float value) = 0;
    virtual void string(std::string_view text, bool in_input) = 0;
    // A string without escapes: its UTF-8 form, valid during the call, and
    // the `unit_count` units it is in the text, from `first_unit` on.
    // string() gets the strings with escapes.
    virtual void plain_string(std::string_view text, const void* first_unit, std::size_t unit_count) = 0;
    virtual void begin_array() = 0;
    virtual void end_array() = 0;
    virtual void begin_object() = 0;
    virtual void member_name(std::string_view name, bool in_input) = 0;
    virtual void end_object() = 0;

protected:
    ~JsonEventSink() = default;
};

// The units of a code-point text, for strings kept as views of their units
// rather than as copies of their UTF-8 form.
struct TextUnits {
    const char* begin = nullptr;
    const char* end = nullptr;
    std::size_t unit_size = 0;  // bytes: 1, 2 or 4

    // Whether `at` points into these units (a view never points elsewhere
    // into them); no address does when there are none.
    bool hold(const char* at) const noexcept {
        const auto address = reinterpret_cast<std::uintptr_t>(at);
        return address >= reinterpret_cast<std::uintptr_t>(begin) && address < reinterpret_cast<std::uintptr_t>(end);
    }
};

// Writes the UTF-8 form of the string whose units start at `first` (and
// which has no surrogates), `utf8_size` bytes of it, at `out`; returns the
// position after it.
std::uint8_t* write_units_as_utf8(const TextUnits& units, const char* first, std::size_t utf8_size,
                                  std::uint8_t* out) noexcept;
// Whether the units from `first` on start with exactly the code points of
// `utf8` (well-formed): the string there is `utf8` if its own UTF-8 form has
// as many bytes.
bool units_start_with(const TextUnits& units, const char* first, std::string_view utf8) noexcept;

// JSON text as code points, one per unit, the way a Python str that is not
// ASCII holds them: Latin-1 bytes, UCS-2 or UCS-4 units. The text is
// borrowed and must outlive what is read from it.
class CodePointText {
public:
    explicit CodePointText(std::span<const std::uint8_t> latin1) noexcept
        : units_(latin1.data()), length_(latin1.size()), width_(Width::Latin1) {}
    explicit CodePointText(std::span<const std::uint16_t> ucs2) noexcept
        : units_(ucs2.data()), length_(ucs2.size()), width_(Width::Ucs2) {}
    explicit CodePointText(std::span<const std::uint32_t> ucs4) noexcept
        : units_(ucs4.data()), length_(ucs4.size()), width_(Width::Ucs4) {}

    // Code points.
    std::size_t size() const noexcept { return length_; }
    TextUnits units() const noexcept;

    // Reads the text with a JsonEventReader into `sink`: whether the whole
    // text was read, and if not, `fault` says why. A string that is in the
    // input (only ASCII strings of Latin-1 text) is a view into the units;
    // strings without escapes go to plain_string().
    bool read_events(JsonEventSink& sink, JsonSyntaxFault& fault) const;

    // The reader's error for `fault`, positioned in the text's UTF-8 form:
    // its line, and its column in bytes.
    VeskError syntax_error(const JsonSyntaxFault& fault) const;

private:
    enum class Width { Latin1, Ucs2, Ucs4 };

    const void* units_;
    std::size_t length_;
    Width width_;
};

}  // namespace vesk::json
