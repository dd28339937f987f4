#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "encode/encoder.hpp"

namespace vesk {
namespace {

format::ByteBuffer bytes(std::initializer_list<int> values) {
    format::ByteBuffer out;
    for (int value : values) out.push_back(static_cast<std::uint8_t>(value));
    return out;
}

format::ByteBuffer encode_ok(const VeskDocument& document) {
    auto result = encode_document(document);
    EXPECT_TRUE(result.has_value()) << (result ? "" : result.error().message());
    return result ? *result : format::ByteBuffer{};
}

std::string encode_error(const VeskDocument& document) {
    auto result = encode_document(document);
    EXPECT_FALSE(result.has_value());
    return result ? std::string("<encoded>") : result.error().formatted();
}

VeskDocument primitives_only() {
    VeskDocument document;
    document.definitions = primitive_definitions();
    return document;
}

// Offsets of the blocks read back from a header.
std::uint32_t u32_at(const format::ByteBuffer& buffer, std::size_t at) {
    return buffer[at] | buffer[at + 1] << 8 | buffer[at + 2] << 16 | std::uint32_t(buffer[at + 3]) << 24;
}

TEST(EncoderTest, EmptyDocumentIsTwentyThreeBytes) {
    EXPECT_EQ(encode_ok(VeskDocument{}),
              bytes({0x01, 0x0D, 0, 0, 0, 0x0F, 0, 0, 0, 0x13, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(EncoderTest, WorkedObjectExampleIsByteExact) {
    VeskDocument document = primitives_only();
    document.definitions.push_back(
        VeskDefinition::object(6, {{"a", format::VeskType::Int32}, {"b", format::VeskType::String}}));
    document.chunks.push_back({6, VeskData::object(6, {VeskData::int32(1), VeskData::string("x")})});
    const format::ByteBuffer expected = bytes({
        0x01, 0x0D, 0, 0, 0, 0x2C, 0, 0, 0, 0x30, 0, 0, 0,                    // header
        0x07, 0x00,                                                            // 7 definitions
        0, 0, 0, 1, 1, 0, 2, 2, 0, 3, 3, 0, 4, 4, 0, 5, 5, 0,                  // primitives
        0x11, 0x06, 0x00, 0x02, 0x00, 0x01, 0x61, 0x02, 0x01, 0x62, 0x05,      // object #6
        0, 0, 0, 0,                                                            // empty dictionary
        1, 0, 0, 0, 0x06, 0x00, 0x08, 0, 0, 0,                                 // one entry, 8 bytes
        0x06, 0x00, 0x01, 0, 0, 0, 0x01, 0x78,                                 // payload
    });
    EXPECT_EQ(encode_ok(document), expected);
    EXPECT_EQ(expected.size(), 66u);
}

TEST(EncoderTest, ValueEncodings) {
    struct Case {
        const char* name;
        VeskData value;
        format::ByteBuffer expected;
    };
    const Case cases[] = {
        {"null", VeskData::null(), {}},
        {"true", VeskData::boolean(true), bytes({1})},
        {"false", VeskData::boolean(false), bytes({0})},
        {"int32 -2", VeskData::int32(-2), bytes({0xFE, 0xFF, 0xFF, 0xFF})},
        {"uint32", VeskData::uint32(0x01020304), bytes({4, 3, 2, 1})},
        {"float32 1.0", VeskData::float32(1.0f), bytes({0, 0, 0x80, 0x3F})},
        {"strref 7", VeskData::str_ref(7), bytes({0xFF, 7, 0, 0, 0})},
        {"empty string", VeskData::string(""), bytes({0})},
        {"array", VeskData::array(6, 2, {VeskData::int32(1), VeskData::null()}),
         bytes({6, 0, 2, 0, 2, 0, 1, 0, 0, 0})},
        {"empty object", VeskData::object(9, {}), bytes({9, 0})},
        {"nested", VeskData::object(7, {VeskData::array(6, 0, {}), VeskData::boolean(true)}),
         bytes({7, 0, 6, 0, 0, 0, 0, 0, 1})},
    };
    for (const Case& c : cases) {
        format::ByteBuffer out;
        ASSERT_TRUE(encode_value_into(c.value, out).has_value()) << c.name;
        EXPECT_EQ(out, c.expected) << c.name;
    }
}

class StringLengthClassTest : public ::testing::Test {
protected:
    // The big strings are built once for the whole suite.
    static void SetUpTestSuite() { big_ = new std::string(16777216, 'q'); }
    static void TearDownTestSuite() { delete big_; }
    static std::string_view of_length(std::size_t n) { return std::string_view(*big_).substr(0, n); }
    static std::string* big_;
};
std::string* StringLengthClassTest::big_ = nullptr;

TEST_F(StringLengthClassTest, SmallestClassThatFits) {
    const std::pair<std::size_t, format::ByteBuffer> cases[] = {
        {0, bytes({0x00})},
        {127, bytes({0x7F})},
        {128, bytes({0x80, 0x80})},
        {300, bytes({0x81, 0x2C})},
        {16383, bytes({0xBF, 0xFF})},
        {16384, bytes({0xFE, 0x00, 0x40, 0x00})},
        {16777215, bytes({0xFE, 0xFF, 0xFF, 0xFF})},
    };
    for (const auto& [length, prefix] : cases) {
        format::ByteBuffer out;
        ASSERT_TRUE(encode_str_inline(of_length(length), out).has_value()) << length;
        ASSERT_EQ(out.size(), prefix.size() + length) << length;
        EXPECT_TRUE(std::equal(prefix.begin(), prefix.end(), out.begin())) << length;
        EXPECT_EQ(out.back() == 'q', length > 0) << length;
    }
}

TEST_F(StringLengthClassTest, TooLongStringFailsInlineAndInDictionary) {
    format::ByteBuffer out;
    auto status = encode_str_inline(of_length(16777216), out);
    ASSERT_FALSE(status.has_value());
    EXPECT_EQ(status.error().message(), "String exceeds maximum inline length (16 777 215 bytes)");

    VeskDocument document;
    document.dict.emplace_back(of_length(16777216));
    EXPECT_EQ(encode_error(document),
              "Failed to parse VESK: String exceeds maximum inline length (16 777 215 bytes)");
}

TEST(EncoderTest, DefinitionMessages) {
    struct Case {
        const char* name;
        VeskDefinition definition;
        const char* message;
    };
    std::vector<VeskField> too_many_fields(65536, VeskField{"f", format::VeskType::Null});
    const Case cases[] = {
        {"array without elem_type", VeskDefinition{12, format::VeskType::Array, std::nullopt, std::nullopt},
         "Array #12 has no elem_type"},
        {"object without fields", VeskDefinition{13, format::VeskType::Object, std::nullopt, std::nullopt},
         "Object #13 has no fields"},
        {"field name of 256 bytes", VeskDefinition::object(6, {{std::string(256, 'n'), format::VeskType::Bool}}),
         "Field name too long"},
        {"65536 fields", VeskDefinition::object(14, too_many_fields), "Object #14 has 65536 fields (max 65535)"},
    };
    for (const Case& c : cases) {
        VeskDocument document = primitives_only();
        document.definitions.push_back(c.definition);
        EXPECT_EQ(encode_error(document), std::string("Failed to parse VESK: ") + c.message) << c.name;
    }
}

TEST(EncoderTest, LimitsAreInclusive) {
    VeskDocument names = primitives_only();
    names.definitions.push_back(VeskDefinition::object(6, {{std::string(255, 'n'), format::VeskType::Bool}}));
    const format::ByteBuffer out = encode_ok(names);
    EXPECT_EQ(out[13 + 2 + 18 + 5], 255);  // name length byte of the first field

    VeskDocument fields = primitives_only();
    fields.definitions.push_back(
        VeskDefinition::object(6, std::vector<VeskField>(65535, VeskField{"f", format::VeskType::Null})));
    EXPECT_TRUE(encode_document(fields).has_value());

    VeskDocument items;
    items.chunks.push_back({6, VeskData::array(6, 0, std::vector<VeskData>(65535))});
    const format::ByteBuffer array_out = encode_ok(items);
    EXPECT_EQ(array_out.size(), 23u + 6 + 6);  // nulls take no bytes
}

TEST(EncoderTest, DefinitionCountLimit) {
    VeskDocument document;
    document.definitions.assign(65535, VeskDefinition::primitive(format::VeskType::Int32));
    const format::ByteBuffer out = encode_ok(document);
    EXPECT_EQ(out[13], 0xFF);
    EXPECT_EQ(out[14], 0xFF);
    EXPECT_EQ(out.size(), 13u + 2 + 3 * 65535 + 8);

    document.definitions.emplace_back(VeskDefinition::primitive(format::VeskType::Int32));
    EXPECT_EQ(encode_error(document), "Failed to parse VESK: Too many definitions (65536), max 65535");
}

TEST(EncoderTest, ArrayItemLimit) {
    VeskDocument document;
    auto inner = VeskData::array(6, 2, std::vector<VeskData>(65536, VeskData::int32(0)));
    document.chunks.push_back({6, VeskData::object(7, {VeskData::int32(1), std::move(inner)})});
    EXPECT_EQ(encode_error(document), "Failed to parse VESK: Array has 65536 items (max 65535)");
}

TEST(EncoderTest, ChecksRunInOutputOrder) {
    VeskDocument document = primitives_only();
    document.definitions.push_back(VeskDefinition{6, format::VeskType::Object, std::nullopt, std::nullopt});
    document.definitions.push_back(VeskDefinition{7, format::VeskType::Array, std::nullopt, std::nullopt});
    document.dict.push_back(std::string(16777216, 'x'));
    document.chunks.push_back({6, VeskData::array(6, 0, std::vector<VeskData>(70000))});
    EXPECT_EQ(encode_error(document), "Failed to parse VESK: Object #6 has no fields");
    document.definitions.resize(6);
    EXPECT_EQ(encode_error(document),
              "Failed to parse VESK: String exceeds maximum inline length (16 777 215 bytes)");
    document.dict.clear();
    EXPECT_EQ(encode_error(document), "Failed to parse VESK: Array has 70000 items (max 65535)");
}

TEST(EncoderTest, EmptyFieldListDiffersFromAbsentOne) {
    VeskDocument document = primitives_only();
    document.definitions.push_back(VeskDefinition::object(6, {}));
    document.chunks.push_back({6, VeskData::object(6, {})});
    const format::ByteBuffer out = encode_ok(document);
    // Record: 11 06 00 00 00; entry: def 6, payload of 2 bytes holding 06 00.
    const std::size_t record = 13 + 2 + 18;
    EXPECT_EQ(format::ByteBuffer(out.begin() + record, out.begin() + record + 5), bytes({0x11, 6, 0, 0, 0}));
    EXPECT_EQ(format::ByteBuffer(out.end() - 8, out.end()), bytes({6, 0, 2, 0, 0, 0, 6, 0}));

    document.definitions.back().fields.reset();
    EXPECT_EQ(encode_error(document), "Failed to parse VESK: Object #6 has no fields");
}

TEST(EncoderTest, PayloadLengthsAndOffsetsArePatched) {
    VeskDocument document = primitives_only();
    document.dict = {"ab", std::string(200, 'z')};
    document.chunks.push_back({0, VeskData::null()});
    document.chunks.push_back({5, VeskData::string("hello")});
    const format::ByteBuffer out = encode_ok(document);
    const std::uint32_t dict_offset = u32_at(out, 5);
    const std::uint32_t data_offset = u32_at(out, 9);
    EXPECT_EQ(u32_at(out, 1), 13u);
    EXPECT_EQ(dict_offset, 13u + 2 + 18);
    EXPECT_EQ(data_offset, dict_offset + 4 + 3 + 202);
    EXPECT_EQ(u32_at(out, data_offset), 2u);
    EXPECT_EQ(u32_at(out, data_offset + 6), 0u);       // null chunk: empty payload
    EXPECT_EQ(u32_at(out, data_offset + 12), 6u);      // "hello" with its length byte
    EXPECT_EQ(out.size(), data_offset + 4 + 6 + 6 + 6u);
}

TEST(EncoderTest, WriterNeverRenumbersOrChecksConsistency) {
    VeskDocument document = primitives_only();
    document.definitions[3].index = 9;
    document.version = 7;
    // A chunk naming a missing definition and a dangling reference are written as they are.
    document.chunks.push_back({400, VeskData::str_ref(99)});
    const format::ByteBuffer out = encode_ok(document);
    EXPECT_EQ(out[0], 7);
    EXPECT_EQ(format::ByteBuffer(out.begin() + 13 + 2 + 9, out.begin() + 13 + 2 + 12), bytes({3, 9, 0}));
    EXPECT_EQ(format::ByteBuffer(out.end() - 11, out.end()), bytes({0x90, 0x01, 5, 0, 0, 0, 0xFF, 99, 0, 0, 0}));
}

TEST(EncoderTest, ContainerSizeCeiling) {
    VeskDocument document = primitives_only();
    document.dict = {std::string(100, 'a')};
    document.chunks.push_back({5, VeskData::string(std::string(100, 'b'))});
    auto fits = encode_document_within(document, 10000);
    ASSERT_TRUE(fits.has_value());
    const std::size_t size = fits->size();

    EXPECT_TRUE(encode_document_within(document, size).has_value());
    for (std::size_t ceiling : {size - 1, std::size_t{140}, std::size_t{40}}) {
        auto result = encode_document_within(document, ceiling);
        ASSERT_FALSE(result.has_value()) << ceiling;
        EXPECT_EQ(result.error().formatted(), "Failed to parse VESK: Container exceeds 4294967295 bytes");
    }

    // Without strings or chunks, the two counts alone can carry the output
    // past the ceiling.
    const VeskDocument counts_only = primitives_only();
    const std::size_t counts_size = 13 + 2 + 18 + 4 + 4;
    EXPECT_TRUE(encode_document_within(counts_only, counts_size).has_value());
    for (std::size_t ceiling : {counts_size - 1, counts_size - 4, counts_size - 8}) {
        auto result = encode_document_within(counts_only, ceiling);
        ASSERT_FALSE(result.has_value()) << ceiling;
        EXPECT_EQ(result.error().formatted(), "Failed to parse VESK: Container exceeds 4294967295 bytes");
    }
}

// Output that has already passed the ceiling is the first fault in output
// order, ahead of any fault that a later definition, string or array holds.
TEST(EncoderTest, ContainerSizeCeilingComesBeforeLaterFaults) {
    const std::string long_name(30, 'a');
    const std::string too_long_string(16777216, 's');
    struct Case {
        const char* name;
        VeskDocument document;
    };
    std::vector<Case> cases;
    {
        VeskDocument document = primitives_only();
        document.definitions.push_back(VeskDefinition::object(6, {{long_name, format::VeskType::Int32}}));
        document.definitions.push_back(VeskDefinition{7, format::VeskType::Array, std::nullopt, std::nullopt});
        cases.push_back({"definition after the ceiling", std::move(document)});
    }
    {
        VeskDocument document = primitives_only();
        document.definitions.push_back(VeskDefinition::object(
            6, {{long_name, format::VeskType::Int32}, {std::string(256, 'n'), format::VeskType::Bool}}));
        cases.push_back({"field after the ceiling", std::move(document)});
    }
    const std::vector<VeskData> ints(30, VeskData::int32(5));
    {
        VeskDocument document = primitives_only();
        document.chunks.push_back(
            {6, VeskData::object(6, {VeskData::array(7, 2, ints), VeskData::string(too_long_string)})});
        cases.push_back({"string after the ceiling", std::move(document)});
    }
    {
        VeskDocument document = primitives_only();
        document.chunks.push_back({6, VeskData::object(6, {VeskData::array(7, 2, ints),
                                                           VeskData::array(8, 0, std::vector<VeskData>(65536))})});
        cases.push_back({"array after the ceiling", std::move(document)});
    }
    for (const Case& c : cases) {
        auto result = encode_document_within(c.document, 60);
        ASSERT_FALSE(result.has_value()) << c.name;
        EXPECT_EQ(result.error().formatted(), "Failed to parse VESK: Container exceeds 4294967295 bytes") << c.name;
    }
}

}  // namespace
}  // namespace vesk
