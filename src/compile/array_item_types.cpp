#include "compile/array_item_types.hpp"

#include "compile/number_narrowing.hpp"
#include "error/format.hpp"

namespace vesk {

namespace {

constexpr bool is_number_type(VeskType type) noexcept {
    return type == VeskType::Int32 || type == VeskType::Uint32 || type == VeskType::Float32;
}

VeskError mixed_item_error(std::size_t index, VeskType found, VeskType expected) {
    return VeskError::unsupported_type(
        format_message("array item {} is {}, expected {}", index, type_name(found), type_name(expected)));
}

}  // namespace

Status unify_array_items(std::span<const JsonValue> source, std::span<VeskData> items, std::size_t first_typed) {
    const VeskType expected = items[first_typed].type();
    if (!is_number_type(expected)) {
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (items[i].type() != expected) return mixed_item_error(i, items[i].type(), expected);
        }
        return {};
    }
    bool mixed_numbers = false;
    for (std::size_t i = 0; i < items.size(); ++i) {
        VeskType found = items[i].type();
        if (!is_number_type(found)) return mixed_item_error(i, found, expected);
        mixed_numbers |= found != expected;
    }
    if (mixed_numbers) {
        for (std::size_t i = 0; i < items.size(); ++i) items[i] = VeskData::float32(json_number_as_float(source[i]));
    }
    return {};
}

}  // namespace vesk
