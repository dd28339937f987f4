#include "error/vesk_error.hpp"

#include <cstring>
#include <type_traits>

namespace vesk {

namespace {

// glibc exposes the GNU strerror_r (returns char*) under _GNU_SOURCE, which
// g++ always defines; other C libraries give the XSI one (returns int and
// fills the buffer). Overloading on the return type handles both.
[[maybe_unused]] const char* strerror_text(char* result, const char*) { return result; }
[[maybe_unused]] const char* strerror_text(int status, const char* buffer) {
    return status == 0 ? buffer : nullptr;
}

}  // namespace

VeskError VeskError::parse(std::string message) {
    return VeskError(VeskErrorKind::Parse, std::move(message), 0);
}

VeskError VeskError::unsupported_type(std::string message) {
    return VeskError(VeskErrorKind::UnsupportedType, std::move(message), 0);
}

VeskError VeskError::io_os(int error_number) {
    return VeskError(VeskErrorKind::Io, os_error_description(error_number), error_number);
}

VeskError VeskError::io_message(std::string description) {
    return VeskError(VeskErrorKind::Io, std::move(description), 0);
}

std::string VeskError::formatted() const {
    switch (kind_) {
        case VeskErrorKind::Parse:
            return "Failed to parse VESK: " + message_;
        case VeskErrorKind::UnsupportedType:
            return "Unsupported data type: " + message_;
        case VeskErrorKind::Io:
            return "IO error: " + message_;
    }
    return message_;
}

std::string os_error_description(int error_number) {
    char buffer[256] = {};
    const char* text = strerror_text(strerror_r(error_number, buffer, sizeof buffer), buffer);
    std::string description = text != nullptr ? text : "Unknown error " + std::to_string(error_number);
    description += " (os error ";
    description += std::to_string(error_number);
    description += ')';
    return description;
}

}  // namespace vesk
