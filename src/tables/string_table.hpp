#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "tables/index_slot.hpp"
#include "tables/table_memory.hpp"
#include "tables/text_hash.hpp"

namespace vesk::tables {

// Distinct texts, numbered 0, 1, 2, ... in the order they are first met. The
// table keeps views only, so the texts must outlive it. Its hashes are seeded
// per table (see hash_text): input cannot be crafted to make texts collide.
// Texts are hashed by hash_text (through hash_text_padded, which spares a
// short text the call); a reader holding a short text in registers hashes
// it from there (hash_padded_words, with seed()).
class StringTable {
public:
    explicit StringTable(std::uint64_t seed,
                         std::pmr::memory_resource* memory = heap_memory()) noexcept
        : entries_(memory), slots_(memory), seed_(seed) {}

    struct Interned {
        std::uint32_t id;
        bool added;  // the text was new
    };

    std::uint64_t hash(std::string_view text) const noexcept { return hash_text_padded(text, seed_); }
    std::uint64_t seed() const noexcept { return seed_; }

    // `text` is shorter than 4 GiB, `hash` is hash(text), and the table holds
    // fewer than 2^32 - 1 texts.
    Interned intern(std::string_view text, std::uint64_t hash) {
        return intern_where(text, hash, [text](const char* kept) { return same_bytes(kept, text.data(), text.size()); });
    }
    Interned intern(std::string_view text) { return intern(text, hash(text)); }
    // The same for a caller that keeps some texts in a form of its own:
    // `kept` is what the table keeps when the text is new, with the text's
    // size, and `same(data)` says whether a text kept at `data`, of that
    // size, is this text.
    template <class Same>
    Interned intern_where(std::string_view kept, std::uint64_t hash, Same&& same);

    // Points a text's entry at another copy of the same bytes, which must
    // outlive the table: a caller can intern a passing view and keep a copy
    // only of texts that turn out to be new.
    void replace_text(std::uint32_t id, std::string_view copy) noexcept { entries_[id].data = copy.data(); }

    std::uint32_t size() const noexcept { return static_cast<std::uint32_t>(entries_.size()); }
    // Room for `count` texts without growing.
    void reserve(std::size_t count);
    // Room for the records of `count` texts, so that they need not move;
    // the index still grows as texts come.
    void reserve_texts(std::size_t count) { entries_.reserve(count); }
    std::string_view text(std::uint32_t id) const noexcept { return {entries_[id].data, entries_[id].size}; }

private:
    struct Entry {
        const char* data;
        std::uint32_t size;
        std::uint32_t hash;  // the low half of the text's hash, all the index uses
    };

    void grow();
    void resize_slots(std::size_t capacity);

    TableVector<Entry> entries_;
    // IndexSlots, four bytes each: on a large text the index would otherwise
    // take as much memory as the texts' records.
    TableVector<std::uint32_t> slots_;
    std::uint32_t mask_ = 0;
    std::uint64_t seed_;
};

// Inline: the compilers intern every string they meet, most of them in a
// loop of their own.
template <class Same>
inline StringTable::Interned StringTable::intern_where(std::string_view kept, std::uint64_t hash, Same&& same) {
    if ((entries_.size() + 1) * 2 > slots_.size()) grow();
    const auto low = static_cast<std::uint32_t>(hash);
    for (std::uint32_t at = low & mask_;; at = (at + 1) & mask_) {
        const std::uint32_t slot = slots_[at];
        if (slot == 0) {
            const auto id = static_cast<std::uint32_t>(entries_.size());
            entries_.push_back(Entry{kept.data(), static_cast<std::uint32_t>(kept.size()), low});
            slots_[at] = IndexSlot::make(low, mask_, id);
            return {id, true};
        }
        if (!IndexSlot::may_hold(slot, low, mask_)) continue;
        const std::uint32_t id = IndexSlot::id(slot, mask_);
        const Entry& entry = entries_[id];
        if (entry.size == kept.size() && same(entry.data)) return {id, false};
    }
}

// Where each occurrence of a string goes, in the order a compiler writes
// them: the first stays inline, the second enters the dictionary, and from
// then on every occurrence refers to that entry. Dictionary indices are thus
// handed out in the order strings reach their second occurrence.
class DictionaryNumbering {
public:
    // Strings are the ids of a StringTable. Its states are kept in
    // `storage`, whose contents do not matter, and its entries in the same
    // memory.
    DictionaryNumbering(std::size_t string_count, TableVector<std::uint32_t>&& storage)
        : states_(std::move(storage)), entries_(states_.get_allocator()) {
        states_.assign(string_count, 0);
    }

    // Nothing for the first occurrence (write it inline), else the index of
    // the dictionary entry to refer to.
    std::optional<std::uint32_t> occurrence(std::uint32_t string) {
        std::uint32_t& state = states_[string];
        if (state == 0) {
            state = 1;
            return std::nullopt;
        }
        if (state == 1) {
            state = static_cast<std::uint32_t>(entries_.size()) + 2;
            entries_.push_back(string);
        }
        return state - 2;
    }

    // The strings of the dictionary, by index.
    std::span<const std::uint32_t> entries() const noexcept { return entries_; }

private:
    // By string: 0 not met yet, 1 met once, else its dictionary index + 2.
    TableVector<std::uint32_t> states_;
    TableVector<std::uint32_t> entries_;
};

}  // namespace vesk::tables
