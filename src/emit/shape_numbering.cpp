#include "emit/shape_numbering.hpp"

#include <algorithm>
#include <array>
#include <cstring>

#include "format/byte_order.hpp"
#include "tables/container_blocks.hpp"

namespace vesk::emit {

namespace {

// A small value's tables, in the container's own memory; past them, those
// of a value of some size, a few hundred object shapes.
constexpr std::size_t kSmallSteps = 16;
constexpr std::size_t kSmallDefinitions = 16;
constexpr std::size_t kFirstSteps = 256;

}  // namespace

ShapeNumbering::ShapeNumbering(std::pmr::memory_resource* memory) : steps_(memory), definitions_(memory) {
    steps_.reserve(kSmallSteps);
    steps_.emplace_back();
    definitions_.reserve(kSmallDefinitions);
}

std::uint32_t ShapeNumbering::step_to(std::uint32_t shape, format::VeskType value_type) {
    const auto next = static_cast<std::uint32_t>(steps_.size());
    if (steps_.size() == steps_.capacity()) tables::grow_full_table(steps_, kFirstSteps);
    // Filled in place: a step built aside and copied in is written in parts
    // and read back whole, which the processor cannot forward.
    Step& step = steps_.emplace_back();
    step.from = shape;
    step.items = steps_[shape].items + 1;
    step.value_type = value_type;
    steps_[shape].next[format::type_index(value_type)] = next;
    return next;
}

std::uint32_t ShapeNumbering::number_array_shape(format::VeskType element_type) {
    const std::uint32_t number = new_definition(Definition{format::VeskType::Array, element_type, 0});
    array_numbers_[format::type_index(element_type)] = number;
    return number;
}

std::uint32_t ShapeNumbering::number_object_shape(std::uint32_t shape) {
    const std::uint32_t number = new_definition(Definition{format::VeskType::Object, format::VeskType::Null, shape});
    steps_[shape].number = number;
    widest_object_ = std::max(widest_object_, 2 * std::size_t{steps_[shape].items});
    return number;
}

namespace {

// The bytes of the records of fields f0 to f`count - 1`.
constexpr std::size_t record_bytes(std::size_t count) noexcept {
    std::size_t bytes = 0;
    for (std::size_t digits = 1, first = 0, past = 10; first < count; ++digits, first = past, past *= 10) {
        bytes += (std::min(count, past) - first) * (digits + 3);
    }
    return bytes;
}

// Writes the records of fields f0 to f`count - 1` to `bytes`, and where each
// ends to `ends`. Each name is the one before with its number counted up in
// place, digit by digit, rather than formatted afresh.
constexpr void write_records(std::size_t count, std::uint8_t* bytes, std::size_t* ends) noexcept {
    char name[24] = {'f', '0'};
    std::size_t name_size = 2;
    std::size_t at = 0;
    for (std::size_t position = 0; position < count; ++position) {
        bytes[at++] = static_cast<std::uint8_t>(name_size);
        for (std::size_t i = 0; i < name_size; ++i) bytes[at++] = static_cast<std::uint8_t>(name[i]);
        bytes[at++] = format::type_byte(format::VeskType::String);
        ends[position] = at;
        std::size_t digit = name_size - 1;
        while (digit > 0 && name[digit] == '9') name[digit--] = '0';
        if (digit == 0) {
            for (std::size_t i = name_size; i > 1; --i) name[i] = name[i - 1];
            name[1] = '1';
            ++name_size;
        } else {
            ++name[digit];
        }
    }
}

struct PrebuiltRecords {
    std::array<std::uint8_t, record_bytes(ShapeNumbering::FieldRecords::kPrebuiltFields)> bytes{};
    std::array<std::size_t, ShapeNumbering::FieldRecords::kPrebuiltFields> ends{};
};

constexpr PrebuiltRecords prebuild_records() noexcept {
    PrebuiltRecords records;
    write_records(ShapeNumbering::FieldRecords::kPrebuiltFields, records.bytes.data(), records.ends.data());
    return records;
}

constexpr PrebuiltRecords kPrebuiltRecords = prebuild_records();

}  // namespace

ShapeNumbering::FieldRecords::FieldRecords(std::size_t count, std::pmr::memory_resource* memory)
    : bytes_(kPrebuiltRecords.bytes.data()), ends_(kPrebuiltRecords.ends.data()), own_bytes_(memory), own_ends_(memory) {
    if (count <= kPrebuiltFields) return;
    own_bytes_.resize(record_bytes(count));
    own_ends_.resize(count);
    write_records(count, own_bytes_.data(), own_ends_.data());
    bytes_ = own_bytes_.data();
    ends_ = own_ends_.data();
}

std::size_t ShapeNumbering::record_size(const Definition& definition, const FieldRecords& records) const noexcept {
    if (definition.kind == format::VeskType::Array) return format::kArrayDefinitionSize;
    return format::kObjectDefinitionHeaderSize + records.size(field_count(definition));
}

std::uint8_t* ShapeNumbering::write_definition_block(std::uint8_t* at, const FieldRecords& records) const noexcept {
    at = tables::write_primitive_definitions(at, count());
    auto number = static_cast<std::uint16_t>(format::kPrimitiveDefinitionCount);
    for (const Definition& definition : definitions_) {
        at[0] = format::type_byte(definition.kind);
        format::store_u16le(at + 1, number++);
        at += format::kDefinitionHeaderSize;
        if (definition.kind == format::VeskType::Array) {
            *at++ = format::type_byte(definition.elem_type);
            continue;
        }
        const Step* step = &steps_[definition.shape];
        const std::size_t fields = field_count(definition);
        format::store_u16le(at, static_cast<std::uint16_t>(fields));
        at += 2;
        if (fields == 0) continue;  // an empty dict: no field records, maybe none made at all
        std::memcpy(at, records.bytes(), records.size(fields));
        // The values' types, from the last item back.
        for (std::size_t item = step->items; item > 0; --item) {
            at[records.size(2 * item) - 1] = format::type_byte(step->value_type);
            step = &steps_[step->from];
        }
        at += records.size(fields);
    }
    return at;
}

}  // namespace vesk::emit
