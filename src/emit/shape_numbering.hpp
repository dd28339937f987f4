#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory_resource>

#include "format/container_layout.hpp"
#include "format/vesk_type.hpp"
#include "tables/table_memory.hpp"

namespace vesk::emit {

// The definitions of emit's container, numbered as they are asked for: an
// array's when its element type is known, an object's when its values are
// done. Dicts are objects whose values alternate key and value, with
// positional field names f0, f1, ..., so the value types alone tell an
// object's shape. A shape is found step by step, as a path from the empty
// shape with one step per item: each shape knows, for each of the eight
// types, the shape one more item of that type leads to. Each path of steps
// is a different list of value types, so each shape is met once and needs
// no lookup by its fields.
class ShapeNumbering {
public:
    explicit ShapeNumbering(std::pmr::memory_resource* memory);

    // The shape of an object's items so far, one item more.
    std::uint32_t step(std::uint32_t shape, format::VeskType value_type) {
        const std::uint32_t next = steps_[shape].next[format::type_index(value_type)];
        return next != 0 ? next : step_to(shape, value_type);
    }
    // The definition number of an object of `shape`.
    std::uint32_t object_number(std::uint32_t shape) {
        const std::uint32_t number = steps_[shape].number;
        return number != 0 ? number : number_object_shape(shape);
    }
    // The definition number of an array of `element_type`.
    std::uint32_t array_number(format::VeskType element_type) {
        const std::uint32_t number = array_numbers_[format::type_index(element_type)];
        return number != 0 ? number : number_array_shape(element_type);
    }

    // The definitions after the primitive ones, in the order they are
    // numbered. Numbers past 16 bits never reach the output: the container
    // is refused with that many definitions.
    struct Definition {
        format::VeskType kind;        // Array or Object
        format::VeskType elem_type;   // arrays
        std::uint32_t shape;  // objects
    };
    const tables::TableVector<Definition>& definitions() const noexcept { return definitions_; }
    std::size_t count() const noexcept { return format::kPrimitiveDefinitionCount + definitions_.size(); }
    // An object's fields: item i is field 2i, its key, and field 2i + 1, its
    // value.
    std::size_t field_count(const Definition& definition) const noexcept {
        return 2 * std::size_t{steps_[definition.shape].items};
    }
    std::size_t widest_object() const noexcept { return widest_object_; }

    // The field records of the widest object, one after another: each
    // field's name with its length before it and a String type byte after
    // it. An object of n fields is the first n records with its values'
    // types written over the type bytes of the odd ones.
    // Objects of up to kPrebuiltFields fields, nearly all, take theirs from
    // records made once when compiling.
    class FieldRecords {
    public:
        static constexpr std::size_t kPrebuiltFields = 128;

        FieldRecords(std::size_t count, std::pmr::memory_resource* memory);
        // Bytes of the first `count` records.
        std::size_t size(std::size_t count) const noexcept { return count == 0 ? 0 : ends_[count - 1]; }
        const std::uint8_t* bytes() const noexcept { return bytes_; }

    private:
        const std::uint8_t* bytes_;
        const std::size_t* ends_;
        tables::TableVector<std::uint8_t> own_bytes_;
        tables::TableVector<std::size_t> own_ends_;
    };
    std::size_t record_size(const Definition& definition, const FieldRecords& records) const noexcept;
    // The definition block, written from `at`; returns its end.
    std::uint8_t* write_definition_block(std::uint8_t* at, const FieldRecords& records) const noexcept;

private:
    std::uint32_t step_to(std::uint32_t shape, format::VeskType value_type);
    std::uint32_t number_array_shape(format::VeskType element_type);
    std::uint32_t number_object_shape(std::uint32_t shape);
    std::uint32_t new_definition(const Definition& definition) {
        definitions_.push_back(definition);
        return static_cast<std::uint32_t>(format::kPrimitiveDefinitionCount + definitions_.size() - 1);
    }

    // The object shapes met so far, by a number of their own: 0 is the
    // empty shape, and every other is the step of one item from an earlier
    // one.
    struct Step {
        std::uint32_t from = 0;
        std::uint32_t items = 0;
        std::uint32_t number = 0;  // its definition; 0: none yet
        format::VeskType value_type = format::VeskType::Null;
        std::array<std::uint32_t, format::kTypeCount> next{};  // by type index; 0: not taken yet
    };
    tables::TableVector<Step> steps_;
    tables::TableVector<Definition> definitions_;
    std::array<std::uint32_t, format::kTypeCount> array_numbers_{};  // by type index; 0: none yet
    std::size_t widest_object_ = 0;
};

}  // namespace vesk::emit
