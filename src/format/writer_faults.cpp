#include "format/writer_faults.hpp"

#include "error/format_message.hpp"
#include "format/format_limits.hpp"

namespace vesk::format {

VeskError too_many_definitions(std::size_t count) {
    return VeskError::parse(format_message("Too many definitions ({}), max {}", count, kMaxDefinitions));
}

VeskError too_many_fields(std::size_t definition, std::size_t count) {
    return VeskError::parse(format_message("Object #{} has {} fields (max {})", definition, count, kMaxFields));
}

VeskError field_name_too_long() { return VeskError::parse("Field name too long"); }

VeskError string_too_long() {
    return VeskError::parse(
        format_message("String exceeds maximum inline length ({} bytes)", grouped_decimal(kMaxStringLength)));
}

VeskError too_many_items(std::size_t count) {
    return VeskError::parse(format_message("Array has {} items (max {})", count, kMaxArrayItems));
}

VeskError container_too_large() {
    return VeskError::parse(format_message("Container exceeds {} bytes", kMaxContainerSize));
}

}  // namespace vesk::format
