#include "json/json_reader.hpp"

#include <array>
#include <cstdint>
#include <iterator>
#include <vector>

#include "format/format_limits.hpp"
#include "json/json_members.hpp"
#include "json/json_number.hpp"
#include "json/json_scanner.hpp"
#include "json/json_string.hpp"

namespace vesk {

namespace {

namespace fail = json::json_failure;

bool is_whitespace(char c) noexcept { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

// Walks the grammar once, front to back. Children of a container are
// gathered in a buffer kept per nesting level, reused by every container at
// that level, and then moved into a vector of exactly the right size.
class JsonReader {
public:
    explicit JsonReader(std::string_view text) : text_(text), scanner_(text) {}

    Result<json::JsonValue> read_document() {
        json::JsonValue root;
        if (!read_value(root)) return failure();
        skip_whitespace();
        if (!scanner_.at_end()) {
            scanner_.fail_here(fail::trailing_characters);
            return failure();
        }
        return root;
    }

private:
    VeskError failure() const {
        return json::json_syntax_error(text_, json::JsonSyntaxFault{scanner_.failure_description, scanner_.failure_consumed});
    }

    void skip_whitespace() noexcept {
        while (!scanner_.at_end() && is_whitespace(*scanner_.at)) ++scanner_.at;
    }

    bool read_value(json::JsonValue& out) {
        skip_whitespace();
        if (scanner_.at_end()) return scanner_.fail_at_end(fail::eof_value);
        switch (*scanner_.at) {
            case '"':
                ++scanner_.at;
                out.kind = json::JsonKind::String;
                return read_json_string(scanner_, out.text);
            case '[': return read_array(out);
            case '{': return read_object(out);
            case 'n': return read_literal("null", json::JsonKind::Null, 0, out);
            case 't': return read_literal("true", json::JsonKind::Bool, 1, out);
            case 'f': return read_literal("false", json::JsonKind::Bool, 0, out);
            case '-':
            case '0': case '1': case '2': case '3': case '4':
            case '5': case '6': case '7': case '8': case '9':
                return json::read_json_number(scanner_, out);
            default: return scanner_.fail_here(fail::expected_value);
        }
    }

    // The first letter has been matched by the caller.
    bool read_literal(std::string_view word, json::JsonKind kind, std::uint64_t bits, json::JsonValue& out) {
        const char* p = scanner_.at;
        for (std::size_t i = 1; i < word.size(); ++i) {
            if (p + i == scanner_.end) return scanner_.fail_at_end(fail::eof_value);
            if (p[i] != word[i]) return scanner_.fail_before(fail::expected_ident, p + i + 1);
        }
        scanner_.at = p + word.size();
        out.kind = kind;
        out.bits = bits;
        return true;
    }

    bool open_container() {
        if (open_containers_ == format::kMaxJsonNesting) return scanner_.fail_here(fail::recursion_limit);
        ++scanner_.at;
        ++open_containers_;
        return true;
    }

    bool read_array(json::JsonValue& out) {
        if (!open_container()) return false;
        std::vector<json::JsonValue>& items = item_buffers_[open_containers_ - 1];
        skip_whitespace();
        if (scanner_.at_end()) return scanner_.fail_at_end(fail::eof_list);
        if (*scanner_.at != ']') {
            for (;;) {
                if (!read_value(items.emplace_back())) return false;
                skip_whitespace();
                if (scanner_.at_end()) return scanner_.fail_at_end(fail::eof_list);
                if (*scanner_.at == ']') break;
                if (*scanner_.at != ',') return scanner_.fail_here(fail::expected_list_comma);
                ++scanner_.at;
                skip_whitespace();
                if (!scanner_.at_end() && *scanner_.at == ']') return scanner_.fail_here(fail::trailing_comma);
            }
        }
        ++scanner_.at;
        out.kind = json::JsonKind::Array;
        out.items.assign(std::make_move_iterator(items.begin()), std::make_move_iterator(items.end()));
        items.clear();
        --open_containers_;
        return true;
    }

    bool read_object(json::JsonValue& out) {
        if (!open_container()) return false;
        std::vector<json::JsonMember>& members = member_buffers_[open_containers_ - 1];
        skip_whitespace();
        if (scanner_.at_end()) return scanner_.fail_at_end(fail::eof_object);
        if (*scanner_.at != '}') {
            for (;;) {
                if (*scanner_.at != '"') return scanner_.fail_here(fail::key_must_be_string);
                ++scanner_.at;
                json::JsonMember& member = members.emplace_back();
                if (!read_json_string(scanner_, member.key)) return false;
                skip_whitespace();
                if (scanner_.at_end()) return scanner_.fail_at_end(fail::eof_object);
                if (*scanner_.at != ':') return scanner_.fail_here(fail::expected_colon);
                ++scanner_.at;
                if (!read_value(member.value)) return false;
                skip_whitespace();
                if (scanner_.at_end()) return scanner_.fail_at_end(fail::eof_object);
                if (*scanner_.at == '}') break;
                if (*scanner_.at != ',') return scanner_.fail_here(fail::expected_object_comma);
                ++scanner_.at;
                skip_whitespace();
                if (scanner_.at_end()) return scanner_.fail_at_end(fail::eof_value);
                if (*scanner_.at == '}') return scanner_.fail_here(fail::trailing_comma);
            }
        }
        ++scanner_.at;
        out.kind = json::JsonKind::Object;
        out.members = ordered_members(members);
        members.clear();
        --open_containers_;
        return true;
    }

    std::string_view text_;
    json::JsonScanner scanner_;
    unsigned open_containers_ = 0;
    std::array<std::vector<json::JsonValue>, format::kMaxJsonNesting> item_buffers_{};
    std::array<std::vector<json::JsonMember>, format::kMaxJsonNesting> member_buffers_{};
};

}  // namespace

Result<json::JsonValue> parse_json(std::string_view text) { return JsonReader(text).read_document(); }

}  // namespace vesk
