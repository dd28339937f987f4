#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace vesk {

// Open-addressing hash table (linear probing) from a text to a small value.
// The table stores views only: the owner keeps the texts alive (a TextArena
// in the compiler). The caller computes the hash once with hash_text and
// passes it to every lookup, so one text is hashed once however many tables
// it visits, and a lookup never allocates.
template <class Value>
class TextTable {
public:
    std::size_t size() const noexcept { return count_; }

    struct Entry {
        std::uint64_t hash = 0;  // 0: free slot (hash_text never yields 0)
        const char* data = nullptr;
        std::size_t size = 0;
        Value value{};

        std::string_view text() const noexcept { return {data, size}; }
    };

    const Entry* find(std::string_view text, std::uint64_t hash) const noexcept {
        if (slots_.empty()) return nullptr;
        for (std::size_t at = hash & mask_;; at = (at + 1) & mask_) {
            const Entry& slot = slots_[at];
            if (slot.hash == 0) return nullptr;
            if (slot.hash == hash && slot.size == text.size() &&
                (text.empty() || std::memcmp(slot.data, text.data(), text.size()) == 0)) {
                return &slot;
            }
        }
    }

    // `text` must not be in the table yet and must outlive it.
    void insert_new(std::string_view text, std::uint64_t hash, Value value) {
        if ((count_ + 1) * 4 > slots_.size() * 3) grow();
        place(Entry{hash, text.data(), text.size(), value});
        ++count_;
    }

private:
    void place(const Entry& entry) noexcept {
        std::size_t at = entry.hash & mask_;
        while (slots_[at].hash != 0) at = (at + 1) & mask_;
        slots_[at] = entry;
    }

    void grow() {
        std::vector<Entry> old = std::move(slots_);
        std::size_t capacity = old.empty() ? 64 : old.size() * 2;
        slots_.assign(capacity, Entry{});
        mask_ = capacity - 1;
        for (const Entry& entry : old) {
            if (entry.hash != 0) place(entry);
        }
    }

    std::vector<Entry> slots_;
    std::size_t mask_ = 0;
    std::size_t count_ = 0;
};

}  // namespace vesk
