#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory_resource>
#include <new>
#include <span>
#include <string_view>
#include <vector>

#include "dumps/json_container_parts.hpp"
#include "dumps/json_tape.hpp"
#include "dumps/member_layouts.hpp"
#include "dumps/member_predictor.hpp"
#include "dumps/number_narrowing.hpp"
#include "format/array_item_rule.hpp"
#include "format/container_layout.hpp"
#include "format/format_limits.hpp"
#include "format/vesk_type.hpp"
#include "json/code_point_text.hpp"
#include "json/json_events.hpp"
#include "tables/shape_table.hpp"
#include "tables/string_table.hpp"
#include "tables/text_hash.hpp"

namespace vesk::dumps {

// Unnamed, though in a header: the compilers of JSON text (json_container.cpp)
// and of Python values (pack's reader) each include it. Local to each file,
// the builder's members and those of the reader instantiated over it may be
// inlined wherever the compiler sees fit, with no copy kept for other
// files; in a named namespace it inlines far less of the reader's hot loop.
namespace {

// The names of the members read so far in the objects being read, and the
// types of their values, a stack. Like the tape, a push is inline.
class MemberStack {
public:
    MemberStack(std::size_t room, std::pmr::memory_resource* memory) : memory_(memory) {
        resize_storage(static_cast<std::uint32_t>(room));
    }
    MemberStack(const MemberStack&) = delete;
    MemberStack& operator=(const MemberStack&) = delete;
    ~MemberStack() { release(); }

    std::uint32_t size() const noexcept { return size_; }
    [[gnu::always_inline]] void push(std::uint32_t name) {
        if (size_ == capacity_) [[unlikely]] resize_storage(capacity_ * 2);
        names_[size_] = name;
        types_[size_] = format::VeskType::Null;  // until the value is read
        ++size_;
    }
    void set_last_type(format::VeskType type) noexcept { types_[size_ - 1] = type; }
    void truncate(std::uint32_t size) noexcept { size_ = size; }
    std::uint32_t name(std::uint32_t at) const noexcept { return names_[at]; }
    std::uint32_t last_name() const noexcept { return names_[size_ - 1]; }
    // The names and types from `first` on.
    std::span<const std::uint32_t> names(std::uint32_t first) const noexcept {
        return {names_ + first, size_ - first};
    }
    std::span<const format::VeskType> types(std::uint32_t first) const noexcept {
        return {types_ + first, size_ - first};
    }

private:
    // The names and then the types, in one block.
    static std::size_t block_size(std::uint32_t capacity) noexcept {
        return std::size_t{capacity} * (sizeof(std::uint32_t) + sizeof(format::VeskType));
    }

    [[gnu::noinline]] void resize_storage(std::uint32_t capacity) {
        auto* block = static_cast<std::uint8_t*>(memory_->allocate(block_size(capacity), alignof(std::uint32_t)));
        auto* names = reinterpret_cast<std::uint32_t*>(block);
        auto* types = reinterpret_cast<format::VeskType*>(block + std::size_t{capacity} * sizeof(std::uint32_t));
        if (size_ != 0) {
            std::memcpy(names, names_, size_ * sizeof(std::uint32_t));
            std::memcpy(types, types_, size_ * sizeof(format::VeskType));
        }
        release();
        names_ = names;
        types_ = types;
        capacity_ = capacity;
    }
    void release() noexcept {
        if (names_ != nullptr) memory_->deallocate(names_, block_size(capacity_), alignof(std::uint32_t));
    }

    std::pmr::memory_resource* memory_;
    std::uint32_t* names_ = nullptr;
    format::VeskType* types_ = nullptr;
    std::uint32_t size_ = 0;
    std::uint32_t capacity_ = 0;
};

// Reads the events of the JSON text into the tape. It refuses nothing: what
// breaks a rule of the format (array items that disagree) or exceeds one of
// its limits is noted, and read on, for the writer's order to decide which
// fault comes first (see first_refusal), since only the values that are
// written count, and a repeated member name may still drop the one at hand.
class TapeBuilder {
public:
    // Room for the layouts and names of a typical text, as the layout
    // table has: grown step by step, these cost a text more than its
    // objects do.
    TapeBuilder(JsonContainerParts& parts, std::size_t text_size)
        : parts_(parts),
          tape_(parts.tape),
          open_(&parts.memory),
          members_(starting_room(256, text_size, kMinNameBytes), &parts.memory),
          predictor_(parts, text_size),
          fields_(&parts.memory),
          kept_(&parts.memory),
          last_shape_of_layout_(&parts.memory),
          last_types_(&parts.memory) {
        // The containers open at once: a few levels, from the call's own
        // memory, not the heap.
        open_.reserve(kFirstOpenLevels);
        last_shape_of_layout_.reserve(layout_room(text_size));
        last_types_.reserve(starting_room(512, text_size, kMinNameBytes));
    }

    void null_value() {
        tape_.push_back(record::null_word());
        add_value(format::VeskType::Null);
    }

    void boolean(bool value) {
        tape_.push_back(record::bool_word(value));
        fixed_data_size_ += 1;
        add_value(format::VeskType::Bool);
    }

    // A number. Those that may not read back as given are noted (see
    // may_lose()): every wide integer, an integer that a binary32 may not
    // hold should its array turn out to mix numbers, and a float whose
    // binary32 is infinite or zero though it is neither, which keeps its
    // binary64 on the tape for the report.
    [[gnu::always_inline]] void number(json::JsonKind kind, std::uint64_t bits) {
        const format::VeskType type = json_value_type(kind, bits);
        const std::uint32_t narrowed = narrowed_number_bits(kind, bits);
        if (kind == json::JsonKind::Float) {
            // Only a binary32 that is zero, infinite or NaN is looked at again.
            if ((narrowed & 0x7FFFFFFFu) - 1 >= 0x7F7FFFFFu && keep_lost_float(narrowed, bits)) [[unlikely]] return;
        } else {
            const auto value = static_cast<std::int64_t>(bits);
            if (kind == json::JsonKind::UInt ? bits > 0x7FFFFFFFu : value < INT32_MIN) [[unlikely]] {
                wide_integer(kind, type, bits);
                return;
            }
            beyond_float_ |= kind == json::JsonKind::UInt ? value > kFloatExactIntegers : value < -kFloatExactIntegers;
        }
        add_number(type, narrowed, false);
        add_value(type);
    }

    // A float, as the reader narrowed it already: all the tape keeps of one.
    [[gnu::always_inline]] void float32(float value) {
        add_number(format::VeskType::Float32, std::bit_cast<std::uint32_t>(value), false);
        add_value(format::VeskType::Float32);
    }

    [[gnu::flatten]] void string(std::string_view text, bool in_input) {
        check_string_size(text.size());
        add_string(intern_string(text, in_input));
    }

    [[gnu::flatten]] void string(std::string_view text, json::JsonShortText words) {
        const std::uint64_t hash = tables::hash_padded_words(words.low, words.high, text.size(), parts_.strings.seed());
        add_string(parts_.strings.intern(text, hash).id);
    }

    // Code-point text. A string without escapes is kept as a view of its
    // units; those of two such strings whose UTF-8 forms have one size are
    // the same exactly when their texts are (the units of the shorter one
    // end before the other's do: at its closing quote).
    void string_in_units(std::string_view text, const void* first_unit, std::size_t unit_count) {
        check_string_size(text.size());
        const json::TextUnits& units = parts_.units;
        const char* first = static_cast<const char*>(first_unit);
        const std::size_t bytes = unit_count * units.unit_size;
        const std::uint64_t hash = parts_.strings.hash(text);
        add_string(parts_.strings.intern_where({first, text.size()}, hash, [&](const char* kept) {
            if (!units.hold(kept)) return tables::same_bytes(kept, text.data(), text.size());
            return bytes <= static_cast<std::size_t>(units.end - kept) && std::memcmp(kept, first, bytes) == 0;
        }).id);
    }

    // Code-point text: a string that held escapes, copied as UTF-8 when new.
    void string_with_escapes(std::string_view text) {
        check_string_size(text.size());
        const json::TextUnits& units = parts_.units;
        add_string(intern_string(text, false, [&](const char* kept) {
            return units.hold(kept) ? json::units_start_with(units, kept, text) : tables::same_bytes(kept, text.data(), text.size());
        }));
    }

    // A float that narrowing loses keeps its binary64 on the tape; false for
    // any other.
    [[gnu::noinline]] bool keep_lost_float(std::uint32_t narrowed, std::uint64_t bits) {
        if (!format::narrowing_loses(std::bit_cast<double>(bits), std::bit_cast<float>(narrowed))) return false;
        std::uint32_t* record = tape_.append(record::kLongNumberSize);
        record[0] = record::kept_float_word();
        record[1] = narrowed;
        record[2] = static_cast<std::uint32_t>(bits);
        record[3] = static_cast<std::uint32_t>(bits >> 32);
        fixed_data_size_ += 4;
        may_lose_ = true;
        add_value(format::VeskType::Float32);
        return true;
    }

    // An integer outside the Int32 range.
    [[gnu::noinline]] void wide_integer(json::JsonKind kind, format::VeskType type, std::uint64_t bits) {
        std::uint32_t* record = add_number(type, static_cast<std::uint32_t>(bits), true);
        record[2] = std::bit_cast<std::uint32_t>(json_number_as_float(kind, bits));
        record[3] = static_cast<std::uint32_t>(bits >> 32);
        may_lose_ = true;
        add_value(type);
    }

    // The record of a number; a wide one has two more words, for the caller.
    [[gnu::always_inline]] std::uint32_t* add_number(format::VeskType type, std::uint32_t bits, bool wide) {
        std::uint32_t* record = tape_.append(wide ? record::kLongNumberSize : 2);
        record[0] = record::number_word(type, wide);
        record[1] = bits;
        fixed_data_size_ += 4;
        return record;
    }

    void add_string(std::uint32_t id) {
        if (id > kMaxStringId) [[unlikely]] throw std::bad_alloc();
        if (id == parts_.string_counts.size()) parts_.string_counts.push_back(0);
        ++parts_.string_counts[id];
        tape_.push_back(record::string_word(id));
        add_value(format::VeskType::String);
    }

    void begin_array() { open(true); }

    [[gnu::always_inline]] void end_array() {
        const Open array = open_.back();
        open_.pop_back();
        if (array.count > format::kMaxArrayItems) [[unlikely]] noted_fault_ = true;
        std::uint32_t word = record::refused_array_word();
        if (!array.refused) [[likely]] {
            const bool mixed = array.mixed;
            const format::VeskType elem_type = array.count == 0 ? format::VeskType::Null : mixed ? format::VeskType::Float32 : array.first;
            // Arrays mostly come in runs of one element type (coordinates).
            if (elem_type != last_array_type_ || last_array_shape_ == kNone) {
                last_array_type_ = elem_type;
                last_array_shape_ = parts_.shapes.intern_array(elem_type);
            }
            const std::uint32_t shape = last_array_shape_;
            if (shape > kMaxArrayShape) [[unlikely]] throw std::bad_alloc();
            use_shape(shape);
            word = record::array_word(shape, mixed);
            mixed_numbers_ = mixed_numbers_ || mixed;
        }
        record::close_container(tape_.data(), array.at, word, static_cast<std::uint32_t>(tape_.size()), array.count);
        fixed_data_size_ += format::kArrayHeaderSize;
        add_value(format::VeskType::Array);
    }

    void begin_object() {
        open(false);
        const bool member = open_.size() >= 2 && !open_[open_.size() - 2].is_array;
        open_.back().expected = predictor_.expect(open_.size() - 1, member ? members_.last_name() : kNone);
    }

    // Returns the name's id, for member_name_id().
    std::uint32_t member_name(std::string_view name, bool in_input) {
        if (name.size() > format::kMaxFieldNameLength) [[unlikely]] noted_fault_ = true;
        const std::uint32_t id = predictor_.name(open_.back().expected, name, in_input, previous_name());
        members_.push(id);
        return id;
    }

    // A name given before by member_name(), by its id.
    [[gnu::always_inline]] void member_name_id(std::uint32_t id) {
        members_.push(predictor_.known_name(open_.back().expected, id, previous_name()));
    }

    void member_name(std::string_view name, json::JsonShortText words) {
        members_.push(predictor_.name(open_.back().expected, name, words, previous_name()));
    }

    void end_object() {
        const Open object = open_.back();
        open_.pop_back();
        const std::span<const std::uint32_t> names = members_.names(object.first_member);
        const bool member = !open_.empty() && !open_.back().is_array;
        const std::uint32_t layout_id = predictor_.close(object.expected, names, open_.size(),
                                                         member ? members_.name(object.first_member - 1) : kNone);
        const LayoutTable::Layout& layout = parts_.layouts.layout(layout_id);
        if (layout.kept_count > format::kMaxFields) [[unlikely]] noted_fault_ = true;
        if (layout.kept_count != layout.member_count) drop_repeated_members(object.at, layout);
        const std::span<const format::VeskType> types = members_.types(object.first_member);
        const std::uint32_t shape = object_shape(layout_id, names, types);
        if (shape > kMaxObjectShape) [[unlikely]] throw std::bad_alloc();
        use_shape(shape);
        record::close_container(tape_.data(), object.at, record::object_word(shape),
                                static_cast<std::uint32_t>(tape_.size()), layout_id);
        members_.truncate(object.first_member);
        fixed_data_size_ += format::kObjectHeaderSize;
        add_value(format::VeskType::Object);
    }

    std::size_t fixed_data_size() const noexcept { return fixed_data_size_; }
    // Whether a value read may break a rule or a limit of the format.
    bool noted_fault() const noexcept { return noted_fault_; }
    // Whether a number read may not read back as it was given: false means
    // none will, so a strict compile needs no look at the numbers.
    bool may_lose() const noexcept { return may_lose_ || (beyond_float_ && mixed_numbers_); }
    void keep_strings_in(const json::TextUnits& units) noexcept { parts_.units = units; }

private:
    static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

    void use_shape(std::uint32_t shape) {
        tables::TableVector<std::uint32_t>& uses = parts_.shape_uses;
        if (shape >= uses.size()) uses.resize(std::size_t{shape} + 1, 0);
        ++uses[shape];
    }

    // A name given more than once keeps only its last value. The others have
    // been counted as they were read; this takes them out again, so that the
    // sizes and the shapes in use are those of the values that are written,
    // and marks them dropped, so that they are taken out only once, even
    // when the object is itself dropped later. Out of line: few objects
    // repeat a name, and every object closes through end_object().
    [[gnu::noinline]] void drop_repeated_members(std::uint32_t object_at, const LayoutTable::Layout& layout) {
        kept_.assign(layout.member_count, false);
        for (const std::uint32_t member : parts_.layouts.order(layout)) kept_[member] = true;
        std::uint32_t value = object_at + kContainerRecordSize;
        for (std::uint32_t member = 0; member < layout.member_count; ++member) {
            const std::uint32_t next = record_end(tape_.data(), value);
            if (!kept_[member]) {
                forget_values(value, next);
                tape_[value] = record::dropped_word(tape_[value], next - value);
            }
            value = next;
        }
    }

    // Takes the records in [at, end), a value and everything in it, out of
    // the counts.
    void forget_values(std::uint32_t at, std::uint32_t end) {
        while (at < end) {
            const std::uint32_t word = tape_[at];
            switch (tag_of(word)) {
                case kNullTag: at += 1; break;
                case kBoolTag:
                    fixed_data_size_ -= 1;
                    at += 1;
                    break;
                case kNumberTag:
                    fixed_data_size_ -= 4;
                    at += record::number_size(word);
                    break;
                case kStringTag:
                    --parts_.string_counts[record::string_id(word)];
                    at += 1;
                    break;
                case kArrayTag:
                    fixed_data_size_ -= format::kArrayHeaderSize;
                    if (!record::is_refused(word)) --parts_.shape_uses[record::array_shape(word)];
                    at += kContainerRecordSize;
                    break;
                case kObjectTag:
                    fixed_data_size_ -= format::kObjectHeaderSize;
                    --parts_.shape_uses[record::object_shape(word)];
                    at += kContainerRecordSize;
                    break;
                case kDroppedTag: at = record_end(tape_.data(), at); break;
            }
        }
    }

    // The name before the one being read, in the innermost object, if any.
    std::uint32_t previous_name() const noexcept {
        return members_.size() != open_.back().first_member ? members_.last_name() : kNone;
    }

    // The shape of an object of this layout whose values have `types`, in
    // text order. Objects of one layout mostly have the shape the last one
    // had: when their types, bytes in text order, equal those the last one
    // had, the shape is known without a lookup.
    std::uint32_t object_shape(std::uint32_t layout_id, std::span<const std::uint32_t> names,
                               std::span<const format::VeskType> types) {
        const LayoutTable::Layout& layout = parts_.layouts.layout(layout_id);
        if (layout_id >= last_shape_of_layout_.size()) last_shape_of_layout_.resize(parts_.layouts.size(), kNone);
        const std::size_t types_end = std::size_t{layout.first_name} + layout.member_count;
        if (types_end > last_types_.size()) last_types_.resize(types_end);
        std::uint32_t& last = last_shape_of_layout_[layout_id];
        format::VeskType* const last_types = last_types_.data() + layout.first_name;
        if (last != kNone && tables::same_bytes(reinterpret_cast<const char*>(last_types),
                                        reinterpret_cast<const char*>(types.data()), types.size())) {
            return last;
        }
        fields_.clear();
        for (const std::uint32_t member : parts_.layouts.order(layout)) {
            fields_.push_back(tables::ShapeField{names[member], types[member]});
        }
        last = parts_.shapes.intern_object(fields_);
        std::copy(types.begin(), types.end(), last_types);
        return last;
    }

    struct Open {
        std::uint32_t at = 0;  // the container's record
        bool is_array = false;
        bool mixed = false;    // arrays: numbers of more than one type
        bool refused = false;  // arrays: items that disagree otherwise
        format::VeskType first = format::VeskType::Null;
        std::uint32_t count = 0;          // arrays: items so far
        std::uint32_t first_member = 0;   // objects: in members_
        MemberPredictor::Expectation expected;  // objects
    };

    [[gnu::always_inline]] void open(bool is_array) {
        Open& opened = open_.emplace_back();
        opened.at = static_cast<std::uint32_t>(tape_.size());
        opened.is_array = is_array;
        opened.first_member = members_.size();
        std::fill_n(tape_.append(kContainerRecordSize), kContainerRecordSize, 0);
    }

    // A value of `type` is complete: it becomes an item or a member of the
    // container around it.
    [[gnu::always_inline]] void add_value(format::VeskType type) {
        if (open_.empty()) return;
        Open& parent = open_.back();
        if (!parent.is_array) {
            members_.set_last_type(type);
            return;
        }
        if (parent.count == 0) {
            parent.first = type;
        } else if (!format::fits_array_items(type, parent.first)) [[unlikely]] {
            parent.refused = true;
            noted_fault_ = true;
        } else {
            parent.mixed = parent.mixed || type != parent.first;
        }
        ++parent.count;
    }

    // A string past the longest the format holds is read on, for its place
    // among the faults; its size must still fit the string table's.
    void check_string_size(std::size_t size) {
        if (size <= format::kMaxStringLength) [[likely]] return;
        if (size > UINT32_MAX) throw std::bad_alloc();
        noted_fault_ = true;
    }

    // Texts outside the JSON text are copied once, when they are new.
    // `same(kept)` tells whether a text kept at `kept`, of this size, is
    // this one.
    template <class Same>
    std::uint32_t intern_string(std::string_view text, bool in_input, Same&& same) {
        tables::StringTable& table = parts_.strings;
        const tables::StringTable::Interned found = table.intern_where(text, table.hash(text), same);
        if (found.added && !in_input) table.replace_text(found.id, parts_.unescaped.store(text));
        return found.id;
    }
    std::uint32_t intern_string(std::string_view text, bool in_input) {
        return intern_string(text, in_input,
                             [text](const char* kept) { return tables::same_bytes(kept, text.data(), text.size()); });
    }

    static constexpr std::size_t kFirstOpenLevels = 16;

    JsonContainerParts& parts_;
    Tape& tape_;
    tables::TableVector<Open> open_;
    MemberStack members_;
    MemberPredictor predictor_;
    tables::TableVector<tables::ShapeField> fields_;
    tables::TableVector<bool> kept_;
    std::size_t fixed_data_size_ = 0;
    bool noted_fault_ = false;
    bool may_lose_ = false;
    // Integers beyond what binary32 holds exactly, and arrays of mixed
    // numbers, where they would become floats.
    static constexpr std::int64_t kFloatExactIntegers = std::int64_t{1} << 24;
    bool beyond_float_ = false;
    bool mixed_numbers_ = false;
    // By layout, the shape of the last object of that layout, and the types
    // of its values, at the layout's place in the list of layouts' names.
    tables::TableVector<std::uint32_t> last_shape_of_layout_;
    tables::TableVector<format::VeskType> last_types_;
    // The shape of the last array closed, and its element type.
    format::VeskType last_array_type_ = format::VeskType::Null;
    std::uint32_t last_array_shape_ = kNone;
};

// The tape builder behind the virtual calls of a reader of code-point text,
// compiled elsewhere.
class TapeEvents final : public json::JsonEventSink {
public:
    explicit TapeEvents(TapeBuilder& builder) noexcept : builder_(builder) {}

    void null_value() override { builder_.null_value(); }
    void boolean(bool value) override { builder_.boolean(value); }
    void number(json::JsonKind kind, std::uint64_t bits) override { builder_.number(kind, bits); }
    void float32(float value) override { builder_.float32(value); }
    // Every string without escapes comes to plain_string(), so these are the
    // ones with.
    void string(std::string_view text, bool) override { builder_.string_with_escapes(text); }
    void plain_string(std::string_view text, const void* first_unit, std::size_t unit_count) override {
        builder_.string_in_units(text, first_unit, unit_count);
    }
    void begin_array() override { builder_.begin_array(); }
    void end_array() override { builder_.end_array(); }
    void begin_object() override { builder_.begin_object(); }
    void member_name(std::string_view name, bool in_input) override { builder_.member_name(name, in_input); }
    void end_object() override { builder_.end_object(); }

private:
    TapeBuilder& builder_;
};

}  // namespace

}  // namespace vesk::dumps
