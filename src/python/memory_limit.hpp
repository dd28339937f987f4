#pragma once

#include <cstdint>

namespace vesk::python {

// The memory this process can still take now: the smallest of the memory
// the machine has available, what the process's memory cgroups leave, and
// its address-space and data-segment limits less what it holds (one file per
// platform: memory_limit_posix.cpp, memory_limit_windows.cpp). A few system
// calls and small files of /proc: ask it only for large allocations.
std::uint64_t memory_available() noexcept;

}  // namespace vesk::python
