#pragma once

#include <vector>

#include "json/json_value.hpp"

namespace vesk {

// Turns the members of one object, as collected in text order, into the
// object's members: ascending by the bytes of their names (unsigned, a proper
// prefix first), one per name, each name keeping the value it was given last.
// `collected` is left with moved-from members.
std::vector<json::JsonMember> ordered_members(std::vector<json::JsonMember>& collected);

}  // namespace vesk
