#include "loads/utf8_fault.hpp"

#include <cstring>

#include "error/format_message.hpp"
#include "format/utf8.hpp"

namespace vesk::loads {

namespace {

constexpr std::uint64_t kHighBits = 0x8080808080808080ull;

// Skips the run of ASCII bytes starting at `at`, eight bytes per step while
// they last. Most text in real documents is plain ASCII.
std::size_t skip_ascii(const std::uint8_t* data, std::size_t size, std::size_t at) noexcept {
    while (size - at >= 8) {
        std::uint64_t word;
        std::memcpy(&word, data + at, sizeof word);
        if ((word & kHighBits) != 0) break;
        at += 8;
    }
    while (at < size && data[at] < 0x80) ++at;
    return at;
}

}  // namespace

std::optional<Utf8Fault> find_utf8_fault(std::span<const std::uint8_t> text) noexcept {
    const std::uint8_t* data = text.data();
    const std::size_t size = text.size();
    std::size_t at = 0;
    while (at < size) {
        const std::uint8_t lead = data[at];
        if (lead < 0x80) {
            at = skip_ascii(data, size, at);
            continue;
        }
        const format::Utf8Sequence sequence = format::read_utf8_sequence(data + at, data + size);
        if (sequence.width == 0) return Utf8Fault{at, sequence.truncated ? 0 : sequence.prefix};
        at += sequence.width;
    }
    return std::nullopt;
}

std::string describe_utf8_fault(const Utf8Fault& fault) {
    if (fault.incomplete()) return format_message("incomplete utf-8 byte sequence from index {}", fault.index);
    return format_message("invalid utf-8 sequence of {} bytes from index {}", fault.length, fault.index);
}

}  // namespace vesk::loads
