#include <algorithm>

#include "decode/block_readers.hpp"
#include "decode/utf8_text.hpp"
#include "error/format_message.hpp"
#include "format/byte_order.hpp"
#include "format/string_prefix.hpp"

namespace vesk {

namespace {

using Bytes = std::span<const std::uint8_t>;

VeskError fail(std::string message) { return VeskError::parse(std::move(message)); }

// Reads the string at `at` into `out`; returns the position after it.
Result<std::size_t> read_dictionary_string(Bytes block, std::size_t at, std::string& out) {
    const std::size_t remaining = block.size() - at;
    if (remaining == 0) return fail("Truncated dict string");
    const std::uint8_t first = block[at];
    // Unlike inline strings, the dictionary refuses every first byte the
    // writer never produces.
    if (!format::is_written_string_start(first)) {
        return fail(format_message("Invalid dict string encoding byte: 0x{}", hex_byte(first)));
    }
    const format::StringClass string_class = format::string_class_of(first);
    const std::size_t header = format::string_prefix_size(string_class);
    if (remaining < header) return fail(format_message("Truncated {} dict string", format::string_class_name(string_class)));
    const std::size_t length = format::prefixed_length(string_class, block.data() + at);
    if (remaining < header + length) return fail("Truncated dict string data");
    Status copied = copy_utf8_text(block.subspan(at + header, length), "in dict", out);
    if (!copied) return std::move(copied).error();
    return at + header + length;
}

}  // namespace

Result<std::vector<std::string>> read_dictionary_block(Bytes block) {
    std::vector<std::string> strings;
    const std::size_t size = block.size();
    if (size == 0) return strings;
    if (size < 4) return fail("Dict block too short for entry count");
    const std::size_t count = format::load_u32le(block.data());
    // The count is bounded only by 32 bits; every string takes at least one
    // byte, so a count beyond the block fails before it costs memory.
    strings.reserve(std::min(count, size - 4));
    std::size_t position = 4;
    for (std::size_t i = 0; i < count; ++i) {
        Result<std::size_t> next = read_dictionary_string(block, position, strings.emplace_back());
        if (!next) return std::move(next).error();
        position = *next;
    }
    return strings;
}

}  // namespace vesk
