#include "error/vesk_error.hpp"

#include <system_error>

namespace vesk {

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

VeskError VeskError::loss(std::string path, NumberChange change) {
    VeskError error(VeskErrorKind::Loss, "", 0);
    error.path_ = std::move(path);
    error.change_ = change;
    return error;
}

std::string VeskError::formatted() const {
    switch (kind_) {
        case VeskErrorKind::Parse:
            return "Failed to parse VESK: " + message_;
        case VeskErrorKind::UnsupportedType:
            return "Unsupported data type: " + message_;
        case VeskErrorKind::Io:
            return "IO error: " + message_;
        case VeskErrorKind::Loss:
            return "Value not kept: " + path_;
    }
    return message_;
}

std::string os_error_description(int error_number) {
    // The C library's text for the number, through the one thread-safe way
    // every platform has: strerror_r has two forms on Linux and none on
    // Windows, and strerror may share one buffer between threads.
    std::string description = std::generic_category().message(error_number);
    description += " (os error ";
    description += std::to_string(error_number);
    description += ')';
    return description;
}

}  // namespace vesk
