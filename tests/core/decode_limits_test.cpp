#include <gtest/gtest.h>

#include "container_builder.hpp"
#include "decode/decoder.hpp"
#include "walk_tree_builder.hpp"

namespace vesk {
namespace {

using test::Bytes;

const Bytes kEmptyDict = Bytes().u32(0);

struct LimitCase {
    const char* name;
    format::ByteBuffer bytes;
    // Empty when the container must read.
    std::string message;
};

void expect_limit(const LimitCase& c) {
    Result<VeskDocument> document = decode_document(c.bytes);
    const Result<json::JsonValue> read = test::read_one_path(c.bytes);
    if (c.message.empty()) {
        EXPECT_TRUE(document.has_value()) << c.name << ": " << document.error().message();
        EXPECT_TRUE(read.has_value()) << c.name << ": " << read.error().message();
    } else {
        ASSERT_FALSE(document.has_value()) << c.name;
        EXPECT_EQ(document.error().message(), c.message) << c.name;
        ASSERT_FALSE(read.has_value()) << c.name;
        EXPECT_EQ(read.error().message(), c.message) << c.name;
    }
}

format::ByteBuffer with_definitions(std::size_t count) {
    Bytes block;
    block.u16(static_cast<std::uint16_t>(count));
    for (std::size_t i = 0; i < count; ++i) block.append(test::primitive_record(format::VeskType::Bool, static_cast<std::uint16_t>(i)));
    return test::assemble(block, kEmptyDict, test::data_block({}));
}

format::ByteBuffer with_fields(std::size_t count) {
    std::vector<std::pair<std::string, format::VeskType>> fields;
    for (std::size_t i = 0; i < count; ++i) {
        std::string name = std::to_string(i);
        name.insert(name.begin(), 'f');
        fields.emplace_back(std::move(name), format::VeskType::Null);
    }
    return test::single_entry({test::object_record(6, fields)}, 6, Bytes().u16(6));
}

// `levels` arrays, each the only item of the one around it; the innermost is empty.
format::ByteBuffer nested_arrays(std::size_t levels) {
    Bytes payload;
    for (std::size_t i = 1; i < levels; ++i) payload.u16(6).u16(6).u16(1);
    payload.u16(6).u16(6).u16(0);
    return test::single_entry({test::array_record(6, format::VeskType::Array)}, 6, payload);
}

// `levels` objects, each the only field of the one around it; the innermost
// is of the empty object definition 7.
format::ByteBuffer nested_objects(std::size_t levels) {
    Bytes payload;
    for (std::size_t i = 1; i < levels; ++i) payload.u16(6);
    payload.u16(7);
    const std::vector<Bytes> shapes = {test::object_record(6, {{"o", format::VeskType::Object}}), test::object_record(7, {})};
    return test::single_entry(shapes, levels == 1 ? 7 : 6, payload);
}

format::ByteBuffer with_null_entries(std::size_t count) {
    Bytes block;
    block.u32(static_cast<std::uint32_t>(count));
    for (std::size_t i = 0; i < count; ++i) block.u16(0).u32(0);
    return test::assemble(test::standard_definitions(), kEmptyDict, block);
}

TEST(DecodeLimitsTest, EachLimitHoldsAtItsValueAndFailsOnePast) {
    const LimitCase cases[] = {
        // Every definition and field count the container can express reads.
        {"definitions_65535", with_definitions(65535), ""},
        {"fields_65535", with_fields(65535), ""},
        {"array_depth_128", nested_arrays(128), ""},
        {"array_depth_129", nested_arrays(129), "Max recursion depth"},
        {"object_depth_128", nested_objects(128), ""},
        {"object_depth_129", nested_objects(129), "Max recursion depth 128 exceeded at Object"},
    };
    for (const LimitCase& c : cases) expect_limit(c);
}

TEST(DecodeLimitsTest, EntryCountHoldsAtItsValueAndFailsOnePast) {
    expect_limit({"entries_1048576", with_null_entries(1048576), ""});
    expect_limit({"entries_1048577", with_null_entries(1048577), "Data entry count 1048577 exceeds max 1048576"});
}

TEST(DecodeLimitsTest, DeepestReadableValuesKeepTheirShape) {
    Result<VeskDocument> arrays = decode_document(nested_arrays(128));
    ASSERT_TRUE(arrays.has_value());
    const VeskData* node = &arrays->chunks[0].data;
    std::size_t depth = 1;
    while (!node->items().empty()) {
        node = &node->items()[0];
        ++depth;
    }
    EXPECT_EQ(depth, 128u);

    Result<VeskDocument> objects = decode_document(nested_objects(128));
    ASSERT_TRUE(objects.has_value());
    node = &objects->chunks[0].data;
    depth = 1;
    while (!node->values().empty()) {
        node = &node->values()[0];
        ++depth;
    }
    EXPECT_EQ(depth, 128u);
    EXPECT_EQ(node->self_def_index, 7);
}

}  // namespace
}  // namespace vesk
