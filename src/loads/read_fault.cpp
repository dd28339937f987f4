#include "loads/read_fault.hpp"

#include "loads/utf8_fault.hpp"
#include "error/format_message.hpp"

namespace vesk::loads {

namespace {

// Each message once. "{}" takes the next number in decimal, "{:02X}" the
// next number as two upper-case hexadecimal digits, "{s}" the subject, and
// "{utf8}" the validator's description of the fault in a text.
constexpr std::string_view message_template(ReadFaultCode code) noexcept {
    switch (code) {
        case ReadFaultCode::HeaderTooShort: return "Header requires {} bytes, got {}";
        case ReadFaultCode::UnsupportedVersion: return "Unsupported VESK version: {}";
        case ReadFaultCode::DefBlockBeforeHeader: return "Def block offset {} before header";
        case ReadFaultCode::DictBlockBeforeDefs: return "Dict block offset {} before defs";
        case ReadFaultCode::DataBlockBeforeDict: return "Data block offset {} before dict";
        case ReadFaultCode::DataBlockPastEnd: return "Data block offset {} exceeds buffer length {}";
        case ReadFaultCode::DefinitionBlockTooShort: return "Definition block too short: {} bytes";
        case ReadFaultCode::DefinitionBlockTooSmall: return "Definition block has {} bytes but {} defs require {}";
        case ReadFaultCode::TruncatedDefinitionBlock: return "Truncated definition block at entry {}";
        case ReadFaultCode::UnknownTypeTag: return "Unknown VESK type tag: 0x{:02X}";
        case ReadFaultCode::TruncatedDefinitionIndex: return "Truncated definition index";
        case ReadFaultCode::TruncatedElemType: return "Truncated array elem_type";
        case ReadFaultCode::TruncatedFieldCount: return "Truncated object field count";
        case ReadFaultCode::TruncatedFieldNameLength: return "Truncated field {} name length";
        case ReadFaultCode::TruncatedFieldNameData: return "Truncated field {} name data";
        case ReadFaultCode::InvalidUtf8: return "Invalid UTF-8 {s}: {utf8}";
        case ReadFaultCode::DictBlockTooShort: return "Dict block too short for entry count";
        case ReadFaultCode::TruncatedDictString: return "Truncated dict string";
        case ReadFaultCode::InvalidDictStringByte: return "Invalid dict string encoding byte: 0x{:02X}";
        case ReadFaultCode::TruncatedDictStringPrefix: return "Truncated {s} dict string";
        case ReadFaultCode::TruncatedDictStringData: return "Truncated dict string data";
        case ReadFaultCode::DataBlockTooShort: return "Data block too short: {} bytes";
        case ReadFaultCode::TooManyEntries: return "Data entry count {} exceeds max {}";
        case ReadFaultCode::TruncatedEntryHeader: return "Truncated entry {} header";
        case ReadFaultCode::PayloadPastEnd: return "Entry {} payload ({} bytes) exceeds buffer";
        case ReadFaultCode::UnknownDefinitionIndex: return "Unknown definition index: {}";
        case ReadFaultCode::EntryMismatch: return "Mismatch entry {}: consumed {} of {}";
        case ReadFaultCode::ArrayTooDeep: return "Max recursion depth";
        case ReadFaultCode::ObjectTooDeep: return "Max recursion depth {} exceeded at Object";
        case ReadFaultCode::TruncatedArraySelfIndex: return "Truncated array self_def_index";
        case ReadFaultCode::ArrayWithoutElemType: return "Array #{} has no elem_type";
        case ReadFaultCode::TruncatedArrayElemIndex: return "Truncated array elem_def_index";
        case ReadFaultCode::TruncatedArrayCount: return "Truncated array count";
        case ReadFaultCode::TruncatedObjectSelfIndex: return "Truncated object self_def_index";
        case ReadFaultCode::ObjectWithoutFields: return "Object #{} has no fields";
        case ReadFaultCode::ExpectedBool: return "Expected bool byte";
        case ReadFaultCode::ExpectedInt32: return "Expected int32 (4 bytes)";
        case ReadFaultCode::ExpectedUint32: return "Expected uint32 (4 bytes)";
        case ReadFaultCode::ExpectedFloat32: return "Expected float32 (4 bytes)";
        case ReadFaultCode::ExpectedString: return "Expected string/StrRef byte";
        case ReadFaultCode::TruncatedStringLength: return "Truncated {s} string length";
        case ReadFaultCode::TruncatedString: return "Truncated {s} string: need {} bytes, got {}";
        case ReadFaultCode::TruncatedStrRef: return "Truncated StrRef dict index";
        case ReadFaultCode::StrRefOutOfBounds: return "StrRef index {} out of bounds (dict len {})";
        case ReadFaultCode::NestedStrRefOutOfBounds: return "StrRef index {} out of bounds";
        case ReadFaultCode::NoFieldDefinitions: return "Object #{}: no field definitions";
        case ReadFaultCode::FieldCountMismatch: return "Object #{}: expected {} fields, got {}";
    }
    return "?";
}

constexpr std::string_view place_name(TextPlace place) noexcept {
    switch (place) {
        case TextPlace::FieldName: return "in field name";
        case TextPlace::Dictionary: return "in dict";
        case TextPlace::Value: return "string";
    }
    return "?";
}

}  // namespace

bool find_text_fault(std::span<const std::uint8_t> text, TextPlace place, std::size_t position, ReadFault& out) {
    const std::optional<Utf8Fault> fault = find_utf8_fault(text);
    if (!fault) return false;
    out = ReadFault{ReadFaultCode::InvalidUtf8, place_name(place), {fault->index, fault->length, 0}, position};
    return true;
}

std::string describe_read_fault(const ReadFault& fault) {
    std::string_view pattern = message_template(fault.code);
    std::string out;
    std::size_t next = 0;
    while (!pattern.empty()) {
        const std::size_t open = pattern.find('{');
        out.append(pattern.substr(0, open));
        if (open == std::string_view::npos) break;
        pattern.remove_prefix(open);
        const std::size_t close = pattern.find('}');
        const std::string_view placeholder = pattern.substr(0, close + 1);
        pattern.remove_prefix(close + 1);
        if (placeholder == "{s}") {
            out.append(fault.subject);
        } else if (placeholder == "{utf8}") {
            out += describe_utf8_fault(Utf8Fault{fault.numbers[0], fault.numbers[1]});
        } else if (placeholder == "{:02X}") {
            out += hex_byte(static_cast<std::uint8_t>(fault.numbers[next++]));
        } else {
            append_decimal(out, fault.numbers[next++]);
        }
    }
    return out;
}

}  // namespace vesk::loads
