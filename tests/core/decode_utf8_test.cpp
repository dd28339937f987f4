#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decode/utf8_text.hpp"
#include "loads/utf8_fault.hpp"

namespace vesk {
namespace {

std::vector<std::uint8_t> bytes_of(const std::string& text) { return {text.begin(), text.end()}; }

struct FaultCase {
    const char* name;
    std::string text;
    // Expected description, or empty for valid text.
    std::string description;
};

class DecodeUtf8Test : public ::testing::TestWithParam<FaultCase> {};

TEST_P(DecodeUtf8Test, FindsTheFirstFaultWithItsMaximalSubpart) {
    const FaultCase& c = GetParam();
    const std::vector<std::uint8_t> bytes = bytes_of(c.text);
    std::optional<loads::Utf8Fault> fault = loads::find_utf8_fault(bytes);
    if (c.description.empty()) {
        EXPECT_FALSE(fault.has_value()) << loads::describe_utf8_fault(*fault);
        std::string copied;
        ASSERT_TRUE(copy_utf8_text(bytes, "string", copied).has_value());
        EXPECT_EQ(copied, c.text);
        return;
    }
    ASSERT_TRUE(fault.has_value());
    EXPECT_EQ(loads::describe_utf8_fault(*fault), c.description);
    std::string copied;
    Status status = copy_utf8_text(bytes, "string", copied);
    ASSERT_FALSE(status.has_value());
    EXPECT_EQ(status.error().message(), "Invalid UTF-8 string: " + c.description);
}

std::string invalid(int length, int index) {
    return "invalid utf-8 sequence of " + std::to_string(length) + " bytes from index " + std::to_string(index);
}
std::string incomplete(int index) { return "incomplete utf-8 byte sequence from index " + std::to_string(index); }

INSTANTIATE_TEST_SUITE_P(
    Sequences, DecodeUtf8Test,
    ::testing::Values(
        FaultCase{"empty", "", ""},
        FaultCase{"ascii_run_longer_than_a_word", "the quick brown fox jumps", ""},
        FaultCase{"two_byte", "\xC3\xA9", ""},
        FaultCase{"three_byte", "a\xE2\x82\xAC", ""},
        FaultCase{"four_byte", "\xF0\x9D\x84\x9E", ""},
        FaultCase{"highest_code_point", "\xF4\x8F\xBF\xBF", ""},
        FaultCase{"edge_of_surrogates", "\xED\x9F\xBF\xEE\x80\x80", ""},
        FaultCase{"lone_ff", "\xFF", invalid(1, 0)},
        FaultCase{"lone_continuation", "\x80", invalid(1, 0)},
        FaultCase{"overlong_c0", "\xC0\x80", invalid(1, 0)},
        FaultCase{"overlong_c1", "\xC1\xBF", invalid(1, 0)},
        FaultCase{"overlong_e0", "\xE0\x80\x80", invalid(1, 0)},
        FaultCase{"overlong_f0", "\xF0\x80", invalid(1, 0)},
        FaultCase{"surrogate", "\xED\xA0\x80", invalid(1, 0)},
        FaultCase{"above_max_code_point", "\xF4\x90\x80\x80", invalid(1, 0)},
        FaultCase{"lead_f5", "\xF5\x80\x80\x80", invalid(1, 0)},
        FaultCase{"two_of_three", "\xE2\x82\x41", invalid(2, 0)},
        FaultCase{"three_of_four", "\xF0\x90\x80\x41", invalid(3, 0)},
        FaultCase{"two_byte_cut_by_ascii", "\xC3\x41", invalid(1, 0)},
        FaultCase{"fault_after_valid_text", "ab\xC3\xA9\xFF", invalid(1, 4)},
        FaultCase{"fault_after_word_sized_ascii", "abcdefghij\xFF", invalid(1, 10)},
        FaultCase{"fault_inside_second_word", "abcdefgh\xE2\x82\xAC" "abcdefgh\x80", invalid(1, 19)},
        FaultCase{"ends_after_lead", "abc\xE2", incomplete(3)},
        FaultCase{"ends_inside_three", "\xE2\x82", incomplete(0)},
        FaultCase{"ends_inside_four", "x\xF0\x9D\x84", incomplete(1)},
        FaultCase{"ends_after_narrowed_second", "\xE0\xA0", incomplete(0)},
        FaultCase{"ends_after_two_byte_lead", "\xC3", incomplete(0)}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vesk
