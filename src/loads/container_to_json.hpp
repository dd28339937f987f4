#pragma once

#include <cstdint>
#include <span>

#include "error/result.hpp"
#include "loads/container_scan.hpp"
#include "loads/json_text_builder.hpp"
#include "loads/text_out.hpp"
#include "tables/table_memory.hpp"

namespace vesk::loads {

// The JSON text of a container: what loads makes of it, written as JSON
// without any value in between.
struct ContainerJson {
    TextOut text;       // UTF-8
    bool ascii = true;  // every byte of it below 0x80
};

// Writes the JSON text of one container in two steps: the scan, which checks
// it as loads does and counts its values, then the text. Between them the
// caller may refuse a text too large for the memory at hand.
class ContainerJsonWriter {
public:
    explicit ContainerJsonWriter(std::span<const std::uint8_t> container)
        : container_(container), scan_(scan_container(container, &memory_)) {}
    ContainerJsonWriter(const ContainerJsonWriter&) = delete;
    ContainerJsonWriter& operator=(const ContainerJsonWriter&) = delete;

    // The fewest bytes the text can take: a byte and a separator for every
    // value. A few bytes of container can stand for many nulls.
    std::uint64_t least_text_bytes() const noexcept { return 2 * scan_.counts.values; }

    // The text, or the container's fault as loads words it (a Parse error);
    // a non-finite float without layout.allow_nan is an UnsupportedType
    // error that names the value's path.
    Result<ContainerJson> write(const JsonTextLayout& layout);

private:
    std::span<const std::uint8_t> container_;
    // A short message's tables fit here.
    tables::SmallBlockArena<4096> memory_;
    ContainerScan scan_;
};

}  // namespace vesk::loads
