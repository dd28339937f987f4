#include "dumps/tape_refusal.hpp"

#include "format/array_item_rule.hpp"
#include "tables/container_blocks.hpp"
#include "dumps/json_tape.hpp"
#include "dumps/tape_path.hpp"
#include "format/writer_faults.hpp"
#include "format/container_layout.hpp"
#include "format/format_limits.hpp"

namespace vesk::dumps {

namespace {

// The writer's walk without the writing: what it numbers, and how far into
// the data each value starts. It keeps the path of the value it is at, and
// each fault it may report carries the path of the value the fault is
// about: the array or string refused, the object whose shape's definition
// is (the first that has it), the string whose dictionary entry is (the
// occurrence that makes the entry).
class RefusalWalk {
public:
    explicit RefusalWalk(const JsonContainerParts& parts)
        : parts_(parts), tape_(parts.tape.data()), path_(parts),
          dictionary_(parts.strings.size(), tables::TableVector<std::uint32_t>()) {}

    // Walks the value at `at`; false at the first refused array to close,
    // whose fault is then refused().
    bool walk(std::uint32_t at) {
        const std::uint32_t word = tape_[at];
        switch (tag_of(word)) {
            case kNullTag: return true;
            case kBoolTag: data_size_ += 1; return true;
            case kNumberTag: data_size_ += 4; return true;
            case kStringTag: string(record::string_id(word)); return true;
            case kArrayTag: return array(at, word);
            case kObjectTag: return object(at, word);
            case kDroppedTag: return true;  // layouts leave them out
        }
        return true;
    }

    const VeskError& refused() const noexcept { return *refused_; }

    // The first fault in output order, once the walk went through.
    std::optional<VeskError> output_fault(std::size_t max_size) const {
        const std::size_t definition_count = numbering_.definition_count();
        if (definition_count > format::kMaxDefinitions) {
            return format::too_many_definitions(definition_count).at_path(first_beyond_definitions_);
        }
        std::size_t offset = format::kHeaderSize + tables::definition_block_base_size();
        std::size_t number = format::kPrimitiveDefinitionCount;
        for (const std::uint32_t shape : numbering_.shapes()) {
            if (offset > max_size) return whole(format::container_too_large());
            if (parts_.shapes.shape(shape).kind == format::VeskType::Array) {
                offset += format::kArrayDefinitionSize;
            } else {
                const std::span<const tables::ShapeField> fields = parts_.shapes.fields(shape);
                if (fields.size() > format::kMaxFields) {
                    return format::too_many_fields(number, fields.size()).at_path(first_faulty_shape_);
                }
                offset += format::kObjectDefinitionHeaderSize;
                for (const tables::ShapeField& field : fields) {
                    if (offset > max_size) return whole(format::container_too_large());
                    const std::size_t name_size = parts_.names.text(field.name).size();
                    if (name_size > format::kMaxFieldNameLength) {
                        return format::field_name_too_long().at_path(first_faulty_shape_);
                    }
                    offset += format::kMinFieldSize + name_size;
                }
            }
            ++number;
        }
        const std::span<const std::uint32_t> entries = dictionary_.entries();
        if (offset > max_size || entries.size() > max_size) return whole(format::container_too_large());
        offset += format::kStringCountSize;
        for (const std::uint32_t id : entries) {
            if (offset > max_size) return whole(format::container_too_large());
            const std::size_t size = parts_.strings.text(id).size();
            if (size > format::kMaxStringLength) return format::string_too_long().at_path(first_long_entry_);
            offset += format::string_encoding_size(size);
        }
        // The one data entry, whose header is written unchecked.
        if (offset > max_size || max_size < 1) return whole(format::container_too_large());
        offset += format::kEntryCountSize + format::kEntryHeaderSize;
        if (data_fault_) {
            if (offset + data_fault_at_ > max_size) return whole(format::container_too_large());
            return data_fault_;
        }
        if (offset + data_size_ > max_size) return whole(format::container_too_large());
        return std::nullopt;
    }

private:
    // The container itself is refused: the whole container's path.
    static VeskError whole(VeskError fault) { return std::move(fault).at_path(std::string(format::kRootPath)); }

    void string(std::uint32_t id) {
        const std::size_t entries = dictionary_.entries().size();
        if (dictionary_.occurrence(id)) {
            data_size_ += format::string_prefix_size(format::StringClass::Reference);
            if (dictionary_.entries().size() != entries && first_long_entry_.empty() &&
                parts_.strings.text(id).size() > format::kMaxStringLength) {
                first_long_entry_ = path_.text();
            }
            return;
        }
        const std::size_t size = parts_.strings.text(id).size();
        if (size > format::kMaxStringLength) note_data_fault(format::string_too_long());
        data_size_ += format::string_encoding_size(size);
    }

    bool array(std::uint32_t at, std::uint32_t word) {
        const std::uint32_t count = record::item_count(tape_, at);
        if (count > format::kMaxArrayItems) note_data_fault(format::too_many_items(count));
        data_size_ += format::kArrayHeaderSize;
        std::uint32_t item = at + kContainerRecordSize;
        path_.open();
        for (std::uint32_t i = 0; i < count; ++i) {
            path_.at_item(i);
            if (!walk(item)) return false;
            item = record_end(tape_, item);
        }
        path_.close();
        if (record::is_refused(word)) {
            refused_ = disagreeing_item(at).at_path(path_.text());
            return false;
        }
        number(record::array_shape(word));
        return true;
    }

    bool object(std::uint32_t at, std::uint32_t word) {
        const LayoutTable::Layout& layout = parts_.layouts.layout(record::layout_of(tape_, at));
        data_size_ += format::kObjectHeaderSize;
        const std::size_t base = positions_.size();
        std::uint32_t value = at + kContainerRecordSize;
        for (std::uint32_t i = 0; i < layout.member_count; ++i) {
            positions_.push_back(value);
            value = record_end(tape_, value);
        }
        path_.open();
        for (const std::uint32_t member : parts_.layouts.order(layout)) {
            path_.at_member(parts_.layouts.name_at(layout.first_name + member));
            if (!walk(positions_[base + member])) return false;
        }
        path_.close();
        positions_.resize(base);
        number(record::object_shape(word));
        return true;
    }

    // Numbers the shape of the container the walk is at, and notes its path
    // when this is the first definition past the limit, or the first whose
    // fields the writer refuses.
    void number(std::uint32_t shape) {
        const std::size_t before = numbering_.definition_count();
        numbering_.number(shape);
        if (numbering_.definition_count() == before) return;
        if (before == format::kMaxDefinitions) first_beyond_definitions_ = path_.text();
        if (!first_faulty_shape_.empty() || parts_.shapes.shape(shape).kind == format::VeskType::Array) return;
        const std::span<const tables::ShapeField> fields = parts_.shapes.fields(shape);
        bool faulty = fields.size() > format::kMaxFields;
        for (const tables::ShapeField& field : fields) {
            faulty = faulty || parts_.names.text(field.name).size() > format::kMaxFieldNameLength;
        }
        if (faulty) first_faulty_shape_ = path_.text();
    }

    // The array at `at` holds items that disagree: the first that does not
    // fit the type of its first item that is not null.
    VeskError disagreeing_item(std::uint32_t at) const {
        const std::uint32_t count = record::item_count(tape_, at);
        format::VeskType expected = format::VeskType::Null;
        for (std::uint32_t i = 0, item = at + kContainerRecordSize; i < count; ++i, item = record_end(tape_, item)) {
            expected = record::value_type(tape_[item]);
            if (expected != format::VeskType::Null) break;
        }
        std::uint32_t item = at + kContainerRecordSize;
        for (std::uint32_t i = 0;; ++i, item = record_end(tape_, item)) {
            const format::VeskType found = record::value_type(tape_[item]);
            if (!format::fits_array_items(found, expected)) return format::mixed_array_item(i, found, expected);
        }
    }

    // A fault of the value the walk is at.
    void note_data_fault(VeskError fault) {
        if (data_fault_) return;
        data_fault_ = std::move(fault).at_path(path_.text());
        data_fault_at_ = data_size_;
    }

    const JsonContainerParts& parts_;
    const std::uint32_t* tape_;
    TapePath path_;
    tables::DefinitionNumbering numbering_;
    tables::DictionaryNumbering dictionary_;
    std::size_t data_size_ = 0;  // of the values walked, from the entry's payload on
    std::optional<VeskError> refused_;
    std::optional<VeskError> data_fault_;
    std::size_t data_fault_at_ = 0;
    std::string first_beyond_definitions_;
    std::string first_faulty_shape_;
    std::string first_long_entry_;
    tables::TableVector<std::uint32_t> positions_;  // of the values of the objects being walked
};

}  // namespace

std::optional<VeskError> first_refusal(const JsonContainerParts& parts, std::size_t max_container_size) {
    RefusalWalk walk(parts);
    if (!walk.walk(0)) return walk.refused();
    return walk.output_fault(max_container_size);
}

}  // namespace vesk::dumps
