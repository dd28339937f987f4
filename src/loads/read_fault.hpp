#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace vesk::loads {

// Why a container does not read. The first group are the reader's faults,
// found walking the bytes in order; the last group are faults of what the
// bytes mean (a reference or a definition that names nothing fit), which any
// fault of the first group outranks, wherever it lies.
enum class ReadFaultCode : std::uint8_t {
    HeaderTooShort,
    UnsupportedVersion,
    DefBlockBeforeHeader,
    DictBlockBeforeDefs,
    DataBlockBeforeDict,
    DataBlockPastEnd,
    DefinitionBlockTooShort,
    DefinitionBlockTooSmall,
    TruncatedDefinitionBlock,
    UnknownTypeTag,
    TruncatedDefinitionIndex,
    TruncatedElemType,
    TruncatedFieldCount,
    TruncatedFieldNameLength,
    TruncatedFieldNameData,
    InvalidUtf8,
    DictBlockTooShort,
    TruncatedDictString,
    InvalidDictStringByte,
    TruncatedDictStringPrefix,
    TruncatedDictStringData,
    DataBlockTooShort,
    TooManyEntries,
    TruncatedEntryHeader,
    PayloadPastEnd,
    UnknownDefinitionIndex,
    EntryMismatch,
    ArrayTooDeep,
    ObjectTooDeep,
    TruncatedArraySelfIndex,
    ArrayWithoutElemType,
    TruncatedArrayElemIndex,
    TruncatedArrayCount,
    TruncatedObjectSelfIndex,
    ObjectWithoutFields,
    ExpectedBool,
    ExpectedInt32,
    ExpectedUint32,
    ExpectedFloat32,
    ExpectedString,
    TruncatedStringLength,
    TruncatedString,
    TruncatedStrRef,
    // What the bytes mean.
    StrRefOutOfBounds,
    NestedStrRefOutOfBounds,
    NoFieldDefinitions,
    FieldCountMismatch,
};

// The place whose text an InvalidUtf8 fault is in.
enum class TextPlace : std::uint8_t { FieldName, Dictionary, Value };

// A fault as found: what, its numbers, and the offset in the container where
// the checked item starts. The message is made only when it is shown.
struct ReadFault {
    ReadFaultCode code = ReadFaultCode::HeaderTooShort;
    // A text the message names: the string class ("medium") or, for
    // InvalidUtf8, the place's name. Always static text.
    std::string_view subject;
    std::array<std::uint64_t, 3> numbers{};
    std::size_t position = 0;
};

// A fault of an inline or named text that is not UTF-8, or nothing.
bool find_text_fault(std::span<const std::uint8_t> text, TextPlace place, std::size_t position, ReadFault& out);

// The message, e.g. "Truncated entry 3 header".
std::string describe_read_fault(const ReadFault& fault);

}  // namespace vesk::loads
