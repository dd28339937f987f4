#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "compile/compile_json.hpp"
#include "container_builder.hpp"
#include "decode/decoder.hpp"
#include "decode_document_equality.hpp"
#include "decompile/decompiler.hpp"
#include "encode/encoder.hpp"

namespace vesk {
namespace {

using test::document_difference;

// Encodes, reads back and compares; also checks the offsets the reader
// records are where the writer put the blocks.
void expect_round_trip(const VeskDocument& document, const std::string& name) {
    Result<format::ByteBuffer> bytes = encode_document(document);
    ASSERT_TRUE(bytes.has_value()) << name << ": " << bytes.error().message();
    Result<VeskDocument> back = decode_document(*bytes);
    ASSERT_TRUE(back.has_value()) << name << ": " << back.error().message();
    EXPECT_EQ(document_difference(document, *back), "") << name;
    EXPECT_EQ(back->def_block_offset, 13u) << name;
    EXPECT_LE(back->dict_block_offset, back->data_block_offset) << name;
    EXPECT_LT(back->data_block_offset, bytes->size()) << name;
}

VeskDocument every_variant_document() {
    VeskDocument document;
    document.definitions = primitive_definitions();
    document.definitions.push_back(VeskDefinition::array(6, format::VeskType::String));
    document.definitions.push_back(VeskDefinition::object(
        7, {{"n", format::VeskType::Null}, {"b", format::VeskType::Bool}, {"i", format::VeskType::Int32}, {"u", format::VeskType::Uint32},
            {"f", format::VeskType::Float32}, {"s", format::VeskType::String}, {"a", format::VeskType::Array}, {"\xC3\xA9", format::VeskType::Object}}));
    document.definitions.push_back(VeskDefinition::object(8, {}));
    document.dict = {"shared", "", std::string(200, 'd')};
    VeskData strings = VeskData::array(6, 5, {VeskData::str_ref(0), VeskData::string(std::string(16384, 'l')),
                                              VeskData::string(""), VeskData::str_ref(2)});
    document.chunks.push_back(VeskChunk{
        7, VeskData::object(7, {VeskData::null(), VeskData::boolean(true), VeskData::int32(-7),
                                VeskData::uint32(4000000000u), VeskData::float32_bits(0x7FC00000u),
                                VeskData::string(std::string(300, 'm')), strings, VeskData::object(8, {})})});
    document.chunks.push_back(VeskChunk{0, VeskData::null()});
    document.chunks.push_back(VeskChunk{5, VeskData::str_ref(1)});
    return document;
}

TEST(DecodeRoundTripTest, DocumentsReadBackEqual) {
    VeskDocument empty;
    empty.dict_block_offset = 0;
    expect_round_trip(empty, "empty");
    expect_round_trip(every_variant_document(), "every_variant");

    // Numbers that do not match positions are kept as written.
    VeskDocument renumbered = every_variant_document();
    renumbered.definitions[2].index = 900;
    renumbered.definitions[6].index = 0;
    expect_round_trip(renumbered, "renumbered");
}

TEST(DecodeRoundTripTest, WorkedExampleReadsAsItsDocument) {
    const test::Bytes bytes = test::Bytes()
                                  .u8(1).u32(13).u32(44).u32(48)
                                  .append(test::standard_definitions(
                                      {test::object_record(6, {{"a", format::VeskType::Int32}, {"b", format::VeskType::String}})}))
                                  .u32(0)
                                  .append(test::data_block({test::entry(6, test::Bytes().u16(6).u32(1).string("x"))}));
    ASSERT_EQ(bytes.size(), 66u);
    Result<VeskDocument> document = decode_document(bytes.buffer());
    ASSERT_TRUE(document.has_value()) << document.error().message();

    VeskDocument expected;
    expected.definitions = primitive_definitions();
    expected.definitions.push_back(VeskDefinition::object(6, {{"a", format::VeskType::Int32}, {"b", format::VeskType::String}}));
    expected.chunks.push_back(VeskChunk{6, VeskData::object(6, {VeskData::int32(1), VeskData::string("x")})});
    EXPECT_EQ(document_difference(*document, expected), "");
    EXPECT_EQ(document->dict_block_offset, 44u);
    EXPECT_EQ(document->data_block_offset, 48u);

    Result<format::ByteBuffer> encoded = encode_document(expected);
    ASSERT_TRUE(encoded.has_value());
    EXPECT_EQ(*encoded, bytes.buffer());
}

std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Object members must be unique and in ascending key byte order.
bool keys_in_byte_order(const json::JsonValue& value) {
    for (std::size_t i = 1; i < value.members.size(); ++i) {
        if (!(std::string_view(value.members[i - 1].key) < std::string_view(value.members[i].key))) return false;
    }
    for (const json::JsonMember& member : value.members) {
        if (!keys_in_byte_order(member.value)) return false;
    }
    for (const json::JsonValue& item : value.items) {
        if (!keys_in_byte_order(item)) return false;
    }
    return true;
}

// Compiled JSON documents read back equal and decompile to the same tree
// before and after the trip through the container.
TEST(DecodeRoundTripTest, CompiledJsonFilesReadBackAndDecompileAlike) {
    std::vector<std::filesystem::path> files;
    for (const auto& item : std::filesystem::directory_iterator(VESK_CORPUS_DIR)) {
        if (item.path().extension() == ".json") files.push_back(item.path());
    }
    for (const auto& item : std::filesystem::directory_iterator(VESK_TEST_SUITE_DIR)) {
        if (item.path().filename().string().starts_with("y_")) files.push_back(item.path());
    }
    ASSERT_GT(files.size(), 100u);

    std::size_t compared = 0;
    for (const auto& path : files) {
        const std::string name = path.filename().string();
        Result<VeskDocument> compiled = compile_json_str(read_file(path));
        if (!compiled) continue;  // JSON the compiler refuses (mixed arrays and the like)
        Result<format::ByteBuffer> bytes = encode_document(*compiled);
        if (!bytes) continue;  // beyond what the container can hold (marine_ik.json's 74087-item array)
        Result<VeskDocument> back = decode_document(*bytes);
        ASSERT_TRUE(back.has_value()) << name << ": " << back.error().message();
        EXPECT_EQ(document_difference(*compiled, *back), "") << name;

        Result<json::JsonValue> before = decompile_document(*compiled);
        Result<json::JsonValue> after = decompile_document(*back);
        ASSERT_EQ(before.has_value(), after.has_value()) << name;
        if (!before) {
            EXPECT_EQ(before.error().message(), after.error().message()) << name;
            continue;
        }
        EXPECT_EQ(test::json_difference(*before, *after), "") << name;
        EXPECT_TRUE(keys_in_byte_order(*after)) << name;
        ++compared;
    }
    EXPECT_GT(compared, 80u);
}

}  // namespace
}  // namespace vesk
