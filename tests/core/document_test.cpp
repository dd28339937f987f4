#include <gtest/gtest.h>

#include "error/format_message.hpp"
#include "error/vesk_error.hpp"
#include "structure/document.hpp"

namespace vesk {
namespace {

TEST(VeskErrorTest, KindsFormatWithTheirTemplates) {
    EXPECT_EQ(VeskError::parse("Truncated dict string").formatted(),
              "Failed to parse VESK: Truncated dict string");
    EXPECT_EQ(VeskError::unsupported_type("array item 1 is String, expected Int32").formatted(),
              "Unsupported data type: array item 1 is String, expected Int32");
    EXPECT_EQ(VeskError::io_message("failed to write whole buffer").formatted(),
              "IO error: failed to write whole buffer");
}

TEST(VeskErrorTest, OsErrorCarriesSystemTextAndNumber) {
    VeskError error = VeskError::io_os(2);
    EXPECT_EQ(error.kind(), VeskErrorKind::Io);
    EXPECT_EQ(error.os_error(), 2);
    EXPECT_EQ(error.formatted(), "IO error: No such file or directory (os error 2)");
    EXPECT_EQ(os_error_description(21), "Is a directory (os error 21)");
}

TEST(FormatMessageTest, FillsPlaceholdersInOrder) {
    EXPECT_EQ(format_message("Too many definitions ({}), max {}", 65536, 65535),
              "Too many definitions (65536), max 65535");
    EXPECT_EQ(format_message("Invalid UTF-8 {}: {}", "in dict", std::string("x")), "Invalid UTF-8 in dict: x");
    EXPECT_EQ(format_message("no placeholder"), "no placeholder");
    EXPECT_EQ(format_message("{} and {}", std::uint8_t{7}, -3), "7 and -3");
    EXPECT_EQ("0x" + hex_byte(0xC5), "0xC5");
    EXPECT_EQ("0x" + hex_byte(0x0A), "0x0A");
}

TEST(DocumentModelTest, PrimitiveDefinitionsMatchTheirPositions) {
    auto definitions = primitive_definitions();
    ASSERT_EQ(definitions.size(), 6u);
    for (std::size_t i = 0; i < definitions.size(); ++i) {
        EXPECT_EQ(definitions[i].index, i);
        EXPECT_EQ(format::type_byte(definitions[i].kind), i);
        EXPECT_FALSE(definitions[i].fields.has_value());
        EXPECT_FALSE(definitions[i].elem_type.has_value());
    }
}

TEST(DocumentModelTest, TypeOrdinalsAndTypeBytes) {
    const std::pair<std::uint8_t, char> table[] = {{0x00, '0'}, {0x05, '5'}, {0x10, '6'}, {0x11, '7'},
                                                   {0x06, '?'}, {0x0F, '?'}, {0x12, '?'}, {0xFF, '?'}};
    for (auto [byte, ordinal] : table) {
        EXPECT_EQ(format::type_ordinal(byte), ordinal) << int(byte);
        EXPECT_EQ(format::is_vesk_type_byte(byte), ordinal != '?') << int(byte);
    }
}

TEST(DocumentModelTest, ScalarPayloadsRoundTripThroughTheSharedWord) {
    EXPECT_EQ(VeskData::int32(-5).as_int32(), -5);
    EXPECT_EQ(VeskData::uint32(4294967295u).as_uint32(), 4294967295u);
    EXPECT_EQ(VeskData::float32(-0.0f).bits, 0x80000000u);
    EXPECT_TRUE(VeskData::boolean(true).as_bool());
    EXPECT_EQ(VeskData::str_ref(7).type(), format::VeskType::String);
    EXPECT_EQ(VeskData::string("x").type(), format::VeskType::String);
}

}  // namespace
}  // namespace vesk
