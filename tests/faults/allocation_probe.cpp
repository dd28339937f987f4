// Linked into a test build of the module only (VESK_ALLOCATION_PROBE): the
// module's own operator new, which counts allocations and can make the n-th
// one fail, so that a test can sweep every C++ allocation of a call. The
// module is linked with its symbols local, so these replace operator new for
// the module's code and nothing else in the process.
//
// The state is process-wide by necessity (operator new has no context), and
// only a single-threaded test drives it.

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace {

std::atomic<long> allocations{0};
std::atomic<long> live{0};
std::atomic<long> fail_at{0};  // 0: never

void* allocate(std::size_t size, std::size_t alignment) {
    const long number = ++allocations;
    if (number == fail_at.load()) return nullptr;
    if (size == 0) size = 1;
    void* block = alignment > alignof(std::max_align_t)
                      ? std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment)
                      : std::malloc(size);
    if (block != nullptr) ++live;
    return block;
}

void* allocate_or_throw(std::size_t size, std::size_t alignment) {
    void* block = allocate(size, alignment);
    if (block == nullptr) throw std::bad_alloc();
    return block;
}

void release(void* block) noexcept {
    if (block == nullptr) return;
    --live;
    std::free(block);
}

constexpr std::size_t plain = alignof(std::max_align_t);

}  // namespace

void* operator new(std::size_t size) { return allocate_or_throw(size, plain); }
void* operator new[](std::size_t size) { return allocate_or_throw(size, plain); }
void* operator new(std::size_t size, std::align_val_t align) {
    return allocate_or_throw(size, static_cast<std::size_t>(align));
}
void* operator new[](std::size_t size, std::align_val_t align) {
    return allocate_or_throw(size, static_cast<std::size_t>(align));
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size, plain); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size, plain); }
void operator delete(void* block) noexcept { release(block); }
void operator delete[](void* block) noexcept { release(block); }
void operator delete(void* block, std::size_t) noexcept { release(block); }
void operator delete[](void* block, std::size_t) noexcept { release(block); }
void operator delete(void* block, std::align_val_t) noexcept { release(block); }
void operator delete[](void* block, std::align_val_t) noexcept { release(block); }
void operator delete(void* block, std::size_t, std::align_val_t) noexcept { release(block); }
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept { release(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { release(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { release(block); }

// Read through ctypes by the sweep.
extern "C" {

// Restarts the count; the `fail`-th allocation from now on fails (0: none).
[[gnu::visibility("default")]] void vesk_probe_arm(long fail) {
    allocations = 0;
    fail_at = fail;
}

// Allocations since the last arm, the failed one included.
[[gnu::visibility("default")]] long vesk_probe_allocations() { return allocations.load(); }

// Blocks allocated and not yet released.
[[gnu::visibility("default")]] long vesk_probe_live() { return live.load(); }
}
