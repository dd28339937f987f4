#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>

#include "dumps/json_container.hpp"
#include "format/json_path.hpp"

namespace vesk {
namespace {

// What strict reports of a text: how many numbers read back changed, and the
// first as "path: given -> stored", numbers as kind:value.
std::string number(const StoredNumber& value) {
    std::string text;
    switch (value.kind) {
        case StoredNumber::Kind::Unsigned:
            text += 'u';
            text += std::to_string(value.bits);
            break;
        case StoredNumber::Kind::Signed:
            text += 'i';
            text += std::to_string(static_cast<std::int64_t>(value.bits));
            break;
        case StoredNumber::Kind::Float: {
            char digits[32];
            const auto done = std::to_chars(digits, digits + sizeof digits, std::bit_cast<double>(value.bits));
            text += 'f';
            text.append(digits, done.ptr);
            break;
        }
    }
    return text;
}

std::string losses(std::string_view text) {
    Result<dumps::JsonContainer> compiled = dumps::JsonContainer::compile(text);
    if (!compiled) return compiled.error().formatted();
    const dumps::NumberLosses counted = compiled->number_losses(true);
    const dumps::NumberLosses first = compiled->number_losses(false);
    std::string summary = std::to_string(counted.count);
    if (counted.first) {
        EXPECT_EQ(first.count, 1u);
        EXPECT_EQ(first.first->path(), counted.first->path());
        const NumberChange& change = counted.first->change();
        summary += ' ';
        summary += counted.first->path();
        summary += ": ";
        summary += number(change.written);
        summary += " -> ";
        summary += number(change.stored);
    }
    return summary;
}

TEST(NumberLosses, AreCountedInTextOrderWithTheFirstNamed) {
    const struct {
        std::string_view text;
        std::string_view expected;
    } cases[] = {
        {"{\"i\": [1, -2147483648, 2147483647], \"f\": [0.1, 1e38, -0]}", "0"},
        {"2147483648", "1 $: u2147483648 -> i-2147483648"},
        {"-2147483649", "1 $: i-2147483649 -> i2147483647"},
        {"18446744073709551615", "1 $: u18446744073709551615 -> u4294967295"},
        {"{\"b\": 3000000000, \"a\": [1e39, 4e39]}", "3 $.b: u3000000000 -> i-1294967296"},
        {"[16777217, 0.5]", "1 $[0]: i16777217 -> f16777216"},
        {"[16777216, 0.5, 1099511627776]", "0"},
        {"[1099511627777, 0.5]", "1 $[0]: u1099511627777 -> f1099511627776"},
        {"[0.5, -1e-50]", "1 $[1]: f-1e-50 -> f-0"},
        {"{\"a\": 3000000000, \"a\": 1}", "0"},
        {"{\"x y\": {\"\\u00e9\": [5e-324]}}", "1 $[\"x y\"][\"\xc3\xa9\"][0]: f5e-324 -> f0"},
        {"18446744073709551616", "0"},
        {"1e400", "Failed to parse VESK: number out of range at line 1 column 5"},
    };
    for (const auto& test : cases) EXPECT_EQ(losses(test.text), test.expected) << test.text;
}

TEST(JsonPath, NamesPlainIdentifiersWithADotAndOthersAsJsonStrings) {
    const struct {
        std::string_view name;
        std::string_view step;
    } cases[] = {
        {"id", ".id"}, {"_a9", "._a9"}, {"A_Z", ".A_Z"}, {"9a", "[\"9a\"]"}, {"", "[\"\"]"},
        {"a b", "[\"a b\"]"}, {"q\"\\", "[\"q\\\"\\\\\"]"}, {"\n\x01", "[\"\\n\\u0001\"]"},
        {"\xc3\xa9", "[\"\xc3\xa9\"]"}, {"a.b", "[\"a.b\"]"},
    };
    for (const auto& test : cases) {
        std::string path;
        format::append_member_step(path, test.name);
        EXPECT_EQ(path, test.step) << test.name;
    }
    std::string path;
    format::append_item_step(path, 65535);
    EXPECT_EQ(path, "[65535]");
}

}  // namespace
}  // namespace vesk
