#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>

#include "decode_document_equality.hpp"
#include "decompile/decompiler.hpp"

namespace vesk {
namespace {

using test::json_difference;

// Primitives at 0..5, then 6 array of Int32, 7 object {b: Int32, a: String},
// 8 object {a: Int32, a: Int32}, 9 object with no fields.
VeskDocument base_document(std::vector<VeskData> chunk_values, std::vector<std::string> dict = {"zero", "one"}) {
    VeskDocument document;
    document.definitions = primitive_definitions();
    document.definitions.push_back(VeskDefinition::array(6, format::VeskType::Int32));
    document.definitions.push_back(VeskDefinition::object(7, {{"b", format::VeskType::Int32}, {"a", format::VeskType::String}}));
    document.definitions.push_back(VeskDefinition::object(8, {{"a", format::VeskType::Int32}, {"a", format::VeskType::Int32}}));
    document.definitions.push_back(VeskDefinition::object(9, {}));
    document.dict = std::move(dict);
    for (VeskData& value : chunk_values) document.chunks.push_back(VeskChunk{0, std::move(value)});
    return document;
}

VeskData array_of(std::vector<VeskData> items) { return VeskData::array(6, 2, std::move(items)); }

json::JsonValue object_of(std::vector<std::pair<std::string, json::JsonValue>> members) {
    std::vector<json::JsonMember> out;
    for (auto& [key, value] : members) out.push_back(json::JsonMember{key, std::move(value)});
    return json::JsonValue::object(std::move(out));
}

struct ConvertCase {
    const char* name;
    VeskData value;
    json::JsonValue expected;
};

TEST(DecompileTest, ScalarsTakeTheirNumberClass) {
    const ConvertCase cases[] = {
        {"null", VeskData::null(), json::JsonValue::null()},
        {"true", VeskData::boolean(true), json::JsonValue::boolean(true)},
        {"int32_minus_one", VeskData::int32(-1), json::JsonValue::int64(-1)},
        {"int32_min", VeskData::int32(std::numeric_limits<std::int32_t>::min()), json::JsonValue::int64(-2147483648LL)},
        {"int32_zero_is_unsigned", VeskData::int32(0), json::JsonValue::uint(0)},
        {"int32_max", VeskData::int32(2147483647), json::JsonValue::uint(2147483647)},
        {"uint32_zero", VeskData::uint32(0), json::JsonValue::uint(0)},
        {"uint32_max", VeskData::uint32(4294967295u), json::JsonValue::uint(4294967295u)},
        {"float_one_stays_float", VeskData::float32(1.0f), json::JsonValue::number(1.0)},
        {"float_one_and_half", VeskData::float32(1.5f), json::JsonValue::number(1.5)},
        {"float_negative_zero", VeskData::float32(-0.0f), json::JsonValue::number(-0.0)},
        {"float_tenth_widened_exactly", VeskData::float32(0.1f), json::JsonValue::number(0.100000001490116119384765625)},
        {"float_max", VeskData::float32(std::numeric_limits<float>::max()),
         json::JsonValue::number(3.4028234663852886e38)},
        // What the writers produce reads back: non-finite floats too, bit for bit.
        {"float_inf", VeskData::float32(std::numeric_limits<float>::infinity()),
         json::JsonValue::number(std::numeric_limits<double>::infinity())},
        {"float_minus_inf", VeskData::float32(-std::numeric_limits<float>::infinity()),
         json::JsonValue::number(-std::numeric_limits<double>::infinity())},
        {"float_nan", VeskData::float32_bits(0x7FC00000u), json::JsonValue::number(std::bit_cast<double>(std::uint64_t{0x7FF8000000000000u}))},
        {"float_negative_nan", VeskData::float32_bits(0xFFC00000u),
         json::JsonValue::number(std::bit_cast<double>(std::uint64_t{0xFFF8000000000000u}))},
        {"string", VeskData::string("h\xC3\xA9"), json::JsonValue::string("h\xC3\xA9")},
        {"str_ref", VeskData::str_ref(1), json::JsonValue::string("one")},
    };
    for (const ConvertCase& c : cases) {
        Result<json::JsonValue> json = decompile_document(base_document({c.value}));
        ASSERT_TRUE(json.has_value()) << c.name << ": " << json.error().message();
        EXPECT_EQ(json_difference(*json, c.expected), "") << c.name;
    }
}

TEST(DecompileTest, ChunkCountDecidesTheRoot) {
    const ConvertCase cases[] = {
        {"no_chunks", VeskData::null(), json::JsonValue::null()},
        {"one_array_chunk_unwrapped", array_of({VeskData::int32(1), VeskData::int32(2)}),
         json::JsonValue::array({json::JsonValue::uint(1), json::JsonValue::uint(2)})},
    };
    Result<json::JsonValue> empty = decompile_document(base_document({}));
    ASSERT_TRUE(empty.has_value());
    EXPECT_EQ(json_difference(*empty, cases[0].expected), "");
    Result<json::JsonValue> one = decompile_document(base_document({cases[1].value}));
    ASSERT_TRUE(one.has_value());
    EXPECT_EQ(json_difference(*one, cases[1].expected), "");
    // Two chunks read the same as one chunk holding both values.
    Result<json::JsonValue> two = decompile_document(base_document({VeskData::int32(1), VeskData::int32(2)}));
    ASSERT_TRUE(two.has_value());
    EXPECT_EQ(json_difference(*two, cases[1].expected), "");
}

TEST(DecompileTest, ObjectKeysComeOutInByteOrderLaterDuplicateWinning) {
    VeskDocument document = base_document({});
    document.definitions.push_back(VeskDefinition::object(
        10, {{"b", format::VeskType::Int32}, {"\xC3\xA9", format::VeskType::Int32}, {"ab", format::VeskType::Int32}, {"Z", format::VeskType::Int32},
             {"", format::VeskType::Int32}, {"a", format::VeskType::Int32}, {"b", format::VeskType::Int32}}));
    std::vector<VeskData> values;
    for (int i = 0; i < 7; ++i) values.push_back(VeskData::int32(i));
    VeskData object = VeskData::object(10, values);
    // Two objects of one definition: the second reuses the first's layout.
    document.chunks.push_back(VeskChunk{10, object});
    document.chunks.push_back(VeskChunk{10, array_of({object, VeskData::object(8, {VeskData::int32(5), VeskData::int32(6)})})});
    Result<json::JsonValue> json = decompile_document(document);
    ASSERT_TRUE(json.has_value()) << json.error().message();

    const json::JsonValue expected_object = object_of({{"", json::JsonValue::uint(4)},
                                                 {"Z", json::JsonValue::uint(3)},
                                                 {"a", json::JsonValue::uint(5)},
                                                 {"ab", json::JsonValue::uint(2)},
                                                 {"b", json::JsonValue::uint(6)},
                                                 {"\xC3\xA9", json::JsonValue::uint(1)}});
    const json::JsonValue expected = json::JsonValue::array(
        {expected_object, json::JsonValue::array({expected_object, object_of({{"a", json::JsonValue::uint(6)}})})});
    EXPECT_EQ(json_difference(*json, expected), "");
}

TEST(DecompileTest, EmptyFieldListGivesEmptyObject) {
    Result<json::JsonValue> json = decompile_document(base_document({VeskData::object(9, {})}));
    ASSERT_TRUE(json.has_value()) << json.error().message();
    EXPECT_EQ(json->kind, json::JsonKind::Object);
    EXPECT_TRUE(json->members.empty());
}

struct FailureCase {
    const char* name;
    std::vector<VeskData> chunks;
    std::string message;
};

TEST(DecompileTest, FailuresCarryTheirMessages) {
    const FailureCase cases[] = {
        {"chunk_str_ref_out_of_range", {VeskData::str_ref(2)}, "StrRef index 2 out of bounds (dict len 2)"},
        {"second_chunk_str_ref", {VeskData::str_ref(1), VeskData::str_ref(4000000000u)},
         "StrRef index 4000000000 out of bounds (dict len 2)"},
        {"str_ref_in_array", {array_of({VeskData::str_ref(2)})}, "StrRef index 2 out of bounds"},
        {"str_ref_in_object", {VeskData::object(7, {VeskData::int32(1), VeskData::str_ref(9)})},
         "StrRef index 9 out of bounds"},
        {"unknown_definition", {VeskData::object(40, {})}, "Unknown definition index: 40"},
        {"array_definition", {VeskData::object(6, {})}, "Object #6: no field definitions"},
        {"primitive_definition", {VeskData::object(3, {})}, "Object #3: no field definitions"},
        {"too_few_values", {VeskData::object(7, {VeskData::int32(1)})}, "Object #7: expected 2 fields, got 1"},
        {"too_many_values", {VeskData::object(9, {VeskData::null()})}, "Object #9: expected 0 fields, got 1"},
        // Values convert in field order: b (first field) fails before a.
        {"first_field_fails_first",
         {VeskData::object(7, {VeskData::object(40, {}), VeskData::str_ref(9)})}, "Unknown definition index: 40"},
        // A value later replaced under the same name still has to convert.
        {"replaced_value_still_checked",
         {VeskData::object(8, {array_of({VeskData::str_ref(5)}), VeskData::int32(1)})}, "StrRef index 5 out of bounds"},
    };
    for (const FailureCase& c : cases) {
        const VeskDocument document = base_document(c.chunks);
        Result<json::JsonValue> json = decompile_document(document);
        ASSERT_FALSE(json.has_value()) << c.name;
        EXPECT_EQ(json.error().kind(), VeskErrorKind::Parse) << c.name;
        EXPECT_EQ(json.error().message(), c.message) << c.name;
    }
}

TEST(DecompileTest, ChunkAndNestedConversionsDifferOnlyInTheStrRefMessage) {
    const VeskDocument document = base_document({});
    const VeskChunk chunk{5, VeskData::str_ref(3)};
    Result<json::JsonValue> as_chunk = chunk_to_json(chunk, document.definitions, document.dict);
    Result<json::JsonValue> as_nested = data_to_json(chunk.data, document.definitions, document.dict);
    ASSERT_FALSE(as_chunk.has_value());
    ASSERT_FALSE(as_nested.has_value());
    EXPECT_EQ(as_chunk.error().message(), "StrRef index 3 out of bounds (dict len 2)");
    EXPECT_EQ(as_nested.error().message(), "StrRef index 3 out of bounds");

    Result<json::JsonValue> resolved = data_to_json(VeskData::str_ref(0), document.definitions, document.dict);
    ASSERT_TRUE(resolved.has_value());
    EXPECT_EQ(resolved->text, "zero");
}

TEST(DecompileTest, DefinitionsAreFoundByTheirNumber) {
    // Stored out of order: position 0 is numbered 2, position 1 numbered 0,
    // position 2 numbered 2 as well.
    VeskDocument document;
    document.definitions = {VeskDefinition::object(2, {{"first_two", format::VeskType::Null}}),
                            VeskDefinition::object(0, {{"zero", format::VeskType::Null}}),
                            VeskDefinition::object(2, {{"direct_two", format::VeskType::Null}})};
    struct Case {
        const char* name;
        std::uint16_t number;
        std::string key;  // empty: the number matches no definition
    };
    const Case cases[] = {
        {"found_by_search", 0, "zero"},
        {"direct_hit_wins_over_earlier_match", 2, "direct_two"},
        {"position_without_matching_number", 1, ""},
    };
    for (const Case& c : cases) {
        Result<json::JsonValue> json = data_to_json(VeskData::object(c.number, {VeskData::null()}), document.definitions, {});
        if (c.key.empty()) {
            ASSERT_FALSE(json.has_value()) << c.name;
            EXPECT_EQ(json.error().message(), "Unknown definition index: 1") << c.name;
            continue;
        }
        ASSERT_TRUE(json.has_value()) << c.name << ": " << json.error().message();
        ASSERT_EQ(json->members.size(), 1u) << c.name;
        EXPECT_EQ(json->members[0].key, c.key) << c.name;
    }

    // Without a direct hit the first definition with the number is taken.
    document.definitions.pop_back();
    Result<json::JsonValue> first = data_to_json(VeskData::object(2, {VeskData::null()}), document.definitions, {});
    ASSERT_TRUE(first.has_value()) << first.error().message();
    EXPECT_EQ(first->members[0].key, "first_two");
}

}  // namespace
}  // namespace vesk
