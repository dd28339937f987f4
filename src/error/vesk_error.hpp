#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace vesk {

enum class VeskErrorKind : std::uint8_t { Parse, UnsupportedType, Io, Loss };

// Where in a JSON text a fault lies: the line (from 1) and the column (the
// bytes of that line up to and including the offending byte, or all of
// them at the text's end), and `pos`, the bytes of the text up to that same
// point (the bytes of the lines before, plus the column).
struct TextPosition {
    std::size_t line = 0;
    std::size_t column = 0;
    std::size_t pos = 0;
};

// A number as it was given and as the container keeps it, for a LossError.
struct StoredNumber {
    enum class Kind : std::uint8_t { Unsigned, Signed, Float };
    Kind kind = Kind::Signed;
    std::uint64_t bits = 0;  // the integer, two's complement; a float's binary64 bits
};
struct NumberChange {
    StoredNumber written;
    StoredNumber stored;
};

// The one error type of the core. Parse and UnsupportedType carry a message;
// Io carries the description of an I/O failure: either the system's text for
// an error number ("... (os error N)") or one of our own fixed texts.
class VeskError {
public:
    VeskError() = default;

    static VeskError parse(std::string message);
    static VeskError unsupported_type(std::string message);
    static VeskError io_os(int error_number);
    static VeskError io_message(std::string description);
    // A value that would not read back as written (strict): at `path`,
    // `change` says what it was and what it would become.
    static VeskError loss(std::string path, NumberChange change);

    VeskErrorKind kind() const noexcept { return kind_; }
    // The bare message (Parse, UnsupportedType) or I/O description (Io).
    const std::string& message() const noexcept { return message_; }
    // The error number of an OS error, 0 for the other kinds and texts.
    int os_error() const noexcept { return os_error_; }

    // The single line shown to users, e.g. "Failed to parse VESK: ...". A
    // loss is shown by the module, which writes its numbers as Python does.
    std::string formatted() const;

    // The JSON path of the value refused ($ for the root, $.a[3]), or empty
    // when the error is not about one value.
    const std::string& path() const noexcept { return path_; }
    VeskError&& at_path(std::string path) && {
        path_ = std::move(path);
        return std::move(*this);
    }
    // Where a JSON text is refused, for syntax errors.
    const std::optional<TextPosition>& position() const noexcept { return position_; }
    VeskError&& at_position(TextPosition position) && {
        position_ = position;
        return std::move(*this);
    }
    const NumberChange& change() const noexcept { return change_; }

private:
    VeskError(VeskErrorKind kind, std::string message, int os_error)
        : kind_(kind), message_(std::move(message)), os_error_(os_error) {}

    VeskErrorKind kind_ = VeskErrorKind::Parse;
    std::string message_;
    int os_error_ = 0;
    std::string path_;
    std::optional<TextPosition> position_;
    NumberChange change_{};
};

// "{system text} (os error {n})", the system text as the C library gives it
// for the number (its strerror text).
std::string os_error_description(int error_number);

}  // namespace vesk
