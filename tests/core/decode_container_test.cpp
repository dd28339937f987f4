#include <gtest/gtest.h>

#include "container_builder.hpp"
#include "decode/decoder.hpp"
#include "decode_error_case.hpp"

namespace vesk {
namespace {

using test::assemble;
using test::Bytes;
using test::data_block;
using test::dictionary_block;
using test::entry;
using test::ErrorCase;
using test::standard_definitions;

// A header with the given fields, followed by `tail`.
format::ByteBuffer with_header(std::uint8_t version, std::uint32_t def, std::uint32_t dict, std::uint32_t data,
                       const Bytes& tail = {}) {
    return Bytes().u8(version).u32(def).u32(dict).u32(data).append(tail).buffer();
}

const Bytes kEmptyDict = Bytes().u32(0);
const Bytes kEmptyData = Bytes().u32(0);

format::ByteBuffer with_definition_block(const Bytes& block) { return assemble(block, kEmptyDict, kEmptyData); }
format::ByteBuffer with_dictionary_block(const Bytes& block) { return assemble(standard_definitions(), block, kEmptyData); }
format::ByteBuffer with_data_block(const Bytes& block) { return assemble(standard_definitions(), kEmptyDict, block); }

class DecodeHeaderTest : public ::testing::TestWithParam<ErrorCase> {};
TEST_P(DecodeHeaderTest, FailsWithItsMessage) { test::expect_decode_error(GetParam()); }

INSTANTIATE_TEST_SUITE_P(
    Messages, DecodeHeaderTest,
    ::testing::Values(
        ErrorCase{"empty_input", {}, "Header requires 13 bytes, got 0"},
        ErrorCase{"twelve_bytes", format::ByteBuffer(12, 0x01), "Header requires 13 bytes, got 12"},
        ErrorCase{"version_zero", with_header(0, 13, 15, 19, Bytes().u16(0).u32(0).u32(0)), "Unsupported VESK version: 0"},
        // The version is checked before any offset is looked at.
        ErrorCase{"version_before_offsets", with_header(2, 0, 0, 0), "Unsupported VESK version: 2"},
        ErrorCase{"def_offset_inside_header", with_header(1, 12, 15, 19, Bytes().repeat(0, 10)),
                  "Def block offset 12 before header"},
        ErrorCase{"def_offset_before_dict_check", with_header(1, 0, 0, 99), "Def block offset 0 before header"},
        ErrorCase{"dict_before_defs", with_header(1, 14, 13, 19, Bytes().repeat(0, 10)), "Dict block offset 13 before defs"},
        ErrorCase{"dict_before_data_check", with_header(1, 14, 13, 0), "Dict block offset 13 before defs"},
        ErrorCase{"data_before_dict", with_header(1, 13, 15, 14, Bytes().repeat(0, 10)), "Data block offset 14 before dict"},
        ErrorCase{"data_past_end", with_header(1, 13, 15, 24, Bytes().u16(0).u32(0).u32(0)),
                  "Data block offset 24 exceeds buffer length 23"},
        ErrorCase{"data_far_past_end", with_header(1, 13, 13, 0xFFFFFFFF),
                  "Data block offset 4294967295 exceeds buffer length 13"}),
    test::case_name);

class DecodeDefinitionBlockTest : public ::testing::TestWithParam<ErrorCase> {};
TEST_P(DecodeDefinitionBlockTest, FailsWithItsMessage) { test::expect_decode_error(GetParam()); }

INSTANTIATE_TEST_SUITE_P(
    Messages, DecodeDefinitionBlockTest,
    ::testing::Values(
        ErrorCase{"empty_block", with_definition_block({}), "Definition block too short: 0 bytes"},
        ErrorCase{"one_byte_block", with_definition_block(Bytes().u8(0)), "Definition block too short: 1 bytes"},
        // The largest count is refused by the size check before anything is reserved.
        ErrorCase{"largest_count_short_block", with_definition_block(Bytes().u16(65535)),
                  "Definition block has 2 bytes but 65535 defs require 196607"},
        ErrorCase{"block_shorter_than_counted", with_definition_block(Bytes().u16(2).repeat(0, 5)),
                  "Definition block has 7 bytes but 2 defs require 8"},
        ErrorCase{"unknown_kind", with_definition_block(Bytes().u16(1).u8(0x06).u16(6)), "Unknown VESK type tag: 0x06"},
        ErrorCase{"unknown_kind_high", with_definition_block(Bytes().u16(1).u8(0xFF).u16(6)), "Unknown VESK type tag: 0xFF"},
        ErrorCase{"unknown_kind_between_compounds", with_definition_block(Bytes().u16(1).u8(0x12).u16(6)),
                  "Unknown VESK type tag: 0x12"},
        ErrorCase{"records_outgrow_block",
                  with_definition_block(Bytes().u16(2).append(test::object_record(0, {{"ab", format::VeskType::Int32}}))),
                  "Truncated definition block at entry 1"},
        // The kind byte is checked before the index behind it.
        ErrorCase{"kind_before_index",
                  with_definition_block(Bytes().u16(2).append(test::array_record(0, format::VeskType::Null)).u8(0x07).u8(0)),
                  "Unknown VESK type tag: 0x07"},
        ErrorCase{"index_cut",
                  with_definition_block(Bytes().u16(2).append(test::array_record(0, format::VeskType::Null)).u8(0x02).u8(0)),
                  "Truncated definition index"},
        ErrorCase{"array_without_elem_type", with_definition_block(Bytes().u16(1).u8(0x10).u16(6)),
                  "Truncated array elem_type"},
        ErrorCase{"array_elem_type_unknown", with_definition_block(Bytes().u16(1).u8(0x10).u16(6).u8(0x0F)),
                  "Unknown VESK type tag: 0x0F"},
        ErrorCase{"object_without_count", with_definition_block(Bytes().u16(1).u8(0x11).u16(6)),
                  "Truncated object field count"},
        ErrorCase{"object_half_count", with_definition_block(Bytes().u16(1).u8(0x11).u16(6).u8(1)),
                  "Truncated object field count"},
        ErrorCase{"largest_field_count_short_block", with_definition_block(Bytes().u16(1).u8(0x11).u16(9).u16(65535)),
                  "Truncated field 0 name length"},
        ErrorCase{"field_without_length", with_definition_block(Bytes().u16(1).u8(0x11).u16(6).u16(1)),
                  "Truncated field 0 name length"},
        ErrorCase{"second_field_name_cut",
                  with_definition_block(Bytes().u16(1).u8(0x11).u16(6).u16(2).u8(1).text("a").u8(2).u8(2).text("xy")),
                  "Truncated field 1 name data"},
        ErrorCase{"field_name_partly_there", with_definition_block(Bytes().u16(1).u8(0x11).u16(6).u16(1).u8(3).text("ab")),
                  "Truncated field 0 name data"},
        ErrorCase{"field_name_not_utf8",
                  with_definition_block(Bytes().u16(1).u8(0x11).u16(6).u16(1).u8(1).u8(0xFF).u8(0x02)),
                  "Invalid UTF-8 in field name: invalid utf-8 sequence of 1 bytes from index 0"},
        // The name is checked before the type byte after it.
        ErrorCase{"field_name_before_type",
                  with_definition_block(Bytes().u16(1).u8(0x11).u16(6).u16(1).u8(2).text("a\xE2").u8(0x20)),
                  "Invalid UTF-8 in field name: incomplete utf-8 byte sequence from index 1"},
        ErrorCase{"field_type_unknown", with_definition_block(Bytes().u16(1).u8(0x11).u16(6).u16(1).u8(1).text("a").u8(0x20)),
                  "Unknown VESK type tag: 0x20"}),
    test::case_name);

class DecodeDictionaryBlockTest : public ::testing::TestWithParam<ErrorCase> {};
TEST_P(DecodeDictionaryBlockTest, FailsWithItsMessage) { test::expect_decode_error(GetParam()); }

INSTANTIATE_TEST_SUITE_P(
    Messages, DecodeDictionaryBlockTest,
    ::testing::Values(
        ErrorCase{"one_byte", with_dictionary_block(Bytes().u8(0)), "Dict block too short for entry count"},
        ErrorCase{"three_bytes", with_dictionary_block(Bytes().u8(0).u16(0)), "Dict block too short for entry count"},
        ErrorCase{"count_without_strings", with_dictionary_block(Bytes().u32(1)), "Truncated dict string"},
        ErrorCase{"huge_count", with_dictionary_block(Bytes().u32(0xFFFFFFFF).string("a")), "Truncated dict string"},
        ErrorCase{"ff_first_byte", with_dictionary_block(Bytes().u32(1).u8(0xFF).u32(0)),
                  "Invalid dict string encoding byte: 0xFF"},
        ErrorCase{"c0_first_byte", with_dictionary_block(Bytes().u32(1).u8(0xC0).u8(0)),
                  "Invalid dict string encoding byte: 0xC0"},
        ErrorCase{"c5_first_byte", with_dictionary_block(Bytes().u32(1).u8(0xC5).u8(0x01).repeat('a', 1281)),
                  "Invalid dict string encoding byte: 0xC5"},
        ErrorCase{"fd_first_byte", with_dictionary_block(Bytes().u32(1).u8(0xFD).u8(0)),
                  "Invalid dict string encoding byte: 0xFD"},
        ErrorCase{"medium_without_second_byte", with_dictionary_block(Bytes().u32(1).u8(0xBF)),
                  "Truncated medium dict string"},
        ErrorCase{"long_with_two_length_bytes", with_dictionary_block(Bytes().u32(1).u8(0xFE).u16(0x4000)),
                  "Truncated long dict string"},
        ErrorCase{"short_text_cut", with_dictionary_block(Bytes().u32(1).u8(5).text("abcd")), "Truncated dict string data"},
        ErrorCase{"medium_text_cut", with_dictionary_block(Bytes().u32(1).u8(0x81).u8(0x2C).repeat('m', 299)),
                  "Truncated dict string data"},
        ErrorCase{"long_text_cut", with_dictionary_block(Bytes().u32(1).u8(0xFE).u24(16384).repeat('l', 16383)),
                  "Truncated dict string data"},
        ErrorCase{"second_string_cut", with_dictionary_block(Bytes().u32(2).string("ok").u8(3).text("x")),
                  "Truncated dict string data"},
        ErrorCase{"text_not_utf8", with_dictionary_block(Bytes().u32(1).u8(1).u8(0xFF)),
                  "Invalid UTF-8 in dict: invalid utf-8 sequence of 1 bytes from index 0"},
        ErrorCase{"text_ends_inside_sequence", with_dictionary_block(Bytes().u32(1).u8(3).text("ab\xC3")),
                  "Invalid UTF-8 in dict: incomplete utf-8 byte sequence from index 2"}),
    test::case_name);

class DecodeDataBlockTest : public ::testing::TestWithParam<ErrorCase> {};
TEST_P(DecodeDataBlockTest, FailsWithItsMessage) { test::expect_decode_error(GetParam()); }

INSTANTIATE_TEST_SUITE_P(
    Messages, DecodeDataBlockTest,
    ::testing::Values(
        ErrorCase{"empty_block", with_data_block({}), "Data block too short: 0 bytes"},
        ErrorCase{"three_bytes", with_data_block(Bytes().u16(0).u8(0)), "Data block too short: 3 bytes"},
        ErrorCase{"count_over_max", with_data_block(Bytes().u32(1048577)), "Data entry count 1048577 exceeds max 1048576"},
        // 17 bytes claiming the most entries: fails on the first header, no
        // reservation for a million chunks.
        ErrorCase{"max_count_nothing_behind", with_data_block(Bytes().u32(1048576)), "Truncated entry 0 header"},
        ErrorCase{"entry_header_cut", with_data_block(Bytes().u32(1).u16(0).u16(0).u8(0)), "Truncated entry 0 header"},
        ErrorCase{"second_entry_header_cut", with_data_block(Bytes().u32(2).append(entry(0, {})).u16(0)),
                  "Truncated entry 1 header"},
        ErrorCase{"payload_past_end", with_data_block(Bytes().u32(1).u16(2).u32(5).u32(7)),
                  "Entry 0 payload (5 bytes) exceeds buffer"},
        ErrorCase{"payload_length_near_wrap", with_data_block(Bytes().u32(1).u16(2).u32(0xFFFFFFFF).u32(7)),
                  "Entry 0 payload (4294967295 bytes) exceeds buffer"},
        // The payload bounds come before the definition lookup.
        ErrorCase{"payload_before_definition", with_data_block(Bytes().u32(1).u16(99).u32(1)),
                  "Entry 0 payload (1 bytes) exceeds buffer"},
        ErrorCase{"unknown_definition", with_data_block(data_block({entry(6, {})})), "Unknown definition index: 6"},
        ErrorCase{"null_with_payload", with_data_block(data_block({entry(0, Bytes().u8(0))})),
                  "Mismatch entry 0: consumed 0 of 1"},
        ErrorCase{"int_with_extra_byte", with_data_block(data_block({entry(0, {}), entry(2, Bytes().u32(1).u8(0))})),
                  "Mismatch entry 1: consumed 4 of 5"},
        ErrorCase{"value_error_ends_read", with_data_block(data_block({entry(1, {})})), "Expected bool byte"}),
    test::case_name);

TEST(DecodeContainerTest, EmptyContainerReadsWithItsOffsets) {
    const format::ByteBuffer bytes = {0x01, 0x0D, 0, 0, 0, 0x0F, 0, 0, 0, 0x13, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    Result<VeskDocument> document = decode_document(bytes);
    ASSERT_TRUE(document.has_value()) << document.error().message();
    EXPECT_EQ(document->version, 1);
    EXPECT_EQ(document->def_block_offset, 13u);
    EXPECT_EQ(document->dict_block_offset, 15u);
    EXPECT_EQ(document->data_block_offset, 19u);
    EXPECT_TRUE(document->definitions.empty());
    EXPECT_TRUE(document->dict.empty());
    EXPECT_TRUE(document->chunks.empty());
}

// Bytes the layout does not describe are skipped wherever they may sit.
TEST(DecodeContainerTest, IgnoredBytesDoNotChangeTheDocument) {
    struct Case {
        const char* name;
        format::ByteBuffer bytes;
    };
    const Bytes defs = standard_definitions({test::array_record(6, format::VeskType::String)});
    const Bytes dict = dictionary_block({"x", "yz"});
    const Bytes data = data_block({entry(6, Bytes().u16(6).u16(5).u16(2).u8(0xFF).u32(1).string("q"))});
    const Case cases[] = {
        {"plain", assemble(defs, dict, data)},
        {"gap_after_header", assemble(defs, dict, data, 1, 7)},
        {"after_definitions", assemble(Bytes(defs).u8(0x99).u8(0x77), dict, data)},
        {"after_strings", assemble(defs, Bytes(dict).u8(0xFF), data)},
        {"after_entries", assemble(defs, dict, Bytes(data).u32(0xDEADBEEF))},
    };
    for (const Case& c : cases) {
        Result<VeskDocument> document = decode_document(c.bytes);
        ASSERT_TRUE(document.has_value()) << c.name << ": " << document.error().message();
        ASSERT_EQ(document->definitions.size(), 7u) << c.name;
        EXPECT_EQ(document->dict, (std::vector<std::string>{"x", "yz"})) << c.name;
        ASSERT_EQ(document->chunks.size(), 1u) << c.name;
        const VeskData& value = document->chunks[0].data;
        ASSERT_EQ(value.items().size(), 2u) << c.name;
        EXPECT_EQ(value.items()[0].kind, VeskDataKind::StrRef) << c.name;
        EXPECT_EQ(value.items()[0].str_ref_index(), 1u) << c.name;
        EXPECT_EQ(value.items()[1].text, "q") << c.name;
    }
}

TEST(DecodeContainerTest, EmptyDictionaryBlockIsAnEmptyDictionary) {
    Result<VeskDocument> document = decode_document(assemble(standard_definitions(), {}, kEmptyData));
    ASSERT_TRUE(document.has_value()) << document.error().message();
    EXPECT_TRUE(document->dict.empty());
    EXPECT_EQ(document->dict_block_offset, document->data_block_offset);
}

TEST(DecodeContainerTest, DefinitionsKeepWhatTheFileSays) {
    const Bytes defs = test::definition_block({
        test::primitive_record(format::VeskType::Int32, 40),
        test::array_record(7, format::VeskType::Object),
        test::object_record(1, {{"b", format::VeskType::String}, {"a", format::VeskType::Array}, {"b", format::VeskType::Null}}),
        test::object_record(3, {}),
    });
    Result<VeskDocument> document = decode_document(assemble(defs, {}, kEmptyData));
    ASSERT_TRUE(document.has_value()) << document.error().message();
    const auto& d = document->definitions;
    ASSERT_EQ(d.size(), 4u);
    EXPECT_EQ(d[0].index, 40);
    EXPECT_EQ(d[0].kind, format::VeskType::Int32);
    EXPECT_FALSE(d[0].fields.has_value());
    EXPECT_FALSE(d[0].elem_type.has_value());
    EXPECT_EQ(d[1].index, 7);
    EXPECT_EQ(d[1].elem_type, format::VeskType::Object);
    EXPECT_FALSE(d[1].fields.has_value());
    ASSERT_TRUE(d[2].fields.has_value());
    ASSERT_EQ(d[2].fields->size(), 3u);
    EXPECT_EQ((*d[2].fields)[1].name, "a");
    EXPECT_EQ((*d[2].fields)[1].type, format::VeskType::Array);
    EXPECT_EQ((*d[2].fields)[2].type, format::VeskType::Null);
    EXPECT_FALSE(d[2].elem_type.has_value());
    ASSERT_TRUE(d[3].fields.has_value());
    EXPECT_TRUE(d[3].fields->empty());
}

TEST(DecodeContainerTest, DictionaryReadsEveryLengthClass) {
    const std::string medium(300, 'm');
    const std::string long_text(16384, 'l');
    const Bytes dict = Bytes()
                           .u32(5)
                           .string("")
                           .string("\xC3\xA9t\xC3\xA9")
                           .string(medium)
                           .string(long_text)
                           .u8(0x80)
                           .u8(0x02)
                           .text("hi");  // a medium prefix on a short text still reads
    Result<VeskDocument> document = decode_document(assemble(standard_definitions(), dict, kEmptyData));
    ASSERT_TRUE(document.has_value()) << document.error().message();
    EXPECT_EQ(document->dict, (std::vector<std::string>{"", "\xC3\xA9t\xC3\xA9", medium, long_text, "hi"}));
}

}  // namespace
}  // namespace vesk
