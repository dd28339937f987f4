#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "dumps/json_container.hpp"

namespace vesk {
namespace {

// What dumps makes of the text: the reader's message where it refuses it.
std::string outcome(std::string_view text) {
    const Result<format::ByteBuffer> compiled = dumps::compile_json_container(text);
    if (compiled) return "<accepted>";
    EXPECT_EQ(compiled.error().kind(), VeskErrorKind::Parse);
    return compiled.error().message();
}

struct ErrorCase {
    std::string_view text;
    std::string_view message;
};

void expect_messages(const ErrorCase* begin, const ErrorCase* end) {
    for (const ErrorCase* c = begin; c != end; ++c) {
        EXPECT_EQ(outcome(c->text), c->message) << "text: " << c->text;
    }
}

template <std::size_t N>
void expect_messages(const ErrorCase (&cases)[N]) {
    expect_messages(cases, cases + N);
}

TEST(JsonReaderErrors, StructureAndPositions) {
    const ErrorCase cases[] = {
        {"", "EOF while parsing a value at line 1 column 0"},
        {"   ", "EOF while parsing a value at line 1 column 3"},
        {"\n\n", "EOF while parsing a value at line 3 column 0"},
        {"\r\rx", "expected value at line 1 column 3"},
        {"x", "expected value at line 1 column 1"},
        {"\xEF\xBB\xBF{}", "expected value at line 1 column 1"},
        {".5", "expected value at line 1 column 1"},
        {"+1", "expected value at line 1 column 1"},
        {"[1] x", "trailing characters at line 1 column 5"},
        {"{\"a\":1}\n\n x", "trailing characters at line 3 column 2"},
        {"{\"a\":1}}", "trailing characters at line 1 column 8"},
        {"nul", "EOF while parsing a value at line 1 column 3"},
        {"fals", "EOF while parsing a value at line 1 column 4"},
        {"[tru", "EOF while parsing a value at line 1 column 4"},
        {"truz", "expected ident at line 1 column 4"},
        {"nulL", "expected ident at line 1 column 4"},
        {"[nx]", "expected ident at line 1 column 3"},
        {"[", "EOF while parsing a list at line 1 column 1"},
        {"[1", "EOF while parsing a list at line 1 column 2"},
        {"[1 ", "EOF while parsing a list at line 1 column 3"},
        {"[1,", "EOF while parsing a value at line 1 column 3"},
        {"[1, ", "EOF while parsing a value at line 1 column 4"},
        {"[1 2]", "expected `,` or `]` at line 1 column 4"},
        {"[1}", "expected `,` or `]` at line 1 column 3"},
        {"[1,]", "trailing comma at line 1 column 4"},
        {"[1,\n ]", "trailing comma at line 2 column 2"},
        {"[\n1,\n2\n,]", "trailing comma at line 4 column 2"},
        {"[1,,2]", "expected value at line 1 column 4"},
        {"[,1]", "expected value at line 1 column 2"},
        {"{", "EOF while parsing an object at line 1 column 1"},
        {"{\"a\"", "EOF while parsing an object at line 1 column 4"},
        {"{\"a\" 1}", "expected `:` at line 1 column 6"},
        {"{\"a\":", "EOF while parsing a value at line 1 column 5"},
        {"{\"a\":1", "EOF while parsing an object at line 1 column 6"},
        {"{\"a\":1,", "EOF while parsing a value at line 1 column 7"},
        {"{\"a\":1,}", "trailing comma at line 1 column 8"},
        {"{\"a\":1 \"b\":2}", "expected `,` or `}` at line 1 column 8"},
        {"{\"a\":1]", "expected `,` or `}` at line 1 column 7"},
        {"{1:2}", "key must be a string at line 1 column 2"},
        {"{\"a\":1,2}", "key must be a string at line 1 column 8"},
        {"{\n  \"a\": 1,\n  b: 2}", "key must be a string at line 3 column 3"},
    };
    expect_messages(cases);
}

TEST(JsonReaderErrors, Strings) {
    const ErrorCase cases[] = {
        {"\"abc", "EOF while parsing a string at line 1 column 4"},
        {"\"a\\", "EOF while parsing a string at line 1 column 3"},
        {"[\"abcdefghijklmnop", "EOF while parsing a string at line 1 column 18"},
        {"\"\n\"", "control character (\\u0000-\\u001F) found while parsing a string at line 2 column 0"},
        {"[\n\"a\n", "control character (\\u0000-\\u001F) found while parsing a string at line 3 column 0"},
        {"\"a\tb\"", "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 3"},
        {"\"0123456789\x1f\"", "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 12"},
        {std::string_view("\"\0\"", 3),
         "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 2"},
        {"\"\\x\"", "invalid escape at line 1 column 3"},
        {"\"\\U0041\"", "invalid escape at line 1 column 3"},
        {"\"\\u12\"", "EOF while parsing a string at line 1 column 6"},
        {"\"\\u12G4\"", "invalid escape at line 1 column 7"},
        {"\"\\uG234\"", "invalid escape at line 1 column 7"},
        {"\"\\uDC00\"", "lone leading surrogate in hex escape at line 1 column 7"},
        {"\"\\uDFFF\"", "lone leading surrogate in hex escape at line 1 column 7"},
        {"\"\\uD83C\\uFFFF\"", "lone leading surrogate in hex escape at line 1 column 13"},
        {"\"\\uD800\\u0041\"", "lone leading surrogate in hex escape at line 1 column 13"},
        {"\"\\uDBFF\\uDBFF\"", "lone leading surrogate in hex escape at line 1 column 13"},
        {"\"\\uD800", "EOF while parsing a string at line 1 column 7"},
        {"\"\\uD800\\", "EOF while parsing a string at line 1 column 8"},
        {"\"\\uD800\\u00", "EOF while parsing a string at line 1 column 11"},
        {"\"\\uD800\\u00\"", "EOF while parsing a string at line 1 column 12"},
        {"\"\\uD800\\uDCZZ\"", "invalid escape at line 1 column 13"},
        {"\"\\uD800x\"", "unexpected end of hex escape at line 1 column 8"},
        {"\"\\uD800\"", "unexpected end of hex escape at line 1 column 8"},
        {"\"\\uD800\\n\"", "unexpected end of hex escape at line 1 column 9"},
        // Raw bytes that are not UTF-8 are judged once the string has closed.
        {"\"\xFF\"", "invalid unicode code point at line 1 column 3"},
        {"[\"\xC3\"]", "invalid unicode code point at line 1 column 4"},
        {"\"\xC0\xAF\"", "invalid unicode code point at line 1 column 4"},
        {"\"\xED\xA0\x80\"", "invalid unicode code point at line 1 column 5"},
        {"\"\xF4\x90\x80\x80\"", "invalid unicode code point at line 1 column 6"},
        {"\"\xE2\x82\\n\"", "invalid unicode code point at line 1 column 6"},
        {"{\"k\xFF\":1}", "invalid unicode code point at line 1 column 5"},
        {"\"\xFF", "EOF while parsing a string at line 1 column 2"},
        {"\"\xFF\\x\"", "invalid escape at line 1 column 4"},
        {"\"\xC3\x01\"", "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 3"},
    };
    expect_messages(cases);
}

TEST(JsonReaderErrors, Numbers) {
    const std::string long_integer(400, '7');
    const std::string long_fraction = "0." + std::string(400, '0') + "1e800";
    const ErrorCase cases[] = {
        {"-", "EOF while parsing a value at line 1 column 1"},
        {"[-", "EOF while parsing a value at line 1 column 2"},
        {"-a", "invalid number at line 1 column 2"},
        {"[-]", "invalid number at line 1 column 3"},
        {"01", "invalid number at line 1 column 2"},
        {"-01", "invalid number at line 1 column 3"},
        {"00.5", "invalid number at line 1 column 2"},
        {"1.", "EOF while parsing a value at line 1 column 2"},
        {"1.e5", "invalid number at line 1 column 3"},
        {"[1.]", "invalid number at line 1 column 4"},
        {"1e", "EOF while parsing a value at line 1 column 2"},
        {"1e+", "EOF while parsing a value at line 1 column 3"},
        {"1E-", "EOF while parsing a value at line 1 column 3"},
        {"1e+a", "invalid number at line 1 column 4"},
        {"1ee5", "invalid number at line 1 column 3"},
        {"1a", "trailing characters at line 1 column 2"},
        {"[1a]", "expected `,` or `]` at line 1 column 3"},
        {"1.5.2", "trailing characters at line 1 column 4"},
        {"-0x1", "trailing characters at line 1 column 3"},
        {"1e400", "number out of range at line 1 column 5"},
        {"-1e400", "number out of range at line 1 column 6"},
        {"[1e400]", "number out of range at line 1 column 6"},
        {"1.8e308", "number out of range at line 1 column 7"},
        {"-1.7976931348623159e308", "number out of range at line 1 column 23"},
        {"123456789012345678901234567890e300", "number out of range at line 1 column 34"},
        {long_integer, "number out of range at line 1 column 400"},
        {long_fraction, "number out of range at line 1 column 407"},
        // An exponent past 2147483647 is refused at the digit that takes it
        // there; one that stays within it is judged by the value, at the end.
        {"1e2147483647", "number out of range at line 1 column 12"},
        {"1e2147483648", "number out of range at line 1 column 12"},
        {"[1e99999999999999]", "number out of range at line 1 column 13"},
        {"[-5.5E+21474836470]", "number out of range at line 1 column 18"},
        {"1e0000000000000000000000400", "number out of range at line 1 column 27"},
    };
    expect_messages(cases);
}

TEST(JsonReaderErrors, NestingLimit) {
    auto nested = [](std::string_view open, int depth) {
        std::string text;
        for (int i = 0; i < depth; ++i) text += open;
        return text;
    };
    const std::string arrays_128 = nested("[", 128);
    const std::string arrays_129 = nested("[", 129);
    const std::string objects_128 = nested("{\"a\":", 128);
    const std::string mixed_128 = nested("[{\"k\":", 64);
    const std::string lines_128 = nested("[\n", 128);
    const std::string arrays_127 = nested("[", 127);
    const ErrorCase cases[] = {
        {arrays_128, "recursion limit exceeded at line 1 column 128"},
        {arrays_129, "recursion limit exceeded at line 1 column 128"},
        {objects_128, "recursion limit exceeded at line 1 column 636"},
        {mixed_128, "recursion limit exceeded at line 1 column 380"},
        {lines_128, "recursion limit exceeded at line 128 column 1"},
        {arrays_127, "EOF while parsing a list at line 1 column 127"},
    };
    expect_messages(cases);
}

}  // namespace
}  // namespace vesk
