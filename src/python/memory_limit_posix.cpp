// The memory available on POSIX systems (Linux's /proc and /sys where they
// are there): available memory, memory cgroups, and the process's
// address-space and data-segment limits (ulimit -v, ulimit -d).

#include "python/memory_limit.hpp"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <limits>
#include <string>
#include <string_view>

namespace vesk::python {

namespace {

constexpr std::uint64_t kNoLimit = std::numeric_limits<std::uint64_t>::max();

// The start of a small file of the system (/proc, /sys), or "" where it
// cannot be read.
std::string_view read_small_file(const char* path, char (&buffer)[4096]) noexcept {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    std::size_t used = 0;
    for (ssize_t count = 0; used < sizeof buffer; used += static_cast<std::size_t>(count)) {
        count = ::read(fd, buffer + used, sizeof buffer - used);
        if (count <= 0) break;
    }
    ::close(fd);
    return {buffer, used};
}

// The number after `key` in `text`, or kNoLimit.
std::uint64_t number_after(std::string_view text, std::string_view key) noexcept {
    const std::size_t at = text.find(key);
    if (at == std::string_view::npos) return kNoLimit;
    std::size_t start = at + key.size();
    while (start < text.size() && text[start] == ' ') ++start;
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data() + start, text.data() + text.size(), value);
    return error == std::errc{} && end != text.data() + start ? value : kNoLimit;
}

std::uint64_t file_number(const std::string& path) noexcept {
    char buffer[4096];
    return number_after(read_small_file(path.c_str(), buffer), "");
}

std::uint64_t less(std::uint64_t limit, std::uint64_t used) noexcept {
    if (limit == kNoLimit || used == kNoLimit) return limit;
    return used >= limit ? 0 : limit - used;
}

// What the process's memory cgroup and each above it leave: the limit less
// the usage, version 2 ("0::/path" in /proc/self/cgroup) or version 1 (a
// line naming the memory controller).
std::uint64_t cgroup_room() noexcept {
    char buffer[4096];
    const std::string_view groups = read_small_file("/proc/self/cgroup", buffer);
    std::uint64_t room = kNoLimit;
    std::size_t line_start = 0;
    while (line_start < groups.size()) {
        std::size_t line_end = groups.find('\n', line_start);
        if (line_end == std::string_view::npos) line_end = groups.size();
        const std::string_view line = groups.substr(line_start, line_end - line_start);
        line_start = line_end + 1;
        const std::size_t first = line.find(':');
        const std::size_t second = line.find(':', first + 1);
        if (first == std::string_view::npos || second == std::string_view::npos) continue;
        const std::string_view controllers = line.substr(first + 1, second - first - 1);
        std::string path(line.substr(second + 1));
        const bool v2 = controllers.empty();
        if (!v2 && controllers.find("memory") == std::string_view::npos) continue;
        const std::string root = v2 ? "/sys/fs/cgroup" : "/sys/fs/cgroup/memory";
        const char* limit_file = v2 ? "/memory.max" : "/memory.limit_in_bytes";
        const char* usage_file = v2 ? "/memory.current" : "/memory.usage_in_bytes";
        for (;;) {
            const std::string directory = root + (path == "/" ? "" : path);
            room = std::min(room, less(file_number(directory + limit_file), file_number(directory + usage_file)));
            if (path.size() <= 1) break;
            path.resize(std::max<std::size_t>(path.rfind('/'), 1));
        }
    }
    return room;
}

std::uint64_t soft_limit(int resource) noexcept {
    rlimit limit{};
    if (getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return kNoLimit;
    return limit.rlim_cur;
}

}  // namespace

std::uint64_t memory_available() noexcept {
    const auto page_size = static_cast<std::uint64_t>(sysconf(_SC_PAGE_SIZE));
    char buffer[4096];
    // Pages: the whole address space, then data and stack.
    const std::string_view statm = read_small_file("/proc/self/statm", buffer);
    std::uint64_t address_space = kNoLimit;
    std::uint64_t data = kNoLimit;
    if (!statm.empty()) {
        std::uint64_t fields[6] = {};
        const char* at = statm.data();
        const char* const end = statm.data() + statm.size();
        for (std::uint64_t& field : fields) {
            at = std::from_chars(at, end, field).ptr;
            while (at < end && *at == ' ') ++at;
        }
        address_space = fields[0] * page_size;
        data = fields[5] * page_size;
    }
    std::uint64_t room = std::min({less(soft_limit(RLIMIT_AS), address_space), less(soft_limit(RLIMIT_DATA), data),
                                   cgroup_room()});
    const std::uint64_t kibibytes = number_after(read_small_file("/proc/meminfo", buffer), "MemAvailable:");
    if (kibibytes != kNoLimit) {
        room = std::min(room, kibibytes * 1024);
    } else if (const long pages = sysconf(_SC_PHYS_PAGES); pages > 0) {
        room = std::min(room, static_cast<std::uint64_t>(pages) * page_size);
    }
    return room;
}

}  // namespace vesk::python
