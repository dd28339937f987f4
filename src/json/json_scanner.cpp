#include "json/json_scanner.hpp"

#include <algorithm>
#include <string>

#include "error/format_message.hpp"

namespace vesk {

VeskError json_syntax_error(std::string_view text, std::string_view description, std::size_t consumed) {
    std::string_view seen = text.substr(0, std::min(consumed, text.size()));
    std::size_t line = 1 + static_cast<std::size_t>(std::count(seen.begin(), seen.end(), '\n'));
    std::size_t last_feed = seen.rfind('\n');
    std::size_t column = last_feed == std::string_view::npos ? seen.size() : seen.size() - (last_feed + 1);
    return VeskError::parse(format_message("{} at line {} column {}", description, line, column));
}

}  // namespace vesk
