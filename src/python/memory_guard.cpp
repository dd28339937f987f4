#include "python/memory_guard.hpp"

#include <algorithm>

#include "loads/result_memory.hpp"
#include "python/memory_limit.hpp"

namespace vesk::python {

namespace {

// Blocks of up to 512 bytes come from the interpreter's allocator in steps
// of 16; a list and a dict carry the collector's two-word header. An int of
// one digit and a float both take 32 bytes; a dict table's header 32.
constexpr std::uint64_t kCollectorHeader = 2 * sizeof(void*);
constexpr loads::ObjectSizes kObjectSizes{
    .slot = sizeof(PyObject*),
    .number = 32,
    .ascii_text = sizeof(PyASCIIObject),
    .wide_text = sizeof(PyCompactUnicodeObject),
    .list = sizeof(PyListObject) + kCollectorHeader,
    .dict = sizeof(PyDictObject) + kCollectorHeader,
    .dict_table = 32,
    .dict_entry = 2 * sizeof(PyObject*),
    .granule = 16,
};

}  // namespace

bool MemoryGuard::fits_available(std::uint64_t needed) {
    if (!asked_) {
        asked_ = true;
        const std::uint64_t by_size =
            std::max<std::uint64_t>(kUncheckedBytes, kMaxGrowth * static_cast<std::uint64_t>(container_size_));
        const std::uint64_t by_system = memory_available();
        allowed_by_size_ = by_size < by_system;
        available_ = std::min(by_size, by_system);
    }
    return needed <= available_;
}

bool MemoryGuard::refuses(std::uint64_t needed) { return !fits(needed) && refuse(needed, "about"); }

bool MemoryGuard::refuse(std::uint64_t needed, const char* how) {
    const auto needed_bytes = static_cast<unsigned long long>(needed);
    const auto available = static_cast<unsigned long long>(available_);
    if (allowed_by_size_) {
        PyErr_Format(PyExc_MemoryError,
                     "reading this container takes %s %llu bytes, more than the %llu allowed for a container "
                     "of %zu bytes",
                     how, needed_bytes, available, container_size_);
    } else {
        PyErr_Format(PyExc_MemoryError, "reading this container takes %s %llu bytes, more than the %llu available",
                     how, needed_bytes, available);
    }
    return true;
}

bool MemoryGuard::refuses_tables(std::span<const std::uint8_t> container, std::uint64_t& tables) {
    // A container too small for its tables to need the guard gets a bound
    // on them that takes no counting.
    if (container.size() <= kUncheckedBytes / loads::kScanTableBytesPerByte) {
        tables = container.size() * loads::kScanTableBytesPerByte;
        return false;
    }
    tables = loads::scan_table_bytes(container, kUncheckedBytes);
    if (tables <= kUncheckedBytes) return false;
    // Past that, counted as far as what there is: the count stops there, and
    // a refusal names the part counted.
    if (!fits(tables)) return refuse(tables, "at least");
    tables = loads::scan_table_bytes(container, available_);
    return tables > available_ && refuse(tables, "at least");
}

bool MemoryGuard::refuses_value(std::span<const std::uint8_t> container, const loads::ContainerScan& scan,
                                std::uint64_t tables) {
    const loads::MemoryBounds bounds = loads::result_bounds(scan, kObjectSizes);
    if (fits(tables + bounds.high)) return false;
    if (refuses(tables + bounds.low)) return true;
    return refuses(tables + value_bytes(container, scan));
}

std::uint64_t MemoryGuard::value_bytes(std::span<const std::uint8_t> container, const loads::ContainerScan& scan) {
    return loads::result_bytes(container, scan, kObjectSizes);
}

}  // namespace vesk::python
