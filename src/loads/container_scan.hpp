#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "format/byte_order.hpp"
#include "format/string_prefix.hpp"
#include "format/vesk_type.hpp"
#include "tables/table_memory.hpp"

namespace vesk {

// A container checked in one pass over its bytes, and the tables that let a
// second pass (ContainerWalk) build its values without checking anything but
// the text of inline strings. Nothing is copied out of the container: names
// and dictionary strings are offsets into it.

// One field of an object definition.
struct ScanField {
    std::uint32_t name_offset = 0;  // in the container
    std::uint8_t name_length = 0;
    VeskType type = VeskType::Null;
    // The first field of any definition with the same name: many shapes
    // share names, whose keys need making only once.
    std::uint32_t first_of_name = 0;
};

// One key of the objects of a definition whose names are out of byte order or
// repeated: which field names it and which field's value it holds (the later
// of repeated names wins). Field numbers count from the definition's first.
struct ScanMember {
    std::uint32_t key_field = 0;
    std::uint32_t value_field = 0;
};

// One definition, by position.
struct ScanDefinition {
    VeskType kind = VeskType::Null;
    VeskType elem_type = VeskType::Null;  // Array
    // Object: the definition's index field equals its position. Objects are
    // named through the index field but decoded by position; only when both
    // agree is the one definition table enough.
    bool numbered_in_place = false;
    // Object: names strictly ascending, so field k holds key k and there are
    // no members of its own.
    bool keys_in_field_order = true;
    std::uint32_t first_field = 0;   // Object, into ContainerScan::fields
    std::uint32_t field_count = 0;
    std::uint32_t first_member = 0;  // Object, into ContainerScan::members
    std::uint32_t member_count = 0;  // keys of its objects: field_count unless names repeat
    // Object: every field holds a null, bool or number, so an object takes
    // exactly `fixed_size` bytes and holds `fixed_numbers` numbers.
    bool fixed = false;
    std::uint32_t fixed_size = 0;
    std::uint32_t fixed_numbers = 0;
};

struct ScanText {
    std::uint32_t offset = 0;  // in the container
    std::uint32_t length = 0;
};

// What building the values takes, counted up to the end of the container or
// up to the fault. Every value counts once in `values`.
struct ScanCounts {
    std::uint64_t values = 0;
    std::uint64_t numbers = 0;  // Int32, Uint32, Float32
    std::uint64_t inline_strings = 0;
    std::uint64_t inline_bytes = 0;
    std::uint64_t arrays = 0;
    std::uint64_t objects = 0;
    std::uint64_t members = 0;  // keys over all objects
    std::uint64_t dict_bytes = 0;
};

enum class ScanVerdict : std::uint8_t {
    // Every check of the reader and the decompiler passes, except that inline
    // strings are yet to be found valid UTF-8 (ContainerWalk's builder does
    // that where it decodes them).
    Valid,
    // The reader or the decompiler refuses the container.
    Fault,
    // No fault found, but an object names a definition whose index field
    // differs from its position: only the reader and decompiler can say what
    // that reads as.
    Unsupported,
};

struct ContainerScan {
    explicit ContainerScan(std::pmr::memory_resource* memory) noexcept
        : definitions(memory), fields(memory), members(memory), dict(memory) {}

    ScanVerdict verdict = ScanVerdict::Fault;
    TableVector<ScanDefinition> definitions;
    TableVector<ScanField> fields;
    TableVector<ScanMember> members;
    TableVector<ScanText> dict;
    ScanCounts counts;
};

// Checks the whole container. Never reads outside `bytes`; allocates only
// tables bounded by the sizes of the blocks they describe, from `memory`.
ContainerScan scan_container(std::span<const std::uint8_t> bytes,
                             std::pmr::memory_resource* memory = heap_memory());

// A value of type String: inline text, or a reference into the dictionary.
struct StringValue {
    bool is_reference = false;
    std::uint32_t size = 0;    // bytes the value takes, header included
    std::uint32_t length = 0;  // text bytes after the header, or the dictionary index
};

// Reads the String value at `at`, whose enclosing payload ends at `end`;
// false when its prefix or text runs past `end`.
inline bool read_string_value(const std::uint8_t* at, const std::uint8_t* end, StringValue& out) noexcept {
    const std::size_t available = static_cast<std::size_t>(end - at);
    if (available == 0) return false;
    const StringClass string_class = string_class_of(at[0]);
    const std::size_t prefix = string_prefix_size(string_class);
    if (available < prefix) return false;
    if (string_class == StringClass::Reference) {
        out = StringValue{true, static_cast<std::uint32_t>(prefix), load_u32le(at + 1)};
        return true;
    }
    const std::size_t length = prefixed_length(string_class, at);
    if (available - prefix < length) return false;
    out = StringValue{false, static_cast<std::uint32_t>(prefix + length), static_cast<std::uint32_t>(length)};
    return true;
}

}  // namespace vesk
