#include "python/container_to_py.hpp"

#include <utility>
#include <vector>

#include "loads/container_scan.hpp"
#include "loads/container_walk.hpp"
#include "python/errors.hpp"
#include "python/memory_refusal.hpp"
#include "python/object_builder.hpp"
#include "python/released_gil.hpp"

namespace vesk::python {

namespace {

// Runs `work` with the interpreter lock released if `release` is set; the
// lock is taken back however `work` ends.
template <class Work>
auto unlocked_if(bool release, Work&& work) -> decltype(work()) {
    const ReleasedGil released(release);
    return work();
}

// Memory of the objects a result is made of, as the interpreter's allocator
// hands it out (16-byte steps, a collector header before lists and dicts).
constexpr std::uint64_t kSlotBytes = sizeof(PyObject*);  // per value, in its list or dict
constexpr std::uint64_t kNumberBytes = 32;
constexpr std::uint64_t kStrBytes = sizeof(PyASCIIObject) + 1;  // and the text
constexpr std::uint64_t kListBytes = 64;
constexpr std::uint64_t kDictBytes = 64 + 128;  // object and smallest table
constexpr std::uint64_t kMemberBytes = 40;      // in tables beyond the smallest

// The objects, and the builder's note of every list and dict it made.
std::uint64_t result_bytes(const ContainerScan& scan) {
    const ScanCounts& counts = scan.counts;
    return (counts.values + counts.arrays + counts.objects) * kSlotBytes + counts.numbers * kNumberBytes +
           counts.inline_strings * kStrBytes + counts.inline_bytes + scan.dict.size() * kStrBytes +
           counts.dict_bytes + (counts.arrays + 1) * kListBytes + counts.objects * kDictBytes +
           counts.members * kMemberBytes;
}

// Raises MemoryError and returns true if `needed` bytes are more than the
// process can have.
bool refuse_size(std::uint64_t needed) { return refuse_beyond_memory(needed, "reading this container"); }

PyObject* refuse(PyObject* module, const ReadFault& fault) {
    return to_py_err(module, VeskError::parse(describe_read_fault(fault)));
}

PyObject* read_in_place(PyObject* module, std::span<const std::uint8_t> container) {
    const bool release = container.size() >= kReleaseLockFrom;
    // A short message's tables, the scan's and the builder's, fit here.
    SmallBlockArena<4096> memory;
    const ContainerScan scan = unlocked_if(release, [&] { return scan_container(container, &memory); });
    if (scan.fault()) return refuse(module, *scan.fault());
    if (refuse_size(result_bytes(scan))) return nullptr;
    ObjectBuilder builder(container, scan, &memory);
    PyRef result;
    if (!ContainerWalk(container, scan, builder).build(result)) {
        // The walk has released what it built.
        return builder.text_fault() ? refuse(module, *builder.text_fault()) : nullptr;
    }
    builder.track_all();
    return result.release();
}

}  // namespace

PyObject* container_to_py(PyObject* module, std::span<const std::uint8_t> container, ContainerBytes bytes) {
    switch (bytes) {
        case ContainerBytes::Immutable: return read_in_place(module, container);
        case ContainerBytes::Mutable: {
            const std::vector<std::uint8_t> copy(container.begin(), container.end());
            return read_in_place(module, copy);
        }
    }
    return nullptr;
}

}  // namespace vesk::python
