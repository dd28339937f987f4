#pragma once

#include <cstddef>
#include <span>

#include "error/result.hpp"
#include "json/json_value.hpp"
#include "structure/document.hpp"

namespace vesk {

// Makes the converted items of one array agree with the type of its first
// non-null item (at `first_typed`), since a container array is read back by
// one element type. Items that are all numbers of more than one type, with no
// null among them, become Float32 items rounded from the full values in
// `source`; any other disagreement is an UnsupportedType error naming the
// first item that breaks the rule.
Status unify_array_items(std::span<const JsonValue> source, std::span<VeskData> items, std::size_t first_typed);

}  // namespace vesk
