#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "dumps/json_container_parts.hpp"
#include "dumps/member_layouts.hpp"
#include "format/format_limits.hpp"
#include "json/json_events.hpp"
#include "tables/string_table.hpp"
#include "tables/text_hash.hpp"

namespace vesk::dumps {

// Unnamed, though in a header, as the tape builder that alone uses it: its
// members are inlined into the reader's loop.
namespace {

// Which names the members of the object being read have, guessed from the
// objects read before: most objects of a text repeat the layout of an
// earlier one, so most names are known by a compare with the name expected
// at their place, and most objects by their expected layout, without a
// lookup. A guess that fails costs the lookup it would have cost anyway.
class MemberPredictor {
public:
    static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

    // What is expected of an object being read.
    struct Expectation {
        std::uint32_t layout = kNone;
        // The expected layout's name for the next member, and the end of
        // its names (positions in the layout table's list of names).
        std::uint32_t next = 0;
        std::uint32_t end = 0;
        std::uint32_t predicted = 0;  // names found where the layout has them
    };

    // Room for the layouts and names of a typical text, as the layout table
    // has: grown step by step, these cost a text more than its objects do.
    MemberPredictor(JsonContainerParts& parts, std::size_t text_size)
        : parts_(parts), name_info_(&parts.memory), layout_by_member_(&parts.memory) {
        layout_by_member_.reserve(starting_room(256, text_size, kMinNameBytes));
        name_info_.reserve(starting_room(256, text_size, kMinNameBytes));
    }

    // The object opened with `depth` containers around it, the value of
    // the member named `member` (kNone for an item or the root), most
    // likely has the layout of the last object that was the value of a
    // member of that name, or else (an item, the root, the value of a name
    // met for the first time: objects keyed by data, ids, names) that of
    // the last object closed at its depth.
    Expectation expect(std::size_t depth, std::uint32_t member) const noexcept {
        Expectation object;
        object.layout = last_layout_at_depth_[depth];
        if (member < layout_by_member_.size() && layout_by_member_[member] != kNone) {
            object.layout = layout_by_member_[member];
        }
        if (object.layout != kNone) {
            const LayoutTable::Layout& layout = parts_.layouts.layout(object.layout);
            object.next = layout.first_name;
            object.end = layout.first_name + layout.member_count;
        }
        return object;
    }

    // The id of a member name of `object`, after the name `previous` of the
    // same object (kNone for its first). A short name is known by its
    // padded bytes: the predicted one costs a load and two compares.
    std::uint32_t name(Expectation& object, std::string_view name, json::JsonShortText words, std::uint32_t previous) {
        const std::uint32_t id = next_expected_name(object);
        if (id != kNone && name_info_[id].same(words, name.size())) {
            ++object.predicted;
            return id;
        }
        return unexpected_name(name, words, previous);
    }

    std::uint32_t name(Expectation& object, std::string_view name, bool in_input, std::uint32_t previous) {
        const std::uint32_t id = next_expected_name(object);
        if (id != kNone && parts_.names.text(id) == name) {
            ++object.predicted;
            return id;
        }
        return unexpected_name(name, in_input, previous);
    }

    // A name known by its id already (pack knows a key met before by its
    // object): only the expectation moves on.
    std::uint32_t known_name(Expectation& object, std::uint32_t id, std::uint32_t previous) noexcept {
        if (next_expected_name(object) == id) {
            ++object.predicted;
            return id;
        }
        if (previous != kNone) name_info_[previous].next = id;
        return id;
    }

    // The layout of `object`, closed with the member `names`, with `depth`
    // containers around it, as the value of the member named `member` (or
    // kNone): the expected one when every name was as predicted, and as
    // many, else looked up. It is expected of the objects to come there.
    std::uint32_t close(const Expectation& object, std::span<const std::uint32_t> names, std::size_t depth,
                        std::uint32_t member) {
        const bool as_expected =
            object.layout != kNone && object.predicted == names.size() && object.next == object.end;
        const std::uint32_t layout = as_expected ? object.layout : parts_.layouts.intern(names, parts_.names);
        last_layout_at_depth_[depth] = layout;
        if (member != kNone) {
            if (member >= layout_by_member_.size()) layout_by_member_.resize(std::size_t{member} + 1 + member / 2, kNone);
            layout_by_member_[member] = layout;
        }
        return layout;
    }

private:
    // What is known of a member name, by its id.
    struct NameInfo {
        // The name's bytes padded with zeros to sixteen, as two words, and
        // its size; names of sixteen bytes or more are never short texts.
        std::uint64_t low;
        std::uint64_t high;
        std::uint32_t size;
        // The name found after this one the last time it was not expected.
        std::uint32_t next = kNone;

        bool same(json::JsonShortText words, std::size_t other_size) const noexcept {
            return low == words.low && high == words.high && size == other_size;
        }
    };

    // The expected layout's name at the position of the member being read,
    // if it has one there; the position moves on either way.
    std::uint32_t next_expected_name(Expectation& object) const noexcept {
        return object.next != object.end ? parts_.layouts.name_at(object.next++) : kNone;
    }

    // A name other than the expected one. After a name that was not
    // expected either, the name that followed it the last time such a name
    // was looked up is likely (the members of objects keyed by data, or of
    // an object that varies from the last of its kind); failing that, the
    // name is looked up in the table.
    [[gnu::noinline]] std::uint32_t unexpected_name(std::string_view name, json::JsonShortText words, std::uint32_t previous) {
        if (previous != kNone) {
            const std::uint32_t next = name_info_[previous].next;
            if (next != kNone && name_info_[next].same(words, name.size())) return next;
        }
        std::uint32_t& recent = recent_names_[recent_slot(words)];
        std::uint32_t id = recent;
        if (id == kNone || !name_info_[id].same(words, name.size())) {
            const tables::StringTable::Interned found =
                parts_.names.intern(name, tables::hash_padded_words(words.low, words.high, name.size(), parts_.names.seed()));
            if (found.added) {
                name_info_.push_back(NameInfo{words.low, words.high, static_cast<std::uint32_t>(name.size())});
            }
            id = recent = found.id;
        }
        if (previous != kNone) name_info_[previous].next = id;
        return id;
    }

    // Short names met before are mostly found by a cache with one place per
    // slot, indexed without the table's hash: a name the cache has lost, or
    // shares a slot with another, only costs the table lookup it would
    // have cost anyway.
    static std::size_t recent_slot(json::JsonShortText words) noexcept {
        const std::uint64_t mixed = (words.low + words.high * 0x9E3779B97F4A7C15ull) * 0xBF58476D1CE4E5B9ull;
        return static_cast<std::size_t>(mixed >> 56);
    }

    [[gnu::noinline]] std::uint32_t unexpected_name(std::string_view name, bool in_input, std::uint32_t previous) {
        if (previous != kNone) {
            const std::uint32_t next = name_info_[previous].next;
            if (next != kNone && parts_.names.text(next) == name) return next;
        }
        const std::uint64_t hash = parts_.names.hash(name);
        tables::StringTable::Interned found = parts_.names.intern(name, hash);
        if (found.added) {
            if (!in_input) parts_.names.replace_text(found.id, parts_.unescaped.store(name));
            NameInfo info{0, 0, static_cast<std::uint32_t>(name.size())};
            if (name.size() <= 16 && !name.empty()) {
                info.low = tables::padded_word(name.data(), std::min<std::size_t>(name.size(), 8));
                if (name.size() > 8) info.high = tables::padded_word(name.data() + 8, name.size() - 8);
            }
            name_info_.push_back(info);
        }
        if (previous != kNone) name_info_[previous].next = found.id;
        return found.id;
    }

    template <std::size_t kSize>
    static constexpr std::array<std::uint32_t, kSize> filled_with_none() noexcept {
        std::array<std::uint32_t, kSize> ids{};
        ids.fill(kNone);
        return ids;
    }

    JsonContainerParts& parts_;
    tables::TableVector<NameInfo> name_info_;  // by name id
    std::array<std::uint32_t, 256> recent_names_ = filled_with_none<256>();
    // By member name, the layout of the last object that was its value.
    tables::TableVector<std::uint32_t> layout_by_member_;
    // By depth, the layout of the last object closed there.
    std::array<std::uint32_t, format::kMaxJsonNesting + 1> last_layout_at_depth_ = filled_with_none<format::kMaxJsonNesting + 1>();
};

}  // namespace

}  // namespace vesk::dumps
