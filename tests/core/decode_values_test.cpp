#include <gtest/gtest.h>

#include "container_builder.hpp"
#include "decode/decoder.hpp"
#include "decode/value_decoder.hpp"
#include "decode_error_case.hpp"

namespace vesk {
namespace {

using test::Bytes;
using test::ErrorCase;
using test::single_entry;

// Shapes used below: 6 array of Int32, 7 object {a: Int32, b: String},
// 8 array of String, 9 array of Null.
const std::vector<Bytes> kShapes = {
    test::array_record(6, format::VeskType::Int32),
    test::object_record(7, {{"a", format::VeskType::Int32}, {"b", format::VeskType::String}}),
    test::array_record(8, format::VeskType::String),
    test::array_record(9, format::VeskType::Null),
};

format::ByteBuffer value_of(std::uint16_t def_index, const Bytes& payload) { return single_entry(kShapes, def_index, payload); }
format::ByteBuffer string_value(const Bytes& payload) { return value_of(5, payload); }

class DecodeValueErrorTest : public ::testing::TestWithParam<ErrorCase> {};
TEST_P(DecodeValueErrorTest, FailsWithItsMessage) { test::expect_decode_error(GetParam()); }

INSTANTIATE_TEST_SUITE_P(
    Primitives, DecodeValueErrorTest,
    ::testing::Values(
        ErrorCase{"bool_missing", value_of(1, {}), "Expected bool byte"},
        ErrorCase{"int32_three_bytes", value_of(2, Bytes().u16(1).u8(0)), "Expected int32 (4 bytes)"},
        ErrorCase{"uint32_three_bytes", value_of(3, Bytes().u16(1).u8(0)), "Expected uint32 (4 bytes)"},
        ErrorCase{"float32_empty", value_of(4, {}), "Expected float32 (4 bytes)"},
        ErrorCase{"string_empty", string_value({}), "Expected string/StrRef byte"},
        ErrorCase{"short_text_cut", string_value(Bytes().u8(5).text("abcd")), "Truncated short string: need 6 bytes, got 5"},
        ErrorCase{"medium_length_cut", string_value(Bytes().u8(0x80)), "Truncated medium string length"},
        ErrorCase{"medium_text_cut", string_value(Bytes().u8(0x81).u8(0x2C).repeat('m', 299)),
                  "Truncated medium string: need 302 bytes, got 301"},
        ErrorCase{"c5_medium_text_cut", string_value(Bytes().u8(0xC5).u8(0x01).repeat('m', 1280)),
                  "Truncated medium string: need 1283 bytes, got 1282"},
        ErrorCase{"long_length_cut", string_value(Bytes().u8(0xFE).u16(0x4000)), "Truncated long string length"},
        ErrorCase{"long_text_cut", string_value(Bytes().u8(0xFE).u24(16384).repeat('l', 16383)),
                  "Truncated long string: need 16388 bytes, got 16387"},
        ErrorCase{"str_ref_cut", string_value(Bytes().u8(0xFF).u24(1)), "Truncated StrRef dict index"},
        ErrorCase{"inline_not_utf8", string_value(Bytes().u8(4).text("abc\xE2")),
                  "Invalid UTF-8 string: incomplete utf-8 byte sequence from index 3"},
        ErrorCase{"inline_invalid_sequence", string_value(Bytes().u8(3).text("\xE2\x82\x41")),
                  "Invalid UTF-8 string: invalid utf-8 sequence of 2 bytes from index 0"}),
    test::case_name);

INSTANTIATE_TEST_SUITE_P(
    Compounds, DecodeValueErrorTest,
    ::testing::Values(
        ErrorCase{"array_empty_payload", value_of(6, {}), "Truncated array self_def_index"},
        ErrorCase{"array_one_byte", value_of(6, Bytes().u8(6)), "Truncated array self_def_index"},
        ErrorCase{"array_self_unknown", value_of(6, Bytes().u16(10)), "Unknown definition index: 10"},
        ErrorCase{"array_self_primitive", value_of(6, Bytes().u16(2).u16(2).u16(0)), "Array #2 has no elem_type"},
        ErrorCase{"array_self_object", value_of(6, Bytes().u16(7)), "Array #7 has no elem_type"},
        ErrorCase{"array_elem_def_cut", value_of(6, Bytes().u16(6).u8(2)), "Truncated array elem_def_index"},
        ErrorCase{"array_count_missing", value_of(6, Bytes().u16(6).u16(2)), "Truncated array count"},
        ErrorCase{"array_count_cut", value_of(6, Bytes().u16(6).u16(2).u8(1)), "Truncated array count"},
        ErrorCase{"array_item_cut", value_of(6, Bytes().u16(6).u16(2).u16(2).u32(1).u16(0)), "Expected int32 (4 bytes)"},
        ErrorCase{"array_items_exceed_count", value_of(6, Bytes().u16(6).u16(2).u16(1).u32(1).u32(2)),
                  "Mismatch entry 0: consumed 10 of 14"},
        ErrorCase{"object_empty_payload", value_of(7, {}), "Truncated object self_def_index"},
        ErrorCase{"object_self_unknown", value_of(7, Bytes().u16(300)), "Unknown definition index: 300"},
        ErrorCase{"object_self_array", value_of(7, Bytes().u16(6)), "Object #6 has no fields"},
        ErrorCase{"object_self_primitive", value_of(7, Bytes().u16(0)), "Object #0 has no fields"},
        ErrorCase{"object_second_value_missing", value_of(7, Bytes().u16(7).u32(1)), "Expected string/StrRef byte"},
        ErrorCase{"object_first_value_cut", value_of(7, Bytes().u16(7).u16(1)), "Expected int32 (4 bytes)"},
        // Nested values read inside their entry: the next entry's bytes are out of reach.
        ErrorCase{"value_stops_at_entry_end",
                  test::assemble(test::standard_definitions(kShapes), test::dictionary_block({}),
                                 test::data_block({test::entry(7, Bytes().u16(7).u32(1)), test::entry(5, Bytes().string("x"))})),
                  "Expected string/StrRef byte"}),
    test::case_name);

Result<VeskData> single_value(const format::ByteBuffer& bytes) {
    Result<VeskDocument> document = decode_document(bytes);
    if (!document) return std::move(document).error();
    if (document->chunks.size() != 1) return VeskError::parse("expected one chunk");
    return std::move(document->chunks[0].data);
}

TEST(DecodeValueTest, PrimitivesReadTheirPayloads) {
    struct Case {
        const char* name;
        std::uint16_t def_index;
        Bytes payload;
        VeskDataKind kind;
        std::uint32_t bits;
        std::string text;
    };
    const Case cases[] = {
        {"null", 0, {}, VeskDataKind::Null, 0, ""},
        {"false", 1, {0x00}, VeskDataKind::Bool, 0, ""},
        {"any_nonzero_is_true", 1, {0x02}, VeskDataKind::Bool, 1, ""},
        {"int32_negative", 2, Bytes().u32(0xFFFFFFFE), VeskDataKind::Int32, 0xFFFFFFFE, ""},
        {"uint32_max", 3, Bytes().u32(0xFFFFFFFF), VeskDataKind::Uint32, 0xFFFFFFFF, ""},
        {"float32_nan_bits_kept", 4, Bytes().u32(0x7FC00001), VeskDataKind::Float32, 0x7FC00001, ""},
        {"empty_string", 5, Bytes().string(""), VeskDataKind::String, 0, ""},
        {"short_string", 5, Bytes().string("h\xC3\xA9"), VeskDataKind::String, 0, "h\xC3\xA9"},
        {"str_ref_beyond_dict", 5, Bytes().u8(0xFF).u32(7), VeskDataKind::StrRef, 7, ""},
        {"medium_prefix_short_text", 5, Bytes().u8(0x80).u8(1).text("z"), VeskDataKind::String, 0, "z"},
    };
    for (const Case& c : cases) {
        Result<VeskData> value = single_value(value_of(c.def_index, c.payload));
        ASSERT_TRUE(value.has_value()) << c.name << ": " << value.error().message();
        EXPECT_EQ(value->kind, c.kind) << c.name;
        EXPECT_EQ(value->bits, c.bits) << c.name;
        EXPECT_EQ(value->text, c.text) << c.name;
    }
}

TEST(DecodeValueTest, InlineStringsOfEveryLengthClass) {
    struct Case {
        const char* name;
        Bytes prefix;
        std::size_t length;
    };
    const Case cases[] = {
        {"short_127", Bytes().u8(127), 127},
        {"medium_128", Bytes().u8(0x80).u8(0x80), 128},
        {"medium_16383", Bytes().u8(0xBF).u8(0xFF), 16383},
        {"long_16384", Bytes().u8(0xFE).u24(16384), 16384},
        // 0xC0 to 0xFD are accepted inline as medium with their low six bits.
        {"c5_medium", Bytes().u8(0xC5).u8(0x01), 1281},
        {"fd_medium", Bytes().u8(0xFD).u8(0x00), 0x3D00},
    };
    for (const Case& c : cases) {
        Result<VeskData> value = single_value(string_value(Bytes(c.prefix).repeat('s', c.length)));
        ASSERT_TRUE(value.has_value()) << c.name << ": " << value.error().message();
        EXPECT_EQ(value->kind, VeskDataKind::String) << c.name;
        EXPECT_EQ(value->text, std::string(c.length, 's')) << c.name;
    }
}

TEST(DecodeValueTest, CompoundsKeepTheirIndicesAsRead) {
    // Entry of definition 6 (array of Int32) whose value names definition 8
    // (array of String): the value's own definition decides how it reads.
    const Bytes payload = Bytes().u16(8).u16(4321).u16(2).string("a").u8(0xFF).u32(3);
    Result<VeskData> value = single_value(value_of(6, payload));
    ASSERT_TRUE(value.has_value()) << value.error().message();
    EXPECT_EQ(value->kind, VeskDataKind::Array);
    EXPECT_EQ(value->self_def_index, 8);
    EXPECT_EQ(value->elem_def_index, 4321);
    ASSERT_EQ(value->items().size(), 2u);
    EXPECT_EQ(value->items()[0].text, "a");
    EXPECT_EQ(value->items()[1].kind, VeskDataKind::StrRef);

    Result<VeskData> object = single_value(value_of(7, Bytes().u16(7).u32(0xFFFFFFFF).string("bee")));
    ASSERT_TRUE(object.has_value()) << object.error().message();
    ASSERT_EQ(object->values().size(), 2u);
    EXPECT_EQ(object->values()[0].as_int32(), -1);
    EXPECT_EQ(object->values()[1].text, "bee");
}

TEST(DecodeValueTest, NullItemsTakeNoBytes) {
    Result<VeskData> value = single_value(value_of(9, Bytes().u16(9).u16(0).u16(65535)));
    ASSERT_TRUE(value.has_value()) << value.error().message();
    ASSERT_EQ(value->items().size(), 65535u);
    EXPECT_EQ(value->items()[65534].kind, VeskDataKind::Null);
}

TEST(DecodeValueTest, RoutinesReportTheBytesTheyConsumed) {
    const std::vector<VeskDefinition> definitions = {
        VeskDefinition::primitive(format::VeskType::Null), VeskDefinition::array(1, format::VeskType::String),
        VeskDefinition::object(2, {{"n", format::VeskType::Null}, {"i", format::VeskType::Uint32}})};
    const Bytes trailing = Bytes().u8(0xAB).u8(0xCD);
    struct Case {
        const char* name;
        Bytes value;
        format::VeskType type;
    };
    const Case cases[] = {
        {"null", {}, format::VeskType::Null},
        {"uint32", Bytes().u32(9), format::VeskType::Uint32},
        {"medium_string", Bytes().u8(0x80).u8(3).text("abc"), format::VeskType::String},
        {"str_ref", Bytes().u8(0xFF).u32(2), format::VeskType::String},
        {"array", Bytes().u16(1).u16(5).u16(2).string("p").string("qr"), format::VeskType::Array},
        {"object", Bytes().u16(2).u32(5), format::VeskType::Object},
    };
    for (const Case& c : cases) {
        const format::ByteBuffer range = Bytes(c.value).append(trailing).buffer();
        VeskData out;
        Result<std::size_t> used = decode_typed_value(range, c.type, definitions, 1, out);
        ASSERT_TRUE(used.has_value()) << c.name << ": " << used.error().message();
        EXPECT_EQ(*used, c.value.size()) << c.name;
    }
    VeskData out;
    Result<std::size_t> refused = decode_primitive_value(format::ByteBuffer{1, 2, 3, 4, 5, 6}, format::VeskType::Array, out);
    ASSERT_FALSE(refused.has_value());
    EXPECT_EQ(refused.error().message(), "Unexpected compound type in primitive decode path");
}

}  // namespace
}  // namespace vesk
