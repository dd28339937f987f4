#pragma once

#include <cstdint>

namespace vesk::python {

// The most memory this process can have: the smaller of the machine's
// physical memory and the process's address-space and data-segment limits.
std::uint64_t memory_the_process_can_have() noexcept;

}  // namespace vesk::python
