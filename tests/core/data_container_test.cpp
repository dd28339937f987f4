#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "compile/data_compiler.hpp"
#include "emit/data_container.hpp"
#include "emit/list_items.hpp"
#include "encode/encoder.hpp"

namespace vesk {
namespace {

// The one-pass writer against the model of emit's rules that it replaced:
// a value tree compiled by DataCompiler and written by the document writer.
// Trees have the form the Python conversion gives (dicts as objects of
// alternating key and value, every index 0); mixed number lists are written
// as converted, ints and floats, and the model gets them as that conversion
// made them, all Float32.

VeskData I(std::int32_t value) { return VeskData::int32(value); }
VeskData F(float value) { return VeskData::float32(value); }
VeskData S(std::string text) { return VeskData::string(std::move(text)); }
VeskData A(std::vector<VeskData> items) { return VeskData::array(0, 0, std::move(items)); }
VeskData O(std::vector<VeskData> values) { return VeskData::object(0, std::move(values)); }

class VectorMemory final : public emit::ContainerMemory {
public:
    std::uint8_t* allocate(std::size_t size) override {
        bytes.assign(size, 0xAA);
        return bytes.data();
    }
    format::ByteBuffer bytes;
};

// Feeds a tree to the writer in the order the conversion walks a value.
class TreeWriter {
public:
    explicit TreeWriter(emit::DataContainer& out) : out_(out) {}

    format::VeskType write(const VeskData& value) {
        switch (value.kind) {
            case VeskDataKind::Bool: out_.write_bool(value.as_bool()); break;
            case VeskDataKind::Int32: out_.write_int32(value.as_int32()); break;
            case VeskDataKind::Float32: out_.write_float32(value.as_float32()); break;
            case VeskDataKind::String: write_text(value.text); break;
            case VeskDataKind::Array: write_array(value); break;
            case VeskDataKind::Object: write_object(value); break;
            case VeskDataKind::Null:
            case VeskDataKind::Uint32:
            case VeskDataKind::StrRef: ADD_FAILURE() << "no conversion makes these"; break;
        }
        return value.type();
    }

    std::uint16_t number() const { return number_; }

private:
    void write_array(const VeskData& array) {
        const emit::DataContainer::ArrayStart start = out_.begin_array();
        emit::ListItems items(out_);
        std::optional<std::uint16_t> number;
        for (std::size_t i = 0; i < array.items().size(); ++i) {
            const VeskData& item = array.items()[i];
            if (i == 0 && (item.kind == VeskDataKind::Array || item.kind == VeskDataKind::Object)) {
                number = out_.number_array(start, item.type());
            }
            const format::VeskType type = write(item);
            ASSERT_TRUE(items.admit(i, type, item.kind == VeskDataKind::Int32 ? item.as_int32() : 0));
        }
        number_ = number ? *number : out_.number_array(start, items.element_type());
        out_.end_array(start, array.items().size());
    }

    void write_object(const VeskData& object) {
        emit::DataContainer::ObjectStart start = out_.begin_object();
        for (std::size_t i = 0; i + 1 < object.values().size(); i += 2) {
            write_key(object.values()[i].text);
            out_.add_item(start, write(object.values()[i + 1]));
        }
        number_ = out_.end_object(start);
    }

    // As the conversion writes keys: one met before is copied from where it
    // was first written.
    void write_key(const std::string& key) {
        const auto known = keys_.find(key);
        if (known != keys_.end()) {
            out_.write_again(known->second);
            return;
        }
        keys_.emplace(key, write_text(key));
    }

    // As the conversion writes texts: long ones are left where they are (the
    // tree's, which outlive the writer).
    emit::DataContainer::WrittenString write_text(const std::string& text) {
        return text.size() >= emit::DataContainer::kLeftInPlace ? out_.write_string_in_place(text) : out_.write_string(text);
    }

    emit::DataContainer& out_;
    std::uint16_t number_ = 0;
    std::map<std::string, emit::DataContainer::WrittenString> keys_;
};

// What the conversion made of a list mixing ints and floats.
VeskData as_converted(VeskData value) {
    for (VeskData& child : value.children) child = as_converted(std::move(child));
    if (value.kind != VeskDataKind::Array) return value;
    bool ints = false;
    bool floats = false;
    for (const VeskData& item : value.items()) {
        ints = ints || item.kind == VeskDataKind::Int32;
        floats = floats || item.kind == VeskDataKind::Float32;
    }
    if (ints && floats) {
        for (VeskData& item : value.items()) {
            if (item.kind == VeskDataKind::Int32) item = F(static_cast<float>(item.as_int32()));
        }
    }
    return value;
}

std::string outcome(const Result<format::ByteBuffer>& result) {
    if (!result) return "error: " + result.error().formatted();
    return std::string(result->begin(), result->end());
}

std::string written(const VeskData& tree, std::size_t max_size) {
    emit::DataContainer out(0x5eed, max_size);
    TreeWriter writer(out);
    const format::VeskType type = writer.write(tree);
    const bool compound = type == format::VeskType::Array || type == format::VeskType::Object;
    VectorMemory memory;
    Result<std::size_t> size = out.finish(memory, compound ? writer.number() : format::type_byte(type));
    if (!size) return "error: " + size.error().formatted();
    EXPECT_EQ(*size, memory.bytes.size());
    return std::string(memory.bytes.begin(), memory.bytes.end());
}

std::string modelled(const VeskData& tree, std::size_t max_size) {
    return outcome(encode_document_within(compile_data_document(as_converted(tree)), max_size));
}

// Every ceiling from the empty container up to the whole, and none: the
// container is refused wherever the document writer would refuse it.
void expect_same_for_every_ceiling(const VeskData& tree) {
    const std::string whole = modelled(tree, format::kMaxContainerSize);
    ASSERT_EQ(written(tree, format::kMaxContainerSize), whole);
    for (std::size_t ceiling = 0; ceiling <= whole.size(); ++ceiling) {
        ASSERT_EQ(written(tree, ceiling), modelled(tree, ceiling)) << "ceiling " << ceiling;
    }
}

// The same around the one ceiling that matters for a large value: below it
// the document writer finds the container too large before anything else.
void expect_same_around_the_size_refusal(const VeskData& tree) {
    const std::string whole = modelled(tree, format::kMaxContainerSize);
    ASSERT_EQ(written(tree, format::kMaxContainerSize), whole);
    const std::string too_large = modelled(tree, 0);
    std::size_t low = 0;
    std::size_t high = 1;
    while (modelled(tree, high) == too_large) {
        low = high;
        high *= 2;
    }
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        if (modelled(tree, middle) == too_large) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    ASSERT_GT(low, 0u);
    for (const std::size_t ceiling : {std::size_t{0}, low - 1, low, low + 1}) {
        ASSERT_EQ(written(tree, ceiling), modelled(tree, ceiling)) << "ceiling " << ceiling;
    }
}

class RandomTrees {
public:
    explicit RandomTrees(unsigned seed) : random_(seed) {}

    VeskData value(int depth) {
        switch (pick(depth < 4 ? 7 : 4)) {
            case 0: return VeskData::boolean(pick(2) == 1);
            case 1: return I(static_cast<std::int32_t>(random_()));
            case 2: return F(static_cast<float>(pick(1000)) / 8.0f);
            case 3: return S(text());
            case 4: {
                std::vector<VeskData> values;
                for (int i = pick(4); i > 0; --i) {
                    values.push_back(S(text()));
                    values.push_back(value(depth + 1));
                }
                return O(std::move(values));
            }
            default: return list(depth);
        }
    }

private:
    int pick(int count) { return static_cast<int>(random_() % static_cast<unsigned>(count)); }

    std::string text() {
        static const char* const texts[] = {"",    "a",    "b", "é", "key", "日本", "a key of twenty bytes",
                                            "a somewhat longer text of fifty bytes, or nearly"};
        std::string chosen = texts[pick(8)];
        // Some long enough to be left in place, a few of those met again.
        if (pick(8) == 0) chosen += std::string(static_cast<std::size_t>(pick(2) ? 256 : pick(300)), 'x');
        return chosen;
    }

    // Items of the first item's type, or ints and floats mixed.
    VeskData list(int depth) {
        std::vector<VeskData> items;
        const int count = pick(5);
        const bool numbers = pick(3) == 0;
        for (int i = 0; i < count; ++i) {
            if (numbers) {
                items.push_back(pick(2) ? I(pick(100) - 50) : F(0.5f * static_cast<float>(pick(9))));
            } else if (i == 0) {
                items.push_back(value(depth + 1));
            } else {
                VeskData next = value(depth + 1);
                items.push_back(next.type() == items[0].type() ? std::move(next) : items[0]);
            }
        }
        return A(std::move(items));
    }

    std::mt19937 random_;
};

TEST(DataContainerTest, RandomTreesGiveTheModelsBytes) {
    for (unsigned seed = 0; seed < 400; ++seed) {
        RandomTrees trees(seed);
        const VeskData tree = trees.value(0);
        ASSERT_EQ(written(tree, format::kMaxContainerSize), modelled(tree, format::kMaxContainerSize)) << "seed " << seed;
    }
}

TEST(DataContainerTest, RandomTreesAreRefusedWhereTheModelRefusesThem) {
    for (unsigned seed = 0; seed < 30; ++seed) {
        SCOPED_TRACE(seed);
        RandomTrees trees(seed);
        expect_same_for_every_ceiling(O({S("a"), trees.value(1), S("b"), trees.value(1)}));
    }
}

// Values the random trees do not reach: refusals of the writer, each alone
// and behind the ceilings before it, and number lists long enough that
// their ints lie in several chunks when a float turns them all into floats.
TEST(DataContainerTest, RefusalsAndLongListsGiveTheModelsOutcome) {
    std::vector<VeskData> many_ints;
    for (int i = 0; i < 20000; ++i) many_ints.push_back(I(i * 7919));
    std::vector<VeskData> then_a_float = many_ints;
    then_a_float.push_back(F(0.5f));
    std::vector<VeskData> wide;
    for (int i = 0; i < 32768; ++i) {
        std::string key(1, 'k');
        key += std::to_string(i);
        wide.push_back(S(std::move(key)));
        wide.push_back(I(i));
    }
    std::vector<VeskData> too_many(70000, I(1));

    const std::vector<std::pair<const char*, VeskData>> cases = {
        {"ints then a float", A({A({I(1), I(-2), F(0.5f), I(3)}), A({F(2.5f), I(7)})})},
        {"many ints then a float", A({A(then_a_float), A(many_ints), A({F(1.5f), I(3)})})},
        {"object of 65536 fields", O({S("first"), I(1), S("wide"), O(wide)})},
        {"array of 70000 items", O({S("a"), A({A({I(1)}), A(too_many)}), S("b"), A(too_many)})},
        {"string too long", A({S("short"), S(std::string(format::kMaxStringLength + 1, 's')), S("after")})},
    };
    for (const auto& [name, tree] : cases) {
        SCOPED_TRACE(name);
        expect_same_around_the_size_refusal(tree);
    }
}

// Long texts are told apart by a sample of their bytes, and those that
// share it are compared whole, until too many proved different and all are
// hashed whole: distinct texts stay distinct entries, before and after.
TEST(DataContainerTest, LongTextsSharingTheirSampleStayApart) {
    std::vector<VeskData> items;
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 40; ++i) {
            std::string text(300, 'a');
            text[40 + i] = 'b';  // between the start's and the middle's sample
            items.push_back(S(std::move(text)));
            if (i % 3 == 0) items.push_back(S(std::string(300 + i, 'c')));
        }
    }
    expect_same_around_the_size_refusal(A(std::move(items)));
}

// A short string is hashed from a block loaded past its text where the
// block lies in one page, and from the text alone where it ends a page: both
// must hash alike, or one text would make two dictionary entries.
TEST(DataContainerTest, ShortTextsEndingAPageAreTheSameTextsAsElsewhere) {
    constexpr std::size_t kPage = 4096;
    // Two pages from a page boundary, within memory of our own (Windows has
    // no aligned_alloc).
    std::vector<char> storage(3 * kPage, 'x');
    char* const pages = storage.data() + (kPage - reinterpret_cast<std::uintptr_t>(storage.data()) % kPage) % kPage;
    emit::DataContainer out(0x5eed);
    emit::DataContainer::ObjectStart object = out.begin_object();
    std::vector<VeskData> model;
    for (std::size_t length = 0; length <= 16; ++length) {
        std::string text;
        for (std::size_t i = 0; i < length; ++i) text += static_cast<char>('a' + (i + length) % 26);
        char* const ending_a_page = pages + kPage - length;
        char* const inside_a_page = pages + kPage + 32;
        std::memcpy(ending_a_page, text.data(), length);
        std::memcpy(inside_a_page, text.data(), length);
        for (const char* at : {ending_a_page, inside_a_page, ending_a_page}) {
            std::string key(1, 'k');
            key += std::to_string(model.size());
            out.write_string(key);
            out.write_string({at, length});
            out.add_item(object, format::VeskType::String);
            model.push_back(S(key));
            model.push_back(S(text));
        }
    }
    const std::uint16_t number = out.end_object(object);
    VectorMemory memory;
    ASSERT_TRUE(out.finish(memory, number));
    EXPECT_EQ(std::string(memory.bytes.begin(), memory.bytes.end()), modelled(O(std::move(model)), format::kMaxContainerSize));
}

}  // namespace
}  // namespace vesk
