#include "loads/container_to_json.hpp"

#include <utility>

#include "error/format_message.hpp"
#include "loads/container_walk.hpp"
#include "loads/read_fault.hpp"

namespace vesk::loads {

Result<ContainerJson> ContainerJsonWriter::write(const JsonTextLayout& layout) {
    if (scan_.fault()) return VeskError::parse(describe_read_fault(*scan_.fault()));
    JsonTextBuilder builder(container_, scan_, layout, &memory_);
    JsonTextBuilder::Value root;
    if (!ContainerWalk(container_, scan_, builder).build(root)) {
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

}  // namespace vesk::loads
