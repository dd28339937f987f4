#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "format/container_layout.hpp"
#include "format/vesk_type.hpp"
#include "tables/table_memory.hpp"

namespace vesk::tables {

// One field of an object shape: its name, as the id of a text in the
// compiler's table of names (or its position, where names are positional),
// and the type of its value.
struct ShapeField {
    std::uint32_t name;
    format::VeskType type;

    friend bool operator==(const ShapeField&, const ShapeField&) = default;
};

// Distinct object and array shapes, numbered 0, 1, 2, ... in the order they
// are first interned. An object shape is its field list, looked up by a hash
// over the (name, type) pairs and then compared pair by pair, so no key text
// is ever rendered; an array shape is its element type alone. Hashes are
// seeded per table, as in StringTable.
class ShapeTable {
public:
    // The index of object shapes starts with `first_slots` places, a power
    // of two.
    explicit ShapeTable(std::uint64_t seed, std::pmr::memory_resource* memory = heap_memory(),
                        std::size_t first_slots = 64) noexcept
        : shapes_(memory), fields_(memory), slots_(memory), first_slots_(first_slots), seed_(seed) {}

    struct Shape {
        format::VeskType kind;       // Array or Object
        format::VeskType elem_type;  // arrays
        std::uint32_t first_field;  // objects: position in the field store
        std::uint32_t field_count;
    };

    // The table holds fewer than 2^32 - 1 shapes.
    std::uint32_t intern_object(std::span<const ShapeField> fields);
    std::uint32_t intern_array(format::VeskType elem_type);

    std::uint32_t size() const noexcept { return static_cast<std::uint32_t>(shapes_.size()); }
    // Room for `shapes` shapes with `fields` fields in all, without growing.
    void reserve(std::size_t shapes, std::size_t fields) {
        shapes_.reserve(shapes);
        fields_.reserve(fields);
    }
    const Shape& shape(std::uint32_t id) const noexcept { return shapes_[id]; }
    std::span<const ShapeField> fields(std::uint32_t id) const noexcept {
        return std::span<const ShapeField>(fields_).subspan(shapes_[id].first_field, shapes_[id].field_count);
    }

private:
    std::uint64_t hash(std::span<const ShapeField> fields) const noexcept;
    void grow();

    TableVector<Shape> shapes_;
    TableVector<ShapeField> fields_;
    // Object shapes: linear probing, as in StringTable, with the full hash
    // beside the id + 1 (0 marks a free slot).
    struct Slot {
        std::uint64_t hash = 0;
        std::uint32_t id_plus_one = 0;
    };
    TableVector<Slot> slots_;
    std::size_t first_slots_;
    std::size_t object_count_ = 0;
    // Array shapes by the element type's ordinal; 0: none yet.
    std::array<std::uint32_t, format::kTypeCount> arrays_{};
    std::uint64_t seed_;
};

// Definition numbers for shapes, handed out from kPrimitiveDefinitionCount
// upward in the order a compiler first asks for each shape. Where the
// compiler asks (before or after a container's contents) decides the order.
class DefinitionNumbering {
public:
    explicit DefinitionNumbering(std::pmr::memory_resource* memory = heap_memory()) noexcept
        : numbers_(memory), order_(memory) {}

    std::uint32_t number(std::uint32_t shape) {
        if (shape >= numbers_.size()) numbers_.resize(std::size_t{shape} + 1 + numbers_.size() / 2, 0);
        std::uint32_t& number = numbers_[shape];
        if (number == 0) {
            number = static_cast<std::uint32_t>(format::kPrimitiveDefinitionCount + order_.size());
            order_.push_back(shape);
        }
        return number;
    }

    // Room for `shapes` shapes, without growing.
    void reserve(std::size_t shapes) {
        numbers_.reserve(shapes);
        order_.reserve(shapes);
    }

    // The numbered shapes: position i has number kPrimitiveDefinitionCount + i.
    std::span<const std::uint32_t> shapes() const noexcept { return order_; }
    std::size_t definition_count() const noexcept { return format::kPrimitiveDefinitionCount + order_.size(); }

private:
    TableVector<std::uint32_t> numbers_;  // by shape; 0: not numbered yet
    TableVector<std::uint32_t> order_;
};

}  // namespace vesk::tables
