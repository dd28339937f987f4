#include "loads/result_memory.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "loads/container_walk.hpp"
#include "loads/number_sharing.hpp"

namespace vesk::loads {

namespace {

using namespace result_memory_detail;

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
          sharing_(scan.counts.numbers),
          total_(builder_tables(scan)) {}

    std::uint64_t total() const noexcept { return total_ + making_; }

    bool null(Value&) { return true; }
    bool boolean(bool, Value&) { return true; }
    bool int32(std::int32_t value, Value&) { return is_shared_int(value) || number(int32_key(value)); }
    bool uint32(std::uint32_t value, Value&) { return is_shared_int(value) || number(uint32_key(value)); }
    bool float32(std::uint32_t bits, Value&) { return number(float32_key(bits)); }

    bool text(const std::uint8_t* data, std::size_t size, Value&) {
        str(data, size);
        return true;
    }

    bool dict_text(std::uint32_t index, Value&) {
        if (!dict_made_[index]) {
            dict_made_[index] = true;
            const ScanText& text = scan_.dict[index];
            str(bytes_.data() + text.offset, text.length);
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
                str(bytes_.data() + field.name_offset, field.name_length);
            }
        }
        total_ += dict_bytes(definition.member_count, sizes_);
        return true;
    }
    bool set_member(Dict&, std::uint32_t, Value&&) { return true; }
    void end_dict(Dict&, Value&) {}

private:
    void str(const std::uint8_t* data, std::size_t size) {
        const TextBytes text = text_bytes(data, size, sizes_);
        total_ += text.str;
        making_ = std::max(making_, text.peak - text.str);
    }

    // A number's object, unless one made before is shared.
    bool number(std::uint64_t key) {
        if (sharing_.seen(key)) return true;
        total_ += sizes_.number;
        return true;
    }

    struct Nothing {};
    using Sharing = NumberSharing<Nothing>;

    std::span<const std::uint8_t> bytes_;
    const ContainerScan& scan_;
    const ObjectSizes& sizes_;
    std::vector<bool> dict_made_;
    std::vector<bool> name_made_;
    std::vector<bool> keys_made_;
    Sharing sharing_;
    std::uint64_t total_;
    std::uint64_t making_ = 0;  // the most a str takes while made, beyond itself
};

}  // namespace

TextBytes text_bytes(const std::uint8_t* text, std::size_t length, const ObjectSizes& sizes) noexcept {
    std::uint64_t any = 0;
    std::size_t i = 0;
    for (; i + 8 <= length; i += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, text + i, sizeof word);
        any |= word;
    }
    for (; i < length; ++i) any |= text[i];
    if ((any & 0x8080808080808080ull) == 0) {
        const std::uint64_t str = length <= 1 ? 0 : rounded(sizes.ascii_text + length + 1, sizes);
        return {str, str};
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
    const std::uint64_t width = widest >= 0xF0 ? kWidestCharacter : widest >= 0xC4 ? 2 : 1;
    const std::uint64_t str =
        characters == 1 && width == 1 ? 0 : rounded(sizes.wide_text + (characters + 1) * width, sizes);
    const std::uint64_t peak =
        rounded(sizes.wide_text + length + 1, sizes) + rounded(sizes.wide_text + (length + 1) * width, sizes);
    return {str, std::max(str, peak)};
}

std::uint64_t result_bytes(std::span<const std::uint8_t> bytes, const ContainerScan& scan, const ObjectSizes& sizes) {
    CostBuilder builder(bytes, scan, sizes);
    CostBuilder::Value value;
    ContainerWalk(bytes, scan, builder).build(value);
    return builder.total();
}

}  // namespace vesk::loads
