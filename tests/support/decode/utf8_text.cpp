#include "decode/utf8_text.hpp"

#include "error/format_message.hpp"
#include "loads/utf8_fault.hpp"

namespace vesk {

Status copy_utf8_text(std::span<const std::uint8_t> bytes, std::string_view place, std::string& out) {
    if (auto fault = loads::find_utf8_fault(bytes)) {
        return VeskError::parse(format_message("Invalid UTF-8 {}: {}", place, loads::describe_utf8_fault(*fault)));
    }
    out.assign(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return {};
}

}  // namespace vesk
