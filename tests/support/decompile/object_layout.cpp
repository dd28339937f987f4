#include "decompile/object_layout.hpp"

#include <algorithm>
#include <numeric>
#include <string_view>

namespace vesk {

ObjectLayout make_object_layout(const std::vector<VeskField>& fields) {
    const std::size_t count = fields.size();
    std::vector<std::uint32_t> order(count);
    std::iota(order.begin(), order.end(), 0u);
    // string_view compares like memcmp: unsigned bytes, a prefix first.
    std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
        return std::string_view(fields[a].name) < std::string_view(fields[b].name);
    });

    ObjectLayout layout;
    layout.member_of_field.resize(count);
    layout.key_field.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t field = order[i];
        if (i == 0 || fields[order[i - 1]].name != fields[field].name) layout.key_field.push_back(field);
        layout.member_of_field[field] = static_cast<std::uint32_t>(layout.key_field.size() - 1);
    }
    return layout;
}

}  // namespace vesk
