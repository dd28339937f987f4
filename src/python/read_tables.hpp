#pragma once

#include "loads/container_scan.hpp"
#include "python/key_cache.hpp"
#include "python/object_builder.hpp"

namespace vesk::python {

// What loads keeps in module state from one call to the next (see
// ReusedObject): the scan's and the builder's tables, which a short message
// then reads with no allocation, and the keys made before.
struct ReadTables {
    // Tables are kept up to this size; a large container's go with the call.
    static constexpr std::size_t kKeptTableBytes = 64 * 1024;

    loads::ContainerScan scan;
    BuilderTables builder;
    KeyCache keys;

    void prepare_for_reuse() noexcept {
        if (scan.capacity_bytes() > kKeptTableBytes) {
            scan = loads::ContainerScan();
        } else {
            scan.clear();
        }
        if (builder.capacity_bytes() > kKeptTableBytes) builder = BuilderTables();
    }
};

}  // namespace vesk::python
