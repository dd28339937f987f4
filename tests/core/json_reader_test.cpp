#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "json/json_reader.hpp"

namespace vesk {
namespace {

// Joins texts by appending (GCC 12 warns falsely about `"literal" + string`).
template <class... Parts>
std::string joined(const Parts&... parts) {
    std::string out;
    (out.append(std::string_view(parts)), ...);
    return out;
}

json::JsonValue accepted(std::string_view text) {
    auto parsed = parse_json(text);
    EXPECT_TRUE(parsed.has_value()) << "text: " << text << " error: " << parsed.error().message();
    return parsed ? std::move(*parsed) : json::JsonValue::null();
}

std::vector<std::string> keys_of(const json::JsonValue& object) {
    std::vector<std::string> keys;
    for (const json::JsonMember& member : object.members) keys.push_back(member.key);
    return keys;
}

// A text with the kind and raw payload it must read as, so -0.0 and 0.0 differ.
struct ScalarCase {
    std::string_view text;
    json::JsonKind kind;
    std::uint64_t bits;
};

template <std::size_t N>
void expect_scalars(const ScalarCase (&cases)[N]) {
    for (const ScalarCase& c : cases) {
        json::JsonValue value = accepted(c.text);
        EXPECT_EQ(value.kind, c.kind) << c.text;
        EXPECT_EQ(value.bits, c.bits) << c.text;
    }
}

std::uint64_t double_bits(double value) { return std::bit_cast<std::uint64_t>(value); }
std::uint64_t int_bits(std::int64_t value) { return static_cast<std::uint64_t>(value); }

TEST(JsonReaderValues, NumberClassesAndBoundaries) {
    const ScalarCase cases[] = {
        {"0", json::JsonKind::UInt, 0},
        {"7", json::JsonKind::UInt, 7},
        {"9007199254740993", json::JsonKind::UInt, 9007199254740993u},
        {"18446744073709551615", json::JsonKind::UInt, 18446744073709551615u},
        {"18446744073709551616", json::JsonKind::Float, double_bits(18446744073709551616.0)},
        {"99999999999999999999", json::JsonKind::Float, double_bits(1e20)},
        {"-1", json::JsonKind::Int, int_bits(-1)},
        {"-9223372036854775808", json::JsonKind::Int, int_bits(std::numeric_limits<std::int64_t>::min())},
        {"-9223372036854775809", json::JsonKind::Float, double_bits(-9223372036854775808.0)},
        {"-18446744073709551616", json::JsonKind::Float, double_bits(-18446744073709551616.0)},
        {"-0", json::JsonKind::Float, double_bits(-0.0)},
        {"-0.0", json::JsonKind::Float, double_bits(-0.0)},
        {"0.0", json::JsonKind::Float, double_bits(0.0)},
        {"0e5", json::JsonKind::Float, double_bits(0.0)},
        {"1.5", json::JsonKind::Float, double_bits(1.5)},
        {"0.1", json::JsonKind::Float, double_bits(0.1)},
        {"-2.5E-3", json::JsonKind::Float, double_bits(-0.0025)},
        {"1E2", json::JsonKind::Float, double_bits(100.0)},
        {"1e+2", json::JsonKind::Float, double_bits(100.0)},
        {"100000000000000000000000000000000000000000e-41", json::JsonKind::Float, double_bits(1.0)},
        {"123456789012345678901234567890", json::JsonKind::Float, double_bits(1.2345678901234568e29)},
        {"2.2250738585072011e-308", json::JsonKind::Float, double_bits(2.2250738585072011e-308)},
        {"2.2250738585072012e-308", json::JsonKind::Float, double_bits(2.2250738585072014e-308)},
        // Halfway between two doubles: to the even one, unless a digit far
        // past the seventeenth says it lies above.
        {"9007199254740993.0", json::JsonKind::Float, double_bits(9007199254740992.0)},
        {"9007199254740993.0000000000000000001", json::JsonKind::Float, double_bits(9007199254740994.0)},
        {"1.00000000000000011102230246251565404236316680908203125", json::JsonKind::Float, double_bits(1.0)},
        {"1.000000000000000111022302462515654042363166809082031250000000000000000000001", json::JsonKind::Float,
         double_bits(1.0000000000000002)},
        {"1.7976931348623157e308", json::JsonKind::Float, double_bits(std::numeric_limits<double>::max())},
        {"1.7976931348623158e308", json::JsonKind::Float, double_bits(std::numeric_limits<double>::max())},
        {"5e-324", json::JsonKind::Float, double_bits(std::numeric_limits<double>::denorm_min())},
        {"2.5e-324", json::JsonKind::Float, double_bits(std::numeric_limits<double>::denorm_min())},
        {"-2.5e-324", json::JsonKind::Float, double_bits(-std::numeric_limits<double>::denorm_min())},
        {"2.4703282292062327e-324", json::JsonKind::Float, double_bits(0.0)},
        {"2e-324", json::JsonKind::Float, double_bits(0.0)},
        {"1e-400", json::JsonKind::Float, double_bits(0.0)},
        {"-1e-400", json::JsonKind::Float, double_bits(-0.0)},
        {"0.00000000000000000000000000000000000000000000000000001e-300", json::JsonKind::Float, double_bits(0.0)},
        // Exponents beyond 2147483647 flush to zero when the value cannot overflow.
        {"1e-99999999999", json::JsonKind::Float, double_bits(0.0)},
        {"-123.456e-99999999999", json::JsonKind::Float, double_bits(-0.0)},
        {"0e99999999999", json::JsonKind::Float, double_bits(0.0)},
        {"-0.000e+99999999999", json::JsonKind::Float, double_bits(-0.0)},
        {"1e0000000000000000000000002", json::JsonKind::Float, double_bits(100.0)},
    };
    expect_scalars(cases);
}

TEST(JsonReaderValues, ScalarsAndWhitespace) {
    const ScalarCase cases[] = {
        {"null", json::JsonKind::Null, 0},   {" true", json::JsonKind::Bool, 1},   {"false\n", json::JsonKind::Bool, 0},
        {"\t\r\n 42 \r\n\t", json::JsonKind::UInt, 42}, {"[1] \n", json::JsonKind::Array, 0},
    };
    expect_scalars(cases);
}

TEST(JsonReaderValues, StringsResolveEscapesIntoUtf8) {
    const struct {
        std::string_view text;
        std::string_view expected;
    } cases[] = {
        {"\"\"", ""},
        {"\"plain text\"", "plain text"},
        {"\"\\\"\\\\\\/\\b\\f\\n\\r\\t\"", "\"\\/\b\f\n\r\t"},
        {"\"\\u0041\\u00e9\\u20AC\"", "A\xC3\xA9\xE2\x82\xAC"},
        {"\"\\u0000\"", std::string_view("\0", 1)},
        {"\"\\u007f\\u0080\\u07FF\\u0800\\uFFFF\"", "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF"},
        {"\"\\uD83D\\uDE00\"", "\xF0\x9F\x98\x80"},
        {"\"\\uD800\\uDC00\\uDBFF\\uDFFF\"", "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"},
        {"\"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\"", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"},
        {"\"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\\n\xE6\x97\xA5\"", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\n\xE6\x97\xA5"},
        {"\"\x7F\"", "\x7F"},
    };
    for (const auto& c : cases) {
        json::JsonValue value = accepted(c.text);
        EXPECT_EQ(value.kind, json::JsonKind::String) << c.text;
        EXPECT_EQ(value.text, c.expected) << c.text;
    }
}

// Plain runs are scanned several bytes at a time, so every position of a
// special byte inside and around a word must be found.
TEST(JsonReaderValues, SpecialBytesAtEveryPositionOfALongString) {
    const struct {
        std::string_view raw;
        std::string_view resolved;
    } specials[] = {{"\\n", "\n"}, {"\\\"", "\""}, {"\xC3\xA9", "\xC3\xA9"}, {"\\u00e9", "\xC3\xA9"}, {"~", "~"}};
    for (const auto& special : specials) {
        for (std::size_t length = 0; length <= 20; ++length) {
            for (std::size_t at = 0; at <= length; ++at) {
                std::string plain(length, 'a');
                std::string text = joined("[\"", plain.substr(0, at), special.raw, plain.substr(at), "\"]");
                std::string expected = joined(plain.substr(0, at), special.resolved, plain.substr(at));
                json::JsonValue value = accepted(text);
                ASSERT_EQ(value.items.size(), 1u) << text;
                EXPECT_EQ(value.items[0].text, expected) << text;
            }
        }
    }
}

TEST(JsonReaderValues, ControlByteAtEveryPositionIsFound) {
    for (std::size_t at = 0; at <= 20; ++at) {
        std::string text = joined("\"", std::string(at, 'a'), "\x1F", std::string(20 - at, 'b'), "\"");
        auto parsed = parse_json(text);
        ASSERT_FALSE(parsed.has_value()) << at;
        EXPECT_EQ(parsed.error().message(),
                  joined("control character (\\u0000-\\u001F) found while parsing a string at line 1 column ",
                         std::to_string(at + 2)));
    }
}

TEST(JsonReaderValues, ArraysKeepOrderAndNest) {
    json::JsonValue value = accepted("[1, \"two\", [null, [true]], {}, [], -3.5]");
    ASSERT_EQ(value.kind, json::JsonKind::Array);
    ASSERT_EQ(value.items.size(), 6u);
    EXPECT_EQ(value.items[0].as_uint(), 1u);
    EXPECT_EQ(value.items[1].text, "two");
    ASSERT_EQ(value.items[2].items.size(), 2u);
    EXPECT_EQ(value.items[2].items[0].kind, json::JsonKind::Null);
    ASSERT_EQ(value.items[2].items[1].items.size(), 1u);
    EXPECT_TRUE(value.items[2].items[1].items[0].as_bool());
    EXPECT_EQ(value.items[3].kind, json::JsonKind::Object);
    EXPECT_TRUE(value.items[3].members.empty());
    EXPECT_EQ(value.items[4].kind, json::JsonKind::Array);
    EXPECT_TRUE(value.items[4].items.empty());
    EXPECT_EQ(value.items[5].as_double(), -3.5);
}

std::string numbered_keys_object(int count, bool descending) {
    std::string text = "{";
    for (int i = 0; i < count; ++i) {
        int n = descending ? count - 1 - i : i;
        text += joined(i ? ",\"k" : "\"k", std::to_string(100 + n), "\":", std::to_string(n));
    }
    return joined(text, ",\"k100\":\"last\"}");
}

TEST(JsonReaderValues, ObjectMembersSortedByNameBytesLastValueWins) {
    const struct {
        std::string text;
        std::vector<std::string> keys;
    } cases[] = {
        {"{}", {}},
        {"{\"b\":1,\"a\":2,\"A\":3}", {"A", "a", "b"}},
        {"{\"ab\":1,\"a\":2,\"\":3,\"abc\":4}", {"", "a", "ab", "abc"}},
        {"{\"\xC3\xA9\":1,\"z\":2,\"\xC3\xBF\":3,\"\x7F\":4}", {"z", "\x7F", "\xC3\xA9", "\xC3\xBF"}},
        {"{\"a\":1,\"a\":2}", {"a"}},
        {"{\"a\":1,\"b\":2,\"a\":3,\"a\":4}", {"a", "b"}},
        {"{\"a\\u0000\":1,\"a\":2}", {"a", std::string("a\0", 2)}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(keys_of(accepted(c.text)), c.keys) << c.text;
    }
}

TEST(JsonReaderValues, RepeatedNameKeepsItsLastValue) {
    json::JsonValue value = accepted("{\"a\":[1],\"b\":true,\"a\":{\"x\":null},\"b\":false}");
    ASSERT_EQ(keys_of(value), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(value.members[0].value.kind, json::JsonKind::Object);
    EXPECT_EQ(keys_of(value.members[0].value), std::vector<std::string>{"x"});
    EXPECT_FALSE(value.members[1].value.as_bool());

    json::JsonValue escaped = accepted("{\"\\u0061\":1,\"a\":2}");
    ASSERT_EQ(escaped.members.size(), 1u);
    EXPECT_EQ(escaped.members[0].value.as_uint(), 2u);
}

TEST(JsonReaderValues, LargeObjectsSortStablyAndKeepLastValue) {
    for (bool descending : {false, true}) {
        for (int count : {5, 31, 32, 33, 200}) {
            json::JsonValue value = accepted(numbered_keys_object(count, descending));
            ASSERT_EQ(value.members.size(), static_cast<std::size_t>(count)) << count;
            for (int i = 0; i < count; ++i) {
                EXPECT_EQ(value.members[i].key, joined("k", std::to_string(100 + i)));
                if (i > 0) {
                    EXPECT_EQ(value.members[i].value.as_uint(), static_cast<std::uint64_t>(i));
                }
            }
            EXPECT_EQ(value.members[0].value.text, "last") << count;
        }
    }
}

std::string nested_arrays(int depth, std::string_view inner) {
    return joined(std::string(depth, '['), inner, std::string(depth, ']'));
}

TEST(JsonReaderValues, NestingUpTo127ContainersIsAccepted) {
    std::string objects;
    for (int i = 0; i < 127; ++i) objects += "{\"k\":";
    objects += joined("0", std::string(127, '}'));
    // Siblings reuse each level: two branches of 126 under one root.
    std::string siblings = joined("[", nested_arrays(126, "1"), ",", nested_arrays(126, "2"), "]");
    for (const std::string& text : {nested_arrays(127, ""), nested_arrays(127, "\"deep\""), objects, siblings}) {
        auto parsed = parse_json(text);
        EXPECT_TRUE(parsed.has_value()) << text.substr(0, 40) << " " << parsed.error().message();
    }

    json::JsonValue deepest = accepted(nested_arrays(127, "5"));
    const json::JsonValue* node = &deepest;
    int depth = 0;
    while (node->kind == json::JsonKind::Array) {
        ASSERT_EQ(node->items.size(), 1u);
        node = &node->items[0];
        ++depth;
    }
    EXPECT_EQ(depth, 127);
    EXPECT_EQ(node->as_uint(), 5u);
}

}  // namespace
}  // namespace vesk
