#include "python/container_to_py.hpp"

#include <utility>
#include <vector>

#include "loads/container_scan.hpp"
#include "loads/container_walk.hpp"
#include "python/errors.hpp"
#include "python/memory_guard.hpp"
#include "python/module_state.hpp"
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

PyObject* refuse(PyObject* module, const loads::ReadFault& fault) {
    return to_py_err(module, VeskError::parse(loads::describe_read_fault(fault)));
}

PyObject* read_in_place(PyObject* module, std::span<const std::uint8_t> container) {
    const bool release = container.size() >= kReleaseLockFrom;
    // Sized before anything is made: the scan's tables first, from the
    // definition block, then the value from what the scan counted.
    MemoryGuard guard(container.size());
    std::uint64_t tables = 0;
    if (guard.refuses_tables(container, tables)) return nullptr;
    // The tables of the call before, which a short message fits in.
    const ReusedObject<ReadTables>::Loan kept = module_state(module)->read_tables.borrow();
    loads::ContainerScan& scan = kept->scan;
    unlocked_if(release, [&] { loads::scan_container(container, scan); });
    if (scan.fault()) return refuse(module, *scan.fault());
    if (guard.refuses_value(container, scan, tables)) return nullptr;
    ObjectBuilder builder(container, scan, kept->builder, kept->keys);
    PyRef result;
    if (!loads::ContainerWalk(container, scan, builder).build(result)) {
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
