#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <vector>

namespace vesk::loads {

// A number's key: its bits, and its type above them, so that 0 is never a
// key. A Uint32 below 2**31 is the same int as the Int32 of its bits.
inline constexpr std::uint64_t int32_key(std::int32_t value) noexcept {
    return std::uint64_t{1} << 32 | static_cast<std::uint32_t>(value);
}
inline constexpr std::uint64_t uint32_key(std::uint32_t value) noexcept {
    return value <= 0x7FFFFFFFu ? int32_key(static_cast<std::int32_t>(value)) : std::uint64_t{2} << 32 | value;
}
inline constexpr std::uint64_t float32_key(std::uint32_t bits) noexcept { return std::uint64_t{3} << 32 | bits; }

// Which numbers of a value share one object: documents of numbers often
// repeat them (coordinates, counters, ids), and each hit saves an allocation
// and the memory of an object. Direct-mapped and small, so a miss only
// replaces the entry. Where values hardly repeat the table would only cost
// cache misses, so it is dropped after a trial that finds few hits. The
// module keeps an object in each entry (`Object`), the memory estimate
// nothing, so that it counts an object where the module makes one.
template <class Object>
class NumberSharing {
public:
    struct Entry {
        std::uint64_t key = 0;
        Object object{};
    };

    enum class Look {
        Hit,    // the entry holds the number's object
        Miss,   // a new object, to be kept in the entry with the number's key
        Ended,  // a new object, not kept: the trial found too few hits, and the entries go
        Off,    // a new object, not kept
    };

    explicit NumberSharing(std::uint64_t numbers) {
        if (numbers < kMinNumbers) return;
        const std::size_t size = std::min<std::size_t>(kMaxEntries, std::bit_ceil(numbers));
        entries_.resize(size);
        shift_ = 64 - static_cast<unsigned>(std::countr_zero(size));
    }

    // Where the object of the number of `key` is, or is to be kept.
    Look look(std::uint64_t key, Entry*& entry) {
        if (entries_.empty()) return Look::Off;
        entry = &entries_[(key * 0x9E3779B97F4A7C15ull) >> shift_];
        if (entry->key == key) {
            ++hits_;
            return Look::Hit;
        }
        if (++misses_ == kTrialMisses && hits_ < kTrialMinHits) return Look::Ended;
        return Look::Miss;
    }

    // For a count that keeps no objects: whether the number of `key` shares
    // the object of one met before; a miss keeps its key, as look()'s caller
    // keeps an object.
    bool seen(std::uint64_t key) {
        Entry* entry = nullptr;
        switch (look(key, entry)) {
            case Look::Hit: return true;
            case Look::Miss: entry->key = key; return false;
            case Look::Ended: drop(); return false;
            case Look::Off: return false;
        }
        return false;
    }

    // The entries, for the module to release their objects; then drop().
    std::vector<Entry>& entries() noexcept { return entries_; }
    void drop() noexcept { entries_ = {}; }

private:
    // 16 KiB of the module's entries, so the table stays in the first-level
    // data cache; on the corpus's number documents four times as many
    // entries catch under a tenth more.
    static constexpr std::size_t kMaxEntries = 1024;
    // Fewer numbers than this do not pay for clearing the table.
    static constexpr std::uint64_t kMinNumbers = 64;
    // After this many misses, fewer hits than this end the sharing.
    static constexpr std::uint64_t kTrialMisses = 2048;
    static constexpr std::uint64_t kTrialMinHits = 512;

    std::vector<Entry> entries_;
    unsigned shift_ = 64;
    std::uint64_t hits_ = 0;
    std::uint64_t misses_ = 0;
};

}  // namespace vesk::loads
