#include "loads/json_text_builder.hpp"

#include <array>
#include <charconv>
#include <cstring>

#include "format/json_escapes.hpp"
#include "format/json_path.hpp"

namespace vesk::loads {

namespace {

using format::kJsonEscapes;
using format::kLowerHexDigits;

// The shortest decimal that reads back as `value` (finite), laid out as
// Python's repr lays out a float: positional from 1e-4 up to below 1e16 with
// at least one digit after the point, else d.ddde+XX. Writes at most 24
// bytes and returns how many.
std::size_t format_float32(float value, char* out) {
    char scientific[32];
    const std::to_chars_result done =
        std::to_chars(scientific, scientific + sizeof scientific, value, std::chars_format::scientific);
    const char* at = scientific;
    char* write = out;
    if (*at == '-') *write++ = *at++;
    char digits[12];
    std::size_t count = 0;
    for (; *at != 'e'; ++at) {
        if (*at != '.') digits[count++] = *at;
    }
    int exponent = 0;
    std::from_chars(at + (at[1] == '+' ? 2 : 1), done.ptr, exponent);
    const int point = exponent + 1;  // digits before the decimal point
    if (point <= -4 || point > 16) {
        *write++ = digits[0];
        if (count > 1) {
            *write++ = '.';
            std::memcpy(write, digits + 1, count - 1);
            write += count - 1;
        }
        *write++ = 'e';
        *write++ = exponent < 0 ? '-' : '+';
        const int magnitude = exponent < 0 ? -exponent : exponent;
        if (magnitude < 10) *write++ = '0';
        write = std::to_chars(write, write + 4, magnitude).ptr;
    } else if (point <= 0) {
        *write++ = '0';
        *write++ = '.';
        std::memset(write, '0', static_cast<std::size_t>(-point));
        write += -point;
        std::memcpy(write, digits, count);
        write += count;
    } else if (static_cast<std::size_t>(point) >= count) {
        std::memcpy(write, digits, count);
        write += count;
        std::memset(write, '0', static_cast<std::size_t>(point) - count);
        write += static_cast<std::size_t>(point) - count;
        *write++ = '.';
        *write++ = '0';
    } else {
        std::memcpy(write, digits, static_cast<std::size_t>(point));
        write += point;
        *write++ = '.';
        std::memcpy(write, digits + point, count - static_cast<std::size_t>(point));
        write += count - static_cast<std::size_t>(point);
    }
    return static_cast<std::size_t>(write - out);
}

// Writes the text as a JSON string; returns its bytes ORed together, whose
// high bit tells whether any was not ASCII.
std::uint8_t write_json_string(const std::uint8_t* data, std::size_t size, TextOut& into) {
    // Every byte may become six (\u00XX), plus the quotes.
    char* const start = into.reserve(size * 6 + 2);
    char* at = start;
    *at++ = '"';
    std::uint8_t high = 0;
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t byte = data[i];
        high |= byte;
        const char escape = kJsonEscapes[byte];
        if (escape == 0) {
            *at++ = static_cast<char>(byte);
        } else if (escape != 'u') {
            at[0] = '\\';
            at[1] = escape;
            at += 2;
        } else {
            std::memcpy(at, "\\u00", 4);
            at[4] = kLowerHexDigits[byte >> 4];
            at[5] = kLowerHexDigits[byte & 0xF];
            at += 6;
        }
    }
    *at++ = '"';
    into.advance(static_cast<std::size_t>(at - start));
    return high;
}

}  // namespace

JsonTextBuilder::JsonTextBuilder(std::span<const std::uint8_t> container, const ContainerScan& scan,
                                 const JsonTextLayout& layout, std::pmr::memory_resource* memory)
    : container_(container),
      scan_(scan),
      layout_(layout),
      keys_(scan.fields.size(), tables::TableAllocator<Span>(memory)),
      strings_(scan.dict.size(), tables::TableAllocator<Span>(memory)) {
    // JSON text takes about as many bytes as the container, often more:
    // starting there saves the first few doublings.
    out_.reserve(container.size() + container.size() / 2 + 16);
}

void JsonTextBuilder::line_break(std::size_t depth) {
    if (!layout_.indent) return;
    const std::size_t spaces = depth * *layout_.indent;
    char* at = out_.reserve(spaces + 1);
    *at = '\n';
    std::memset(at + 1, ' ', spaces);
    out_.advance(spaces + 1);
}

void JsonTextBuilder::begin_value(Frame& frame) {
    switch (frame.kind) {
        case FrameKind::List:
            if (frame.values > 0) out_.put(',');
            line_break(frames_.size());
            break;
        case FrameKind::Members:
            if (frame.values > 0) out_.put(',');
            line_break(frames_.size());
            write_key(frame.first_field + frame.values);
            break;
        case FrameKind::ReorderedMembers: break;
    }
    ++frame.values;
}

const JsonTextBuilder::Span& JsonTextBuilder::rendered_key(std::uint32_t field) {
    Span& span = keys_[scan_.fields[field].first_of_name];
    if (span.length == 0) {
        const ScanField& name = scan_.fields[field];
        const std::size_t begin = rendered_.size();
        write_string(container_.data() + name.name_offset, name.name_length, rendered_);
        rendered_.put(':');
        if (layout_.indent) rendered_.put(' ');
        span = Span{begin, rendered_.size() - begin};
    }
    return span;
}

void JsonTextBuilder::write_key(std::uint32_t field) {
    const Span& span = rendered_key(field);
    out_.append(rendered_.data() + span.offset, span.length);
}

void JsonTextBuilder::write_string(const std::uint8_t* data, std::size_t size, TextOut& into) {
    high_bits_ |= write_json_string(data, size, into);
}

bool JsonTextBuilder::int32(std::int32_t value, Value& out) {
    open(out);
    char* at = out_.reserve(12);
    out_.advance(static_cast<std::size_t>(std::to_chars(at, at + 12, value).ptr - at));
    return close(out);
}

bool JsonTextBuilder::uint32(std::uint32_t value, Value& out) {
    open(out);
    char* at = out_.reserve(12);
    out_.advance(static_cast<std::size_t>(std::to_chars(at, at + 12, value).ptr - at));
    return close(out);
}

bool JsonTextBuilder::float32(std::uint32_t bits, Value& out) {
    open(out);
    const float value = std::bit_cast<float>(bits);
    if (std::isfinite(value)) {
        out_.advance(format_float32(value, out_.reserve(32)));
        return close(out);
    }
    const char* name = std::isnan(value) ? "nan" : value > 0 ? "inf" : "-inf";
    if (!layout_.allow_nan) {
        fault_.kind = JsonTextFault::Kind::NonFinite;
        fault_.path = path();
        fault_.value = name;
        return false;
    }
    out_.append(std::isnan(value) ? "NaN" : value > 0 ? "Infinity" : "-Infinity");
    return close(out);
}

bool JsonTextBuilder::text(const std::uint8_t* data, std::size_t size, Value& out) {
    // Inline text is the one part of a container the scan leaves unchecked.
    if (find_text_fault(std::span(data, size), TextPlace::Value, static_cast<std::size_t>(data - container_.data()),
                        fault_.text)) {
        fault_.kind = JsonTextFault::Kind::InvalidText;
        return false;
    }
    open(out);
    write_string(data, size, out_);
    return close(out);
}

bool JsonTextBuilder::dict_text(std::uint32_t index, Value& out) {
    open(out);
    Span& span = strings_[index];
    if (span.length == 0) {
        const ScanText& text = scan_.dict[index];
        const std::size_t begin = rendered_.size();
        write_string(container_.data() + text.offset, text.length, rendered_);
        span = Span{begin, rendered_.size() - begin};
    }
    out_.append(rendered_.data() + span.offset, span.length);
    return close(out);
}

bool JsonTextBuilder::begin_list(std::size_t, List& list) {
    open(list);
    out_.put('[');
    frames_.push_back(Frame{FrameKind::List, 0, 0, 0});
    return true;
}

void JsonTextBuilder::close_container(std::uint32_t count, char bracket) {
    if (count > 0) line_break(frames_.size());
    out_.put(bracket);
}

void JsonTextBuilder::end_list(List& list, Value& out) {
    const std::uint32_t count = frames_.back().values;
    frames_.pop_back();
    close_container(count, ']');
    out = Value{list.begin, out_.size()};
}

bool JsonTextBuilder::begin_dict(std::uint32_t definition, Dict& dict) {
    open(dict);
    out_.put('{');
    const ScanDefinition& shape = scan_.definitions[definition];
    frames_.push_back(Frame{shape.keys_in_field_order ? FrameKind::Members : FrameKind::ReorderedMembers, 0, 0,
                            shape.key_field});
    return true;
}

bool JsonTextBuilder::set_member(Dict&, std::uint32_t field, Value&& value) {
    Frame& frame = frames_.back();
    if (frame.kind != FrameKind::ReorderedMembers) return true;
    if (frame.members > 0) reordered_.put(',');
    if (layout_.indent) {
        reordered_.put('\n');
        reordered_.fill(' ', frames_.size() * *layout_.indent);
    }
    const Span& key = rendered_key(field);
    reordered_.append(rendered_.data() + key.offset, key.length);
    reordered_.append(out_.data() + value.begin, value.end - value.begin);
    ++frame.members;
    return true;
}

void JsonTextBuilder::end_dict(Dict& dict, Value& out) {
    const Frame frame = frames_.back();
    frames_.pop_back();
    std::uint32_t count = frame.values;
    if (frame.kind == FrameKind::ReorderedMembers) {
        // The bare values, in field order, give way to the members in key
        // order. Objects nested in them closed before this one's members
        // were placed, so the side buffer holds this object's alone.
        out_.truncate(dict.begin + 1);
        out_.append(reordered_.data(), reordered_.size());
        reordered_.clear();
        count = frame.members;
    }
    close_container(count, '}');
    out = Value{dict.begin, out_.size()};
}

std::string JsonTextBuilder::path() const {
    std::string text(format::kRootPath);
    for (const Frame& frame : frames_) {
        const std::uint32_t position = frame.values - 1;
        if (frame.kind == FrameKind::List) {
            format::append_item_step(text, position);
            continue;
        }
        const ScanField& field = scan_.fields[frame.first_field + position];
        format::append_member_step(text, std::string_view(reinterpret_cast<const char*>(container_.data()) +
                                                              field.name_offset,
                                                          field.name_length));
    }
    return text;
}

}  // namespace vesk::loads
