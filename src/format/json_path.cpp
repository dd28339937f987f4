#include "format/json_path.hpp"

#include "error/format_message.hpp"
#include "format/json_escapes.hpp"

namespace vesk::format {

namespace {

bool is_plain_name(std::string_view name) {
    if (name.empty() || (name[0] >= '0' && name[0] <= '9')) return false;
    for (const char c : name) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
        if (!plain) return false;
    }
    return true;
}

}  // namespace

void append_item_step(std::string& path, std::size_t index) {
    path += '[';
    append_decimal(path, index);
    path += ']';
}

void append_member_step(std::string& path, std::string_view name) {
    if (is_plain_name(name)) {
        path += '.';
        path += name;
        return;
    }
    path += "[\"";
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        const char escape = kJsonEscapes[byte];
        if (escape == 0) {
            path += c;
        } else if (escape != 'u') {
            path += '\\';
            path += escape;
        } else {
            path += "\\u00";
            path += kLowerHexDigits[byte >> 4];
            path += kLowerHexDigits[byte & 0xF];
        }
    }
    path += "\"]";
}

}  // namespace vesk::format
