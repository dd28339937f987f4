#pragma once

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

namespace vesk::tables {

// Owns copies of texts for the compiler's lookup tables. Copies are bump
// allocated from large blocks, so remembering a text costs no allocation of
// its own, and the views it hands out stay valid until the arena dies.
class TextArena {
public:
    std::string_view store(std::string_view text);

private:
    static constexpr std::size_t block_size = 64 * 1024;

    std::vector<std::unique_ptr<char[]>> blocks_;
    char* free_ = nullptr;
    std::size_t free_left_ = 0;
};

}  // namespace vesk::tables
