#include "loads/utf8_fault.hpp"

#include <cstring>

#include "error/format_message.hpp"
#include "format/utf8.hpp"

namespace vesk::loads {

std::optional<Utf8Fault> find_utf8_fault(std::span<const std::uint8_t> text) noexcept {
    const std::uint8_t* data = text.data();
    const std::size_t size = text.size();
    std::size_t at = 0;
    while (at < size) {
        const std::uint8_t lead = data[at];
        if (lead < 0x80) {
            at = ascii_run_end(data, size, at);
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
