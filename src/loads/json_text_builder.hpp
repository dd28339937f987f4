#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "loads/container_scan.hpp"
#include "loads/text_out.hpp"
#include "loads/read_fault.hpp"
#include "tables/table_memory.hpp"

namespace vesk::loads {

// How to_json lays out its text.
struct JsonTextLayout {
    // Spaces per level, each item and member on a line of its own; none:
    // everything on one line, without spaces.
    std::optional<std::uint32_t> indent;
    // Infinities and NaNs as Infinity, -Infinity and NaN, which Python's
    // json module writes and reads but JSON does not have; otherwise they
    // are a fault.
    bool allow_nan = false;
};

// Why JsonTextBuilder stopped.
struct JsonTextFault {
    enum class Kind : std::uint8_t { None, InvalidText, NonFinite };
    Kind kind = Kind::None;
    // InvalidText: the reader's fault for that text.
    ReadFault text;
    // NonFinite: the value's path ($.name[3]) and "inf", "-inf" or "nan".
    std::string path;
    const char* value = "";
};

// The text side of ContainerWalk: writes the JSON text of a container that
// scan_container found valid, in one buffer, as the walk meets the values.
// Items and in-order members are written where they stand, each preceded by
// its separator and key; the values of an object whose keys come out in
// another order than its fields are written bare, then moved behind their
// keys when the object ends. Key texts and dictionary strings are escaped
// once and copied at every further use.
//
// Strings are written as Python's json.dumps writes them with
// ensure_ascii=False: UTF-8 as it is, with '"', '\' and the control
// characters escaped (\b \f \n \r \t, the rest as \u00XX).
class JsonTextBuilder {
public:
    // Where a value's text lies in the buffer, for members that are moved.
    struct Value {
        std::size_t begin = 0;
        std::size_t end = 0;
    };
    using List = Value;
    using Dict = Value;

    JsonTextBuilder(std::span<const std::uint8_t> container, const ContainerScan& scan, const JsonTextLayout& layout,
                    std::pmr::memory_resource* memory);

    const JsonTextFault& fault() const noexcept { return fault_; }
    // Whether every byte written is ASCII.
    bool ascii() const noexcept { return (high_bits_ & 0x80) == 0; }
    TextOut& text() noexcept { return out_; }

    bool null(Value& out) {
        open(out);
        out_.append("null", 4);
        return close(out);
    }

    bool boolean(bool value, Value& out) {
        open(out);
        if (value) {
            out_.append("true", 4);
        } else {
            out_.append("false", 5);
        }
        return close(out);
    }

    bool int32(std::int32_t value, Value& out);
    bool uint32(std::uint32_t value, Value& out);
    bool float32(std::uint32_t bits, Value& out);
    bool text(const std::uint8_t* data, std::size_t size, Value& out);
    bool dict_text(std::uint32_t index, Value& out);

    bool begin_list(std::size_t count, List& list);
    void set_item(List&, std::size_t, Value&&) {}
    void end_list(List& list, Value& out);
    bool begin_dict(std::uint32_t definition, Dict& dict);
    bool set_member(Dict& dict, std::uint32_t field, Value&& value);
    void end_dict(Dict& dict, Value& out);

private:
    enum class FrameKind : std::uint8_t { List, Members, ReorderedMembers };
    struct Frame {
        FrameKind kind = FrameKind::List;
        std::uint32_t values = 0;       // begun so far
        std::uint32_t members = 0;      // ReorderedMembers: placed so far
        std::uint32_t first_field = 0;  // Members, ReorderedMembers: of the fields naming the keys
    };
    struct Span {
        std::size_t offset = 0;
        std::size_t length = 0;  // 0: not yet written
    };

    // Writes what comes before a value in its list or object: the
    // separator, the line break and indentation, the key.
    void open(Value& out) {
        if (!frames_.empty()) begin_value(frames_.back());
        out.begin = out_.size();
    }
    bool close(Value& out) {
        out.end = out_.size();
        return true;
    }
    void begin_value(Frame& frame);
    void line_break(std::size_t depth);
    void write_key(std::uint32_t field);
    const Span& rendered_key(std::uint32_t field);
    void write_string(const std::uint8_t* data, std::size_t size, TextOut& into);
    void close_container(std::uint32_t count, char bracket);
    std::string path() const;

    std::span<const std::uint8_t> container_;
    const ContainerScan& scan_;
    JsonTextLayout layout_;
    TextOut out_;
    // Rendered keys ("name": with the layout's separator) by the first field
    // of their name, and dictionary strings by index, in `rendered_`.
    TextOut rendered_;
    tables::TableVector<Span> keys_;
    tables::TableVector<Span> strings_;
    // Members of the reordered object being closed, in key order.
    TextOut reordered_;
    std::vector<Frame> frames_;
    std::uint8_t high_bits_ = 0;
    JsonTextFault fault_;
};

}  // namespace vesk::loads
