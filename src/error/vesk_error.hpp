#pragma once

#include <cstdint>
#include <string>

namespace vesk {

enum class VeskErrorKind : std::uint8_t { Parse, UnsupportedType, Io };

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

    VeskErrorKind kind() const noexcept { return kind_; }
    // The bare message (Parse, UnsupportedType) or I/O description (Io).
    const std::string& message() const noexcept { return message_; }
    // The error number of an OS error, 0 for the other kinds and texts.
    int os_error() const noexcept { return os_error_; }

    // The single line shown to users, e.g. "Failed to parse VESK: ...".
    std::string formatted() const;

private:
    VeskError(VeskErrorKind kind, std::string message, int os_error)
        : kind_(kind), message_(std::move(message)), os_error_(os_error) {}

    VeskErrorKind kind_ = VeskErrorKind::Parse;
    std::string message_;
    int os_error_ = 0;
};

// "{system text} (os error {n})", the system text as the C library gives it
// for the number (its strerror text).
std::string os_error_description(int error_number);

}  // namespace vesk
