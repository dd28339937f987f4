#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "json/json_value.hpp"

namespace vesk {

// The handler of a JsonEventReader behind virtual calls, for readers
// compiled apart from the code that handles their events. The members are
// those the reader documents.
class JsonEventSink {
public:
    virtual bool null_value() = 0;
    virtual bool boolean(bool value) = 0;
    virtual bool number(JsonKind kind, std::uint64_t bits) = 0;
    virtual bool string(std::string_view text, bool in_input) = 0;
    virtual bool begin_array() = 0;
    virtual bool end_array() = 0;
    virtual bool begin_object() = 0;
    virtual bool member_name(std::string_view name, bool in_input) = 0;
    virtual bool end_object() = 0;

protected:
    ~JsonEventSink() = default;
};

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

    // Reads the text with a JsonEventReader into `sink`: whether the whole
    // text was read and the sink took every value. A string that is in the
    // input (only ASCII strings of Latin-1 text) is a view into the units.
    bool read_events(JsonEventSink& sink) const;

private:
    enum class Width { Latin1, Ucs2, Ucs4 };

    const void* units_;
    std::size_t length_;
    Width width_;
};

}  // namespace vesk
