#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include "compile/compile_json.hpp"
#include "dumps/json_container.hpp"
#include "encode/encoder.hpp"
#include "format/utf8.hpp"

namespace vesk {
namespace {

namespace fs = std::filesystem;

// The error, or the container's size and its first byte that differs from
// `other`, where and what it is (kept short: containers run to megabytes).
std::string outcome(const Result<format::ByteBuffer>& result, const Result<format::ByteBuffer>* other = nullptr) {
    if (!result) return result.error().formatted();
    std::string summary = std::to_string(result->size()) + " bytes";
    if (other && other->has_value()) {
        auto [mine, theirs] = std::mismatch(result->begin(), result->end(), (*other)->begin(), (*other)->end());
        if (mine != result->end()) {
            summary += ", byte " + std::to_string(mine - result->begin()) + " is " + std::to_string(*mine);
        }
    }
    return summary;
}

// The container or the error of the independent statement of the rules:
// the value tree, the document compiler and the document writer.
Result<format::ByteBuffer> model_container(std::string_view text, std::size_t max_container_size = format::kMaxContainerSize) {
    Result<VeskDocument> document = compile_json_str(text);
    if (!document) return std::move(document).error();
    return encode_document_within(*document, max_container_size);
}

bool is_utf8(std::string_view text) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto* end = p + text.size();
    while (p != end) {
        const std::size_t width = *p < 0x80 ? 1 : format::read_utf8_sequence(p, end).width;
        if (width == 0) return false;
        p += width;
    }
    return true;
}

// The code points of well-formed UTF-8.
std::u32string decoded(std::string_view text) {
    std::u32string code_points;
    const auto* p = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto* end = p + text.size();
    while (p != end) {
        const std::size_t width = *p < 0x80 ? 1 : format::read_utf8_sequence(p, end).width;
        char32_t code_point = width == 1 ? *p : *p & (0x7F >> width);
        for (std::size_t k = 1; k < width; ++k) code_point = (code_point << 6) | (p[k] & 0x3F);
        code_points.push_back(code_point);
        p += width;
    }
    return code_points;
}

template <class Unit>
void expect_code_points_compile_alike(const std::u32string& code_points, const Result<format::ByteBuffer>& expected) {
    const std::vector<Unit> units(code_points.begin(), code_points.end());
    Result<dumps::JsonContainer> compiled = dumps::JsonContainer::compile(json::CodePointText(std::span<const Unit>(units)));
    Result<format::ByteBuffer> written = compiled ? Result<format::ByteBuffer>(format::ByteBuffer(compiled->size()))
                                          : Result<format::ByteBuffer>(compiled.error());
    if (compiled) compiled->write(*written);
    EXPECT_EQ(outcome(written, &expected), outcome(expected, &written)) << sizeof(Unit) << "-byte units";
}

struct Text {
    std::string name;
    std::string text;

    friend void PrintTo(const Text& t, std::ostream* out) { *out << t.name; }
};

std::vector<Text> files_in(const char* directory) {
    std::vector<Text> texts;
    for (const fs::directory_entry& entry : fs::directory_iterator(directory)) {
        if (entry.path().extension() != ".json") continue;
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string name = entry.path().filename().string();
        texts.push_back({name, std::string(std::istreambuf_iterator<char>(in), {})});
    }
    std::sort(texts.begin(), texts.end(), [](const Text& a, const Text& b) { return a.name < b.name; });
    return texts;
}

// `count` copies of `letter` in quotes.
std::string quoted(std::size_t count, char letter) {
    std::string text(count + 2, letter);
    text.front() = text.back() = '"';
    return text;
}

// The parts between `open` and `close`, separated by commas except before a
// part that starts with a colon.
std::string joined(std::string_view open, std::initializer_list<std::string> parts, std::string_view close) {
    std::string text(open);
    for (const std::string& part : parts) {
        if (text.size() > open.size() && part[0] != ':') text.append(", ");
        text.append(part);
    }
    return text.append(close);
}

std::string zeros(std::size_t count) {
    std::string text = "[0";
    for (std::size_t i = 1; i < count; ++i) text += ",0";
    return text + "]";
}

// Numbers with integer parts and fractions of every length around what one
// and two eight-byte words hold, with and without exponents, each with more
// text after it, as most numbers have.
std::string number_shapes() {
    const std::string digits = "98765432109876543210987654321";
    std::string text = "[";
    for (std::size_t whole = 1; whole <= 10; ++whole) {
        for (std::size_t fraction = 0; fraction <= 20; ++fraction) {
            for (const char* exponent : {"", "e-5", "E+12"}) {
                for (const std::string& fraction_digits : {digits.substr(3, fraction), std::string(fraction, '0')}) {
                    if (whole % 2) text += '-';
                    text.append(digits, whole % 3, whole);
                    if (fraction > 0) text.append(".").append(fraction_digits);
                    text.append(exponent).append(", ");
                }
            }
        }
    }
    return text + "0.5]";
}

// Floats at and around the points halfway between two binary32 values,
// where narrowing a double ties or nearly does, over the whole binary32
// range and in the forms numbers are written in: each is printed exactly as
// a double (17 digits) and a few units in its last place to either side,
// plus a shorter form.
std::string floats_near_binary32_ties() {
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    auto next = [&state] {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return state >> 33;
    };
    std::string text = "[";
    char buffer[40];
    for (int exponent = -130; exponent <= 126; ++exponent) {
        for (int sample = 0; sample < 4; ++sample) {
            const float below = std::ldexp(1.0f + static_cast<float>(next() % (1u << 23)) / (1u << 23), exponent);
            const float above = std::nextafter(below, std::numeric_limits<float>::infinity());
            const double halfway = (static_cast<double>(below) + static_cast<double>(above)) / 2;
            for (const int units : {0, 1, -1, 3, -3, 6, -6, 9, -9, 12, -12, 40, -40}) {
                double value = halfway;
                for (int step = 0; step < std::abs(units); ++step) {
                    value = std::nextafter(value, units > 0 ? INFINITY : -INFINITY);
                }
                std::snprintf(buffer, sizeof buffer, "%.17g, ", value);
                text += buffer;
            }
            std::snprintf(buffer, sizeof buffer, "%.9g, ", halfway);
            text += buffer;
        }
    }
    // Below the point past which a double narrows to infinity.
    double value = 0x1.ffffffp127;
    for (int units = 1; units <= 40; ++units) {
        value = std::nextafter(value, 0.0);
        std::snprintf(buffer, sizeof buffer, "%.17g, ", value);
        text += buffer;
    }
    return text + "0.5]";
}

// Strings of every length around the sixteen bytes that the reader takes in
// one step, each given plainly and then with an escape past the first step:
// the two must be found to be one string.
std::string long_strings_with_and_without_escapes() {
    std::string text = "[";
    for (std::size_t size = 15; size <= 50; ++size) {
        std::string plain(size, 'x');
        for (std::size_t i = 0; i < size; ++i) plain[i] = static_cast<char>('a' + (i * 5 + size) % 26);
        const std::size_t escaped = std::min<std::size_t>(size - 1, 16);
        const std::string hex = "0123456789abcdef";
        const auto code = static_cast<unsigned char>(plain[escaped]);
        const std::string with_escape =
            plain.substr(0, escaped) + "\\u00" + hex[code >> 4] + hex[code & 15] + plain.substr(escaped + 1);
        text += "\"" + plain + "\", \"" + with_escape + "\", ";
    }
    return text + "\"end\"]";
}

// Texts that stress what the compiler must get exactly as the model does.
std::vector<Text> crafted_texts() {
    std::vector<Text> texts = {
        {"unsorted members", R"({"b": 1, "a": {"z": [1, 2], "y": "s"}, "A": "s", "": null})"},
        {"prefix names", R"([{"ab": 1, "a": 2, "abc": 3}, {"a": 1, "abc": 2, "ab": 3}])"},
        {"bytes above 0x7F sort last", "{\"\xC3\xA9\": 1, \"z\": 2, \"\\u00e9x\": 3}"},
        {"wide object: names around eight bytes", R"({"abcdefgh": 1, "a": 2, "abcdefgi": 3, "abcdefgh\u0000": 4, "": 5, "abcdefg": 6,
            "a\u0000": 7, "abcdefghi": 8, "\u00e9": 9, "zzzzzzzzz": 10, "b": 11, "ab": 12, "A": 13, "abcdefgha": 14,
            "zzzzzzzz": 15, "aa": 16, "abcdefgh": 17, "\u007f": 18})"},
        {"letters of every width, in runs long and short",
         R"({"€€": ["é a run of plain units longer than sixteen €€€€€€€€€€€€€€€€€€", "😀\u00e9😀\n", "é"], "é": -0})"},
        {"escaped and plain texts are one text", R"(["A", "\u0041", "\u0041", "A\n", "A\u000a"])"},
        {"escaped names", R"([{"\u0061": 1, "b\"": 2}, {"a": 3, "b\"": 4}])"},
        {"dictionary order follows the walk", R"({"z": ["p", "q"], "a": ["q", "p", "q"], "m": "p"})"},
        {"mixed numbers from full values", "[1, 2.5, 16777217, -2147483649, 9223372036854775808, 18446744073709551615]"},
        {"wide integers alone", "[4294967297, -2147483649, 3000000000]"},
        {"mixed numbers in members", R"({"a": [2147483648, 0.5], "b": [-0, 1]})"},
        {"negative zero and big integers", "[-0, 0, -0.0, 18446744073709551616, -9223372036854775809]"},
        {"nested arrays record their elements", "[[[{\"a\": 1}]], [[{\"a\": 2}]], [[]]]"},
        {"empty and null arrays", "[[], [null], [null, null], {}, {}]"},
        {"scalars at the root", "\"s\""},
        {"float at the root", "1e39"},
        {"underflow", "[1e-400, -1e-400, 0e99999999999]"},
        {"long numbers", "[123456789012345678, 1234567890123456789, 12345678901234567890, 0.1000000000000000055511151231257827]"},
        {"numbers of every length", number_shapes()},
        {"floats near binary32 ties", floats_near_binary32_ties()},
        {"string classes", joined("[", {quoted(127, 'a'), quoted(128, 'b'), quoted(16384, 'c'), quoted(128, 'b')}, "]")},
        {"longest name", joined("{", {quoted(255, 'n'), ": 1"}, "}")},
        {"name too long", joined("{", {quoted(256, 'n'), ": 1"}, "}")},
        {"mixed items", R"([1, "a"])"},
        {"null among items", "[1, null]"},
        {"items after nulls", "[null, 1]"},
        {"duplicate names", R"({"b": "x", "a": {"k": [1, 2], "s": "x"}, "a": 2, "b": {"k": []}, "c": "x"})"},
        {"layouts expected from the member that holds them",
         R"([{"a": {"x": 1, "y": "s"}}, {"a": {"x": 2}}, {"a": {"x": 3, "y": "t", "z": 4}}, {"b": {"x": 1}},
             {"a": {"y": "u", "x": 5}}, {"a": {"x": 6, "x": 7}}, {"a": {}}, {"a": {"x": 8, "y": "s"}}])"},
        {"short texts around sixteen bytes",
         R"(["fourteen bytes", "fifteen bytes..", "sixteen bytes...", "fourteen bytes", {"fifteen bytes..": "a"b",
             "é": "é", "sixteen bytes...": 1}, "end"])"},
        {"long strings with and without escapes", long_strings_with_and_without_escapes()},
        {"escapes throughout a long string", [] {
             std::string text = "[\"";
             const char* const lines[] = {"a line\\n", "\u00e9t\\u00e9\\ud83d\\ude00",
                                          "a longer line of plain text\\r\\n"};
             for (int i = 0; i < 60; ++i) text += lines[i % 3];
             return text + "\", \"\\\"\\\\\\/\\b\\f\\t\"]";
         }()},
        {"names after unexpected names",
         R"([{"a": 1, "b": 2, "c": 3}, {"x": 1, "b": 2, "c": 3}, {"q": {"b": 1, "c": 2}}, {"r": {"b": 1, "d": 2, "c": "s"}},
             {"b": 1, "c": 2, "b": 3}, {"y": {"b": 1, "c": 2, "c": "t"}}, {"b": [], "c\u0000": 2, "c": 3}])"},
        {"fault only in a dropped value", R"({"a": [1, "x"], "a": 2})"},
        {"a dropped value that dropped values of its own",
         R"([{"k": {"a": "x", "a": "y", "b": {"c": [1], "c": {"d": 2}}}, "k": 1, "z": "x", "w": [3], "v": {"d": 4}},
             {"k": {"a": {"b": 1}, "a": 2}, "k": 1}])"},
        {"most items", zeros(65535)},
        {"too many items", zeros(65536)},
        {"nesting limit", std::string(127, '[') + std::string(127, ']')},
        {"past the nesting limit", std::string(128, '[') + std::string(128, ']')},
        {"trailing comma", "[1, 2,]"},
        {"array closed by a brace", R"({"a": [1, 2}, "b": 3})"},
        {"object closed by a bracket", R"([[{"a": 1]]])"},
        {"invalid UTF-8", "[\"\xC3\x28\"]"},
        {"lone surrogate", R"(["\ud800"])"},
        {"control character", "[\"a\x01\"]"},
        {"text ends after an escape", R"(["\uD600\")"},
        // Four bytes after \u, fewer letters: the fourth byte inside a letter.
        {"hex escape cut by a wide letter", "[\"\\u\xC3\xA5\"]"},
        {"hex escape ending inside a letter", "[\"\\u\xC3\xA9\xE2\x82\xAC\"]"},
        {"hex escape of the low half cut by a wide letter", "[\"\\ud800\\u0\xE2\x82\xAC\"]"},
        {"a late fault in a line of wide letters", "{\"\u00e9\": [1,\n \"\u20ac\u00e9\", 2, \u20ac]}"},
        {"mixed array after an array too long", "[" + zeros(65536) + ", [1, \"a\"]]"},
        {"the first mixed array in name order", R"({"b": [1, "x"], "a": [[true, 1]], "c": [null, 2]})"},
        {"a mixed array inside one", R"([[1, [true, "x"]], "s"])"},
        {"string too long, once and twice",
         joined("[", {zeros(65536), quoted(16777216, 's'), quoted(16777216, 's')}, "]")},
        {"string too long in a name-ordered member", joined("{", {"\"b\": " + quoted(16777216, 's'), "\"a\": " + zeros(65536)}, "}")},
        {"field name too long after an array too long", joined("[", {zeros(65536), joined("{", {quoted(256, 'n'), ": 1"}, "}")}, "]")},
        {"too many members", [] {
             std::string text = "{";
             for (int i = 0; i < 65536; ++i) text += (i ? ",\"" : "\"") + std::to_string(i) + "\":0";
             return text + "}";
         }()},
        {"faults only in dropped values",
         joined("{", {"\"a\": " + zeros(65536), "\"a\": [1, \"x\"]", "\"a\": " + quoted(16777216, 's'),
                      "\"a\": {" + quoted(256, 'n') + ": 1}", "\"a\": 2"}, "}")},
    };
    return texts;
}

class JsonContainerTest : public testing::TestWithParam<Text> {};

// The container or the error is byte for byte, word for word the model's,
// whether the text is read as UTF-8, vouched for or not, or as code points
// of every width that holds them.
TEST_P(JsonContainerTest, GivesWhatTheModelGives) {
    const Text& text = GetParam();
    const Result<format::ByteBuffer> expected = model_container(text.text);
    const Result<format::ByteBuffer> compiled = dumps::compile_json_container(text.text);
    EXPECT_EQ(outcome(compiled, &expected), outcome(expected, &compiled));
    if (!is_utf8(text.text)) return;
    Result<dumps::JsonContainer> trusting = dumps::JsonContainer::compile(text.text, format::kMaxContainerSize, dumps::KnownUtf8::Yes);
    ASSERT_EQ(trusting.has_value(), expected.has_value());
    if (trusting) {
        format::ByteBuffer written(trusting->size());
        trusting->write(written);
        EXPECT_TRUE(written == *expected);
    } else {
        EXPECT_EQ(trusting.error().formatted(), expected.error().formatted());
    }
    const std::u32string code_points = decoded(text.text);
    const char32_t widest = code_points.empty() ? 0 : *std::max_element(code_points.begin(), code_points.end());
    if (widest < 0x100) expect_code_points_compile_alike<std::uint8_t>(code_points, expected);
    if (widest < 0x10000) expect_code_points_compile_alike<std::uint16_t>(code_points, expected);
    expect_code_points_compile_alike<std::uint32_t>(code_points, expected);
}

INSTANTIATE_TEST_SUITE_P(Crafted, JsonContainerTest, testing::ValuesIn(crafted_texts()),
                         [](const auto& info) { return "case" + std::to_string(info.index); });
INSTANTIATE_TEST_SUITE_P(Suite, JsonContainerTest, testing::ValuesIn(files_in(VESK_TEST_SUITE_DIR)),
                         [](const auto& info) { return "file" + std::to_string(info.index); });
INSTANTIATE_TEST_SUITE_P(Corpus, JsonContainerTest, testing::ValuesIn(files_in(VESK_CORPUS_DIR)),
                         [](const auto& info) { return "document" + std::to_string(info.index); });

TEST(JsonContainerCeilingTest, CeilingIsPassedWhereTheModelPassesIt) {
    // At every ceiling from below the header to past the size, or past
    // where the writer's fault lies: the container stops fitting, or the
    // fault is reported, where the model says.
    struct Case {
        std::string text;
        std::size_t first_ceiling;
        std::size_t last_ceiling;
    };
    const Case cases[] = {
        {R"({"b": ["x", "x", "y"], "a": 1.5})", 0, 100},
        {"[]", 0, 40},
        {quoted(300, 'q'), 0, 340},
        // The array's fault lies at byte 676.
        {joined("{", {"\"a\": " + quoted(300, 'q'), "\"b\": " + quoted(300, 'q'), "\"c\": " + zeros(65536)}, "}"),
         660, 690},
        {joined("[", {R"({"a": 1})", joined("{", {quoted(256, 'n'), ": 1"}, "}")}, "]"), 0, 340},
    };
    for (const Case& c : cases) {
        for (std::size_t ceiling = c.first_ceiling; ceiling <= c.last_ceiling; ++ceiling) {
            EXPECT_EQ(outcome(dumps::compile_json_container(c.text, ceiling)), outcome(model_container(c.text, ceiling)))
                << c.text.substr(0, 40) << " " << ceiling;
        }
    }
}

}  // namespace
}  // namespace vesk

namespace vesk {
namespace {

// The container of `text` compiled in `room`, or the error's text.
std::string compiled_in(const std::string& text, dumps::PartsRoom* room) {
    Result<dumps::JsonContainer> compiled =
        dumps::JsonContainer::compile(text, format::kMaxContainerSize, dumps::KnownUtf8::No, room);
    if (!compiled) return compiled.error().formatted();
    std::string out(compiled->size(), '\0');
    compiled->write(std::span(reinterpret_cast<std::uint8_t*>(out.data()), out.size()));
    return out;
}

// dumps lends one room to compilation after compilation: what each gives
// is what a compilation in memory of its own gives. One made while the room
// is held by a container still alive takes memory of its own.
TEST(PartsRoomTest, CompilationsInOneRoomGiveWhatEachGivesAlone) {
    dumps::PartsRoom room;
    std::vector<Text> forward;
    for (Text& text : crafted_texts()) {
        if (text.text.size() <= (std::size_t{1} << 16)) forward.push_back(std::move(text));
    }
    std::vector<Text> texts = forward;
    texts.insert(texts.end(), forward.rbegin(), forward.rend());
    for (const Text& text : texts) EXPECT_EQ(compiled_in(text.text, &room), compiled_in(text.text, nullptr)) << text.name;

    const std::string first = R"({"held": [1, 2.5], "by": {"an": "earlier container"}})";
    Result<dumps::JsonContainer> held =
        dumps::JsonContainer::compile(first, format::kMaxContainerSize, dumps::KnownUtf8::No, &room);
    ASSERT_TRUE(held.has_value());
    for (const Text& text : forward) EXPECT_EQ(compiled_in(text.text, &room), compiled_in(text.text, nullptr)) << text.name;
    std::string out(held->size(), '\0');
    held->write(std::span(reinterpret_cast<std::uint8_t*>(out.data()), out.size()));
    EXPECT_EQ(out, compiled_in(first, nullptr));
}

}  // namespace
}  // namespace vesk
