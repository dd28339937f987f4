#include "compile/data_container.hpp"

#include <algorithm>
#include <string>

#include "compile/container_blocks.hpp"
#include "compile/text_hash.hpp"
#include "encode/writer_faults.hpp"
#include "error/format_message.hpp"

namespace vesk {

namespace {

// The data block opens with its entry count and the one entry's header
// (definition number and payload length), filled in by finish().
constexpr std::size_t kDataHeaderSize = kEntryCountSize + kEntryHeaderSize;

// The positional field names f0, f1, ..., as a table whose ids are the
// positions, for the definition block writer. `storage` holds the texts.
StringTable field_names(std::size_t count, std::uint64_t seed, std::string& storage) {
    storage.reserve(count * 6);
    std::vector<std::size_t> ends;
    ends.reserve(count);
    for (std::size_t position = 0; position < count; ++position) {
        storage.push_back('f');
        append_decimal(storage, position);
        ends.push_back(storage.size());
    }
    StringTable names(seed);
    std::size_t begin = 0;
    for (const std::size_t end : ends) {
        names.intern(std::string_view(storage).substr(begin, end - begin));
        begin = end;
    }
    return names;
}

}  // namespace

DataContainer::DataContainer(ContainerMemory& memory, std::uint8_t* block, std::size_t capacity,
                             std::uint64_t seed, std::size_t max_container_size)
    : memory_(memory),
      base_(block),
      capacity_(capacity),
      max_size_(max_container_size),
      seed_(seed),
      strings_(seed),
      shapes_(seed ^ 0x5bd1e995u),
      shape_steps_(1, ShapeStep{0, VeskType::Null}) {
    room(kDataHeaderSize);
    size_ = kDataHeaderSize;
}

void DataContainer::grow(std::size_t bytes) {
    const std::size_t capacity = std::max(size_ + bytes, 2 * capacity_);
    base_ = memory_.resize(capacity);
    capacity_ = capacity;
}

void DataContainer::note_dictionary_entry(std::size_t length) noexcept {
    longest_string_ = std::max(longest_string_, length);
    // A string too long to encode is refused before its size matters.
    if (length <= kMaxStringLength) dictionary_bytes_ += string_encoding_size(length);
}

std::size_t DataContainer::step_slot(std::uint64_t key) const noexcept {
    // Seeded, as the string hash is: input cannot be built to make the
    // steps of its shapes collide.
    return fold_multiply(key ^ seed_, (seed_ ^ 0x94D049BB133111EBull) | 1) & (step_slots_.size() - 1);
}

std::uint32_t DataContainer::step_to(std::uint32_t shape, VeskType value_type) {
    if ((step_count_ + 1) * 2 > step_slots_.size()) {
        std::vector<StepSlot> old = std::move(step_slots_);
        step_slots_.assign(old.empty() ? 64 : 2 * old.size(), StepSlot{});
        for (const StepSlot& slot : old) {
            if (slot.key == 0) continue;
            std::size_t at = step_slot(slot.key);
            while (step_slots_[at].key != 0) at = (at + 1) & (step_slots_.size() - 1);
            step_slots_[at] = slot;
        }
    }
    const std::uint64_t key = ((std::uint64_t{shape} << 8) | type_byte(value_type)) + 1;
    const std::size_t mask = step_slots_.size() - 1;
    std::size_t at = step_slot(key);
    while (step_slots_[at].key != key && step_slots_[at].key != 0) at = (at + 1) & mask;
    StepSlot& slot = step_slots_[at];
    if (slot.key == 0) {
        slot = StepSlot{key, static_cast<std::uint32_t>(shape_steps_.size())};
        ++step_count_;
        shape_steps_.push_back(ShapeStep{shape, value_type});
    }
    ShapeStep& from = shape_steps_[shape];
    from.last_type = value_type;
    from.last_next = slot.next;
    return slot.next;
}

std::uint16_t DataContainer::number_object_shape(std::uint32_t shape) {
    // The fields, walked back from the last item: each item is its key, a
    // String, and its value.
    std::vector<ShapeField> fields;
    for (std::uint32_t at = shape; at != 0; at = shape_steps_[at].from) {
        fields.push_back(ShapeField{0, shape_steps_[at].value_type});
        fields.push_back(ShapeField{0, VeskType::String});
    }
    std::reverse(fields.begin(), fields.end());
    for (std::size_t position = 0; position < fields.size(); ++position) {
        fields[position].name = static_cast<std::uint32_t>(position);
    }
    const std::uint16_t number = definition_number(shapes_.intern_object(fields));
    shape_steps_[shape].number = number;
    widest_object_ = std::max(widest_object_, fields.size());
    return number;
}

std::optional<VeskError> DataContainer::refusal(std::size_t prefix_size, const StringTable& names) const {
    const std::size_t total = prefix_size + size_;
    if (total <= max_size_ && widest_object_ <= kMaxFields && longest_string_ <= kMaxStringLength &&
        !long_array_) {
        return std::nullopt;
    }
    // Something is refused, or the container is too large, and whichever the
    // document writer meets first is reported. Its output only grows, so the
    // size is found too large exactly where it checks it past the ceiling.
    std::size_t offset = kHeaderSize + definition_block_base_size();
    for (std::uint32_t shape = 0; shape < shapes_.size(); ++shape) {
        if (offset > max_size_) return container_too_large();
        if (shapes_.shape(shape).kind == VeskType::Object && shapes_.shape(shape).field_count > kMaxFields) {
            return too_many_fields(definition_number(shape), shapes_.shape(shape).field_count);
        }
        offset += definition_record_size(shapes_, names, shape);
    }
    if (offset > max_size_ || strings_.size() > max_size_) return container_too_large();
    offset += kStringCountSize;
    for (std::uint32_t string = 0; string < strings_.size(); ++string) {
        if (offset > max_size_) return container_too_large();
        const std::size_t length = strings_.text(string).size();
        if (length > kMaxStringLength) return string_too_long();
        offset += string_encoding_size(length);
    }
    // The data: the entry count, then the one entry, whose header is written
    // unchecked.
    if (offset > max_size_ || max_size_ < 1) return container_too_large();
    if (long_array_) {
        if (prefix_size + long_array_->at > max_size_) return container_too_large();
        return too_many_items(long_array_->count);
    }
    if (total > max_size_) return container_too_large();
    return std::nullopt;
}

Result<std::size_t> DataContainer::finish(std::uint16_t root_definition) {
    const std::size_t definition_count = kPrimitiveDefinitionCount + std::size_t{shapes_.size()};
    if (definition_count > kMaxDefinitions) return too_many_definitions(definition_count);

    std::string name_storage;
    const StringTable names = field_names(widest_object_, seed_ ^ 0x27d4eb2du, name_storage);
    DefinitionNumbering numbering;
    std::size_t definition_block_size = definition_block_base_size();
    for (std::uint32_t shape = 0; shape < shapes_.size(); ++shape) {
        numbering.number(shape);
        definition_block_size += definition_record_size(shapes_, names, shape);
    }
    const std::size_t dict_block_offset = kHeaderSize + definition_block_size;
    const std::size_t data_block_offset = dict_block_offset + kStringCountSize + dictionary_bytes_;
    if (std::optional<VeskError> refused = refusal(data_block_offset, names)) return std::move(*refused);

    store_u32le(base_, 1);
    store_u16le(base_ + kEntryCountSize, root_definition);
    store_u32le(base_ + kEntryCountSize + 2, static_cast<std::uint32_t>(size_ - kDataHeaderSize));

    const std::size_t total = data_block_offset + size_;
    if (capacity_ < total) {
        base_ = memory_.resize(total);
        capacity_ = total;
    }
    std::memmove(base_ + data_block_offset, base_, size_);
    write_header(base_, dict_block_offset, data_block_offset);
    std::uint8_t* at = write_definition_block(base_ + kHeaderSize, shapes_, names, numbering);
    store_u32le(at, strings_.size());
    at += kStringCountSize;
    for (std::uint32_t string = 0; string < strings_.size(); ++string) at = vesk::write_string(at, strings_.text(string));
    if (capacity_ != total) {
        base_ = memory_.resize(total);
        capacity_ = total;
    }
    size_ = total;
    return total;
}

void ListItems::turn_to_floats(std::size_t count) {
    floats_ = true;
    if (first_ != VeskType::Int32) return;
    // Every item so far is an Int32: its full value is its own unless it was
    // noted as wide.
    const auto& wide = out_.wide_integers();
    std::size_t next_wide = wide_from_;
    for (std::size_t position = 0; position < count; ++position) {
        std::uint8_t* item = out_.data_at(first_item_at_ + 4 * position);
        std::int64_t whole = static_cast<std::int32_t>(load_u32le(item));
        if (next_wide < wide.size() && wide[next_wide].first == position) whole = wide[next_wide++].second;
        store_u32le(item, std::bit_cast<std::uint32_t>(static_cast<float>(whole)));
    }
}

}  // namespace vesk
