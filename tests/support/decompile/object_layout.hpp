#pragma once

#include <cstdint>
#include <vector>

#include "structure/document.hpp"

namespace vesk {

// Where each field of an object definition lands among the members of the
// JSON object built from it. Members are unique and sorted by key bytes; a
// name listed twice gives one member, which the later field fills.
struct ObjectLayout {
    std::vector<std::uint32_t> member_of_field;  // one per field
    std::vector<std::uint32_t> key_field;        // one per member: a field carrying its key
};

ObjectLayout make_object_layout(const std::vector<VeskField>& fields);

}  // namespace vesk
