#pragma once

#include <Python.h>

#include <cstdint>

#include "python/memory_limit.hpp"

namespace vesk::python {

// Below this, a failed allocation raises MemoryError on its own: the limit
// is looked up (several system calls) only for results that could exhaust
// the machine.
inline constexpr std::uint64_t kUncheckedBytes = std::uint64_t{64} << 20;

// Raises MemoryError and returns true if `needed` bytes are more than the
// process can have; `doing` completes "{doing} takes about N bytes".
inline bool refuse_beyond_memory(std::uint64_t needed, const char* doing) {
    if (needed <= kUncheckedBytes) return false;
    const std::uint64_t limit = memory_available();
    if (needed <= limit) return false;
    PyErr_Format(PyExc_MemoryError, "%s takes about %llu bytes, more than the %llu this process can have", doing,
                 static_cast<unsigned long long>(needed), static_cast<unsigned long long>(limit));
    return true;
}

}  // namespace vesk::python
