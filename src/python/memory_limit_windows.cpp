// The memory available on Windows: the physical memory available now, and the
// address space left to the process (2 GiB or so for 32-bit processes); job
// objects that cap a process's commit are not looked at.

#include <windows.h>

#include <algorithm>
#include <cstdint>

#include "python/memory_limit.hpp"

namespace vesk::python {

std::uint64_t memory_available() noexcept {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (!GlobalMemoryStatusEx(&status)) return UINT64_MAX;
    return std::min<std::uint64_t>(status.ullAvailPhys, status.ullAvailVirtual);
}

}  // namespace vesk::python
