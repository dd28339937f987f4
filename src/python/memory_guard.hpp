#pragma once

#include <Python.h>

#include <cstdint>
#include <span>

#include "loads/container_scan.hpp"
#include "python/memory_refusal.hpp"

namespace vesk::python {

// How much a container may cost to read: no more than the process can have
// now, and no more than kMaxGrowth bytes per byte of the container, so that
// a small container cannot take the machine (a 6-byte array header makes a
// list of 65535 slots). Below kUncheckedBytes a call asks nothing of the
// system: a short message pays no system call.
class MemoryGuard {
public:
    static constexpr std::uint64_t kMaxGrowth = 1024;

    explicit MemoryGuard(std::size_t container_size) noexcept : container_size_(container_size) {}

    // Raises MemoryError, saying how much was needed and how much there is,
    // and returns true if `needed` more bytes do not fit.
    bool refuses(std::uint64_t needed);

    // The same for the scan's tables (their bytes set in `tables`), counted
    // only as far as a refusal needs: a definition block of millions of
    // fields is refused in the time it takes to count what is available.
    bool refuses_tables(std::span<const std::uint8_t> container, std::uint64_t& tables);

    // The same for building the value of a container the scan found no fault
    // in, the scan's tables (`tables` bytes) held meanwhile: sized from the
    // scan's counts, and object by object only when those cannot decide.
    bool refuses_value(std::span<const std::uint8_t> container, const loads::ContainerScan& scan, std::uint64_t tables);

    // What reading the value of a container the scan found no fault in
    // takes, object by object, as refuses_value sizes it.
    static std::uint64_t value_bytes(std::span<const std::uint8_t> container, const loads::ContainerScan& scan);

private:
    bool fits(std::uint64_t needed) {
        // Inline: a short message's every check ends here.
        return needed <= kUncheckedBytes || fits_available(needed);
    }
    bool fits_available(std::uint64_t needed);
    // Raises MemoryError: reading takes `how` ("about", "at least") `needed`.
    bool refuse(std::uint64_t needed, const char* how);

    std::size_t container_size_;
    std::uint64_t available_ = 0;
    bool allowed_by_size_ = false;  // available_ is the growth bound, not the system's
    bool asked_ = false;
};

}  // namespace vesk::python
