#pragma once

#include <cstdint>

namespace vesk::python {

// The most memory this process can have: the smaller of the machine's
// physical memory and the limits the system sets the process (one file per
// platform: memory_limit_posix.cpp, memory_limit_windows.cpp).
std::uint64_t memory_the_process_can_have() noexcept;

}  // namespace vesk::python
