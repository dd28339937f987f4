#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vesk::format {

// The JSON path of a value, as errors name it: "$" for the root, then a step
// per container: [3] for an item, .name for a member whose name is a plain
// identifier (ASCII letters, digits and _, not starting with a digit), and
// ["name"] (the name as a JSON string) for any other member.
inline constexpr std::string_view kRootPath = "$";
void append_item_step(std::string& path, std::size_t index);
void append_member_step(std::string& path, std::string_view name);

}  // namespace vesk::format
