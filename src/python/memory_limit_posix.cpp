// The memory limit on POSIX systems: physical memory, and the process's
// address-space and data-segment limits (ulimit -v, ulimit -d).

#include "python/memory_limit.hpp"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <limits>

namespace vesk::python {

namespace {

std::uint64_t soft_limit(int resource) noexcept {
    rlimit limit{};
    if (getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return std::numeric_limits<std::uint64_t>::max();
    }
    return limit.rlim_cur;
}

}  // namespace

std::uint64_t memory_the_process_can_have() noexcept {
    std::uint64_t limit = std::min(soft_limit(RLIMIT_AS), soft_limit(RLIMIT_DATA));
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page_size = sysconf(_SC_PAGE_SIZE);
    if (pages > 0 && page_size > 0) {
        limit = std::min(limit, static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page_size));
    }
    return limit;
}

}  // namespace vesk::python
