#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <vector>

#include "loads/read_fault.hpp"
#include "format/byte_order.hpp"
#include "format/string_prefix.hpp"
#include "format/vesk_type.hpp"
#include "tables/table_memory.hpp"

namespace vesk::loads {

// A container checked in one pass over its bytes, and the tables that let a
// second pass (ContainerWalk) build its values without checking anything but
// the text of inline strings. Nothing is copied out of the container: names
// and dictionary strings are offsets into it.

// One field of an object definition.
struct ScanField {
    std::uint32_t name_offset = 0;  // in the container
    std::uint8_t name_length = 0;
    format::VeskType type = format::VeskType::Null;
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

// One definition, by position. The flags come first, so that it packs into
// 40 bytes.
struct ScanDefinition {
    format::VeskType kind = format::VeskType::Null;
    format::VeskType elem_type = format::VeskType::Null;  // Array
    std::uint16_t index = 0;              // as found; checked against nothing
    // Object: an object value names its definition by a number that picks
    // the definition at that position to read its values, and the first
    // definition whose index is that number (the one at the position if its
    // index agrees) to give their keys. `named_by` is that second one, or
    // kNoDefinition; the value fails to read unless it is an object
    // definition with as many fields (`names_fit`).
    bool names_fit = true;
    // Object: the keys are in field order (names strictly ascending, so
    // field k holds key k and there are no members).
    bool keys_in_field_order = true;
    // Object: every field holds a null, bool or number, so an object takes
    // exactly `fixed_size` bytes and holds `fixed_numbers` numbers.
    bool fixed = false;
    std::uint32_t named_by = 0;
    std::uint32_t first_field = 0;  // Object, into ContainerScan::fields: the value types
    std::uint32_t field_count = 0;
    // Object: how the keys of its values are laid out, taken from `named_by`:
    // the first of the fields that name them and, unless in field order, the
    // members.
    std::uint32_t key_field = 0;
    std::uint32_t first_member = 0;  // into ContainerScan::members
    std::uint32_t member_count = 0;  // keys of its objects: field_count unless names repeat
    std::uint32_t fixed_size = 0;
    std::uint32_t fixed_numbers = 0;
};

static_assert(sizeof(ScanDefinition) == 40);

inline constexpr std::uint32_t kNoDefinition = ~std::uint32_t{0};

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

// What the data makes of the definitions and the dictionary, for a person
// inspecting a container.
struct ScanCensus {
    // By position: the arrays and objects read through each definition, and
    // the entries of a primitive definition.
    std::vector<std::uint64_t> definition_uses;
    // By dictionary index: the references to each string that it holds.
    std::vector<std::uint64_t> dictionary_uses;
    // By type_index: every value, inline strings under String.
    std::array<std::uint64_t, format::kTypeCount> values_by_type{};
    std::uint64_t references = 0;  // dictionary references, in range or not
};

struct ContainerScan {
    explicit ContainerScan(std::pmr::memory_resource* memory = tables::heap_memory()) noexcept
        : definitions(memory), fields(memory), members(memory), dict(memory), name_slots(memory) {}

    // Empties the scan for another container; the tables keep their memory.
    void clear() noexcept {
        reader_fault.reset();
        meaning_fault.reset();
        version = 0;
        def_block_offset = dict_block_offset = data_block_offset = entries = 0;
        definitions.clear();
        fields.clear();
        members.clear();
        dict.clear();
        name_slots.clear();
        counts = {};
    }

    // Bytes the tables hold, used or not.
    std::size_t capacity_bytes() const noexcept {
        return definitions.capacity() * sizeof(ScanDefinition) + fields.capacity() * sizeof(ScanField) +
               members.capacity() * sizeof(ScanMember) + dict.capacity() * sizeof(ScanText) +
               name_slots.capacity() * sizeof(std::uint32_t);
    }

    // The fault loads reports: the first fault of the reader, else the
    // first fault of meaning. Nothing when the values can be built; the
    // walk's builder still finds inline text that is not UTF-8.
    const std::optional<ReadFault>& fault() const noexcept { return reader_fault ? reader_fault : meaning_fault; }

    std::optional<ReadFault> reader_fault;
    std::optional<ReadFault> meaning_fault;
    std::uint8_t version = 0;
    std::uint32_t def_block_offset = 0;
    std::uint32_t dict_block_offset = 0;
    std::uint32_t data_block_offset = 0;
    std::uint32_t entries = 0;
    tables::TableVector<ScanDefinition> definitions;
    tables::TableVector<ScanField> fields;
    tables::TableVector<ScanMember> members;
    tables::TableVector<ScanText> dict;
    // The table that links the fields of one name while scanning; kept so
    // that a scan reused for one short message after another allocates
    // nothing.
    tables::TableVector<std::uint32_t> name_slots;
    ScanCounts counts;
};

// The memory scan_container's tables take for `bytes`, read from the header
// and the definition block alone, so that a container whose tables alone
// would exhaust memory is refused before they are made (a definition block
// of empty names holds a field in every two bytes). Exact for a container
// the scan reads to its end; an upper bound where it stops at a fault.
// Counting the fields stops once the tables are known to take more than
// `enough` bytes: the result is then more than `enough`, and a lower bound.
std::uint64_t scan_table_bytes(std::span<const std::uint8_t> bytes,
                               std::uint64_t enough = std::numeric_limits<std::uint64_t>::max()) noexcept;

// scan_table_bytes(bytes) is never more than this many bytes per byte of
// the container: a definition (and its linking slot) takes 3 bytes or more,
// a field (and at most four slots of the name table) 2, a dictionary string
// 1. A caller that only asks whether the tables fit a bound can skip
// counting them for a container this many times smaller than the bound.
inline constexpr std::uint64_t kScanTableBytesPerByte =
    (sizeof(ScanDefinition) + sizeof(std::uint32_t)) / 3 + 1 +
    (sizeof(ScanField) + sizeof(ScanMember) + 8 * sizeof(std::uint32_t)) / 2 + sizeof(ScanText);

// Checks the whole container in one pass, in the reader's order, and records
// the first fault where it is found. Never reads outside `bytes`; allocates
// only tables bounded by the sizes of the blocks they describe, from
// `memory`. Inline text is left to the walk unless a fault of meaning is
// found, which a bad text before or after it outranks, or a census is taken.
ContainerScan scan_container(std::span<const std::uint8_t> bytes,
                             std::pmr::memory_resource* memory = tables::heap_memory());

// The same into `out`, cleared first, whose tables keep their memory from
// one container to the next: a caller reading many short containers
// allocates nothing once they have room.
void scan_container(std::span<const std::uint8_t> bytes, ContainerScan& out);

// The same, every text checked, filling `census`; a fault of meaning is noted
// and the census taken as far as the reader's rules go.
ContainerScan scan_container(std::span<const std::uint8_t> bytes, ScanCensus& census,
                             std::pmr::memory_resource* memory = tables::heap_memory());

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
    const format::StringClass string_class = format::string_class_of(at[0]);
    const std::size_t prefix = format::string_prefix_size(string_class);
    if (available < prefix) return false;
    if (string_class == format::StringClass::Reference) {
        out = StringValue{true, static_cast<std::uint32_t>(prefix), format::load_u32le(at + 1)};
        return true;
    }
    const std::size_t length = format::prefixed_length(string_class, at);
    if (available - prefix < length) return false;
    out = StringValue{false, static_cast<std::uint32_t>(prefix + length), static_cast<std::uint32_t>(length)};
    return true;
}

}  // namespace vesk::loads
