#include "dumps/tape_losses.hpp"

#include <bit>
#include <cstdint>

#include "dumps/json_tape.hpp"
#include "dumps/member_layouts.hpp"
#include "dumps/tape_path.hpp"
#include "format/float_narrowing.hpp"
#include "format/vesk_type.hpp"

namespace vesk::dumps {

namespace {

using Kind = StoredNumber::Kind;

StoredNumber signed_number(std::int64_t value) noexcept { return {Kind::Signed, static_cast<std::uint64_t>(value)}; }
StoredNumber unsigned_number(std::uint64_t value) noexcept { return {Kind::Unsigned, value}; }
StoredNumber float_number(double value) noexcept { return {Kind::Float, std::bit_cast<std::uint64_t>(value)}; }
StoredNumber float32_number(std::uint32_t bits) noexcept {
    return float_number(static_cast<double>(std::bit_cast<float>(bits)));
}

class LossWalk {
public:
    LossWalk(const JsonContainerParts& parts, bool count_all)
        : parts_(parts), tape_(parts.tape.data()), path_(parts), count_all_(count_all) {}

    // Walks the value at `at`; false once the walk should stop.
    bool walk(std::uint32_t at) {
        const std::uint32_t word = tape_[at];
        switch (tag_of(word)) {
            case kNumberTag: return number(at, false);
            case kArrayTag: return array(at, word);
            case kObjectTag: return object(at);
            case kNullTag:
            case kBoolTag:
            case kStringTag:
            case kDroppedTag: return true;
        }
        return true;
    }

    NumberLosses result() && { return std::move(losses_); }

private:
    bool array(std::uint32_t at, std::uint32_t word) {
        const std::uint32_t count = record::item_count(tape_, at);
        // Every item of an array of mixed numbers is a number, stored as a
        // binary32.
        const bool as_floats = record::holds_mixed_numbers(word);
        path_.open();
        std::uint32_t item = at + kContainerRecordSize;
        for (std::uint32_t i = 0; i < count; ++i) {
            path_.at_item(i);
            if (!(as_floats ? number(item, true) : walk(item))) return false;
            item = record_end(tape_, item);
        }
        path_.close();
        return true;
    }

    bool object(std::uint32_t at) {
        const LayoutTable::Layout& layout = parts_.layouts.layout(record::layout_of(tape_, at));
        path_.open();
        std::uint32_t value = at + kContainerRecordSize;
        for (std::uint32_t member = 0; member < layout.member_count; ++member) {
            if (tag_of(tape_[value]) != kDroppedTag) {
                path_.at_member(parts_.layouts.name_at(layout.first_name + member));
                if (!walk(value)) return false;
            }
            value = record_end(tape_, value);
        }
        path_.close();
        return true;
    }

    // The number at `at`, in an array of mixed numbers or not.
    bool number(std::uint32_t at, bool as_float) {
        const std::uint32_t word = tape_[at];
        if (record::is_kept_float(word)) {
            return lost(NumberChange{float_number(std::bit_cast<double>(record::kept_double_bits(tape_, at))),
                                     float32_number(record::narrowed_bits(tape_, at))});
        }
        const auto type = static_cast<format::VeskType>(record::number_type_byte(word));
        if (type == format::VeskType::Float32) return true;
        if (record::is_wide(word)) {
            const std::uint64_t bits = record::full_integer_bits(tape_, at);
            const bool negative = type == format::VeskType::Int32 && static_cast<std::int64_t>(bits) < 0;
            const StoredNumber written = negative ? signed_number(static_cast<std::int64_t>(bits)) : unsigned_number(bits);
            if (as_float) {
                const bool held = negative ? format::float_holds(static_cast<std::int64_t>(bits)) : format::float_holds(bits);
                return held || lost(NumberChange{written, float32_number(record::full_float_bits(tape_, at))});
            }
            const std::uint32_t narrowed = record::narrowed_bits(tape_, at);
            return lost(NumberChange{written, type == format::VeskType::Uint32
                                                  ? unsigned_number(narrowed)
                                                  : signed_number(static_cast<std::int32_t>(narrowed))});
        }
        if (!as_float) return true;
        const auto value = static_cast<std::int32_t>(record::narrowed_bits(tape_, at));
        if (format::float_holds(std::int64_t{value})) return true;
        return lost(NumberChange{signed_number(value),
                                 float_number(static_cast<double>(static_cast<float>(value)))});
    }

    bool lost(const NumberChange& change) {
        if (losses_.count++ == 0) losses_.first = VeskError::loss(path_.text(), change);
        return count_all_;
    }

    const JsonContainerParts& parts_;
    const std::uint32_t* tape_;
    TapePath path_;
    bool count_all_;
    NumberLosses losses_;
};

}  // namespace

NumberLosses find_number_losses(const JsonContainerParts& parts, bool count_all) {
    LossWalk walk(parts, count_all);
    walk.walk(0);
    return std::move(walk).result();
}

}  // namespace vesk::dumps
