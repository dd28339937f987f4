#include "emit/list_items.hpp"

namespace vesk::emit {

void ListItems::turn_to_floats(std::size_t count) {
    floats_ = true;
    if (first_ != format::VeskType::Int32) return;
    // Every item so far is an Int32, in runs that lie end to end within a
    // chunk. Its full value is its own unless it was noted as wide.
    const auto& runs = out_.int_runs();
    const auto& wide = out_.wide_integers();
    std::size_t next_wide = wide_from_;
    for (std::size_t run = runs_from_; run < runs.size(); ++run) {
        const std::size_t end = run + 1 < runs.size() ? runs[run + 1].first : count;
        for (std::size_t position = runs[run].first; position < end; ++position) {
            std::uint8_t* item = runs[run].second + 4 * (position - runs[run].first);
            std::int64_t whole = static_cast<std::int32_t>(format::load_u32le(item));
            if (next_wide < wide.size() && wide[next_wide].first == position) whole = wide[next_wide++].second;
            format::store_u32le(item, std::bit_cast<std::uint32_t>(static_cast<float>(whole)));
            note_float_loss(position, whole);
        }
    }
}

}  // namespace vesk::emit
