#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "emit/data_container.hpp"
#include "format/array_item_rule.hpp"
#include "format/byte_order.hpp"
#include "format/float_narrowing.hpp"
#include "format/vesk_type.hpp"

namespace vesk::emit {

// The items of one list as they are written. All must have the first item's
// type, except that ints and floats may mix; every int of such a list is then
// written as Float32, rounded once from its full value (so 2**40 stays 2**40
// instead of turning into its low 32 bits). Ints written before the first
// float are rewritten in place when it comes: numbers take four bytes either
// way.
class ListItems {
public:
    explicit ListItems(DataContainer& out) noexcept
        : out_(out), runs_from_(out.int_runs().size()), wide_from_(out.wide_integers().size()) {}
    ~ListItems() {
        if (out_.int_runs().size() != runs_from_) out_.int_runs().resize(runs_from_);
        if (out_.wide_integers().size() != wide_from_) out_.wide_integers().resize(wide_from_);
    }

    ListItems(const ListItems&) = delete;
    ListItems& operator=(const ListItems&) = delete;

    // Item `position`, of `type`, has just been written; an Int32 item holds
    // the low 32 bits of `integer`. False if its type does not fit the list:
    // the caller reports mixed_array_item(position, type, expected()).
    bool admit(std::size_t position, format::VeskType type, std::int64_t integer) {
        if (position == 0) {
            first_ = type;
        } else if (type != first_) {
            if (!format::fits_array_items(type, first_)) return false;
            if (!floats_) turn_to_floats(position);
        }
        if (type == format::VeskType::Int32) {
            std::uint8_t* item = out_.last_written(4);
            if (floats_) {
                format::store_u32le(item, std::bit_cast<std::uint32_t>(static_cast<float>(integer)));
                note_float_loss(position, integer);
                return true;
            }
            if (item != next_int_) out_.int_runs().emplace_back(position, item);
            next_int_ = item + 4;
            if (integer != static_cast<std::int32_t>(integer)) out_.wide_integers().emplace_back(position, integer);
        }
        return true;
    }

    // The same for items written as a run by the caller: `count` Float32
    // items from the first one on.
    void admit_floats(std::size_t count) noexcept {
        if (count > 0) first_ = format::VeskType::Float32;
    }
    // `count` Int32 items that fit 32 bits, from item `position` on, lying
    // end to end from `first`; every item before them was an Int32 too.
    void admit_ints(std::size_t position, std::uint8_t* first, std::size_t count) {
        if (count == 0) return;
        if (position == 0) first_ = format::VeskType::Int32;
        if (first != next_int_) out_.int_runs().emplace_back(position, first);
        next_int_ = first + 4 * count;
    }

    format::VeskType expected() const noexcept { return first_; }

    // The first int of the list, once it is written whole, that does not
    // read back as written: in a list of mixed numbers, the first whose
    // binary32 is not its value; in a list of ints, the first outside the
    // Int32 range.
    struct IntegerLoss {
        std::size_t position;
        std::int64_t value;
        bool as_float;  // stored as its binary32, in a list of mixed numbers; else wrapped to 32 bits
    };
    std::optional<IntegerLoss> integer_loss() const {
        if (floats_) return float_loss_;
        const auto& wide = out_.wide_integers();
        if (wide.size() == wide_from_) return std::nullopt;
        return IntegerLoss{wide[wide_from_].first, wide[wide_from_].second, false};
    }

    // The element type of the list as written: its first item's, Float32 for
    // mixed numbers, Null when it has no items.
    format::VeskType element_type() const noexcept { return floats_ ? format::VeskType::Float32 : first_; }

private:
    void turn_to_floats(std::size_t count);
    void note_float_loss(std::size_t position, std::int64_t value) {
        if (!float_loss_ && !format::float_holds(value)) float_loss_ = IntegerLoss{position, value, true};
    }

    DataContainer& out_;
    std::size_t runs_from_;
    std::size_t wide_from_;
    std::uint8_t* next_int_ = nullptr;  // where the next int goes if it follows on
    format::VeskType first_ = format::VeskType::Null;
    bool floats_ = false;
    std::optional<IntegerLoss> float_loss_;  // the first int a binary32 does not hold
};

}  // namespace vesk::emit
