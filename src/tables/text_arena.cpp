#include "tables/text_arena.hpp"

#include <cstring>

namespace vesk::tables {

std::string_view TextArena::store(std::string_view text) {
    if (text.size() > free_left_) {
        // Texts larger than a quarter block get a block of their own, so a
        // few long strings do not waste the tail of the current block.
        if (text.size() > block_size / 4) {
            blocks_.push_back(std::make_unique_for_overwrite<char[]>(text.size()));
            char* copy = blocks_.back().get();
            std::memcpy(copy, text.data(), text.size());
            return {copy, text.size()};
        }
        blocks_.push_back(std::make_unique_for_overwrite<char[]>(block_size));
        free_ = blocks_.back().get();
        free_left_ = block_size;
    }
    char* copy = free_;
    if (!text.empty()) std::memcpy(copy, text.data(), text.size());
    free_ += text.size();
    free_left_ -= text.size();
    return {copy, text.size()};
}

}  // namespace vesk::tables
