#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "compile/compile_builder.hpp"
#include "compile_test_render.hpp"
#include "compile/value_narrowing.hpp"
#include "tables/text_hash.hpp"

namespace vesk {
namespace {

using namespace compile_test;
using Strings = std::vector<std::string>;

struct Compiled {
    std::string value;  // rendered value, or the error's formatted text
    Strings shapes;
    Strings dict;
};

Compiled compile_tree(json::JsonValue tree) {
    CompileBuilder builder;
    Result<VeskData> value = builder.compile_inline(tree);
    if (!value) return {value.error().formatted(), {}, {}};
    return {render(*value), render_shapes(builder.definitions), builder.dict};
}

// ---- strings: inline once, then shared ----

struct StringCase {
    const char* name;
    Strings walk;           // string values in walk order
    Strings emitted;        // rendered results
    Strings dict;

    friend void PrintTo(const StringCase& c, std::ostream* out) { *out << c.name; }
};

class CompileStringsTest : public testing::TestWithParam<StringCase> {};

TEST_P(CompileStringsTest, SecondOccurrenceEntersTheDictionary) {
    const StringCase& c = GetParam();
    for (bool move_text : {false, true}) {
        CompileBuilder builder;
        Strings emitted;
        for (const std::string& text : c.walk) {
            std::string owned = text;
            emitted.push_back(render(move_text ? builder.emit_string(std::move(owned)) : builder.emit_string(text)));
        }
        EXPECT_EQ(emitted, c.emitted) << (move_text ? "moved" : "copied");
        EXPECT_EQ(builder.dict, c.dict);
        EXPECT_EQ(builder.dict_index.size(), c.dict.size());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Compile, CompileStringsTest,
    testing::Values(
        StringCase{"interleaved", {"a", "b", "b", "a", "c", "a"},
                   {"s\"a\"", "s\"b\"", "r:0", "r:1", "s\"c\"", "r:1"}, {"b", "a"}},
        StringCase{"once", {"x"}, {"s\"x\""}, {}},
        StringCase{"thrice", {"x", "x", "x"}, {"s\"x\"", "r:0", "r:0"}, {"x"}},
        StringCase{"empty_text", {"", "", ""}, {"s\"\"", "r:0", "r:0"}, {""}},
        StringCase{"case_matters", {"A", "a", "A", "a"}, {"s\"A\"", "s\"a\"", "r:0", "r:1"}, {"A", "a"}},
        // U+00E9 precomposed and as e + combining acute: different bytes.
        StringCase{"no_normalisation", {"\xC3\xA9", "e\xCC\x81", "e\xCC\x81"},
                   {"s\"\xC3\xA9\"", "s\"e\xCC\x81\"", "r:0"}, {"e\xCC\x81"}},
        StringCase{"embedded_nul", {std::string("a\0b", 3), "a", std::string("a\0b", 3)},
                   {"s\"" + std::string("a\0b", 3) + "\"", "s\"a\"", "r:0"}, {std::string("a\0b", 3)}},
        StringCase{"long_texts", {std::string(100000, 'q'), std::string(99999, 'q'), std::string(100000, 'q')},
                   {"s\"" + std::string(100000, 'q') + "\"", "s\"" + std::string(99999, 'q') + "\"", "r:0"},
                   {std::string(100000, 'q')}}),
    [](const testing::TestParamInfo<StringCase>& info) { return std::string(info.param.name); });

TEST(CompileStringsTest, ManyDistinctTextsKeepTheirOwnIndices) {
    // Enough texts to make the lookup tables grow several times.
    CompileBuilder builder;
    constexpr std::uint32_t count = 20000;
    for (std::uint32_t i = 0; i < count; ++i) EXPECT_EQ(builder.emit_string(std::to_string(i)).kind, VeskDataKind::String);
    for (std::uint32_t i = count; i-- > 0;) {
        VeskData shared = builder.emit_string(std::to_string(i));
        ASSERT_EQ(shared.kind, VeskDataKind::StrRef);
        ASSERT_EQ(shared.str_ref_index(), count - 1 - i);
    }
    for (std::uint32_t i = 0; i < count; i += 997) EXPECT_EQ(builder.emit_string(std::to_string(i)).str_ref_index(), count - 1 - i);
    EXPECT_EQ(builder.dict.size(), count);
    EXPECT_EQ(builder.seen_once.size(), count);
}

TEST(CompileStringsTest, CraftedTextsDoNotShareAHashUnderAnySeed) {
    // Flipping the top bit of a word before a 64-bit multiply flips a fixed
    // set of bits after a multiply-and-shift step, and the next word can
    // flip them back: such pairs collide for every seed of that kind of hash,
    // so an input full of them would make every lookup walk all of them.
    std::string first = "abcdefghijklmnop";
    std::string second = first;
    second[7] = static_cast<char>(second[7] ^ 0x80);
    second[15] = static_cast<char>(second[15] ^ 0x80);
    second[12] = static_cast<char>(second[12] ^ 0x04);
    std::set<std::uint64_t> one_text;
    for (std::uint64_t seed : {0ull, 1ull, 0xBF58476D1CE4E5B9ull, 0x9E3779B97F4A7C15ull, 0x0123456789ABCDEFull}) {
        EXPECT_NE(tables::hash_text(first, seed), tables::hash_text(second, seed)) << seed;
        one_text.insert(tables::hash_text(first, seed));
    }
    // The seed reaches the hash: one text spreads over the seeds.
    EXPECT_EQ(one_text.size(), 5u);
}

TEST(CompileStringsTest, MemberNamesAreNoOccurrences) {
    const std::pair<json::JsonValue, Compiled> cases[] = {
        {obj({{"a", str("a")}}), {"O6{s\"a\"}", {"6:{a:String}"}, {}}},
        {obj({{"k", str("v")}, {"v", str("k")}}), {"O6{s\"v\",s\"k\"}", {"6:{k:String,v:String}"}, {}}},
        {obj({{"x", str("x")}, {"y", str("x")}}), {"O6{s\"x\",r:0}", {"6:{x:String,y:String}"}, {"x"}}},
    };
    for (const auto& [tree, expected] : cases) {
        Compiled got = compile_tree(tree);
        EXPECT_EQ(got.value, expected.value);
        EXPECT_EQ(got.shapes, expected.shapes);
        EXPECT_EQ(got.dict, expected.dict);
    }
}

// ---- shapes: numbered in post-order from 6 ----

struct ShapeCase {
    const char* name;
    json::JsonValue tree;
    std::string value;
    Strings shapes;

    friend void PrintTo(const ShapeCase& c, std::ostream* out) { *out << c.name; }
};

class CompileShapesTest : public testing::TestWithParam<ShapeCase> {};

TEST_P(CompileShapesTest, NumbersEachDistinctShapeOnce) {
    Compiled got = compile_tree(GetParam().tree);
    EXPECT_EQ(got.value, GetParam().value);
    EXPECT_EQ(got.shapes, GetParam().shapes);
}

INSTANTIATE_TEST_SUITE_P(
    Compile, CompileShapesTest,
    testing::Values(
        ShapeCase{"inner_first", obj({{"a", arr({obj({{"b", json::JsonValue::boolean(true)}})})}}),
                  "O8{A7/6[O6{true}]}", {"6:{b:Bool}", "7:[Object]", "8:{a:Array}"}},
        ShapeCase{"array_first", arr({num(1)}), "A6/2[i:1]", {"6:[Int32]"}},
        ShapeCase{"same_objects", arr({obj({{"a", num(1)}}), obj({{"a", num(2)}})}), "A7/6[O6{i:1},O6{i:2}]",
                  {"6:{a:Int32}", "7:[Object]"}},
        ShapeCase{"different_objects", arr({obj({{"a", num(1)}}), obj({{"b", num(1)}})}), "A8/6[O6{i:1},O7{i:1}]",
                  {"6:{a:Int32}", "7:{b:Int32}", "8:[Object]"}},
        ShapeCase{"member_types",
                  arr({obj({{"a", num(1)}}), obj({{"a", neg(-1)}}), obj({{"a", real(1.5)}}),
                       obj({{"a", num(9223372036854775808ull)}}), obj({{"a", json::JsonValue::null()}})}),
                  "A10/6[O6{i:1},O6{i:-1},O7{f:1.5},O8{u:0},O9{null}]",
                  {"6:{a:Int32}", "7:{a:Float32}", "8:{a:Uint32}", "9:{a:Null}", "10:[Object]"}},
        ShapeCase{"nested_shapes_do_not_count",
                  arr({obj({{"a", obj({{"x", num(1)}})}}), obj({{"a", obj({{"y", str("s")}})}})}),
                  "A9/7[O7{O6{i:1}},O7{O8{s\"s\"}}]", {"6:{x:Int32}", "7:{a:Object}", "8:{y:String}", "9:[Object]"}},
        ShapeCase{"empty_objects_share", arr({obj({}), obj({}), obj({{"e", obj({})}})}), "A8/6[O6{},O6{},O7{O6{}}]",
                  {"6:{}", "7:{e:Object}", "8:[Object]"}},
        ShapeCase{"null_arrays_share", arr({arr({}), arr({json::JsonValue::null()}), arr({json::JsonValue::null(), json::JsonValue::null()})}),
                  "A7/0[A6/0[],A6/0[null],A6/0[null,null]]", {"6:[Null]", "7:[Array]"}},
        ShapeCase{"one_array_shape_per_element_type", arr({arr({num(1)}), arr({real(2.5)})}), "A8/2[A6/2[i:1],A7/4[f:2.5]]",
                  {"6:[Int32]", "7:[Float32]", "8:[Array]"}},
        ShapeCase{"nested_array_element_number", arr({arr({num(1), num(2)}), arr({num(3)})}), "A7/2[A6/2[i:1,i:2],A6/2[i:3]]",
                  {"6:[Int32]", "7:[Array]"}},
        ShapeCase{"array_of_objects_element_number", arr({obj({{"a", num(1)}})}), "A7/6[O6{i:1}]",
                  {"6:{a:Int32}", "7:[Object]"}},
        ShapeCase{"strings_and_refs_share_a_shape", arr({str("x"), str("x")}), "A6/5[s\"x\",r:0]", {"6:[String]"}},
        // Both render to the key text a:1,b:2 and must still stay apart.
        ShapeCase{"keys_that_render_alike",
                  arr({obj({{"a:1,b", num(1)}}), obj({{"a", json::JsonValue::boolean(true)}, {"b", num(2)}}),
                       obj({{"a", json::JsonValue::boolean(false)}, {"b", num(3)}}), obj({{"a:1,b", num(4)}})}),
                  "A8/6[O6{i:1},O7{true,i:2},O7{false,i:3},O6{i:4}]",
                  {"6:{a:1,b:Int32}", "7:{a:Bool,b:Int32}", "8:[Object]"}}),
    [](const testing::TestParamInfo<ShapeCase>& info) { return std::string(info.param.name); });

TEST(CompileShapesTest, EveryShapeRenderingAlikeGetsItsOwnDefinition) {
    // All four render as a:1,b:1,c:2.
    const std::vector<std::vector<json::JsonMember>> shapes = {
        {{"a", json::JsonValue::boolean(true)}, {"b", json::JsonValue::boolean(true)}, {"c", num(2)}},
        {{"a:1,b", json::JsonValue::boolean(true)}, {"c", num(2)}},
        {{"a", json::JsonValue::boolean(true)}, {"b:1,c", num(2)}},
        {{"a:1,b:1,c", num(2)}},
    };
    CompileBuilder builder;
    for (int round = 0; round < 2; ++round) {
        for (std::size_t i = 0; i < shapes.size(); ++i) {
            EXPECT_EQ(builder.intern_object_shape(shapes[i]), 6 + i) << "round " << round << " shape " << i;
            EXPECT_EQ(builder.key_buffer, "a:1,b:1,c:2");
        }
    }
    EXPECT_EQ(builder.definitions.size(), 10u);
    EXPECT_EQ(builder.next_def_index, 10);
    // Each is found through an entry of its own, not by walking past the
    // others: a text could otherwise render alike for thousands of shapes.
    EXPECT_EQ(builder.object_shapes.size(), 4u);
}

TEST(CompileShapesTest, RendersTheShapeKeyIntoTheReusedBuffer) {
    CompileBuilder builder;
    std::vector<json::JsonMember> members = {{"id", num(7)}, {"name", str("n")}, {"tags", arr({})}};
    EXPECT_EQ(builder.intern_object_shape(members), 6);
    EXPECT_EQ(builder.key_buffer, "id:2,name:5,tags:6");
    EXPECT_EQ(builder.intern_object_shape({}), 7);
    EXPECT_EQ(builder.key_buffer, "");
    EXPECT_EQ(builder.intern_object_shape(members), 6);
    EXPECT_EQ(builder.object_shapes.size(), 2u);
}

TEST(CompileShapesTest, ArrayShapeRefusesCodesThatAreNoType) {
    CompileBuilder builder;
    const std::pair<std::uint8_t, const char*> refused[] = {{0x06, "0x06"}, {0x0F, "0x0F"}, {0x12, "0x12"}, {0xFF, "0xFF"}};
    for (auto [code, hex] : refused) {
        Result<std::uint16_t> shape = builder.intern_array_shape(static_cast<format::VeskType>(code));
        ASSERT_FALSE(shape.has_value()) << hex;
        EXPECT_EQ(shape.error().kind(), VeskErrorKind::Parse);
        EXPECT_EQ(shape.error().message(), std::string("Unknown VESK type tag: ") + hex);
    }
    // A refusal hands out no number: the next shape still gets 6 at position 6.
    Result<std::uint16_t> shape = builder.intern_array_shape(format::VeskType::Object);
    ASSERT_TRUE(shape.has_value());
    EXPECT_EQ(*shape, 6);
    EXPECT_EQ(render_shapes(builder.definitions), Strings{"6:[Object]"});
    EXPECT_EQ(*builder.intern_array_shape(format::VeskType::Object), 6);
}

TEST(CompileShapesTest, ShapesBeyondTheWritableCountStillResolve) {
    // 65535 object shapes plus one array shape: the 16-bit numbers wrap, but
    // every lookup still finds the definition it created.
    std::vector<json::JsonValue> items;
    constexpr std::size_t count = 65600;
    items.reserve(count);
    for (std::size_t i = 0; i < count; ++i) items.push_back(obj({{std::string("k").append(std::to_string(i)), num(i)}}));
    CompileBuilder builder;
    json::JsonValue tree = arr(std::move(items));
    Result<VeskData> value = builder.compile_inline(tree);
    ASSERT_TRUE(value.has_value());
    ASSERT_EQ(builder.definitions.size(), 6 + count + 1);
    EXPECT_EQ(builder.definitions.back().kind, format::VeskType::Array);
    EXPECT_EQ(value->self_def_index, static_cast<std::uint16_t>(6 + count));
    EXPECT_EQ(value->items()[count - 1].self_def_index, static_cast<std::uint16_t>(6 + count - 1));
    EXPECT_EQ(*builder.intern_array_shape(format::VeskType::Object), static_cast<std::uint16_t>(6 + count));
    EXPECT_EQ(builder.definitions.size(), 6 + count + 1);
}

// ---- numbers ----

struct NumberCase {
    const char* name;
    json::JsonValue number;
    std::string value;

    friend void PrintTo(const NumberCase& c, std::ostream* out) { *out << c.name; }
};

class CompileNumbersTest : public testing::TestWithParam<NumberCase> {};

TEST_P(CompileNumbersTest, NarrowsToThirtyTwoBits) {
    Compiled got = compile_tree(GetParam().number);
    EXPECT_EQ(got.value, GetParam().value);
    EXPECT_TRUE(got.shapes.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Compile, CompileNumbersTest,
    testing::Values(NumberCase{"zero", num(0), "i:0"},
                    NumberCase{"int_max", num(2147483647), "i:2147483647"},
                    NumberCase{"wraps_past_int_max", num(2147483648), "i:-2147483648"},
                    NumberCase{"three_billion", num(3000000000), "i:-1294967296"},
                    NumberCase{"u32_max", num(4294967295), "i:-1"},
                    NumberCase{"past_u32", num(4294967297), "i:1"},
                    NumberCase{"largest_int_class", num(9223372036854775807ull), "i:-1"},
                    NumberCase{"two_to_63", num(9223372036854775808ull), "u:0"},
                    NumberCase{"u64_max", num(18446744073709551615ull), "u:4294967295"},
                    NumberCase{"minus_one", neg(-1), "i:-1"},
                    NumberCase{"below_int_min", neg(-2147483649), "i:2147483647"},
                    NumberCase{"i64_min", neg(std::numeric_limits<std::int64_t>::min()), "i:0"},
                    NumberCase{"minus_zero", real(-0.0), "f:-0"},
                    NumberCase{"tenth", real(0.1), "f:0.1"},
                    NumberCase{"beyond_i64", real(-9223372036854775809.0), "f:-9.223372e+18"},
                    NumberCase{"beyond_u64", real(18446744073709551616.0), "f:1.8446744e+19"},
                    NumberCase{"overflow", real(1e39), "f:inf"},
                    NumberCase{"negative_overflow", real(-1e39), "f:-inf"},
                    NumberCase{"underflow", real(1e-50), "f:0"},
                    NumberCase{"negative_underflow", real(-1e-50), "f:-0"},
                    NumberCase{"subnormal", real(1e-40), "f:1e-40"}),
    [](const testing::TestParamInfo<NumberCase>& info) { return std::string(info.param.name); });

TEST(CompileNumbersTest, NearestFloatRoundsTiesToEvenAndOverflowsAtHalfAnUlp) {
    const float largest = std::numeric_limits<float>::max();
    const float infinity = std::numeric_limits<float>::infinity();
    const std::pair<double, float> table[] = {
        {1.0 + 0x1p-24, 1.0f},                        // tie: stays on the even 1.0
        {1.0 + 3 * 0x1p-24, 1.0f + 0x1p-22f},         // tie: goes up to the even neighbour
        {1.0 + 0x1p-24 + 0x1p-40, 1.0f + 0x1p-23f},   // above the tie
        {0x1.fffffefffffffp127, largest},             // just below the overflow midpoint
        {0x1.ffffffp127, infinity},                   // the midpoint itself: ties to even, 2^128
        {-0x1.ffffffp127, -infinity},
        {static_cast<double>(largest), largest},
        {std::numeric_limits<double>::max(), infinity},
        {0x1p-150, 0.0f},                             // half the smallest subnormal: ties to 0
        {0x1.0000001p-150, 0x1p-149f},
    };
    for (auto [input, expected] : table) {
        float got = format::nearest_float(input);
        EXPECT_EQ(std::bit_cast<std::uint32_t>(got), std::bit_cast<std::uint32_t>(expected)) << std::hexfloat << input;
    }
    EXPECT_TRUE(std::isnan(format::nearest_float(std::numeric_limits<double>::quiet_NaN())));
}

// ---- arrays whose items disagree ----

struct MixedCase {
    const char* name;
    json::JsonValue tree;
    std::string outcome;  // rendered value, or the formatted error
    Strings shapes;

    friend void PrintTo(const MixedCase& c, std::ostream* out) { *out << c.name; }
};

class CompileMixedArraysTest : public testing::TestWithParam<MixedCase> {};

TEST_P(CompileMixedArraysTest, BecomeFloatArraysOrFail) {
    Compiled got = compile_tree(GetParam().tree);
    EXPECT_EQ(got.value, GetParam().outcome);
    EXPECT_EQ(got.shapes, GetParam().shapes);
}

const std::string refused = "Unsupported data type: array item ";

INSTANTIATE_TEST_SUITE_P(
    Compile, CompileMixedArraysTest,
    testing::Values(
        MixedCase{"int_then_float", arr({num(1), real(2.5)}), "A6/4[f:1,f:2.5]", {"6:[Float32]"}},
        MixedCase{"float_then_int", arr({real(2.5), neg(-3)}), "A6/4[f:2.5,f:-3]", {"6:[Float32]"}},
        // Integers round from their full value, not from their low 32 bits.
        MixedCase{"full_width_integer", arr({real(0.5), num(4294967297)}), "A6/4[f:0.5,f:4294967296]", {"6:[Float32]"}},
        MixedCase{"integer_rounds_to_nearest", arr({num(16777217), real(0.5)}), "A6/4[f:16777216,f:0.5]", {"6:[Float32]"}},
        MixedCase{"uint_and_int", arr({num(9223372036854775808ull), num(1)}), "A6/4[f:9.223372e+18,f:1]", {"6:[Float32]"}},
        MixedCase{"float_keeps_its_double", arr({num(1), real(0.1)}), "A6/4[f:1,f:0.1]", {"6:[Float32]"}},
        MixedCase{"nested_float_array", arr({arr({num(1), real(1.5)})}), "A7/4[A6/4[f:1,f:1.5]]", {"6:[Float32]", "7:[Array]"}},
        MixedCase{"uniform_ints_stay", arr({num(1), neg(-1)}), "A6/2[i:1,i:-1]", {"6:[Int32]"}},
        MixedCase{"string", arr({num(1), str("a")}), refused + "1 is String, expected Int32", {}},
        MixedCase{"null_between", arr({num(1), json::JsonValue::null(), num(2)}), refused + "1 is Null, expected Int32", {}},
        MixedCase{"leading_null", arr({json::JsonValue::null(), num(1)}), refused + "0 is Null, expected Int32", {}},
        MixedCase{"null_after_mixed_numbers", arr({num(1), real(2.5), json::JsonValue::null()}),
                  refused + "2 is Null, expected Int32", {}},
        MixedCase{"string_after_mixed_numbers", arr({real(1.5), num(2), str("x")}),
                  refused + "2 is String, expected Float32", {}},
        MixedCase{"uint_first", arr({num(18446744073709551615ull), json::JsonValue::boolean(true)}),
                  refused + "1 is Bool, expected Uint32", {}},
        MixedCase{"null_after_string", arr({str("a"), json::JsonValue::null()}), refused + "1 is Null, expected String", {}},
        MixedCase{"number_after_string", arr({str("a"), num(1)}), refused + "1 is Int32, expected String", {}},
        MixedCase{"number_after_bool", arr({json::JsonValue::boolean(true), num(1)}), refused + "1 is Int32, expected Bool", {}},
        MixedCase{"object_after_array", arr({arr({}), obj({})}), refused + "1 is Object, expected Array", {}},
        MixedCase{"array_after_object", arr({obj({}), obj({}), arr({})}), refused + "2 is Array, expected Object", {}},
        // Post-order: the inner array is judged before the outer one.
        MixedCase{"inner_before_outer", arr({num(1), arr({json::JsonValue::boolean(true), num(1)})}),
                  refused + "1 is Int32, expected Bool", {}},
        MixedCase{"first_in_walk_order", arr({arr({num(1), str("x")}), arr({json::JsonValue::boolean(true), num(2)})}),
                  refused + "1 is String, expected Int32", {}},
        MixedCase{"members_in_name_order",
                  obj({{"b", arr({num(1), str("x")})}, {"a", arr({json::JsonValue::boolean(true), num(2)})}}),
                  refused + "1 is Int32, expected Bool", {}}),
    [](const testing::TestParamInfo<MixedCase>& info) { return std::string(info.param.name); });

TEST(CompileMixedArraysTest, RefusalIsAnUnsupportedTypeError) {
    CompileBuilder builder;
    json::JsonValue tree = arr({num(1), str("a")});
    Result<VeskData> value = builder.compile_inline(tree);
    ASSERT_FALSE(value.has_value());
    EXPECT_EQ(value.error().kind(), VeskErrorKind::UnsupportedType);
    EXPECT_EQ(value.error().message(), "array item 1 is String, expected Int32");
}

// ---- the walk ----

TEST(CompileWalkTest, MembersGoInByteOrderOfTheirNames) {
    const std::pair<json::JsonValue, Compiled> cases[] = {
        {obj({{"b", num(1)}, {"a", num(2)}, {"A", num(3)}}), {"O6{i:3,i:2,i:1}", {"6:{A:Int32,a:Int32,b:Int32}"}, {}}},
        // Unsigned bytes: a UTF-8 lead byte sorts after every ASCII byte;
        // a proper prefix comes first.
        {obj({{"\xC3\xA9", num(1)}, {"ab", num(2)}, {"z", num(3)}, {"a", num(4)}}),
         {"O6{i:4,i:2,i:3,i:1}", {"6:{a:Int32,ab:Int32,z:Int32,\xC3\xA9:Int32}"}, {}}},
        // Strings are numbered in name order, not in the order given.
        {obj({{"z", str("p")}, {"y", str("q")}, {"x", str("p")}, {"w", str("q")}}),
         {"O6{s\"q\",s\"p\",r:0,r:1}", {"6:{w:String,x:String,y:String,z:String}"}, {"q", "p"}}},
    };
    for (const auto& [tree, expected] : cases) {
        Compiled got = compile_tree(tree);
        EXPECT_EQ(got.value, expected.value);
        EXPECT_EQ(got.shapes, expected.shapes);
        EXPECT_EQ(got.dict, expected.dict);
    }
}

TEST(CompileWalkTest, WorkedExample) {
    // {"b": ["x", "x"], "a": {"k": 1}}
    Compiled got = compile_tree(obj({{"b", arr({str("x"), str("x")})}, {"a", obj({{"k", num(1)}})}}));
    EXPECT_EQ(got.value, "O8{O6{i:1},A7/5[s\"x\",r:0]}");
    EXPECT_EQ(got.shapes, (Strings{"6:{k:Int32}", "7:[String]", "8:{a:Object,b:Array}"}));
    EXPECT_EQ(got.dict, Strings{"x"});
}

TEST(CompileWalkTest, DeepNestingCompiles) {
    json::JsonValue tree = num(5);
    for (int depth = 0; depth < 127; ++depth) tree = arr({std::move(tree)});
    CompileBuilder builder;
    Result<VeskData> value = builder.compile_inline(tree);
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(render_shapes(builder.definitions), (Strings{"6:[Int32]", "7:[Array]"}));
    EXPECT_EQ(value->self_def_index, 7);
    EXPECT_EQ(value->elem_def_index, 2);  // carried up from the innermost array
}

}  // namespace
}  // namespace vesk
