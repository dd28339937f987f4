#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "dumps/json_container_parts.hpp"
#include "format/json_path.hpp"

namespace vesk::dumps {

// The path from the root to the value a walk of the tape is at, kept as the
// walk goes (an item's index or a member's name id per open container) and
// written out as text only for an error.
class TapePath {
public:
    explicit TapePath(const JsonContainerParts& parts) : parts_(parts) {}

    // A container's contents are being walked; then, before each value,
    // which item or member it is.
    void open() { steps_.push_back(Step{}); }
    void at_item(std::uint32_t index) noexcept { steps_.back() = Step{index, false}; }
    void at_member(std::uint32_t name) noexcept { steps_.back() = Step{name, true}; }
    void close() noexcept { steps_.pop_back(); }

    // The path of the value the walk is at ($ outside every container).
    std::string text() const {
        std::string path(format::kRootPath);
        for (const Step& step : steps_) {
            if (step.member) {
                format::append_member_step(path, parts_.names.text(step.value));
            } else {
                format::append_item_step(path, step.value);
            }
        }
        return path;
    }

private:
    struct Step {
        std::uint32_t value = 0;  // an item's index or a member's name id
        bool member = false;
    };

    const JsonContainerParts& parts_;
    tables::TableVector<Step> steps_;
};

}  // namespace vesk::dumps
