#include "emit/string_log.hpp"

#include <algorithm>
#include <bit>

#include "tables/index_slot.hpp"
#include "tables/text_hash.hpp"

namespace vesk::emit {

namespace {

// A small value's places, in the container's own memory; past them, those of
// a value of some size, a few thousand strings: room for them at once spares
// the copies of growing there step by step.
constexpr std::size_t kSmallPlaces = 32;
constexpr std::size_t kFirstPlaces = 1024;
constexpr std::size_t kFirstLongTexts = 32;

// The blocks of a long text's sample, and how many long texts may share
// their sample with another and prove different before all are hashed
// whole: each such comparison may read a whole text.
constexpr std::size_t kSampleBlock = StringLog::kShortestLongText / 3;
constexpr std::uint32_t kLongTextsComparedInVain = 16;

// The smallest table of three times as many slots as `count`: at most a
// third full. In a value whose strings are mostly new (ids, URLs), a fuller
// table has more of them find their first slot taken, which the processor
// guesses wrong as often as not: at half full, github_events spent half
// again as long in the gather.
std::size_t slot_count_for(std::size_t count) noexcept {
    return std::bit_ceil(std::max<std::size_t>(3 * count, 16));
}

}  // namespace

StringLog::StringLog(std::uint64_t seed, std::pmr::memory_resource* memory)
    : memory_(memory), seed_(seed), places_(memory), long_texts_(seed, memory) {
    places_.reserve(kSmallPlaces);
}

void StringLog::make_room() { tables::grow_full_table(places_, kFirstPlaces); }

std::uint64_t StringLog::long_text_hash(std::string_view text) const noexcept {
    if (long_texts_hashed_whole_) return tables::hash_text(text, seed_);
    char sample[8 + 3 * kSampleBlock];
    const std::uint64_t length = text.size();
    std::memcpy(sample, &length, 8);
    std::memcpy(sample + 8, text.data(), kSampleBlock);
    std::memcpy(sample + 8 + kSampleBlock, text.data() + (text.size() - kSampleBlock) / 2, kSampleBlock);
    std::memcpy(sample + 8 + 2 * kSampleBlock, text.data() + text.size() - kSampleBlock, kSampleBlock);
    return tables::hash_text({sample, sizeof sample}, seed_);
}

void StringLog::hash_long_texts_whole() {
    long_texts_hashed_whole_ = true;
    tables::StringTable whole(seed_, memory_);
    whole.reserve(long_texts_.size());
    // All different, so each keeps its number.
    for (std::uint32_t id = 0; id < long_texts_.size(); ++id) {
        const std::string_view text = long_texts_.text(id);
        whole.intern(text, tables::hash_text(text, seed_));
    }
    long_texts_ = std::move(whole);
}

StringLog::LongText StringLog::intern_long(std::string_view text) {
    const std::uint64_t hash = long_text_hash(text);
    // Room for a few dozen from the container's own memory; a text with
    // more grows the table.
    if (long_texts_.size() == 0) long_texts_.reserve(kFirstLongTexts);
    std::uint32_t in_vain = 0;
    const tables::StringTable::Interned seen = long_texts_.intern_where(text, hash, [text, &in_vain](const char* kept) {
        const bool same = std::memcmp(kept, text.data(), text.size()) == 0;
        in_vain += same ? 0 : 1;
        return same;
    });
    if (in_vain != 0) [[unlikely]] {
        long_texts_compared_in_vain_ += in_vain;
        if (long_texts_compared_in_vain_ > kLongTextsComparedInVain && !long_texts_hashed_whole_) {
            hash_long_texts_whole();
        }
    }
    return LongText{long_text(seen.id), static_cast<std::uint32_t>(hash), seen.added};
}

std::size_t StringLog::marked_encoding_size(const Place& place) noexcept {
    if (in_place(place.size)) return format::string_encoding_size(place.size & ~kInPlace);
    std::uint64_t length = 0;
    std::memcpy(&length, place.at + 1, 8);
    return kUnencodablePrefixSize + length;
}

std::size_t StringLog::gather_dictionary() {
    // Linear probing in IndexSlots. The entries are the places themselves,
    // moved to the front as they are found to be first: an entry's place is
    // never one still to be read.
    const std::size_t capacity = slot_count_for(places_.size());
    const std::uint32_t mask = tables::IndexSlot::mask_for(capacity);
    tables::TableVector<std::uint32_t> slots(capacity, 0, memory_);
    Place* const places = places_.data();
    std::uint32_t count = 0;
    std::size_t bytes = 0;
    for (std::size_t next = 0; next < places_.size(); ++next) {
        const Place place = places[next];
        // Texts left in place have a place only where they are new.
        if (in_place(place.size)) [[unlikely]] {
            places[count++] = place;
            bytes += encoding_size(place);
            continue;
        }
        for (std::uint32_t at = place.hash & mask;; at = (at + 1) & mask) {
            const std::uint32_t slot = slots[at];
            if (slot == 0) {
                slots[at] = tables::IndexSlot::make(place.hash, mask, count);
                places[count++] = place;
                bytes += encoding_size(place);
                break;
            }
            if (!tables::IndexSlot::may_hold(slot, place.hash, mask)) continue;
            const Place& entry = places[tables::IndexSlot::id(slot, mask)];
            if (entry.size == place.size) {
                const std::size_t size = compared_size(place);
                if (size == compared_size(entry) && tables::same_bytes_in_block(reinterpret_cast<const char*>(entry.at),
                                                                        reinterpret_cast<const char*>(place.at), size)) {
                    break;
                }
            }
        }
    }
    places_.resize(count);
    return bytes;
}

}  // namespace vesk::emit
