// fuzz-container-seeds: tests/data/json-test-suite/test_parsing
// Memory amplification: reads arbitrary bytes as a container the way loads
// does, with every heap block counted, and holds the peak against what the
// memory guard sizes before allocating. The scan's tables may take no more
// than scan_table_bytes says; the value, built by a stand-in for the module's
// builder that makes a heap block of each object's size where the module
// makes the object, no more than 1.5 times the estimate the guard refuses on
// (and no less than two thirds of it once it is large), and the quick bounds
// must hold the estimate between them. A container the guard would refuse
// is not built, as loads builds nothing of it.

#include <malloc.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <span>
#include <utility>
#include <vector>

#include "loads/container_scan.hpp"
#include "loads/container_walk.hpp"
#include "loads/number_sharing.hpp"
#include "loads/read_fault.hpp"
#include "loads/result_memory.hpp"

namespace {

// Every block of operator new, counted at the size the allocator gives.
std::uint64_t live = 0;
std::uint64_t peak = 0;

void* counted(void* block) {
    if (block == nullptr) throw std::bad_alloc();
    live += malloc_usable_size(block);
    peak = std::max(peak, live);
    return block;
}

void uncounted(void* block) noexcept {
    if (block == nullptr) return;
    live -= malloc_usable_size(block);
    std::free(block);
}

// The peak of what `work` allocates beyond what was held before it.
template <class Work>
std::uint64_t peak_of(Work&& work) {
    const std::uint64_t before = live;
    peak = live;
    work();
    return peak - before;
}

// The module's objects on a 64-bit CPython 3.12 (the defaults).
constexpr vesk::loads::ObjectSizes kSizes{};

// The guard's limits: below kUnchecked it asks nothing, above it allows at
// most kMaxGrowth bytes per byte of container.
constexpr std::uint64_t kUnchecked = std::uint64_t{64} << 20;
constexpr std::uint64_t kMaxGrowth = 1024;
// Beyond what the guard allows for small inputs: this keeps one run well
// inside the fuzzer's memory limit.
constexpr std::size_t kMaxInputSize = 4096;
// Small values are mostly the builder's tables, whose vectors of flags and
// of a few entries round up; the estimate is held to the measure beyond
// this, and from below only for values above kLowerBoundFrom.
constexpr std::uint64_t kSlack = 4096;
constexpr std::uint64_t kLowerBoundFrom = 1 << 20;

[[noreturn]] void fail(const char* what, std::uint64_t measured, std::uint64_t promised) {
    std::fprintf(stderr, "fuzz_memory: %s: measured %llu bytes, promised %llu\n", what,
                 static_cast<unsigned long long>(measured), static_cast<unsigned long long>(promised));
    std::abort();
}

// One object of the module: a heap block of the object's size, none for
// the interpreter's shared ones. A list's or dict's block holds the values
// it holds (a list's slots, which the module keeps in a block of their own,
// are counted in it), so a value costs its slot and nothing more.
class Value {
public:
    Value() = default;
    Value(Value&& other) noexcept : block_(std::exchange(other.block_, nullptr)) {}
    Value& operator=(Value&& other) noexcept {
        std::swap(block_, other.block_);
        return *this;
    }
    ~Value() {
        if (block_ == nullptr) return;
        if (Items* items = held()) {
            for (std::uint32_t i = 0; i < items->count; ++i) items->at(i).~Value();
        }
        ::operator delete(untagged());
    }

    static Value object(std::uint64_t size) {
        Value value;
        if (size > 0) value.block_ = ::operator new(size);
        return value;
    }

    // A list or dict of `size` bytes holding `count` values, empty.
    static Value holding(std::uint64_t size, std::uint32_t count) {
        Value value;
        void* block = ::operator new(std::max<std::uint64_t>(size, sizeof(Items) + count * sizeof(Value)));
        Items* items = new (block) Items{count};
        for (std::uint32_t i = 0; i < count; ++i) new (&items->at(i)) Value();
        value.block_ = reinterpret_cast<void*>(reinterpret_cast<std::uintptr_t>(block) | kHolding);
        return value;
    }

    Value& operator[](std::uint32_t i) { return held()->at(i); }

private:
    static constexpr std::uintptr_t kHolding = 1;
    struct Items {
        std::uint32_t count = 0;
        std::uint32_t padding = 0;
        Value& at(std::uint32_t i) { return reinterpret_cast<Value*>(this + 1)[i]; }
    };

    void* untagged() const { return reinterpret_cast<void*>(reinterpret_cast<std::uintptr_t>(block_) & ~kHolding); }
    Items* held() const {
        return reinterpret_cast<std::uintptr_t>(block_) & kHolding ? static_cast<Items*>(untagged()) : nullptr;
    }

    void* block_ = nullptr;
};

// Makes, where ObjectBuilder makes a Python object, a block of that
// object's size; shares what it shares: small ints, one str per dictionary
// string, one key per field name, a number's object while the module's
// cache holds it.
class BlockBuilder {
public:
    using Value = ::Value;
    struct Dict {
        ::Value value;
        std::uint32_t filled = 0;
    };
    using List = ::Value;

    BlockBuilder(std::span<const std::uint8_t> bytes, const vesk::loads::ContainerScan& scan)
        : bytes_(bytes),
          scan_(scan),
          strings_(scan.dict.size()),
          strings_made_(scan.dict.size()),
          keys_(scan.fields.size()),
          keys_made_(scan.definitions.size()),
          keys_made_by_name_(scan.fields.size()) {
        containers_.reserve(scan.counts.arrays + scan.counts.objects + 1);
    }

    bool null(Value&) { return true; }
    bool boolean(bool, Value&) { return true; }
    bool int32(std::int32_t value, Value& out) {
        return vesk::loads::is_shared_int(value) || number(vesk::loads::int32_key(value), out);
    }
    bool uint32(std::uint32_t value, Value& out) {
        return value <= 256 || number(vesk::loads::uint32_key(value), out);
    }
    bool float32(std::uint32_t bits, Value& out) { return number(vesk::loads::float32_key(bits), out); }

    bool text(const std::uint8_t* data, std::size_t size, Value& out) {
        vesk::loads::ReadFault fault;
        if (vesk::loads::find_text_fault(std::span(data, size), vesk::loads::TextPlace::Value,
                                  static_cast<std::size_t>(data - bytes_.data()), fault)) {
            return false;
        }
        out = str(data, size);
        return true;
    }

    bool dict_text(std::uint32_t index, Value&) {
        if (!strings_made_[index]) {
            strings_made_[index] = true;
            const vesk::loads::ScanText& text = scan_.dict[index];
            strings_[index] = str(bytes_.data() + text.offset, text.length);
        }
        return true;
    }

    bool begin_list(std::size_t count, List& list) {
        list = Value::holding(kSizes.list + count * kSizes.slot, static_cast<std::uint32_t>(count));
        containers_.push_back(nullptr);
        return true;
    }
    void set_item(List& list, std::size_t position, Value&& item) {
        list[static_cast<std::uint32_t>(position)] = std::move(item);
    }
    void end_list(List& list, Value& out) { out = std::move(list); }

    bool begin_dict(std::uint32_t position, Dict& dict) {
        const vesk::loads::ScanDefinition& definition = scan_.definitions[position];
        if (!keys_made_[position]) {
            keys_made_[position] = true;
            for (std::uint32_t k = 0; k < definition.field_count; ++k) {
                const vesk::loads::ScanField& field = scan_.fields[definition.key_field + k];
                if (keys_made_by_name_[field.first_of_name]) continue;
                keys_made_by_name_[field.first_of_name] = true;
                keys_[field.first_of_name] = str(bytes_.data() + field.name_offset, field.name_length);
            }
        }
        dict.value = Value::holding(vesk::loads::dict_bytes(definition.member_count, kSizes), definition.member_count);
        containers_.push_back(nullptr);
        return true;
    }
    bool set_member(Dict& dict, std::uint32_t, Value&& value) {
        dict.value[dict.filled++] = std::move(value);
        return true;
    }
    void end_dict(Dict& dict, Value& out) { out = std::move(dict.value); }

private:
    // An object per number, but for those the module's cache shares.
    bool number(std::uint64_t key, Value& out) {
        if (sharing_.seen(key)) return true;
        out = Value::object(kSizes.number);
        return true;
    }

    // A str of the text (valid UTF-8), as the interpreter's decoder makes
    // it: ASCII straight into its str; other text first into a buffer of a
    // character per byte, then into a second as wide as its widest
    // character, both held until the str is cut to its length. Empty text
    // and one character below U+0100 are shared.
    static Value str(const std::uint8_t* data, std::size_t size) {
        std::size_t characters = 0;
        std::uint32_t widest = 0;
        for (std::size_t i = 0; i < size; ++characters) {
            const std::uint8_t lead = data[i];
            const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
            std::uint32_t code = length == 1 ? lead : lead & (0x7F >> length);
            for (std::size_t k = 1; k < length; ++k) code = code << 6 | (data[i + k] & 0x3F);
            widest = std::max(widest, code);
            i += length;
        }
        if (characters == 0 || (characters == 1 && widest < 0x100)) return Value();
        if (widest < 0x80) return Value::object(kSizes.ascii_text + size + 1);
        const std::uint64_t width = widest < 0x100 ? 1 : widest < 0x10000 ? 2 : 4;
        {
            const Value bytewise = Value::object(kSizes.wide_text + size + 1);
            const Value widened = Value::object(kSizes.wide_text + (size + 1) * width);
        }
        return Value::object(kSizes.wide_text + (characters + 1) * width);
    }

    using Sharing = vesk::loads::NumberSharing<const void*>;

    std::span<const std::uint8_t> bytes_;
    const vesk::loads::ContainerScan& scan_;
    Sharing sharing_{scan_.counts.numbers};
    std::vector<Value> strings_;
    std::vector<bool> strings_made_;
    std::vector<Value> keys_;
    std::vector<bool> keys_made_;
    std::vector<bool> keys_made_by_name_;
    // The module notes every list and dict, to hand them to the collector.
    std::vector<const void*> containers_;
};

}  // namespace

void* operator new(std::size_t size) { return counted(std::malloc(size == 0 ? 1 : size)); }
void* operator new[](std::size_t size) { return counted(std::malloc(size == 0 ? 1 : size)); }
void* operator new(std::size_t size, std::align_val_t alignment) {
    const auto align = static_cast<std::size_t>(alignment);
    return counted(std::aligned_alloc(align, (std::max<std::size_t>(size, 1) + align - 1) / align * align));
}
void* operator new[](std::size_t size, std::align_val_t alignment) { return operator new(size, alignment); }
// libFuzzer's own blocks come through these too: every form of new and
// delete must be ours, or a block would go back to another allocator.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return operator new(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t& nothrow) noexcept { return operator new(size, nothrow); }
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    try {
        return operator new(size, alignment);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t& nothrow) noexcept {
    return operator new(size, alignment, nothrow);
}
void operator delete(void* block, const std::nothrow_t&) noexcept { uncounted(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { uncounted(block); }
void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept { uncounted(block); }
void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept { uncounted(block); }
void operator delete(void* block) noexcept { uncounted(block); }
void operator delete[](void* block) noexcept { uncounted(block); }
void operator delete(void* block, std::size_t) noexcept { uncounted(block); }
void operator delete[](void* block, std::size_t) noexcept { uncounted(block); }
void operator delete(void* block, std::align_val_t) noexcept { uncounted(block); }
void operator delete[](void* block, std::align_val_t) noexcept { uncounted(block); }
void operator delete(void* block, std::size_t, std::align_val_t) noexcept { uncounted(block); }
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept { uncounted(block); }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > kMaxInputSize) return -1;
    const std::span<const std::uint8_t> bytes(data, size);
    const std::uint64_t allowed = std::max(kUnchecked, kMaxGrowth * size);
    const std::uint64_t tables = vesk::loads::scan_table_bytes(bytes);
    if (tables > allowed) return 0;
    std::optional<vesk::loads::ContainerScan> scan;
    const std::uint64_t scanned = peak_of([&] { scan.emplace(vesk::loads::scan_container(bytes)); });
    if (scanned > tables) fail("the scan's tables", scanned, tables);
    if (scan->fault()) return 0;

    const std::uint64_t value = vesk::loads::result_bytes(bytes, *scan, kSizes);
    const vesk::loads::MemoryBounds bounds = vesk::loads::result_bounds(*scan, kSizes);
    if (value < bounds.low) fail("the estimate below its lower bound", value, bounds.low);
    if (value > bounds.high) fail("the estimate above its upper bound", value, bounds.high);
    if (tables + value > allowed) return 0;
    const std::uint64_t built = peak_of([&] {
        BlockBuilder builder(bytes, *scan);
        Value out;
        vesk::loads::ContainerWalk(bytes, *scan, builder).build(out);
    });
    if (2 * built > 3 * value + kSlack) fail("building the value", built, value);
    if (value >= kLowerBoundFrom && 3 * built < 2 * value) fail("the estimate of the value, over", built, value);
    return 0;
}
