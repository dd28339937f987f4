#include "format/array_item_rule.hpp"

#include "error/format_message.hpp"

namespace vesk::format {

VeskError mixed_array_item(std::size_t index, VeskType found, VeskType expected) {
    return VeskError::unsupported_type(
        format_message("array item {} is {}, expected {}", index, type_name(found), type_name(expected)));
}

}  // namespace vesk::format
