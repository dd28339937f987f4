#include "loads/container_to_json.hpp"

#include <utility>

#include "error/format_message.hpp"
#include "loads/container_scan.hpp"
#include "loads/container_walk.hpp"
#include "loads/read_fault.hpp"
#include "tables/table_memory.hpp"

namespace vesk {

Result<ContainerJson> container_to_json(std::span<const std::uint8_t> container, const JsonTextLayout& layout) {
    // A short message's tables fit here.
    SmallBlockArena<4096> memory;
    const ContainerScan scan = scan_container(container, &memory);
    if (scan.fault()) return VeskError::parse(describe_read_fault(*scan.fault()));
    JsonTextBuilder builder(container, scan, layout, &memory);
    JsonTextBuilder::Value root;
    if (!ContainerWalk(container, scan, builder).build(root)) {
        const JsonTextFault& fault = builder.fault();
        switch (fault.kind) {
            case JsonTextFault::Kind::InvalidText: return VeskError::parse(describe_read_fault(fault.text));
            case JsonTextFault::Kind::NonFinite:
                return VeskError::unsupported_type(format_message(
                    "{} is {}, which JSON cannot hold (allow_nan=True writes it as Python's json does)", fault.path,
                    fault.value));
            case JsonTextFault::Kind::None: break;
        }
    }
    return ContainerJson{std::move(builder.text()), builder.ascii()};
}

}  // namespace vesk
