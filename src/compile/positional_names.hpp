#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vesk {

// The field names f0, f1, ... of the objects that emit writes, id by
// position. Distinct by construction, so unlike a StringTable they need no
// index: the definition block only asks for the text of an id.
class PositionalNames {
public:
    explicit PositionalNames(std::size_t count) {
        text_.reserve(count * 6);
        ends_.reserve(count);
        // Each name is the one before with its number counted up in place,
        // digit by digit, rather than formatted afresh.
        std::string name = "f0";
        for (std::size_t position = 0; position < count; ++position) {
            text_ += name;
            ends_.push_back(static_cast<std::uint32_t>(text_.size()));
            std::size_t digit = name.size() - 1;
            while (digit > 0 && name[digit] == '9') name[digit--] = '0';
            if (digit == 0) {
                name.insert(1, 1, '1');
            } else {
                ++name[digit];
            }
        }
    }

    std::string_view text(std::uint32_t id) const noexcept {
        const std::uint32_t begin = id == 0 ? 0 : ends_[id - 1];
        return std::string_view(text_).substr(begin, ends_[id] - begin);
    }

private:
    std::string text_;
    std::vector<std::uint32_t> ends_;  // of each name in text_
};

}  // namespace vesk
