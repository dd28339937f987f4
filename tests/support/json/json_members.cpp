#include "json/json_members.hpp"

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace vesk {

namespace {

// std::string compares through char_traits<char>, which orders bytes as
// unsigned char and puts a proper prefix first.
bool strictly_ascending(const std::vector<json::JsonMember>& members) {
    for (std::size_t i = 1; i < members.size(); ++i) {
        if (!(members[i - 1].key < members[i].key)) return false;
    }
    return true;
}

// A stable order of positions by name. Objects are mostly small, where an
// insertion sort beats std::stable_sort and its temporary buffer.
std::vector<std::uint32_t> stable_order(const std::vector<json::JsonMember>& members) {
    std::vector<std::uint32_t> order(members.size());
    for (std::uint32_t i = 0; i < order.size(); ++i) order[i] = i;
    auto name_less = [&members](std::uint32_t a, std::uint32_t b) { return members[a].key < members[b].key; };
    if (order.size() > 32) {
        std::stable_sort(order.begin(), order.end(), name_less);
        return order;
    }
    for (std::size_t i = 1; i < order.size(); ++i) {
        std::uint32_t moving = order[i];
        std::size_t j = i;
        for (; j > 0 && name_less(moving, order[j - 1]); --j) order[j] = order[j - 1];
        order[j] = moving;
    }
    return order;
}

}  // namespace

std::vector<json::JsonMember> ordered_members(std::vector<json::JsonMember>& collected) {
    if (strictly_ascending(collected)) {
        return std::vector<json::JsonMember>(std::make_move_iterator(collected.begin()),
                                       std::make_move_iterator(collected.end()));
    }
    std::vector<std::uint32_t> order = stable_order(collected);
    std::vector<json::JsonMember> members;
    members.reserve(order.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        // Equal names sit together in text order: keep the last of each run.
        bool repeated_later = i + 1 < order.size() && collected[order[i]].key == collected[order[i + 1]].key;
        if (!repeated_later) members.push_back(std::move(collected[order[i]]));
    }
    return members;
}

}  // namespace vesk
