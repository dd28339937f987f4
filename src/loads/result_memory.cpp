#include "loads/result_memory.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "loads/container_walk.hpp"

namespace vesk::loads {

namespace {

constexpr std::uint64_t kSmallestDictSlots = 8;
constexpr std::uint64_t kSmallestDictMembers = kSmallestDictSlots * 2 / 3;
constexpr std::uint64_t kLongestTextName = 255;
constexpr std::uint64_t kWidestCharacter = 4;

std::uint64_t rounded(std::uint64_t bytes, const ObjectSizes& sizes) noexcept {
    return (bytes + sizes.granule - 1) / sizes.granule * sizes.granule;
}

std::uint64_t index_width(std::uint64_t slots) noexcept {
    if (slots <= 0x80) return 1;
    if (slots <= 0x8000) return 2;
    return 4;
}

// The builder's own tables: a key per field, a str per dictionary string, a
// flag per definition and a note of every list and dict it makes.
std::uint64_t builder_tables(const ContainerScan& scan) noexcept {
    const ScanCounts& counts = scan.counts;
    return (scan.fields.size() + scan.dict.size() + counts.arrays + counts.objects + 1) * sizeof(void*) +
           scan.definitions.size();
}

// A ContainerWalk builder that adds up what ObjectBuilder would make.
class CostBuilder {
public:
    struct Value {};
    using List = Value;
    using Dict = Value;

    CostBuilder(std::span<const std::uint8_t> bytes, const ContainerScan& scan, const ObjectSizes& sizes)
        : bytes_(bytes),
          scan_(scan),
          sizes_(sizes),
          dict_made_(scan.dict.size()),
          name_made_(scan.fields.size()),
          keys_made_(scan.definitions.size()),
          total_(builder_tables(scan)) {}

    std::uint64_t total() const noexcept { return total_; }

    bool null(Value&) { return true; }
    bool boolean(bool, Value&) { return true; }
    bool int32(std::int32_t value, Value&) { return number(!is_shared_int(value)); }
    bool uint32(std::uint32_t value, Value&) { return number(!is_shared_int(value)); }
    bool float32(std::uint32_t, Value&) { return number(true); }

    bool text(const std::uint8_t* data, std::size_t size, Value&) {
        total_ += text_bytes(data, size, sizes_);
        return true;
    }

    bool dict_text(std::uint32_t index, Value&) {
        if (!dict_made_[index]) {
            dict_made_[index] = true;
            const ScanText& text = scan_.dict[index];
            total_ += text_bytes(bytes_.data() + text.offset, text.length, sizes_);
        }
        return true;
    }

    bool begin_list(std::size_t count, List&) {
        total_ += rounded(sizes_.list, sizes_) + count * sizes_.slot;
        return true;
    }
    void set_item(List&, std::size_t, Value&&) {}
    void end_list(List&, Value&) {}

    bool begin_dict(std::uint32_t position, Dict&) {
        const ScanDefinition& definition = scan_.definitions[position];
        if (!keys_made_[position]) {
            keys_made_[position] = true;
            for (std::uint32_t k = 0; k < definition.field_count; ++k) {
                const ScanField& field = scan_.fields[definition.key_field + k];
                if (name_made_[field.first_of_name]) continue;
                name_made_[field.first_of_name] = true;
                total_ += text_bytes(bytes_.data() + field.name_offset, field.name_length, sizes_);
            }
        }
        total_ += dict_bytes(definition.member_count, sizes_);
        return true;
    }
    bool set_member(Dict&, std::uint32_t, Value&&) { return true; }
    void end_dict(Dict&, Value&) {}

private:
    bool number(bool boxed) {
        if (boxed) total_ += sizes_.number;
        return true;
    }

    std::span<const std::uint8_t> bytes_;
    const ContainerScan& scan_;
    const ObjectSizes& sizes_;
    std::vector<bool> dict_made_;
    std::vector<bool> name_made_;
    std::vector<bool> keys_made_;
    std::uint64_t total_;
};

}  // namespace

std::uint64_t dict_bytes(std::uint64_t members, const ObjectSizes& sizes) noexcept {
    const std::uint64_t dict = rounded(sizes.dict, sizes);
    if (members == 0) return dict;
    const std::uint64_t slots =
        members <= kSmallestDictMembers ? kSmallestDictSlots : std::bit_ceil((members * 3 + 1) / 2);
    const std::uint64_t usable = slots * 2 / 3;
    return dict + rounded(sizes.dict_table + slots * index_width(slots) + usable * sizes.dict_entry, sizes);
}

std::uint64_t text_bytes(const std::uint8_t* text, std::size_t length, const ObjectSizes& sizes) noexcept {
    std::uint64_t any = 0;
    std::size_t i = 0;
    for (; i + 8 <= length; i += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, text + i, sizeof word);
        any |= word;
    }
    for (; i < length; ++i) any |= text[i];
    if ((any & 0x8080808080808080ull) == 0) {
        return length <= 1 ? 0 : rounded(sizes.ascii_text + length + 1, sizes);
    }
    // A character per byte that does not continue one; its width follows
    // from the largest leading byte: 0xC4 starts U+0100, 0xF0 U+10000.
    std::uint64_t characters = 0;
    std::uint8_t widest = 0;
    for (i = 0; i < length; ++i) {
        const std::uint8_t byte = text[i];
        if ((byte & 0xC0) != 0x80) ++characters;
        widest = std::max(widest, byte);
    }
    const std::uint64_t width = widest >= 0xF0 ? 4 : widest >= 0xC4 ? 2 : 1;
    if (characters == 1 && width == 1) return 0;
    return rounded(sizes.wide_text + (characters + 1) * width, sizes);
}

MemoryBounds result_bounds(const ContainerScan& scan, const ObjectSizes& sizes) noexcept {
    const ScanCounts& counts = scan.counts;
    // Every value but the whole takes a slot of a list or a dict entry, and
    // every list and dict its object.
    const std::uint64_t low = builder_tables(scan) + counts.values * sizes.slot +
                              counts.arrays * rounded(sizes.list, sizes) + counts.objects * rounded(sizes.dict, sizes);
    // A dict's table holds at most three slots and two entries per member
    // beyond the smallest; a str at most four bytes per byte of its text.
    const std::uint64_t per_member = 3 * 4 + 2 * sizes.dict_entry;
    const std::uint64_t per_text = std::max(sizes.ascii_text, sizes.wide_text) + sizes.granule + kWidestCharacter;
    const std::uint64_t high = low + rounded(sizes.list, sizes) +
                               counts.objects * (dict_bytes(kSmallestDictMembers, sizes) - rounded(sizes.dict, sizes)) +
                               counts.members * per_member + counts.numbers * sizes.number +
                               (counts.inline_strings + scan.dict.size() + scan.fields.size()) * per_text +
                               (counts.inline_bytes + counts.dict_bytes + scan.fields.size() * kLongestTextName) *
                                   kWidestCharacter;
    return {low, high};
}

std::uint64_t result_bytes(std::span<const std::uint8_t> bytes, const ContainerScan& scan, const ObjectSizes& sizes) {
    CostBuilder builder(bytes, scan, sizes);
    CostBuilder::Value value;
    ContainerWalk(bytes, scan, builder).build(value);
    return builder.total();
}

}  // namespace vesk::loads
